// Simulated RS-485 traffic: the Modbus RTU requests a card polls from its
// master table and the answers its slaves give, with the RTU CRC-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "card_record.h"

namespace sim {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF. Sent
// low byte first at the end of every frame.
std::uint16_t ModbusCrc16(std::string_view bytes);
// Appends the CRC to a frame body.
std::string WithCrc(std::string body);

struct RtuExchange {
  std::string request;
  std::string response;
};

// The requests of the master table (entries whose function code is 1..6 or
// 16) and plausible answers; values come from registers, moved by tick so the
// traffic changes over time. An empty table polls slave 1 for two registers.
std::vector<RtuExchange> MasterTraffic(const CardRecord& r, const std::vector<std::uint16_t>& registers,
                                       std::uint32_t tick);

// The text view of one exchange: "TX: 01 03 ...\r\nRX: 01 03 ...\r\n".
std::string TextView(const RtuExchange& e);

}  // namespace sim
