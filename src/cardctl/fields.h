// Every setting of a card's record by name: how `cardctl show` prints it,
// its typed value for --json, and how `cardctl set NAME=VALUE` (and `apply`)
// changes it. A list value is an item's text, its English name, its number
// as the item shows it ("scan=1/4" or "scan=4"), or an explicit position
// ("scan=#2"); a value that could mean two items is refused, and so is one
// outside its list or range, before anything is sent.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/record.h"

namespace card::cli {

enum class Group { Identity, Panel, Network, Advanced, Driver, Modbus };
const char* GroupName(Group g);

// How a value is typed in JSON.
enum class ValueKind { Number, Bool, List, Text };

struct Field {
  std::string name;     // "brightness"
  std::string label;    // "亮度", as the window names it
  std::string labelEn;  // "brightness"
  Group group;
  ValueKind kind = ValueKind::Text;
  // What a restore or `apply` writes to a card: every settable field, and the
  // Modbus requests the card takes (the first 20).
  bool carried = false;
  // The value as text: list items as the window shows them, in Chinese.
  std::function<std::string(const DeviceStatusRecord&)> show;
  // Writes value into the record; an error text (in the chosen language)
  // when the value is refused. Empty for fields that cannot be set.
  std::function<std::optional<std::string>(DeviceStatusRecord*, const std::string& value)> set;
  // What show prints once a value was set: the item it names, the number in
  // its plain spelling. Empty where set would refuse the value anyway.
  std::function<std::optional<std::string>(const std::string& value)> canonical;
  // The items of a list field (for help and completion); empty otherwise.
  std::vector<std::string> items;

  // The value as shown in the chosen language (English item names under --lang en).
  std::string Shown(const DeviceStatusRecord& r) const;
  // The value for --json: numbers as numbers, yes/no as booleans, list items as
  // their (Chinese) text, the Modbus requests as objects.
  nlohmann::ordered_json Value(const DeviceStatusRecord& r) const;
  // The label in the chosen language.
  const std::string& Label() const;
};

const std::vector<Field>& Fields();
const Field* FindField(const std::string& name);

// Applies "NAME=VALUE" to record; the error text when the name is unknown,
// read-only, or the value refused or not taken as given.
std::optional<std::string> ApplyAssignment(DeviceStatusRecord* record, const std::string& assignment);
std::optional<std::string> ApplyValue(DeviceStatusRecord* record, const std::string& name, const std::string& value);
// A JSON value for a field as the text ApplyValue takes (a number in decimal,
// a boolean as the field's yes/no item); nullopt with *error when it has no
// such form.
std::optional<std::string> ValueText(const Field& f, const nlohmann::ordered_json& v, std::string* error);

// Fields whose shown values differ between a and b, in table order, among
// those pick selects.
std::vector<const Field*> DifferingFields(const DeviceStatusRecord& a, const DeviceStatusRecord& b,
                                          const std::function<bool(const Field&)>& pick);

// The fields a restore keeps as the card has them unless asked: its address
// and addressing, the fixed network settings, its MAC and its name.
bool NetworkIdentity(const Field& f);
// Which fields a restore (and diff) compares: every carried field, the
// network identity only with withNetwork.
bool RestoreCompares(const Field& f, bool withNetwork);

// "record checksum" state for show: the firmware checks it (major 17 and up)
// and it holds, fails, or is not checked.
enum class ChecksumState { Ok, Bad, Untested };
ChecksumState ChecksumOf(const DeviceStatusRecord& r);

}  // namespace card::cli
