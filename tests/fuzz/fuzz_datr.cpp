// Any file opened as a request table: only whole records are taken, the
// list shows them, and what the list stores back is what the file held.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "modbus/master_table.h"

namespace mb = card::modbus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that reading one byte too far is caught.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  mb::RecordTable previous{};
  previous[29].function = 3;
  const mb::TableFileLoad load = mb::DecodeTableFile(bytes, previous);
  if (load.whole > mb::kRequests || load.whole != std::min<std::size_t>(size / 45, 30)) __builtin_trap();
  if (load.whole < 30 && !(load.records[29] == previous[29])) __builtin_trap();
  if (mb::TableFileNotice(load).empty() != (size == mb::kTableFileSize)) __builtin_trap();
  if (!(mb::DecodeTableFile(mb::EncodeTableFile(load.records), {}).records == load.records)) __builtin_trap();

  const mb::TableTexts rows = mb::ToRows(load.records);
  const mb::TableParse parse = mb::ParseRows(rows, mb::NormalHeaders());
  (void)mb::CheckTable(parse.records);
  // Raw values straight from the file, none of them checked yet.
  (void)mb::CheckTable(load.records);
  const mb::EntryTable entries = mb::ToEntries(parse.records);
  (void)mb::UnsentRequests(entries);
  for (std::size_t i = 0; i < mb::kRequests; ++i) {
    (void)mb::RowFrameText(load.records[i]);
    (void)mb::CddLine(i, entries[i]);
    // A row whose cells all fit their fields stores the request the file held.
    bool rowOk = true;
    for (const auto& e : parse.errors) rowOk = rowOk && e.rfind("第" + std::to_string(i + 1) + "行", 0) != 0;
    if (rowOk && !(mb::ToEntry(load.records[i]) == entries[i])) __builtin_trap();
  }
  return 0;
}
