// The Modbus RTU CRC-16 (reflected polynomial 0xA001, initial value 0xFFFF),
// sent low byte first after each frame. Like the CRC-32 it is one shared
// implementation: the tool's Modbus tools and the virtual card both use it.
#pragma once

#include <cstdint>
#include <string_view>

namespace card {

std::uint16_t ModbusCrc16(std::string_view bytes);

}  // namespace card
