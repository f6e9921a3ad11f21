// Every setting of a card's record by name: how `cardctl show` prints it and
// how `cardctl set NAME=VALUE` changes it. A list field takes its position
// or its item text; a value outside its list or range is refused before
// anything is sent.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/record.h"

namespace card::cli {

enum class Group { Identity, Panel, Network, Advanced, Driver, Modbus };
const char* GroupName(Group g);

struct Field {
  std::string name;   // "brightness"
  std::string label;  // "亮度", as the window names it
  Group group;
  std::function<std::string(const DeviceStatusRecord&)> show;
  // Writes value into the record; an error text (in the user's words) when
  // the value is refused. Empty for fields that cannot be set.
  std::function<std::optional<std::string>(DeviceStatusRecord*, const std::string& value)> set;
};

const std::vector<Field>& Fields();
const Field* FindField(const std::string& name);

// Applies "NAME=VALUE" to record; the error text when the name is unknown,
// read-only, or the value refused.
std::optional<std::string> ApplyAssignment(DeviceStatusRecord* record, const std::string& assignment);

}  // namespace card::cli
