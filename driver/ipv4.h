// Strict dotted IPv4 text: exactly four decimal numbers 0..255 separated by
// single dots, nothing before, between or after them. The driver and the
// virtual card both use it, so "Error", "", "1.2.3" or "999.1.1.1" are
// refused the same way everywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pcomm {

// The address in host byte order (first octet in the top byte).
inline std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t value = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    std::size_t digits = 0;
    std::uint32_t octet = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
      octet = octet * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || digits > 3 || octet > 255) return std::nullopt;
    value = (value << 8) | octet;
  }
  if (pos != text.size()) return std::nullopt;
  return value;
}

// 127.0.0.0/8: traffic to these addresses never leaves the machine.
inline bool IsLoopback(std::uint32_t address) { return (address >> 24) == 127; }

}  // namespace pcomm
