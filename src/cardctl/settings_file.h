// The settings file `cardctl apply` takes: a JSON object of names and values
// ({"brightness": 25, "auto_ip": false}), or INI lines (NAME = VALUE) as
// `cardctl show` prints them. Only the settings given are made.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace card::cli {

struct SettingsFile {
  std::vector<std::pair<std::string, std::string>> values;  // name, value text as `set` takes it
  std::string error;                                        // in the chosen language; empty when fine
};

// Every name must be a setting that can be set, once; values of JSON are
// turned into set's texts (numbers in decimal, booleans as the yes/no item).
SettingsFile ParseSettingsFile(const std::string& text);

}  // namespace card::cli
