// IEEE 802.3 CRC-32 (reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement): the value zlib's crc32 gives. The record
// checksum and every payload checksum use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace card {

std::uint32_t Crc32(const void* data, std::size_t length);
inline std::uint32_t Crc32(std::string_view text) { return Crc32(text.data(), text.size()); }

}  // namespace card
