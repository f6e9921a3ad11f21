// The "节目" group over fake links: the exact upload bytes and pauses, the
// read-back of directory and program with short, late and corrupt replies,
// delete, format, the editor hand-over, import and export, and the working
// file found whatever the case of its name.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/crc32.h"
#include "platform/codec.h"
#include "programs/editor_files.h"
#include "programs/program_slots.h"
#include "link/command_channel.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "support/main_fixture.h"

namespace {

using testing_support::ChannelEvent;
using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr const char* kCardIp = "192.168.1.20";

// A card's flash as the file link serves it: "file read_raw" answers with the
// bytes asked for, at most maxReply of them; bytes nobody wrote read 0xFF.
struct FakeFlash {
  std::map<std::uint32_t, std::string> regions;
  std::size_t maxReply = SIZE_MAX;
  int lateReplies = 0;    // that many empty Receives come before each reply
  bool silent = false;    // never answers
  int answers = -1;       // answers only this many requests (-1: all)
  std::vector<std::pair<std::uint32_t, int>> requests;

  std::string Read(std::uint32_t address, std::size_t length) const {
    std::string out(length, '\xFF');
    for (const auto& [start, bytes] : regions)
      for (std::size_t i = 0; i < length; ++i)
        if (address + i >= start && address + i < start + bytes.size()) out[i] = bytes[address + i - start];
    return out;
  }
  void Serve(testing_support::FakeChannel& ch) {
    ch.onSend([this, &ch](const std::string& line) {
      unsigned address = 0;
      int length = 0;
      if (std::sscanf(line.c_str(), "file read_raw 0x%x %d\n", &address, &length) != 2) return;
      requests.emplace_back(address, length);
      if (silent || (answers >= 0 && static_cast<int>(requests.size()) > answers)) return;
      for (int i = 0; i < lateReplies; ++i) ch.queueReply("");
      ch.queueReply(Read(address, std::min<std::size_t>(static_cast<std::size_t>(length), maxReply)));
    });
  }
};

std::string Le32(std::uint32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A directory block: count, then (slot, address, length) entries.
std::string Directory(std::int32_t count, const std::vector<std::tuple<int, std::uint32_t, std::int32_t>>& used) {
  std::string d(card::kProgramDirectorySize, '\0');
  d.replace(0, 4, Le32(static_cast<std::uint32_t>(count)));
  for (const auto& [slot, address, length] : used) {
    d.replace(12 + 48 * slot, 4, Le32(1));
    d.replace(44 + 48 * slot, 4, Le32(address));
    d.replace(48 + 48 * slot, 4, Le32(static_cast<std::uint32_t>(length)));
  }
  return d;
}

std::string Program(std::size_t n) {
  std::string p;
  for (std::size_t i = 0; p.size() < n; ++i) p += platform::Format("line %zu 节目\n", i);
  return p.substr(0, n);
}

// A program text whose upload command for slot index 1, dwell 4, is total bytes.
std::string TextForCommand(std::size_t total) {
  for (std::size_t n = total - 40; n < total; ++n) {
    std::string t = Program(n);
    if (card::UploadCommand(1, t, 4).size() == total) return t;
  }
  ADD_FAILURE() << "no text gives a command of " << total << " bytes";
  return {};
}

class ProgramSlots : public testing_support::MainFixture {
 protected:
  ProgramSlots() {
    state.setSelectedAddress(kCardIp);
    state.setCardOpened();
    state.setRecord(CardRecord(kCardIp, 39));
  }
  std::string WorkingFile(int number) const { return dir.file(platform::Format("ledsys/CMD%d/CMD.txt", number)); }
  void PutWorkingFile(int number, const std::string& text) {
    std::filesystem::create_directories(dir.file(platform::Format("ledsys/CMD%d", number)));
    WriteFile(WorkingFile(number), text);
  }
  std::vector<std::string> Received(const testing_support::FakeChannel& ch) const {
    std::vector<std::string> out;
    for (const auto& e : ch.events())
      if (e.kind == ChannelEvent::Receive) out.push_back(e.bytes);
    return out;
  }
  card::ProgramChoice Choice(int slot) const {
    card::ProgramChoice c;
    c.slot = slot;
    c.dwell = 4;
    c.cardIp = kCardIp;
    return c;
  }
  // Acknowledges every piece the card is sent while a paced upload runs.
  void AcknowledgePieces() {
    file.onSend([this](const std::string& bytes) {
      if (bytes != "file end" && bytes != "reset \n") file.queueReply("ok");
    });
  }

  card::ProgramContext pctx{file, command, clock, user, state, cfg, siblings};
  FakeFlash flash;
};

TEST_F(ProgramSlots, UploadSendsTheCutTextWithItsChecksumThenResets) {
  PutWorkingFile(1, "abc");
  const std::int64_t t0 = clock.now();
  ASSERT_TRUE(card::UploadProgram(pctx, 0, 4));
  EXPECT_EQ(file.sent(), (std::vector<std::string>{"file cmd 0 3 352441c2 4 \nabc", "reset \n"}));
  EXPECT_EQ(file.sent()[0].size(), 28u);
  EXPECT_EQ(file.events().front().bytes, kCardIp);  // connected to the selected card
  auto times = file.sendTimes();
  EXPECT_EQ(times[1] - times[0], 300);
  EXPECT_EQ(file.events().back().kind, ChannelEvent::Disconnect);
  EXPECT_EQ(clock.now() - t0, 3300);
  EXPECT_TRUE(user.shown().empty());

  // CR LF becomes LF, the text ends after the first of three LFs and at a
  // NUL; the slot index is the list position, the file is CMD<n>.
  file.clearEvents();
  PutWorkingFile(8, std::string("A\r\nB\n\n\nC", 8) + std::string("\0D", 2));
  ASSERT_TRUE(card::UploadProgram(pctx, 7, 59));
  EXPECT_EQ(file.sent()[0], platform::Format("file cmd 7 4 %x 59 \nA\nB\n", card::Crc32("A\nB\n")));
}

TEST_F(ProgramSlots, LongCommandsArePacedOnlyForCardsThatPaceThem) {
  AcknowledgePieces();
  // 2500 bytes of command: 1200, 1200 and 100 with two acknowledgements.
  const std::string text = TextForCommand(2500);
  PutWorkingFile(2, text);
  const std::string command = card::UploadCommand(1, text, 4);
  ASSERT_EQ(command.size(), 2500u);
  ASSERT_TRUE(card::UploadProgram(pctx, 1, 4));
  auto sent = file.sent();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[0], command.substr(0, 1200));
  EXPECT_EQ(sent[1], command.substr(1200, 1200));
  EXPECT_EQ(sent[2], command.substr(2400));
  EXPECT_EQ(sent[3], "file end");
  EXPECT_EQ(sent[4], "reset \n");
  auto times = file.sendTimes();
  EXPECT_EQ(times[1] - times[0], 500);   // one acknowledgement poll
  EXPECT_EQ(times[3] - times[2], 2000);  // before "file end"
  EXPECT_EQ(times[4] - times[3], 300);
  EXPECT_EQ(Received(file), (std::vector<std::string>{"ok", "ok"}));

  // Exactly 1200 bytes: a piece, an acknowledgement, an empty last piece.
  file.clearEvents();
  PutWorkingFile(2, TextForCommand(1200));
  ASSERT_TRUE(card::UploadProgram(pctx, 1, 4));
  sent = file.sent();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[1], "");
  EXPECT_EQ(sent[2], "file end");

