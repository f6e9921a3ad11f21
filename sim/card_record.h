// The record a virtual card starts with, and what each "set" line does to
// it. Every change recomputes the checksum at offset 333, as the real card
// keeps it, so a tool that announced the right value sees it match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/record.h"

namespace sim {

struct Firmware {
  int major = 39;
  int minor = 2;
  int patch = 1;
};
// "39.2.1"; false on anything else.
bool ParseFirmware(const std::string& text, Firmware* out);

// A plausible record for the index-th card of a process: code word 0x8111,
// a MAC and a 24-character serial (beginning with 2023) unique to the index,
// the address at offset 251, a 128 x 32 screen of P10 modules, a valid
// Modbus master table with two requests, and a correct checksum.
card::DeviceStatusRecord MakeRecord(int index, std::uint32_t address, const Firmware& fw);

std::uint32_t RecordAddress(const card::DeviceStatusRecord& r);  // host byte order

struct SetResult {
  bool known = true;                     // a line the card understands
  bool changed = false;                  // some record byte changed
  std::optional<std::uint32_t> announced;  // "set Sys_Crc %x"
  std::optional<std::int64_t> clock;     // "set time": the civil time given, in seconds
  bool moveAddress = false;              // "set local_ip": the card restarts on the new address
  int rs485 = -1;                        // "set get485": 0 off, 1 hex view, 2 text view
  bool recognition = false;              // "set Regonize_M"
  std::optional<int> log;                // "set LOG %d"
};

// Applies one "set" line (its words, "set" first) to the record.
SetResult ApplySetLine(card::DeviceStatusRecord& r, const std::vector<std::string>& words);

}  // namespace sim
