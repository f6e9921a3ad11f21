// The card's 8 MiB flash image and where things live in it:
//
//   0x000000-0x020000  system region; the record is kept at 0
//   0x600000-0x6D0000  program region: the 296-byte program directory at its
//                      start, then one 64 KiB area per slot from 0x610000
//                      (slot i at 0x610000 + i * 0x10000, slots 0..7)
//   0x6F0000-0x6F1000  script program ("file program")
//   0x700000-0x728000  long texts ("file data"), id 5..14, 16 KiB each at
//                      0x700000 + (id - 5) * 0x4000: u32 length, u32 CRC-32,
//                      then the text
//   0x75F000-0x7EF000  picture data (left erased)
//
// Erased flash reads 0xFF. The directory holds entries for slots 0..5 only;
// slots 6 and 7 are stored in their areas without an entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr std::uint32_t kFlashSize = 8u << 20;
constexpr std::uint32_t kProgramDirectory = 0x600000;
constexpr std::uint32_t kProgramDirectorySize = 296;
constexpr std::uint32_t kProgramRegionEnd = 0x6D0000;
constexpr std::uint32_t kProgramAreas = 0x610000;
constexpr std::uint32_t kProgramAreaSize = 0x10000;
constexpr int kProgramSlots = 8;
constexpr int kDirectorySlots = 6;
constexpr std::uint32_t kScriptRegion = 0x6F0000;
constexpr std::uint32_t kScriptSize = 0x1000;
constexpr std::uint32_t kTextRegion = 0x700000;
constexpr std::uint32_t kTextSlotSize = 0x4000;
constexpr int kFirstTextId = 5;
constexpr int kLastTextId = 14;

struct DirectoryEntry {
  bool inUse = false;
  std::uint32_t address = 0;
  std::uint32_t length = 0;
};

class Flash {
 public:
  Flash();  // erased, with an empty program directory

  // Up to length bytes from address on; nothing past the end of the flash.
  std::string Read(std::uint32_t address, std::uint32_t length) const;
  void Write(std::uint32_t address, std::string_view bytes);

  // False when the slot or the length does not fit.
  bool StoreProgram(int slot, std::string_view text);
  void RemoveProgram(int slot);
  void FormatPrograms();
  DirectoryEntry Entry(int slot) const;
  std::int32_t ProgramCount() const;

  bool StoreText(int id, std::string_view text, std::uint32_t crc);
  // The text from address on inside the script region; the rest of the
  // region is cleared.
  bool StoreScript(std::uint32_t address, std::string_view text);

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // Takes an image loaded from disk; false when it has the wrong size.
  bool Assign(std::vector<std::uint8_t> image);

 private:
  std::uint32_t U32(std::uint32_t at) const;
  void SetU32(std::uint32_t at, std::uint32_t v);
  std::vector<std::uint8_t> bytes_;
};

}  // namespace sim
