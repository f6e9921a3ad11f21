// What a program slot is made of on both sides: the working file on the PC
// (found without regard to letter case), the program text as it goes to the
// card, the upload command, and the card's program directory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace card {

// Eight slots: index 0..7 in card commands, number 1..8 in file names and in
// "PROGRAMID".
constexpr int kProgramSlots = 8;

// The longest program text an upload (and an export) takes, counted after
// the CR LF conversion and up to the first NUL byte: 34095 bytes go, 34096
// are refused.
constexpr std::size_t kProgramTextLimit = 34096;

// The card's program directory: a 296-byte block at the start of the program
// region of its flash, with entries for slot indexes 0..5 only.
constexpr std::uint32_t kProgramDirectoryAddress = 0x600000;
constexpr std::size_t kProgramDirectorySize = 296;
constexpr int kDirectorySlots = 6;
// The card's flash: nothing a directory points at lies beyond it.
constexpr std::uint64_t kCardFlashSize = 8u << 20;
// A program read back never exceeds this buffer.
constexpr std::size_t kProgramReadBuffer = 40960;

// The working file of a slot, below subsysDir (which ends with a separator):
// ledsys/CMD<n>/<name>. Every part is matched without regard to letter case
// against what already exists, so "cmd.txt" and "CMD.txt" are one file; when
// several entries differ only in case, the first in byte order is taken,
// whatever spelling was asked for. Parts that do not exist yet keep the
// spelling given.
std::string WorkingFilePath(const std::string& subsysDir, int slotNumber, std::string_view fileName = "CMD.txt");

// relative ("a/b/c") below base, each part matched as above.
std::string ResolveNoCase(const std::string& base, std::string_view relative);

// A working file read as text: a CR LF pair becomes one LF.
std::string TextModeRead(std::string_view raw);

// The text ends at its first NUL byte.
std::string_view UpToNul(std::string_view text);

// The text ends after the first LF of its first run of three LFs ("A\n\n\nB"
// becomes "A\n").
std::string_view CutAtTripleLineFeed(std::string_view text);

// A working file's bytes made ready to send or save: text-mode read, cut at
// NUL; tooLong when that reaches limit; then the three-LF cut.
struct ProgramText {
  bool tooLong = false;
  std::string text;
};
ProgramText PrepareProgramText(std::string_view fileBytes, std::size_t limit = kProgramTextLimit);

// How many bytes of a working file PrepareProgramText can look at: a CR LF
// pair counts once, so twice the limit is always enough.
constexpr std::size_t kProgramFileReadLimit = 2 * kProgramTextLimit + 2;

// "file cmd %d %d %x %d \n%s": slot index, length, CRC-32 in lower-case hex,
// dwell seconds, then the text.
std::string UploadCommand(int slotIndex, std::string_view text, int dwell);

struct DirectoryEntry {
  bool inUse = false;
  std::uint32_t address = 0;
  std::int32_t length = 0;
};

// The directory block, little-endian 32-bit numbers.
struct ProgramDirectory {
  std::int32_t count = 0;
  std::array<DirectoryEntry, kDirectorySlots> entries{};

  // Bytes that did not arrive count as 0.
  static ProgramDirectory Decode(const std::uint8_t* bytes, std::size_t received);
  // The entry of a slot index, when the directory holds programs and the slot
  // is in use; slot indexes 6 and 7 never have one.
  std::optional<DirectoryEntry> Used(int slotIndex) const;
};

// Where a used entry's program may be read from.
enum class EntryCheck { Ok, TooLong, Corrupt };
EntryCheck CheckEntry(const DirectoryEntry& e);

// A length raised to the next multiple of 128 (300 gives 384).
std::uint32_t RoundUpTo128(std::uint32_t length);

}  // namespace card
