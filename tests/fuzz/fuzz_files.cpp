// Any bytes as the files a user hands the tool: a script file ("打开程序"),
// a long-text file ("下载数据") and a program file ("打开文件", then "更新"
// and "另存文件"). What is loaded saves and loads again to the same program;
// what goes to the card is the file's text as the command announces it, or
// nothing with the storage message; an export is the text the upload sent.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/fuzz_files.h"
#include "platform/crc32.h"
#include "storage/flash_save.h"
#include "storage/script.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "fuzz/fuzz_dir.h"

namespace fuzz_files {

Payload Parse(const std::string& command, const char* format) {
  Payload p;
  const std::size_t header = command.find('\n');
  Check(header != std::string::npos);
  Check(std::sscanf(command.substr(0, header + 1).c_str(), format, &p.id, &p.length, &p.crc, &p.id2) == 4);
  p.text = command.substr(header + 1);
  Check(p.length >= 0 && static_cast<std::size_t>(p.length) == p.text.size());
  Check(p.crc == card::Crc32(p.text));
  return p;
}

}  // namespace fuzz_files

namespace {

using fuzz_files::Check;
using fuzz_files::Parse;
using fuzz_files::Payload;

void Script(const testing_support::TempDir& dir, const std::string& bytes, testing_support::FakeUser& user) {
  const std::string path = dir.file("script.kxdatr");
  testing_support::WriteFile(path, bytes);
  const card::ScriptFile first = card::LoadScriptFile(path, user);
  if (first.outcome != card::ScriptFileOutcome::Loaded) return;
  Check(first.lines.size() <= static_cast<std::size_t>(card::kScriptRows));
  const std::string again = dir.file("again.kxdatr");
  if (!card::SaveScriptFile(again, first.lines, user)) return;
  const card::ScriptFile second = card::LoadScriptFile(again, user);
  Check(second.outcome == card::ScriptFileOutcome::Loaded || card::ProgramRows(first.lines).empty());
  Check(card::ProgramRows(second.lines) == card::ProgramRows(first.lines));
}

void LongText(const testing_support::TempDir& dir, const std::string& bytes, testing_support::FakeUser& user,
              platform::VirtualClock& clock, int slot) {
  const std::string path = dir.file("text.txt");
  testing_support::WriteFile(path, bytes);
  testing_support::FakeChannel link(&clock);
  testing_support::FakeFiles files;
  testing_support::FakeProgress progress;
  files.opens = {path};
  card::StorageTools t{link, clock, user, files, progress, "192.168.1.20", dir.path()};
  const card::DownloadOutcome outcome = card::DownloadLongText(t, slot);
  const std::string_view text = card::LongTextOf(bytes);
  if (text.size() > card::kMaxLongTextBytes) {
    Check(outcome == card::DownloadOutcome::TooLong && link.sent().empty());
    return;
  }
  Check(outcome == card::DownloadOutcome::Sent && link.sent().size() == 1);
  const Payload p = Parse(link.sent()[0], "file data %d %d %x %d \n");
  Check(p.id == slot + 5 && p.id2 == slot + 5 && p.text == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int slot = data[0] % 8;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const testing_support::TempDir& dir = fuzz_support::FreshFuzzDir();
  platform::VirtualClock clock;
  testing_support::FakeUser user(&clock);
  Script(dir, bytes, user);
  LongText(dir, bytes, user, clock, slot % card::kLongTextSlotCount);
  fuzz_files::Program(dir, bytes, user, clock, slot);
  return 0;
}
