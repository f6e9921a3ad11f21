#include "platform/i18n.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <vector>
#include <mutex>

#include "platform/files.h"
#include "platform/ini.h"
#include "platform/tooldir.h"

namespace platform {

namespace {

constexpr std::uint32_t kMoMagic = 0x950412de;
constexpr std::uint32_t kMoMagicSwapped = 0xde120495;

std::uint32_t ReadWord(std::string_view bytes, std::size_t at, bool swapped) {
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data() + at, 4);
  if (swapped) v = (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
  return v;
}

// The string a table entry points at, or nullopt when it lies outside the
// file or is not followed by its terminating NUL.
std::optional<std::string_view> TableString(std::string_view bytes, std::uint32_t table, std::uint32_t index,
                                            bool swapped) {
  const std::uint64_t at = std::uint64_t{table} + std::uint64_t{index} * 8;
  if (at + 8 > bytes.size()) return std::nullopt;
  const std::uint64_t length = ReadWord(bytes, at, swapped);
  const std::uint64_t offset = ReadWord(bytes, at + 4, swapped);
  if (offset + length + 1 > bytes.size() || bytes[offset + length] != '\0') return std::nullopt;
  return bytes.substr(offset, length);
}

// The catalogue in use. Catalogues are kept for the whole run, so a text
// handed out by Tr stays valid even if the language is chosen again (tests).
std::mutex gStoreMutex;
std::list<Catalogue> gStore;
std::list<std::string> gLanguages{kSourceLanguage};
std::atomic<const Catalogue*> gCatalogue{nullptr};
std::atomic<const std::string*> gLanguage{&gLanguages.front()};
std::string gLocaleDir;  // where UseLanguage looked last

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// "en_GB.UTF-8@euro" -> {"en_GB", "en"}; "C" and "POSIX" name no language.
std::vector<std::string> Candidates(std::string value) {
  std::vector<std::string> out;
  value = value.substr(0, value.find_first_of(".@"));
  if (value.empty() || value == "C" || value == "POSIX") return out;
  out.push_back(value);
  const std::size_t cut = value.find_first_of("_-");
  if (cut != std::string::npos && cut > 0) out.push_back(value.substr(0, cut));
  return out;
}

bool IsSource(const std::string& language) { return language == kSourceLanguage; }

// A catalogue larger than this is not one of ours.
constexpr std::size_t kMaxCatalogueBytes = 16u << 20;

}  // namespace

bool Catalogue::Load(std::string_view bytes) {
  entries_.clear();
  if (bytes.size() < 28) return false;
  const std::uint32_t magic = ReadWord(bytes, 0, false);
  if (magic != kMoMagic && magic != kMoMagicSwapped) return false;
  const bool swapped = magic == kMoMagicSwapped;
  if ((ReadWord(bytes, 4, swapped) >> 16) > 1) return false;  // an unknown major revision
  const std::uint32_t count = ReadWord(bytes, 8, swapped);
  const std::uint32_t originals = ReadWord(bytes, 12, swapped);
  const std::uint32_t translations = ReadWord(bytes, 16, swapped);
  if (std::uint64_t{count} * 8 > bytes.size()) return false;
  std::unordered_map<std::string, std::string> entries;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto source = TableString(bytes, originals, i, swapped);
    auto translation = TableString(bytes, translations, i, swapped);
    if (!source || !translation) return false;
    // Plural forms hold their variants NUL-separated; the tool uses the first.
    std::string_view key = source->substr(0, source->find('\0'));
    std::string_view text = translation->substr(0, translation->find('\0'));
    if (key.empty() || text.empty()) continue;  // the header, or an untranslated entry
    entries.emplace(std::string(key), std::string(text));
  }
  entries_ = std::move(entries);
  return true;
}

const std::string* Catalogue::Find(std::string_view source) const {
  auto it = entries_.find(std::string(source));
  return it == entries_.end() ? nullptr : &it->second;
}

const char* Tr(const char* source) {
  const Catalogue* catalogue = gCatalogue.load(std::memory_order_acquire);
  if (!catalogue || !source) return source;
  const std::string* text = catalogue->Find(source);
  return text ? text->c_str() : source;
}

std::string Tr(const std::string& source) {
  const Catalogue* catalogue = gCatalogue.load(std::memory_order_acquire);
  if (!catalogue) return source;
  const std::string* text = catalogue->Find(source);
  return text ? *text : source;
}

const char* TrC(const char* context, const char* source) {
  const Catalogue* catalogue = gCatalogue.load(std::memory_order_acquire);
  if (!catalogue || !source) return source;
  if (const std::string* text = catalogue->Find(std::string(context) + '\x04' + source)) return text->c_str();
  return Tr(source);
}

std::string TrC(const char* context, const std::string& source) { return TrC(context, source.c_str()); }