  // The same long command to a card of firmware 38 goes in one Send.
  file.clearEvents();
  state.setRecord(CardRecord(kCardIp, 38));
  PutWorkingFile(2, text);
  ASSERT_TRUE(card::UploadProgram(pctx, 1, 4));
  EXPECT_EQ(file.sent(), (std::vector<std::string>{command, "reset \n"}));
}

TEST_F(ProgramSlots, AnUploadThatFailsNeverResetsTheCard) {
  PutWorkingFile(1, Program(3000));
  // No acknowledgement ever comes: told, and no "reset".
  ASSERT_FALSE(card::UploadProgram(pctx, 0, 4));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgUploadNoAck}));
  for (const auto& s : file.sent()) EXPECT_NE(s, "reset \n");
  EXPECT_EQ(file.sent().size(), 1u);
  EXPECT_FALSE(file.connected());

  // A failed send, paced or not.
  for (int major : {39, 20}) {
    file.clearEvents();
    state.setRecord(CardRecord(kCardIp, major));
    testing_support::FakeUser fresh(&clock);
    card::ProgramContext c{file, command, clock, fresh, state, cfg, siblings};
    file.failSendsFrom(0);
    ASSERT_FALSE(card::UploadProgram(c, 0, 4));
    EXPECT_EQ(fresh.texts(), (std::vector<std::string>{card::kMsgUploadSendFailed})) << major;
    EXPECT_EQ(file.sent().size(), 1u);
  }
}

