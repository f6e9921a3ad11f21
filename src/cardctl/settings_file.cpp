#include "cardctl/settings_file.h"

#include <set>

#include <nlohmann/json.hpp>

#include "cardctl/fields.h"
#include "cardctl/texts.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using platform::Format;

std::string Trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  const std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// A name may be given once and must be one set can change.
bool Take(SettingsFile* out, std::set<std::string>* seen, const std::string& name, const std::string& value,
          const std::string& where) {
  const Field* f = FindField(name);
  if (!f) {
    out->error = Format(Tr("%s：没有名为 %s 的参数（cardctl show 列出全部名称）",
                           "%s: no setting named %s (cardctl show lists them all)")
                            .c_str(),
                        where.c_str(), name.c_str());
    return false;
  }
  if (!f->set) {
    out->error = Format(Tr("%s：%s 只能查看，不能修改", "%s: %s can be shown but not set").c_str(), where.c_str(),
                        name.c_str());
    return false;
  }
  if (!seen->insert(name).second) {
    out->error = Format(Tr("%s：%s 出现了两次", "%s: %s is given twice").c_str(), where.c_str(), name.c_str());
    return false;
  }
  out->values.emplace_back(name, value);
  return true;
}

SettingsFile ParseJson(const std::string& text) {
  SettingsFile out;
  // A name given twice would silently lose one of its values.
  std::set<std::string> keys;
  bool twice = false;
  nlohmann::ordered_json doc = nlohmann::ordered_json::parse(
      text,
      [&](int depth, nlohmann::ordered_json::parse_event_t event, nlohmann::ordered_json& parsed) {
        if (event == nlohmann::ordered_json::parse_event_t::key && depth == 1 && !keys.insert(parsed.get<std::string>()).second)
          twice = true;
        return true;
      },
      false);
  if (twice) {
    out.error = Tr("设置文件中有名称出现了两次", "a name appears twice in the settings file");
    return out;
  }
  if (doc.is_discarded() || !doc.is_object()) {
    out.error = Tr("设置文件不是 JSON 对象（{\"名称\": 值, ...}）", "the settings file is no JSON object ({\"NAME\": VALUE, ...})");
    return out;
  }
  std::set<std::string> seen;
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    const Field* f = FindField(it.key());
    std::string value;
    if (f) {
      std::string why;
      auto v = ValueText(*f, it.value(), &why);
      if (!v) {
        out.error = why;
        out.values.clear();
        return out;
      }
      value = *v;
    }
    if (!Take(&out, &seen, it.key(), value, "JSON")) {
      out.values.clear();
      return out;
    }
  }
  return out;
}

SettingsFile ParseIni(const std::string& text) {
  SettingsFile out;
  std::set<std::string> seen;
  std::size_t at = 0;
  int number = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    const std::string where = Format(Tr("第%d行", "line %d").c_str(), number);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      out.error = Format(Tr("%s：不是 名称 = 值 的形式", "%s: not of the form NAME = VALUE").c_str(), where.c_str());
      out.values.clear();
      return out;
    }
    std::string value = Trim(line.substr(eq + 1));
    // A comment after the value begins after two blanks (as show prints it);
    // "#3" right after the '=' is a position, not a comment.
    for (const char* mark : {"  #", "\t#"}) {
      const std::size_t cut = value.find(mark);
      if (cut != std::string::npos) value = Trim(value.substr(0, cut));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (!Take(&out, &seen, Trim(line.substr(0, eq)), value, where)) {
      out.values.clear();
      return out;
    }
  }
  return out;
}

}  // namespace

SettingsFile ParseSettingsFile(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  SettingsFile out = first != std::string::npos && text[first] == '{' ? ParseJson(text) : ParseIni(text);
  if (out.error.empty() && out.values.empty())
    out.error = Tr("设置文件中没有任何设置", "the settings file holds no setting");
  return out;
}

}  // namespace card::cli
