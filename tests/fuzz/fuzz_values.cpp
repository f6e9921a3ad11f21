// Any text as a value of any setting, as a settings file and as a list of
// cards: nothing crashes; a value set takes is shown again and taken back
// unchanged; a refused value changes nothing; the cards a list names come out
// once each in their one spelling.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "cardctl/fields.h"
#include "cardctl/settings_file.h"
#include "cardctl/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& fields = card::cli::Fields();
  const card::cli::Field& f = fields[data[0] % fields.size()];
  const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);

  card::DeviceStatusRecord r;
  r.setU16(card::rec::kCodeWord, 0x8111);
  r.setU16(card::rec::kFirmware, static_cast<std::uint16_t>(size % 2 ? 39 : 35));
  r.updateChecksum();
  card::DeviceStatusRecord changed = r;
  if (card::cli::ApplyValue(&changed, f.name, value)) {
    if (!(changed == r)) __builtin_trap();
  } else {
    card::DeviceStatusRecord again = changed;
    if (card::cli::ApplyValue(&again, f.name, f.show(changed)) || !(again == changed)) __builtin_trap();
    (void)f.Value(changed).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }

  const card::cli::SettingsFile settings = card::cli::ParseSettingsFile(value);
  if (!settings.error.empty() && !settings.values.empty()) __builtin_trap();
  for (const auto& [name, text] : settings.values) {
    card::DeviceStatusRecord s = r;
    card::cli::ApplyValue(&s, name, text);
  }

  const card::cli::Targets targets =
      card::cli::ExpandTargets({"@list"}, [&](const std::string&, std::string* text) {
        *text = value;
        return true;
      });
  std::set<std::string> seen;
  for (const auto& a : targets.addresses)
    if (!seen.insert(a).second || card::cli::AddressString(*card::cli::ParseAddress(a)) != a) __builtin_trap();
  if (targets.addresses.size() > card::cli::kMaxTargets) __builtin_trap();
  return 0;
}
