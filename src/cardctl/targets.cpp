#include "cardctl/targets.h"

#include <map>

#include "cardctl/texts.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using platform::Format;

// The words of a list file: blanks, commas and line ends separate them, # starts a comment.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool comment = false;
  for (char c : text) {
    if (c == '\n' || c == '\r') comment = false;
    if (c == '#') comment = true;
    if (comment || c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      continue;
    }
    word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

std::optional<std::uint32_t> ParseAddress(const std::string& text) {
  std::uint32_t value = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    std::size_t digits = 0;
    std::uint32_t octet = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
      octet = octet * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || digits > 3 || octet > 255) return std::nullopt;
    value = value << 8 | octet;
  }
  if (pos != text.size()) return std::nullopt;
  return value;
}

std::string AddressString(std::uint32_t a) {
  return Format("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

Targets ExpandTargets(const std::vector<std::string>& args,
                      const std::function<bool(const std::string& path, std::string* text)>& readFile) {
  Targets t;
  std::map<std::uint32_t, std::string> seen;  // address -> how it was first named
  auto add = [&](std::uint32_t a, const std::string& as) {
    auto [it, fresh] = seen.emplace(a, as);
    if (!fresh) {
      if (t.error.empty())
        t.error = Format(Tr("控制卡 %s 出现了两次（%s 和 %s）", "card %s is named twice (%s and %s)").c_str(),
                         AddressString(a).c_str(), it->second.c_str(), as.c_str());
      return false;
    }
    if (t.addresses.size() >= kMaxTargets) {
      if (t.error.empty())
        t.error = Format(Tr("一次最多 %zu 张控制卡", "at most %zu cards at a time").c_str(), kMaxTargets);
      return false;
    }
    t.addresses.push_back(AddressString(a));
    return true;
  };
  // One address or range; false once an error was noted.
  auto one = [&](const std::string& word) {
    const std::size_t dash = word.find('-');
    if (dash == std::string::npos) {
      auto a = ParseAddress(word);
      if (!a) {
        t.error = Format(Tr("\"%s\" 不是控制卡IP", "\"%s\" is not a card address").c_str(), word.c_str());
        return false;
      }
      return add(*a, word);
    }
    const std::string from = word.substr(0, dash), to = word.substr(dash + 1);
    auto first = ParseAddress(from);
    std::optional<std::uint32_t> last = ParseAddress(to);
    if (first && !last && !to.empty() && to.size() <= 3 && to.find_first_not_of("0123456789") == std::string::npos &&
        std::stoi(to) <= 255)
      last = (*first & 0xFFFFFF00u) | static_cast<std::uint32_t>(std::stoi(to));
    if (!first || !last || *last < *first) {
      t.error = Format(Tr("\"%s\" 不是地址范围（例如 192.168.1.20-40）", "\"%s\" is not an address range (say 192.168.1.20-40)")
                           .c_str(),
                       word.c_str());
      return false;
    }
    if (*last - *first >= kMaxTargets) {
      t.error = Format(Tr("范围 %s 超过 %zu 张控制卡", "range %s holds more than %zu cards").c_str(), word.c_str(), kMaxTargets);
      return false;
    }
    for (std::uint32_t a = *first;; ++a) {
      if (!add(a, word)) return false;
      if (a == *last) break;
    }
    return true;
  };
  for (const std::string& arg : args) {
    if (arg == "-" || (arg.size() > 1 && arg[0] == '@')) {
      const std::string path = arg == "-" ? "-" : arg.substr(1);
      std::string text;
      if (!readFile(path, &text)) {
        t.error = arg == "-" ? Tr("无法读取标准输入", "cannot read standard input")
                             : Format(Tr("无法读取地址文件 %s", "cannot read the address file %s").c_str(), path.c_str());
        break;
      }
      bool ok = true;
      for (const std::string& word : Words(text))
        if (!(ok = one(word))) break;
      if (!ok) break;
      continue;
    }
    if (!one(arg)) break;
  }
  if (!t.error.empty()) t.addresses.clear();
  return t;
}

}  // namespace card::cli