TEST_F(ProgramSlots, MissingOversizedOrUnselectedProgramsSendNothing) {
  // No working file: nothing is sent, not even a connection is made.
  ASSERT_FALSE(card::UploadProgram(pctx, 2, 4));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{platform::Format(card::kMsgProgramFileMissing, 3)}));
  EXPECT_EQ(file.connectCount(), 0);

  // 34095 bytes after the CR LF conversion go; 34096 are refused.
  PutWorkingFile(3, "\r\n" + std::string(34095, 'a'));
  ASSERT_FALSE(card::UploadProgram(pctx, 2, 4));
  EXPECT_EQ(user.shown().back().text, card::kMsgStorageLimited);
  EXPECT_EQ(user.shown().back().title, "提示");
  EXPECT_EQ(user.shown().back().icon, card::Icon::Error);
  EXPECT_TRUE(file.sent().empty());
  EXPECT_FALSE(file.connected());
  PutWorkingFile(3, "\r\n" + std::string(34094, 'a'));
  AcknowledgePieces();
  ASSERT_TRUE(card::UploadProgram(pctx, 2, 4));
  EXPECT_EQ(file.sent().front().substr(0, 16), "file cmd 2 34095");

  // With no slot selected nothing is sent or written anywhere.
  file.clearEvents();
  command.clearEvents();
  const auto before = user.shown().size();
  card::ProgramChoice none = Choice(-1);
  EXPECT_FALSE(card::UploadProgram(pctx, -1, 4));
  EXPECT_FALSE(card::DeleteProgram(pctx, -1));
  EXPECT_EQ(card::ReadBackProgram(pctx, none), card::ReadBackOutcome::Failed);
  EXPECT_FALSE(card::EditProgram(pctx, none, false));
  EXPECT_FALSE(card::ExportProgramFile(pctx, -1, dir.file("out.txt")));
  EXPECT_FALSE(card::ImportProgramFile(pctx, -1, WorkingFile(3)));
  EXPECT_TRUE(file.events().empty());
  EXPECT_TRUE(command.events().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.file("ledsys/CMD0")));
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "<none>");
  EXPECT_TRUE(processes.started.empty());
  const auto shown = user.texts();
  EXPECT_EQ(std::vector<std::string>(shown.begin() + static_cast<long>(before), shown.end()),
            std::vector<std::string>(6, card::kMsgNoProgramSelected));
}