LanguageSources LanguageSources::FromEnvironment() {
  LanguageSources s;
  s.language = Env("LANGUAGE");
  s.lcAll = Env("LC_ALL");
  s.lcMessages = Env("LC_MESSAGES");
  s.lang = Env("LANG");
  return s;
}

std::string ChooseLanguage(const LanguageSources& sources,
                           const std::function<bool(const std::string&)>& hasCatalogue) {
  auto usable = [&](const std::string& value) -> std::optional<std::string> {
    for (const std::string& c : Candidates(value))
      if (IsSource(c) || hasCatalogue(c)) return c;
    return std::nullopt;
  };
  for (const std::string* choice : {&sources.explicitChoice, &sources.userSetting})
    if (auto l = usable(*choice)) return *l;
  // LANGUAGE lists languages in order of preference.
  std::string list = sources.language;
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (auto l = usable(list.substr(start, end - start))) return *l;
    start = end + 1;
  }
  // Otherwise the locale's language, in the order the C library takes them.
  for (const std::string* locale : {&sources.lcAll, &sources.lcMessages, &sources.lang}) {
    if (locale->empty()) continue;
    if (auto l = usable(*locale)) return *l;
    break;
  }
  return kSourceLanguage;
}

std::string LocaleDir() {
  {
    std::lock_guard<std::mutex> lock(gStoreMutex);
    if (!gLocaleDir.empty()) return gLocaleDir;
  }
  const std::string tool = ToolDir();
  // The build tree keeps locale/ beside the executable; an installation has
  // the executable in bin/ (or lib/<name>/) and the catalogues in share/locale.
  for (const char* relative : {"locale", "../share/locale", "../../share/locale"}) {
    const std::string dir = tool + relative;
    if (DirectoryExists(dir)) return dir;
  }
  return tool + "locale";
}

std::string CataloguePath(const std::string& localeDir, const std::string& language) {
  return localeDir + "/" + language + "/LC_MESSAGES/cardsetup.mo";
}

std::string UseLanguage(const LanguageSources& sources, const std::string& localeDir) {
  const std::string language =
      ChooseLanguage(sources, [&](const std::string& l) { return FileExists(CataloguePath(localeDir, l)); });
  std::lock_guard<std::mutex> lock(gStoreMutex);
  gLocaleDir = localeDir;
  const Catalogue* catalogue = nullptr;
  if (!IsSource(language)) {
    Catalogue loaded;
    std::string bytes;
    if (ReadWholeFile(CataloguePath(localeDir, language), &bytes, kMaxCatalogueBytes) && loaded.Load(bytes)) {
      gStore.push_back(std::move(loaded));
      catalogue = &gStore.back();
    }
  }
  gLanguages.push_back(catalogue || IsSource(language) ? language : std::string(kSourceLanguage));
  gCatalogue.store(catalogue, std::memory_order_release);
  gLanguage.store(&gLanguages.back(), std::memory_order_release);
  return gLanguages.back();
}

std::vector<LanguageChoice> AvailableLanguages(const std::string& localeDir) {
  std::vector<LanguageChoice> out{{kSourceLanguage, TRC_NOOP("language name", "中文")}};
  std::error_code error;
  std::vector<std::string> codes;
  for (const auto& entry : std::filesystem::directory_iterator(localeDir, error))
    if (entry.is_directory(error)) codes.push_back(entry.path().filename().string());
  std::sort(codes.begin(), codes.end());
  for (const std::string& code : codes) {
    std::string bytes;
    Catalogue catalogue;
    if (IsSource(code) || !ReadWholeFile(CataloguePath(localeDir, code), &bytes, kMaxCatalogueBytes) ||
        !catalogue.Load(bytes))
      continue;
    const std::string* name = catalogue.Find(std::string("language name\x04") + out.front().name);
    out.push_back({code, name ? *name : code});
  }
  return out;
}

std::string CurrentLanguage() { return *gLanguage.load(std::memory_order_acquire); }

std::string LocalizedHelpDir(const std::string& helpRoot) {
  const std::string language = CurrentLanguage();
  if (IsSource(language)) return helpRoot;
  const std::string dir = helpRoot + language + "/";
  return DirectoryExists(dir) ? dir : helpRoot;
}

std::string UserSettingsPath() {
  std::string base = Env("XDG_CONFIG_HOME");
  if (base.empty() || base.front() != '/') {
    const std::string home = Env("HOME");
    if (home.empty()) return {};
    base = home + "/.config";
  }
  return base + "/cardsetup/settings.ini";
}

std::string ReadLanguageSetting() {
  const std::string path = UserSettingsPath();
  if (path.empty()) return {};
  return ReadIniKey(path, "General", "Language", "", 64);
}

bool WriteLanguageSetting(const std::string& language) {
  const std::string path = UserSettingsPath();
  if (path.empty()) return false;
  const std::string dir = path.substr(0, path.rfind('/'));
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return false;
  return WriteIniKey(path, "General", "Language", language);
}

}  // namespace platform
