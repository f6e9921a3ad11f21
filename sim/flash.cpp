#include "flash.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {
constexpr std::uint32_t InUseAt(int slot) { return kProgramDirectory + 12 + 48 * static_cast<std::uint32_t>(slot); }
constexpr std::uint32_t AddressAt(int slot) { return kProgramDirectory + 44 + 48 * static_cast<std::uint32_t>(slot); }
constexpr std::uint32_t LengthAt(int slot) { return kProgramDirectory + 48 + 48 * static_cast<std::uint32_t>(slot); }
static_assert(LengthAt(kDirectorySlots - 1) + 4 <= kProgramDirectory + kProgramDirectorySize);
static_assert(kProgramAreas + kProgramSlots * kProgramAreaSize <= kProgramRegionEnd);
static_assert(kTextRegion + (kLastTextId - kFirstTextId + 1) * kTextSlotSize <= 0x75F000);
}  // namespace

Flash::Flash() : bytes_(kFlashSize, 0xFF) { FormatPrograms(); }

std::string Flash::Read(std::uint32_t address, std::uint32_t length) const {
  if (address >= kFlashSize) return {};
  std::uint32_t n = std::min(length, kFlashSize - address);
  return std::string(reinterpret_cast<const char*>(bytes_.data()) + address, n);
}

void Flash::Write(std::uint32_t address, std::string_view bytes) {
  if (address >= kFlashSize) return;
  std::size_t n = std::min<std::size_t>(bytes.size(), kFlashSize - address);
  std::memcpy(bytes_.data() + address, bytes.data(), n);
}

std::uint32_t Flash::U32(std::uint32_t at) const {
  return static_cast<std::uint32_t>(bytes_[at]) | bytes_[at + 1] << 8 | bytes_[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes_[at + 3]) << 24;
}

void Flash::SetU32(std::uint32_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_[at + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool Flash::StoreProgram(int slot, std::string_view text) {
  if (slot < 0 || slot >= kProgramSlots || text.size() > kProgramAreaSize) return false;
  std::uint32_t area = kProgramAreas + static_cast<std::uint32_t>(slot) * kProgramAreaSize;
  std::fill_n(bytes_.begin() + area, kProgramAreaSize, 0xFF);
  Write(area, text);
  if (slot < kDirectorySlots) {
    SetU32(InUseAt(slot), 1);
    SetU32(AddressAt(slot), area);
    SetU32(LengthAt(slot), static_cast<std::uint32_t>(text.size()));
    SetU32(kProgramDirectory, static_cast<std::uint32_t>(ProgramCount()));
  }
  return true;
}

void Flash::RemoveProgram(int slot) {
  if (slot < 0 || slot >= kProgramSlots) return;
  std::uint32_t area = kProgramAreas + static_cast<std::uint32_t>(slot) * kProgramAreaSize;
  std::fill_n(bytes_.begin() + area, kProgramAreaSize, 0xFF);
  if (slot < kDirectorySlots) {
    SetU32(InUseAt(slot), 0);
    SetU32(AddressAt(slot), 0);
    SetU32(LengthAt(slot), 0);
    SetU32(kProgramDirectory, static_cast<std::uint32_t>(ProgramCount()));
  }
}

void Flash::FormatPrograms() {
  std::fill(bytes_.begin() + kProgramDirectory, bytes_.begin() + kProgramRegionEnd, 0xFF);
  std::fill_n(bytes_.begin() + kProgramDirectory, kProgramDirectorySize, 0x00);
}

DirectoryEntry Flash::Entry(int slot) const {
  if (slot < 0 || slot >= kDirectorySlots) return {};
  return {U32(InUseAt(slot)) != 0, U32(AddressAt(slot)), U32(LengthAt(slot))};
}

std::int32_t Flash::ProgramCount() const {
  std::int32_t n = 0;
  for (int i = 0; i < kDirectorySlots; ++i) n += U32(InUseAt(i)) != 0 ? 1 : 0;
  return n;
}

bool Flash::StoreText(int id, std::string_view text, std::uint32_t crc) {
  if (id < kFirstTextId || id > kLastTextId || text.size() + 8 > kTextSlotSize) return false;
  std::uint32_t at = kTextRegion + static_cast<std::uint32_t>(id - kFirstTextId) * kTextSlotSize;
  std::fill_n(bytes_.begin() + at, kTextSlotSize, 0xFF);
  SetU32(at, static_cast<std::uint32_t>(text.size()));
  SetU32(at + 4, crc);
  Write(at + 8, text);
  return true;
}

bool Flash::StoreScript(std::uint32_t address, std::string_view text) {
  if (address < kScriptRegion || address >= kScriptRegion + kScriptSize) return false;
  std::uint32_t room = kScriptRegion + kScriptSize - address;
  std::fill_n(bytes_.begin() + address, room, 0x00);
  Write(address, text.substr(0, room));
  return text.size() <= room;
}

bool Flash::Assign(std::vector<std::uint8_t> image) {
  if (image.size() != kFlashSize) return false;
  bytes_ = std::move(image);
  return true;
}

}  // namespace sim