TEST_F(ProgramSlots, ReadBackWritesTheSlotsProgramIntoItsWorkingFile) {
  const std::string program = Program(300);
  flash.regions[card::kProgramDirectoryAddress] = Directory(2, {{0, 0x610000, 10}, {1, 0x620000, 300}});
  flash.regions[0x620000] = program + "garbage after the program";
  flash.Serve(file);
  ASSERT_EQ(card::ReadBackProgram(pctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(file.sent(), (std::vector<std::string>{"file read_raw 0x600000 296\n", "file read_raw 0x620000 384\n"}));
  auto times = file.sendTimes();
  EXPECT_EQ(times[1] - times[0], 300);
  // Written as cmd.txt; the upload's CMD.txt is the same file.
  EXPECT_EQ(ReadFile(card::WorkingFilePath(dir.path() + "/", 2)), program);
  EXPECT_TRUE(std::filesystem::exists(dir.file("ledsys/CMD2/cmd.txt")));
  EXPECT_FALSE(file.connected());
  EXPECT_TRUE(user.shown().empty());

  // A slot the directory does not list leaves an empty file.
  ASSERT_EQ(card::ReadBackProgram(pctx, Choice(4)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(card::WorkingFilePath(dir.path() + "/", 5)), "");

  // Slots 7 and 8 have no entry: their files stay as they are, untouched
  // by the card.
  PutWorkingFile(7, "kept");
  file.clearEvents();
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(6)), card::ReadBackOutcome::LeftAsIs);
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(7)), card::ReadBackOutcome::LeftAsIs);
  EXPECT_EQ(ReadFile(WorkingFile(7)), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir.file("ledsys/CMD8")));
  EXPECT_TRUE(file.events().empty());

  // Not ticked: nothing at all.
  card::ProgramChoice off = Choice(1);
  off.readBack = false;
  EXPECT_EQ(card::ReadBackProgram(pctx, off), card::ReadBackOutcome::Skipped);
  EXPECT_TRUE(file.events().empty());
}

TEST_F(ProgramSlots, ShortLateOrCorruptDirectoriesWriteNothingAndSaySo) {
  PutWorkingFile(2, "the user's program");
  const std::string program = Program(500);
  flash.regions[0x620000] = program;
  flash.Serve(file);
  struct Case {
    const char* what;
    std::string directory;
    std::size_t maxReply;
    int answers;
    const char* message;
  };
  const Case cases[] = {
      {"missing", Directory(1, {{1, 0x620000, 500}}), SIZE_MAX, 0, card::kMsgDirectoryMissing},
      {"short, then nothing", Directory(1, {{1, 0x620000, 500}}), 100, 1, card::kMsgDirectoryShort},
      {"negative length", Directory(1, {{1, 0x620000, -4}}), SIZE_MAX, -1, card::kMsgDirectoryCorrupt},
      {"past the flash", Directory(1, {{1, 0x7FFF80, 500}}), SIZE_MAX, -1, card::kMsgDirectoryCorrupt},
      {"over the buffer", Directory(1, {{1, 0x620000, 40961}}), SIZE_MAX, -1, card::kMsgProgramTooLong},
  };
  for (const Case& c : cases) {
    flash.regions[card::kProgramDirectoryAddress] = c.directory;
    flash.maxReply = c.maxReply;
    flash.answers = c.answers;
    flash.requests.clear();
    testing_support::FakeUser fresh(&clock);
    card::ProgramContext ctx{file, command, clock, fresh, state, cfg, siblings};
    EXPECT_EQ(card::ReadBackProgram(ctx, Choice(1)), card::ReadBackOutcome::Failed) << c.what;
    EXPECT_EQ(fresh.texts(), (std::vector<std::string>{c.message})) << c.what;
    EXPECT_EQ(ReadFile(WorkingFile(2)), "the user's program") << c.what;
    ASSERT_FALSE(flash.requests.empty()) << c.what;
    for (const auto& [address, length] : flash.requests)  // no program read from a bad directory
      EXPECT_LT(address, card::kProgramDirectoryAddress + card::kProgramDirectorySize) << c.what;
    EXPECT_FALSE(file.connected()) << c.what;
  }

  // A directory and a program that come late, or in short pieces, are
  // still taken whole.
  flash.regions[card::kProgramDirectoryAddress] = Directory(1, {{1, 0x620000, 500}});
  flash.answers = -1;
  flash.lateReplies = 2;
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(2)), program);
  flash.lateReplies = 0;
  flash.maxReply = 100;
  WriteFile(WorkingFile(2), "stale");
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(1)), card::ReadBackOutcome::Written);
  EXPECT_EQ(ReadFile(WorkingFile(2)), program);
  EXPECT_TRUE(user.shown().empty());

  // Bytes the card sends beyond the block cannot be its directory.
  flash.maxReply = SIZE_MAX;
  file.onSend([this](const std::string& line) {
    if (line.rfind("file read_raw 0x600000 ", 0) == 0) file.queueReply(flash.Read(0x600000, 296) + "ack\n");
  });
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(1)), card::ReadBackOutcome::Failed);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgDirectoryCorrupt}));
  EXPECT_EQ(ReadFile(WorkingFile(2)), program);
}

