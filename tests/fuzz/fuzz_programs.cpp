// Any directory block and any working file: decoding never reads past what
// arrived, an entry that passes the check fits the read-back buffer and the
// card's flash, and the cut program text is a clean prefix of the file's
// text that the upload command carries whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/crc32.h"
#include "programs/program_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The directory as it arrived: a copy of exactly the received bytes, so
  // that a read past them is caught.
  std::string received(reinterpret_cast<const char*>(data), size < 400 ? size : 400);
  const auto dir = card::ProgramDirectory::Decode(reinterpret_cast<const std::uint8_t*>(received.data()),
                                                  received.size());
  for (int slot = -1; slot <= card::kProgramSlots; ++slot) {
    auto entry = dir.Used(slot);
    if (!entry) continue;
    if (slot < 0 || slot >= card::kDirectorySlots || dir.count < 1) __builtin_trap();
    if (card::CheckEntry(*entry) == card::EntryCheck::Ok) {
      const std::uint32_t rounded = card::RoundUpTo128(static_cast<std::uint32_t>(entry->length));
      if (entry->length < 0 || rounded > card::kProgramReadBuffer) __builtin_trap();
      if (static_cast<std::uint64_t>(entry->address) + rounded > card::kCardFlashSize) __builtin_trap();
    }
  }

  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const std::size_t limit = 64 + (size % 512);  // small limits reach the refusal
  const card::ProgramText text = card::PrepareProgramText(file, limit);
  if (!text.tooLong) {
    const std::string whole = card::TextModeRead(file);
    if (whole.compare(0, text.text.size(), text.text) != 0) __builtin_trap();
    if (text.text.size() >= limit) __builtin_trap();
    if (text.text.find('\0') != std::string::npos) __builtin_trap();
    if (text.text.find("\n\n\n") != std::string::npos) __builtin_trap();
    const std::string command = card::UploadCommand(7, text.text, 59);
    int slot = -1, length = -1, dwell = -1;
    unsigned crc = 0;
    const std::size_t header = command.find('\n') + 1;
    if (std::sscanf(command.substr(0, header).c_str(), "file cmd %d %d %x %d \n", &slot, &length, &crc, &dwell) != 4)
      __builtin_trap();
    if (slot != 7 || dwell != 59 || static_cast<std::size_t>(length) != text.text.size() ||
        crc != card::Crc32(text.text) || command.substr(header) != text.text)
      __builtin_trap();
  }
  return 0;
}
