// Any page of registers the card sends, of any length, decoded in each of
// the eleven types: cells show only what arrived, every whole-number and
// string cell types back to exactly its bytes, a float cell types back to a
// value that shows the same, a page written unedited is the page read, and
// cells typed in another type's texts are each refused or written in place.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "modbus/register_view.h"

namespace mb = card::modbus;

namespace {

bool IsFloat(int type) {
  return type == mb::kFloatCdab || type == mb::kFloatNegAbcd || type == mb::kFloatDcba || type == mb::kFloatBadc;
}

std::size_t CellOffset(int type, int r, int c) {
  return 32 * static_cast<std::size_t>(r) + (mb::IsWide(type) ? 4 * static_cast<std::size_t>(c / 2) : 2 * static_cast<std::size_t>(c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  mb::PageImage page;
  const std::size_t n = std::min(size - 1, mb::kPageBytes);
  std::memcpy(page.bytes.data(), data + 1, n);
  page.valid = std::min<std::size_t>(data[0], n);
  const int other = data[0] % mb::kTypeCount;

  for (int type = 0; type < mb::kTypeCount; ++type) {
    const mb::GridTexts grid = mb::DecodePage(type, page);
    const std::size_t width = static_cast<std::size_t>(mb::TypeBytes(type));
    for (int r = 0; r < mb::kGridRows; ++r) {
      for (int c = 0; c < mb::kGridColumns; ++c) {
        const std::string& cell = grid[r][c];
        if (mb::IsWide(type) && c % 2) {
          if (cell != "--") __builtin_trap();
          continue;
        }
        const std::size_t at = CellOffset(type, r, c);
        if (at + width > page.valid) {
          if (!cell.empty()) __builtin_trap();
          continue;
        }
        const std::string bytes(reinterpret_cast<const char*>(page.bytes.data() + at), width);
        std::string error;
        const auto typed = mb::EncodeValue(type, cell, &error);
        if (IsFloat(type)) {
          // "%5.3f" keeps three decimals: the value typed back shows the same.
          if (typed && mb::DecodeValue(type, reinterpret_cast<const std::uint8_t*>(typed->data())) != cell)
            __builtin_trap();
          if (!typed && error.empty()) __builtin_trap();
        } else if (type == mb::kString && bytes == std::string(2, '\0')) {
          if (!cell.empty()) __builtin_trap();
        } else if (!typed || *typed != bytes) {
          __builtin_trap();
        }
      }
    }
    // Unedited: nothing re-encoded, the page goes back as it came.
    const mb::PageWrite same = mb::BuildPageWrite(type, page, grid, grid);
    if (same.edited != 0 || !same.errors.empty() || same.bytes != page.bytes) __builtin_trap();
    // Every cell replaced by another type's text: each one refused or
    // written at its own place, nothing else touched.
    const mb::GridTexts otherGrid = mb::DecodePage(other, page);
    const mb::PageWrite mixed = mb::BuildPageWrite(type, page, grid, otherGrid);
    for (std::size_t i = 0; i < mb::kPageBytes; ++i) {
      const int r = static_cast<int>(i / 32);
      const int c = mb::IsWide(type) ? static_cast<int>((i % 32) / 4 * 2) : static_cast<int>((i % 32) / 2);
      if (grid[r][c] == otherGrid[r][c] && mixed.bytes[i] != page.bytes[i]) __builtin_trap();
    }
  }
  return 0;
}