TEST_F(ProgramSlots, AShortProgramReplyIsCompletedFromTheFirstMissingByte) {
  const std::string program = Program(2500);
  flash.regions[card::kProgramDirectoryAddress] = Directory(1, {{0, 0x610000, 2500}});
  flash.regions[0x610000] = program;
  flash.Serve(file);
  flash.maxReply = 1000;
  ASSERT_EQ(card::ReadBackProgram(pctx, Choice(0)), card::ReadBackOutcome::Written);
  EXPECT_EQ(flash.requests, (std::vector<std::pair<std::uint32_t, int>>{
                                {0x600000, 296}, {0x610000, 2560}, {0x6103E8, 1560}, {0x6107D0, 560}}));
  EXPECT_EQ(ReadFile(card::WorkingFilePath(dir.path() + "/", 1)), program);

  // A card that stops answering after the first part: the re-requests end,
  // nothing is written.
  PutWorkingFile(1, "before");
  file.clearEvents();
  file.onSend([this](const std::string& line) {
    if (line.rfind("file read_raw 0x600000", 0) == 0) file.queueReply(flash.Read(0x600000, 296));
    if (line.rfind("file read_raw 0x610000 ", 0) == 0) file.queueReply(flash.Read(0x610000, 700));
  });
  const std::int64_t t0 = clock.now();
  EXPECT_EQ(card::ReadBackProgram(pctx, Choice(0)), card::ReadBackOutcome::Failed);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgProgramShort}));
  EXPECT_EQ(ReadFile(WorkingFile(1)), "before");
  // The directory, the first request, then the missing bytes asked for
  // again until the read's deadline: its pauses and its margin.
  const auto sent = file.sent();
  ASSERT_GE(sent.size(), 3u);
  for (std::size_t i = 2; i < sent.size(); ++i) EXPECT_EQ(sent[i], "file read_raw 0x6102bc 1860\n");
  const std::int64_t pauses = card::kDirectoryPauseMs + static_cast<std::int64_t>(sent.size() - 1) * card::kProgramPauseMs;
  EXPECT_LE(clock.now() - t0, pauses + card::kReadMarginMs + card::kReplyPollMs);
}

TEST_F(ProgramSlots, DeleteConnectsSendsAndNamesTheSlot) {
  ASSERT_TRUE(card::DeleteProgram(pctx, 2));
  auto events = command.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().kind, ChannelEvent::Connect);
  EXPECT_EQ(command.sent(), (std::vector<std::string>{"file cmdremove 2\n"}));
  EXPECT_FALSE(command.connected());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"成功删除节目3"}));
  EXPECT_EQ(user.shown()[0].title, "提示");

  // A card that cannot be reached, or a line that does not go: no success.
  command.clearEvents();
  command.queueConnectResult(-1);
  EXPECT_FALSE(card::DeleteProgram(pctx, 2));
  command.failSendsFrom(0);
  EXPECT_FALSE(card::DeleteProgram(pctx, 2));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"成功删除节目3", card::kMsgConnectFailed, card::kMsgDeleteFailed}));
}

