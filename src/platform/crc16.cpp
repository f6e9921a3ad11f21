#include "platform/crc16.h"

namespace card {

std::uint16_t ModbusCrc16(std::string_view bytes) {
  std::uint16_t crc = 0xFFFF;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

}  // namespace card
