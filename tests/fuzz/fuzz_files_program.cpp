// The program file half of fuzz_files: "打开文件", "更新" and "另存文件"
// over any bytes as the chosen file.
#include "fuzz/fuzz_files.h"
#include "programs/program_files.h"
#include "programs/program_slots.h"
#include "support/fake_channel.h"

namespace fuzz_files {

void Program(const testing_support::TempDir& dir, const std::string& bytes, testing_support::FakeUser& user,
             platform::VirtualClock& clock, int slot) {
  const std::string source = dir.file("program.txt");
  testing_support::WriteFile(source, bytes);
  testing_support::FakeChannel file(&clock), command(&clock);
  testing_support::FakeProcesses processes;
  card::MainState state;
  state.setSelectedAddress("192.168.1.20");
  state.setCardOpened();
  card::SysCfg cfg{dir.file("SysCfg.ini")};
  card::Siblings siblings{processes, dir.path() + "/"};
  card::ProgramContext ctx{file, command, clock, user, state, cfg, siblings};

  Check(card::ImportProgramFile(ctx, slot, source));
  Check(testing_support::ReadFile(card::WorkingFilePath(dir.path() + "/", slot + 1)) == bytes);
  const card::ProgramText expected = card::PrepareProgramText(bytes);
  const bool uploaded = card::UploadProgram(ctx, slot, 4);
  Check(uploaded == !expected.tooLong);
  if (!uploaded) {
    Check(file.sent().empty());
    return;
  }
  const auto sent = file.sent();
  Check(sent.size() == 2 && sent[1] == "reset \n");
  const Payload p = Parse(sent[0], "file cmd %d %d %x %d \n");
  Check(p.id == slot && p.id2 == 4 && p.text == expected.text);

  const std::string exported = dir.file("export.txt");
  Check(card::ExportProgramFile(ctx, slot, exported));
  Check(testing_support::ReadFile(exported) == expected.text);
}

}  // namespace fuzz_files