TEST_F(ProgramSlots, FormatAsksFirstAndNeedsAnOpenedCard) {
  // "否": nothing happens.
  EXPECT_FALSE(card::FormatPrograms(pctx));
  EXPECT_TRUE(file.events().empty());
  // "是": the line on the file link, its reply read, then 1000 ms.
  user.queueAnswer(true);
  file.onSend([this](const std::string&) { file.queueReply("format ok\r\n"); });
  const std::int64_t t0 = clock.now();
  EXPECT_TRUE(card::FormatPrograms(pctx));
  EXPECT_EQ(file.sent(), (std::vector<std::string>{"file cmdformat \n"}));
  EXPECT_EQ(file.receiveCount(), 1);
  EXPECT_EQ(file.events().back().kind, ChannelEvent::Disconnect);
  EXPECT_EQ(file.events().back().at - t0, 1000);
  EXPECT_EQ(user.shown()[0].text, card::kMsgFormatQuestion);

  card::MainState fresh;
  card::ProgramContext closed{file, command, clock, user, fresh, cfg, siblings};
  file.clearEvents();
  EXPECT_FALSE(card::FormatPrograms(closed));
  EXPECT_EQ(user.texts().back(), card::kMsgNotConnected);
  EXPECT_TRUE(file.events().empty());
}

TEST_F(ProgramSlots, EditHandsTheSlotToTheEditorOnce) {
  card::ProgramChoice choice = Choice(4);
  choice.readBack = false;
  card::EditBody(pctx, choice);
  EXPECT_EQ(ini("RemotIP", "RemotIP"), kCardIp);
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "5");
  EXPECT_EQ(processes.started, (std::vector<std::string>{dir.path() + "/progedit"}));
  EXPECT_TRUE(file.events().empty());
  // Already running under another case of its name, on this slot: only the
  // keys are written again.
  processes.running = {"PROGEDIT"};
  cfg.setRemoteIp("");
  card::EditBody(pctx, choice);
  EXPECT_EQ(ini("RemotIP", "RemotIP"), kCardIp);
  EXPECT_EQ(processes.started.size(), 1u);
  // Running on slot 5, asked for slot 8 (read-back ticked): its slot is not
  // switched under it, nothing is read, and the user is told.
  choice.slot = 7;
  choice.readBack = true;
  card::EditBody(pctx, choice);
  card::ImportBody(pctx, choice, std::nullopt);
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "5");
  EXPECT_TRUE(file.events().empty());
  EXPECT_EQ(user.texts(), std::vector<std::string>(2, "节目编辑器正在编辑节目5，请在编辑器中保存并关闭后，再编辑节目8！"));
  // Closed, it is given the new slot. A start that fails is said.
  processes.running.clear();
  processes.startSucceeds = false;
  choice.readBack = false;
  card::EditBody(pctx, choice);
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "8");
  EXPECT_EQ(user.texts().back(), card::SiblingStartFailedText("progedit"));

  // No card opened, read-back ticked: said once, nothing written or started.
  card::MainState fresh;
  testing_support::FakeUser quiet(&clock);
  card::ProgramContext closed{file, command, clock, quiet, fresh, cfg, siblings};
  card::EditBody(closed, Choice(0));
  EXPECT_EQ(quiet.texts(), (std::vector<std::string>{card::kMsgNotConnected}));
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "8");
  EXPECT_EQ(processes.started.size(), 2u);
}

