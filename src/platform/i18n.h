// The tool's languages. Every user-visible text is written in the source in
// Chinese and passes through the message catalogue: gettext catalogues
// (i18n/<lang>.po, compiled to <locale dir>/<lang>/LC_MESSAGES/cardsetup.mo),
// read by this small reader so that the choice does not depend on which
// locales the system has generated. A text without a translation shows as
// written. Wire lines, file contents and INI keys and values never pass
// through here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Marks a text for the catalogue where it is defined (constants); it is
// translated where it is used, with Tr().
#define TR_NOOP(text) text
// The same for a text under a context (see TrC).
#define TRC_NOOP(context, text) text

namespace platform {

// One compiled catalogue (.mo). Load refuses anything that is not a whole,
// well-formed catalogue and leaves the catalogue empty.
class Catalogue {
 public:
  bool Load(std::string_view bytes);
  // The translation of source, or nullptr. Contexts are "context\x04source"
  // as gettext writes them.
  const std::string* Find(std::string_view source) const;
  std::size_t size() const { return entries_.size(); }

 private:
  std::unordered_map<std::string, std::string> entries_;
};

// The text in the chosen language; the source text itself when the
// catalogue has none (Chinese is the source language).
const char* Tr(const char* source);
std::string Tr(const std::string& source);
// The same for a source text that needs another translation in one place
// than elsewhere ("打开" is "Open" on a file dialog, "On" in a list): the
// translation under that context, else the text's own.
const char* TrC(const char* context, const char* source);
std::string TrC(const char* context, const std::string& source);

// Where the language for this run comes from, strongest first.
struct LanguageSources {
  std::string explicitChoice;  // --lang
  std::string userSetting;     // the per-user setting
  std::string language;        // LANGUAGE (a colon-separated list)
  std::string lcAll;           // LC_ALL
  std::string lcMessages;      // LC_MESSAGES
  std::string lang;            // LANG
  static LanguageSources FromEnvironment();
};

inline constexpr const char* kSourceLanguage = "zh";

// The language to use: the first choice that names the source language or a
// language with a catalogue ("en_GB.UTF-8" is tried as "en_GB", then "en").
// An explicit choice or a setting that has no catalogue falls through to the
// next source; the locale's language without one gives the source language.
std::string ChooseLanguage(const LanguageSources& sources,
                           const std::function<bool(const std::string&)>& hasCatalogue);

// The folder that holds <lang>/LC_MESSAGES/cardsetup.mo: the one this
// process took its language from, else locale/ beside the executable in the
// build tree, share/locale of an installation.
std::string LocaleDir();
std::string CataloguePath(const std::string& localeDir, const std::string& language);

// Chooses and loads the language for this process; call once at start,
// before any thread runs. Returns the language in use.
std::string UseLanguage(const LanguageSources& sources, const std::string& localeDir = LocaleDir());
std::string CurrentLanguage();

// The languages a user can choose: the source language and every language
// with a catalogue in localeDir, each under its own name (its catalogue's
// translation of "中文" under the context "language name"), source first.
struct LanguageChoice {
  std::string code;
  std::string name;
};
std::vector<LanguageChoice> AvailableLanguages(const std::string& localeDir = LocaleDir());

// The help pages in the chosen language: helpRoot/<lang>/ when it exists,
// else helpRoot itself (the Chinese pages). helpRoot ends with a separator.
std::string LocalizedHelpDir(const std::string& helpRoot);

// The per-user setting (not SysCfg.ini, which the sibling programs share):
// $XDG_CONFIG_HOME/cardsetup/settings.ini, [General] Language.
std::string UserSettingsPath();
std::string ReadLanguageSetting();
bool WriteLanguageSetting(const std::string& language);

}  // namespace platform
