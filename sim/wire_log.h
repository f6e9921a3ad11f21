// --wire-log: one JSON line per thing the tool did to a card, so tests and
// people can see exactly what was sent:
//   {"t":1234,"card":"127.0.0.10","port":1001,"rx":"set Sys_Crc 1a2b \n"}
//   {"t":1240,"card":"127.0.0.10","port":1001,"event":"connect"}
//   {"t":1300,"card":"*","port":4400,"from":"127.0.0.1:8800","rx":"query all_in_strut \n"}
// t is milliseconds since cardsim started.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace sim {

std::string AddressText(std::uint32_t address);

class WireLog {
 public:
  explicit WireLog(const std::string& path);
  ~WireLog();
  void Received(std::int64_t t, const std::string& card, int port, std::string_view bytes,
                const std::string& from = {});
  void Event(std::int64_t t, const std::string& card, int port, std::string_view what);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace sim