TEST_F(ProgramSlots, ImportAndExportMoveWorkingFiles) {
  // Export takes what an upload takes, well past 4096 bytes, cut as sent.
  const std::string program = Program(4999) + "x";
  PutWorkingFile(2, program + "\n\n\nnot part of the program");
  ASSERT_TRUE(card::ExportProgramFile(pctx, 1, dir.file("export.txt")));
  EXPECT_EQ(ReadFile(dir.file("export.txt")), program + "\n");
  PutWorkingFile(2, std::string(34096, 'a'));
  EXPECT_FALSE(card::ExportProgramFile(pctx, 1, dir.file("refused.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("refused.txt")));
  EXPECT_FALSE(card::ExportProgramFile(pctx, 5, dir.file("missing.txt")));
  PutWorkingFile(2, program);
  EXPECT_FALSE(card::ExportProgramFile(pctx, 1, dir.file("no/such/folder/x.txt")));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgStorageLimited,
                                                    platform::Format(card::kMsgProgramFileMissing, 6),
                                                    platform::Format(card::kMsgExportFailed,
                                                                     dir.file("no/such/folder/x.txt").c_str())}));

  // Import makes the slot's folder when it is missing, then hands over to
  // the editor even without a card; a failed copy is said.
  WriteFile(dir.file("chosen.txt"), "imported\r\n");
  card::MainState fresh;
  testing_support::FakeUser quiet(&clock);
  card::ProgramContext closed{file, command, clock, quiet, fresh, cfg, siblings};
  card::ProgramChoice choice = Choice(5);
  choice.widthText = "128";
  choice.heightText = "32";
  card::ImportBody(closed, choice, dir.file("chosen.txt"));
  EXPECT_EQ(ReadFile(WorkingFile(6)), "imported\r\n");
  EXPECT_EQ(ini("LEDPARA", "WIDTH"), "128");
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "6");
  EXPECT_EQ(processes.started.size(), 1u);
  card::ImportBody(closed, choice, dir.file("gone.txt"));
  EXPECT_EQ(quiet.texts(), (std::vector<std::string>{platform::Format(card::kMsgImportFailed, dir.file("gone.txt").c_str())}));
  EXPECT_EQ(ReadFile(WorkingFile(6)), "imported\r\n");
}

TEST_F(ProgramSlots, ImportRefusesWhatTheSlotCannotHoldBeforeReadingItWhole) {
  PutWorkingFile(2, "kept\n");
  // The longest text an upload takes goes in, CR LF counted once.
  WriteFile(dir.file("fits.txt"), std::string(34094, 'a') + "\r\n");
  ASSERT_TRUE(card::ImportProgramFile(pctx, 1, dir.file("fits.txt")));
  EXPECT_EQ(ReadFile(WorkingFile(2)).size(), 34096u);
  PutWorkingFile(2, "kept\n");
  WriteFile(dir.file("long.txt"), std::string(34096, 'a'));
  EXPECT_FALSE(card::ImportProgramFile(pctx, 1, dir.file("long.txt")));
  // A file without end: only what an upload could look at is read.
  EXPECT_FALSE(card::ImportProgramFile(pctx, 1, "/dev/zero"));
  EXPECT_EQ(ReadFile(WorkingFile(2)), "kept\n");
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgStorageLimited, card::kMsgStorageLimited}));
  EXPECT_EQ(user.shown()[0].icon, card::Icon::Error);
}

TEST_F(ProgramSlots, TheEditorsSaveRequestsAnUploadOfItsOwnSlot) {
  cfg.setProgramId(3);
  const int number = card::HandedProgramNumber(cfg);
  // The tool handed another slot since the editor started: the save names
  // its own.
  cfg.setProgramId(1);
  ASSERT_TRUE(card::SaveProgramText(dir.path() + "/", cfg, number, "第一行\n", true));
  EXPECT_EQ(cfg.syncUpdate(), 1);
  EXPECT_EQ(ini("LEDPARA", "PROGRAMID"), "3");
  EXPECT_EQ(ReadFile(WorkingFile(3)), platform::Utf8ToGbk("第一行\n"));
  EXPECT_EQ(card::LoadProgramText(dir.path() + "/", 3), "第一行\n");
  // The upload goes to the editor's slot, whatever the list shows.
  EXPECT_EQ(card::EditorSlot(cfg, 0), 2);
  cfg.write("LEDPARA", "PROGRAMID", "9");
  EXPECT_EQ(card::EditorSlot(cfg, 0), 0);
  cfg.write("LEDPARA", "PROGRAMID", "x");
  EXPECT_EQ(card::EditorSlot(cfg, 6), 6);
}

TEST_F(ProgramSlots, AnUploadRequestIsTakenOnceAndNotAtAllWhileItCannotBeReset) {
  card::EditorRequests requests;
  EXPECT_EQ(requests.Take(cfg, 0, user), std::nullopt);
  cfg.setProgramId(3);
  cfg.write("NetSyc", "Syc_Update", "1");
  EXPECT_EQ(requests.Take(cfg, 0, user), 2);
  EXPECT_EQ(cfg.syncUpdate(), 0);
  EXPECT_EQ(requests.Take(cfg, 0, user), std::nullopt);

  // SysCfg.ini cannot be written: the request stays, is never taken, and
  // the user hears of it once however often the poll asks.
  cfg.write("NetSyc", "Syc_Update", "1");
  std::filesystem::permissions(cfg.path(), std::filesystem::perms::owner_read);
  for (int tick = 0; tick < 5; ++tick) EXPECT_EQ(requests.Take(cfg, 0, user), std::nullopt);
  EXPECT_EQ(user.texts(), std::vector<std::string>{card::kMsgSyncResetFailed});
  EXPECT_EQ(cfg.syncUpdate(), 1);
  // Writable again: taken.
  std::filesystem::permissions(cfg.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(requests.Take(cfg, 0, user), 2);
}

TEST(WorkingFiles, OneFileWhateverTheCaseOfItsPath) {
  testing_support::TempDir dir;
  const std::string base = dir.path() + "/";
  // Nothing there yet: the spelling asked for.
  EXPECT_EQ(card::WorkingFilePath(base, 3, "cmd.txt"), base + "ledsys/CMD3/cmd.txt");
  std::filesystem::create_directories(dir.file("LedSys/cmd3"));
  WriteFile(dir.file("LedSys/cmd3/Cmd.TXT"), "x");
  EXPECT_EQ(card::WorkingFilePath(base, 3), base + "LedSys/cmd3/Cmd.TXT");
  EXPECT_EQ(card::WorkingFilePath(base, 3, "cmd.txt"), base + "LedSys/cmd3/Cmd.TXT");
  // Two spellings side by side: both names lead to the same one.
  WriteFile(dir.file("LedSys/cmd3/CMD.txt"), "y");
  EXPECT_EQ(card::WorkingFilePath(base, 3, "cmd.txt"), card::WorkingFilePath(base, 3, "CMD.txt"));
  EXPECT_EQ(card::WorkingFilePath(base, 4), base + "LedSys/CMD4/CMD.txt");
}

TEST(ProgramText, CutsAndDirectoryDecoding) {
  EXPECT_EQ(card::PrepareProgramText("\r\r\n").text, "\r\n");
  EXPECT_EQ(card::UploadCommand(0, "", 4), "file cmd 0 0 0 4 \n");
  EXPECT_EQ(card::RoundUpTo128(300), 384u);
  EXPECT_EQ(card::RoundUpTo128(256), 256u);
  EXPECT_EQ(card::RoundUpTo128(0), 0u);
  // Bytes that did not arrive count as 0; a count of 0 or less holds nothing.
  std::string d = Directory(1, {{5, 0x6A0000, 77}});
  auto dir = card::ProgramDirectory::Decode(reinterpret_cast<const std::uint8_t*>(d.data()), d.size());
  ASSERT_TRUE(dir.Used(5));
  EXPECT_EQ(dir.Used(5)->address, 0x6A0000u);
  EXPECT_EQ(dir.Used(5)->length, 77);
  EXPECT_FALSE(dir.Used(6));
  EXPECT_FALSE(card::ProgramDirectory::Decode(reinterpret_cast<const std::uint8_t*>(d.data()), 200).Used(5));
  d.replace(0, 4, Le32(0xFFFFFFFF));
  EXPECT_FALSE(card::ProgramDirectory::Decode(reinterpret_cast<const std::uint8_t*>(d.data()), d.size()).Used(5));
}

}  // namespace
