// What the virtual card does with the tool's commands, seen through the
// real driver and the command channel: record and set lines, flash reads,
// program uploads, texts, Modbus, RS-485, the screen, restarts and recovery.
#include <algorithm>
#include <cstring>

#include "e2e/fixture.h"
#include "link/command_channel.h"
#include "platform/crc32.h"
#include "platform/text.h"
#include "rtu.h"
#include "support/panel_observer.h"

namespace e2e {
namespace {

namespace rec = card::rec;
using testing_support::ReadFile;

class CardTest : public CardSimTest {
 protected:
  std::string ReadFlash(card::Channel& link, std::uint32_t at, int length) {
    return ExchangeUntil(link, card::ReadRawLine(at, length), static_cast<std::size_t>(length));
  }
  std::uint32_t U32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s.at(at + static_cast<std::size_t>(i)));
    return v;
  }
  // The program of a directory slot, read back as the tool does.
  std::string ReadProgram(card::Channel& link, int slot) {
    std::string dir = ReadFlash(link, 0x600000, 296);
    EXPECT_EQ(dir.size(), 296u);
    if (dir.size() < 296 || U32(dir, 12 + 48 * slot) == 0) return "<not in use>";
    std::uint32_t length = U32(dir, 48 + 48 * slot);
    return ReadFlash(link, U32(dir, 44 + 48 * slot), static_cast<int>(length)).substr(0, length);
  }
  // A program whose whole "file cmd" command is exactly total bytes long.
  static std::string Command(int slot, std::size_t total, std::string* text) {
    for (std::size_t len = total; len > 0; --len) {
      std::string t(len, 'x');
      for (std::size_t i = 0; i < len; ++i) t[i] = i % 40 == 39 ? '\n' : static_cast<char>('a' + (i * 7 + slot) % 26);
      std::string c = platform::Format("file cmd %d %zu %x %d \n", slot, len, card::Crc32(t), 4) + t;
      if (c.size() == total) {
        *text = t;
        return c;
      }
    }
    return {};
  }
};

TEST_F(CardTest, SetLinesChangeTheRecordAsTheToolExpects) {
  StartSim();
  auto link = Connected();
  card::DeviceStatusRecord mirror = QueryRecord(*link);
  ASSERT_TRUE(card::CheckRecord(mirror));
  ASSERT_TRUE(card::VerifyChecksum(mirror));
  EXPECT_EQ(card::AddressText(mirror), kCard0);
  EXPECT_GT(mirror.firmwareMajor(), 38);

  // Each step changes the tool's copy, announces its checksum and sends the line.
  mirror.setU16(rec::kCodeWord, 0x8801);
  AnnounceAndSend(*link, &mirror, "set chrct machine 8801 \n");
  mirror.setU16(rec::kWidthCopy, mirror.u16(rec::kWidth));
  mirror.setU8(rec::kDisplayMode, 2);
  AnnounceAndSend(*link, &mirror, platform::Format("set hard %d %d %d\n", mirror.u16(rec::kWidth), 0, 2));
  mirror.setU16(rec::kWidth, 256);
  mirror.setU16(rec::kHeight, 64);
  AnnounceAndSend(*link, &mirror, "set soft 256 64 \n");
  mirror.setU16(rec::kBaudRate, static_cast<std::uint16_t>(115200 & 0xFFFF));
  AnnounceAndSend(*link, &mirror, "set baud 115200 8 0 1 \n");
  mirror.setU16(rec::kServerPort, 9000);
  AnnounceAndSend(*link, &mirror, "set server_port 9000 \n");
  for (int i = 0; i < 4; ++i) mirror.setU8(rec::kGateway + i, static_cast<std::uint8_t>(10 + i));
  AnnounceAndSend(*link, &mirror, "set local_ip_gw  10 11 12 13 \n");
  for (int i = 0; i < 6; ++i) mirror.setU16(rec::kMac + 2 * i, static_cast<std::uint16_t>(0xA0 + i));
  AnnounceAndSend(*link, &mirror, "set Mac  a0 a1 a2 a3 a4 a5    \n");
  std::memcpy(mirror.data() + rec::kSerial, "202399998888777766665555", 25);
  AnnounceAndSend(*link, &mirror, "set SN  202399998888777766665555    \n");
  mirror.setU16(rec::kCounterStart + 4, 499);
  AnnounceAndSend(*link, &mirror, "set safedate 2  499  \n");
  const std::uint8_t ledpara[13] = {64, 32, 16, 16, 2, 8, 1, 3, 1, 5, 0, 0, 1};
  const std::size_t ledOffsets[13] = {200, 202, 12, 205, 210, 204, 35, 22, 21, 206, 23, 25, 24};
  for (int i = 0; i < 13; ++i) mirror.setU8(ledOffsets[i], ledpara[i]);
  AnnounceAndSend(*link, &mirror, "set ledpara  64 32 16 16 2 8 1 3 1 5 0 0 1 \n");
  // Blanks after the keyword, two lines in one send, a line without its end.
  mirror.setU8(rec::kBrightness, 2);
  mirror.setU16(rec::kWidth, 32);
  mirror.setU16(rec::kHeight, 16);
  card::SendLine(*link, "set ld 2\n set soft  32 16  \n");
  // One Modbus request (outside the checksummed bytes).
  const std::size_t e = rec::kModbusTable + 3 * rec::kModbusEntrySize;
  mirror.setU8(e, 3);
  mirror.setU8(e + 1, 7);
  mirror.setU16(e + 2, 300);
  mirror.setU8(e + 4, 2);
  mirror.setU16(e + 5, 10);
  mirror.setU16(e + 7, 5);
  mirror.setU8(e + 9, 9);
  mirror.setU16(e + 10, 1);
  mirror.setU16(e + 12, 2);
  mirror.setU8(e + 14, 40);
  mirror.setU16(e + 15, 900);
  mirror.setU16(e + 17, static_cast<std::uint16_t>(-50));
  card::SendLine(*link, "set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n");
  mirror.setU8(rec::kLock, 1);
  card::SendLine(*link, "set Store_lock on \n  ");
  mirror.updateChecksum();

  card::DeviceStatusRecord now = QueryRecord(*link);
  for (std::size_t i = 0; i < rec::kSize; ++i) EXPECT_EQ(now.u8(i), mirror.u8(i)) << "offset " << i;
  EXPECT_TRUE(card::VerifyChecksum(now));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "crc_checks") == 10; }));
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 0);
  EXPECT_EQ(StatusValue(0, "unknown_lines"), 0);
  // What the card keeps, read as raw bytes from its state file.
  ASSERT_TRUE(Eventually([&] {
    return ReadFile(StateFile(0, "record.bin")) == std::string(reinterpret_cast<const char*>(mirror.data()), rec::kSize);
  }));

  // An announcement that does not match what the line makes of the record.
  card::SendLine(*link, "set Sys_Crc 1234 \n");
  card::SendLine(*link, "set pl 3 \n");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "crc_checks") == 11; }));
  EXPECT_EQ(StatusValue(0, "crc_mismatches"), 1);
  // The record file in the state directory follows every change.
  EXPECT_EQ(ReadFile(StateFile(0, "record.bin")).substr(0, 256).at(rec::kRefreshRate), 3);
}

TEST_F(CardTest, BrightnessWithoutLineEndTakesEffectWhenTheLinkCloses) {
  StartSim();
  {
    auto link = Connected();
    card::SendLine(*link, "set ld 23");
    link->Disconnect();
  }
  // The card takes the line once it sees the close, which may come after a
  // new connection's first query.
  EXPECT_TRUE(Eventually([&] { return QueryRecord(*Connected()).u8(rec::kBrightness) == 23; }));
}

TEST_F(CardTest, ChunkedReadsEqualTheFlash) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  std::string flash = ReadFile(StateFile(0, "flash.bin"));
  ASSERT_EQ(flash.size(), 8u << 20);
  card::MemorySink sink;
  auto r = card::ReadRawChunked(*link, fast_, 0, 40000, sink);
  EXPECT_EQ(r.status, card::ChunkedStatus::Complete);
  EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), flash.substr(0, 40000));
  // The end of the flash: the card serves nothing past 8 MiB.
  card::MemorySink tail;
  r = card::ReadRawChunked(*link, fast_, (8u << 20) - 5000, 5000, tail);
  EXPECT_EQ(r.status, card::ChunkedStatus::Complete);
  EXPECT_EQ(std::string(tail.bytes().begin(), tail.bytes().end()), flash.substr(flash.size() - 5000));
  EXPECT_EQ(ReadFlash(*link, 0x7FFFF0, 4096).size(), 16u);
}

TEST_F(CardTest, ChunkedReadContinuesAfterShortReplies) {
  StartSim({"--short-reads", "1000"});
  auto link = Connected(kCard0, card::kFilePort);
  card::MemorySink sink;
  auto r = card::ReadRawChunked(*link, fast_, 0x600000, 12000, sink);
  EXPECT_EQ(r.status, card::ChunkedStatus::Complete);
  std::string flash = ReadFile(StateFile(0, "flash.bin"));
  EXPECT_EQ(std::string(sink.bytes().begin(), sink.bytes().end()), flash.substr(0x600000, 12000));
  std::string log = WireLog();
  EXPECT_NE(log.find("file read_raw 0x6003e8 4096"), std::string::npos) << "the second request starts 1000 further";
  EXPECT_NE(log.find("file read_raw 0x602af8 4096"), std::string::npos) << "the twelfth at 11000";
}

TEST_F(CardTest, PacedAndWholeUploadsArriveIntact) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  const std::size_t sizes[] = {1199, 1200, 2400, 2500};
  std::string texts[4];
  for (int slot = 0; slot < 4; ++slot) {
    std::string cmd = Command(slot, sizes[slot], &texts[slot]);
    ASSERT_EQ(cmd.size(), sizes[slot]);
    if (card::ShouldSendPaced(cmd.size(), 39))
      ASSERT_EQ(card::SendPaced(*link, fast_, cmd), card::PacedStatus::Sent) << sizes[slot];
    else
      card::SendLine(*link, cmd);
  }
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 4; }));
  for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(ReadProgram(*link, slot), texts[slot]) << sizes[slot];
  EXPECT_EQ(StatusValue(0, "program_mismatches"), 0);
  EXPECT_EQ(StatusValue(0, "acks_sent"), 0 + 1 + 1 + 2);
  std::string log = WireLog();
  std::size_t ends = 0;
  for (std::size_t at = log.find("file end"); at != std::string::npos; at = log.find("file end", at + 1)) ++ends;
  EXPECT_EQ(ends, 3u);
}

TEST_F(CardTest, OlderFirmwareTakesALongCommandInOneSend) {
  StartSim({"--firmware", "38.4.0"});
  auto link = Connected(kCard0, card::kFilePort);
  std::string text;
  std::string cmd = Command(2, 1200, &text);
  ASSERT_FALSE(card::ShouldSendPaced(cmd.size(), 38));
  card::SendLine(*link, cmd);
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 1; }));
  EXPECT_EQ(ReadProgram(*link, 2), text);
  EXPECT_EQ(StatusValue(0, "acks_sent"), 0);
}

TEST_F(CardTest, AnUnacknowledgedUploadGivesUpAndStoresNothing) {
  StartSim({"--no-ack"});
  auto link = Connected(kCard0, card::kFilePort);
  std::string text;
  EXPECT_EQ(card::SendPaced(*link, fast_, Command(0, 3000, &text)), card::PacedStatus::NoAcknowledgement);
  link->Disconnect();
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "program_mismatches") == 1; }));
  auto again = Connected(kCard0, card::kFilePort);
  EXPECT_EQ(ReadProgram(*again, 0), "<not in use>");
}

TEST_F(CardTest, ProgramsAreRemovedAndFormatted) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  for (int slot : {0, 1, 5}) card::SendLine(*link, platform::Format("file cmd %d 3 352441c2 4 \nabc", slot));
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "programs_stored") == 3; }));
  EXPECT_EQ(U32(ReadFlash(*link, 0x600000, 4), 0), 3u);
  card::SendLine(*link, "file cmdremove 1\n");
  EXPECT_EQ(ReadProgram(*link, 1), "<not in use>");
  EXPECT_EQ(ReadProgram(*link, 5), "abc");
  char reply[100] = {};
  auto r = card::Exchange(*link, fast_, "file cmdformat \n", 300, reply, sizeof reply);
  EXPECT_GT(r.count, 0u) << "format answers with a short text";
  EXPECT_EQ(U32(ReadFlash(*link, 0x600000, 4), 0), 0u);
  EXPECT_EQ(ReadProgram(*link, 0), "<not in use>");
  // A wrong checksum is refused and counted.
  card::SendLine(*link, "file cmd 0 3 deadbeef 4 \nabc");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "program_mismatches") == 1; }));
  EXPECT_EQ(ReadProgram(*link, 0), "<not in use>");
}

TEST_F(CardTest, LongTextsAndTheScriptLandInTheirRegions) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  std::string text = "line one\nline two\n\xb2\xe2\xca\xd4";
  card::SendLine(*link, platform::Format("file data %d %zu %x %d \n", 7, text.size(), card::Crc32(text), 7) + text);
  card::SendLine(*link, "file data 5 3 0 5 \nabc");  // wrong checksum
  std::string script = "a=1\r\nb=2\r\n";
  card::SendLine(*link, platform::Format("file program 0x%x %zu  \n", 0x6f0000, script.size()) + script);
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "texts_stored") == 1 && StatusValue(0, "text_mismatches") == 1; }));
  std::string slot = ReadFlash(*link, 0x700000 + 2 * 0x4000, 8 + static_cast<int>(text.size()));
  EXPECT_EQ(U32(slot, 0), text.size());
  EXPECT_EQ(U32(slot, 4), card::Crc32(text));
  EXPECT_EQ(slot.substr(8), text);
  std::string region = ReadFlash(*link, 0x6f0000, 4096);
  ASSERT_EQ(region.size(), 4096u);
  EXPECT_EQ(region.substr(0, script.size() + 1), script + std::string(1, '\0'));
}

TEST_F(CardTest, ModbusRegistersAreReadAndWritten) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  card::SendLine(*link, "set LOG 0 \n");
  char page[128] = {};
  auto r = card::Exchange(*link, fast_, "file read_modbus 0x40 128\n", 100, page, sizeof page);
  ASSERT_EQ(r.count, 128u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<std::uint8_t>(page[2 * i]) | static_cast<std::uint8_t>(page[2 * i + 1]) << 8, 64 + i);
  // The header and its bytes in two sends, as the register view writes.
  link->BeginExchange();
  link->Send(std::string_view("file write_modbus 0x9 4\n"));
  link->Send(std::string_view("\x00\x00\x3f\xc0", 4));
  link->EndExchange();
  r = card::Exchange(*link, fast_, "file read_modbus 0x8 6\n", 100, page, sizeof page);
  ASSERT_EQ(r.count, 6u);
  EXPECT_EQ(std::string(page, 6), std::string("\x08\x00\x00\x00\x3f\xc0", 6));
  EXPECT_EQ(StatusValue(0, "log"), 0);
}

TEST_F(CardTest, Rs485TrafficStreamsWithValidFrames) {
  StartSim({"--rs485-period-ms", "50"});
  auto link = Connected(kCard0, card::kFilePort);
  card::SendLine(*link, "set get485 1 \n");
  std::string got = ReceiveUntil(*link, [](const std::string& g) { return g.size() >= 3 * 32; });
  ASSERT_GE(got.size(), 3u * 32);
  // The default table polls slave 1 (2 registers) and slave 2 (1 register):
  // request 8 bytes, answers 9 and 7 bytes, 32 bytes a round.
  for (std::size_t round = 0; round + 32 <= got.size(); round += 32) {
    const std::size_t frames[4][2] = {{0, 8}, {8, 9}, {17, 8}, {25, 7}};
    for (auto [at, len] : frames) {
      std::string f = got.substr(round + at, len);
      EXPECT_EQ(sim::ModbusCrc16(f), 0) << "frame at " << round + at;  // a frame with its CRC checks to 0
    }
    EXPECT_EQ(got.substr(round, 6), std::string("\x01\x03\x00\x00\x00\x02", 6));
  }
  card::SendLine(*link, "set get485ascii 1 \n");
  std::string text = ReceiveUntil(
      *link, [](const std::string& t) { return t.find("TX: 01 03 00 00 00 02 C4 0B\r\n") != std::string::npos; });
  EXPECT_NE(text.find("TX: 01 03 00 00 00 02 C4 0B\r\n"), std::string::npos);
}

TEST_F(CardTest, LedLinesDrawOnTheScreen) {
  StartSim();
  auto link = Connected(kCard0, card::kFilePort);
  card::SendLine(*link, "led clearall\n  led l 6  0 0 9  0 \n");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "screen_lit") == 10; }));
  card::SendLine(*link, "led clearall\n  led r 6 1 1 14 14 \n");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "screen_lit") == 52; }));
  card::SendLine(*link, "led clearall \nled 12t 6 0 0 \xcd\xea\xb3\xc9\n");
  ASSERT_TRUE(Eventually([&] { return StatusValue(0, "screen_lit") > 0 && StatusValue(0, "screen_lit") != 52; }));
  std::string pgm = ReadFile(StateFile(0, "screen.pgm"));
  EXPECT_EQ(pgm.substr(0, 14), "P5\n128 32\n255\n");
  EXPECT_NE(ReadFile(StateFile(0, "status.json")).find("\"last_text\": \"\\u00cd\\u00ea\\u00b3\\u00c9\""),
            std::string::npos);
}

TEST_F(CardTest, ResetClosesThePortsUntilTheCardHasBooted) {
  StartSim({"--boot-ms", "400"});
  auto link = Connected();
  card::SendLine(*link, "reset \n ");
  ASSERT_TRUE(Eventually([&] { return Link()->Connect(kCard0) != 0; }, 1000)) << "ports close during the boot";
  ASSERT_TRUE(Eventually([&] { return Link()->Connect(kCard0) == 0; }, 3000)) << "and come back";
  EXPECT_TRUE(card::CheckRecord(QueryRecord(*Connected())));
  EXPECT_EQ(StatusValue(0, "restarts"), 1);
}

TEST_F(CardTest, RecoveryFirmwareListensOnlyOnPort1000) {
  StartSim({"--recovery"});
  EXPECT_NE(Link(card::kCommandPort)->Connect(kCard0), 0);
  EXPECT_NE(Link(card::kFilePort)->Connect(kCard0), 0);
  auto recovery = Connected(kCard0, card::kRecoveryPort);
  EXPECT_TRUE(card::CheckRecord(QueryRecord(*recovery)));
}

TEST_F(CardTest, SettingsAndClockSurviveARestartOfCardsim) {
  StartSim();
  {
    auto link = Connected();
    card::SendLine(*link, "set ld 9 \n");
    card::SendLine(*link, "set time 2030 1 2 3 4 5 3 0 \n  ");
    ASSERT_TRUE(Eventually([&] {
      return ReadFile(StateFile(0, "status.json")).find("\"card_time\": \"2030-01-02 03:04") != std::string::npos;
    }));
  }
  RestartSim(0);
  auto link = Connected();
  EXPECT_EQ(QueryRecord(*link).u8(rec::kBrightness), 9);
  EXPECT_NE(ReadFile(StateFile(0, "status.json")).find("\"card_time\": \"2030-01-02 03:0"), std::string::npos);
}

TEST_F(CardTest, TheModuleOnTheFirstPortShowsWhatTheCardDrives) {
  StartSim({"--module", "32x16:scan=4:fold-rows=4:fold-width=8:data=1"});
  StartSim({"--module", "none", "--address", "127.0.0.20"});
  auto look = [&](int sim) {
    return testing_support::PanelObserver(testing_support::LoadPgm(StateFile(0, "panel.pgm", sim)).value());
  };
  std::size_t sent[2] = {0, 0};
  auto send = [&](card::Channel& link, int sim, std::string_view line) {
    card::SendLine(link, line);
    sent[sim] += line.size();
  };
  auto link = Connected(kCard0, card::kFilePort);
  send(*link, 0, "set ledpara  32 16 16 8 4 4 0 0 0 0 0 0 1 \n");
  send(*link, 0, "set soft 32 16 \n");
  send(*link, 0, "led clearall\n  led r 6 1 1 14 14 \n");
  ASSERT_TRUE(WaitProcessed(0, sent[0]));
  EXPECT_TRUE(look(0).SquareShown());
  EXPECT_EQ(StatusValue(0, "panel_lit"), 52);
  EXPECT_GT(StatusValue(0, "panel_level"), 0);
  std::string status = ReadFile(StateFile(0, "status.json"));
  EXPECT_LT(status.find("\"panel_lit\""), status.find("\"bytes_processed\"")) << "bytes_processed comes last";

  send(*link, 0, "set LED_DATP 0 \n");
  send(*link, 0, "led clearall\n");
  ASSERT_TRUE(WaitProcessed(0, sent[0]));
  EXPECT_TRUE(look(0).WholeAreaLit()) << "the wrong data polarity lights a cleared module";

  auto unplugged = Connected("127.0.0.20", card::kFilePort);
  send(*unplugged, 1, "led clearall\n  led r 6 1 1 14 14 \n");
  ASSERT_TRUE(WaitProcessed(0, sent[1], 1));
  EXPECT_EQ(look(1).PointsLit(), 0);
  EXPECT_EQ(StatusValue(0, "screen_lit", 1), 52) << "the card drew it all the same";
}

TEST_F(CardTest, ShortModbusRepliesAndACardThatStopsTakingConnections) {
  StartSim({"--short-modbus", "10", "--refuse-after", "2"});
  auto file = Connected(kCard0, card::kFilePort);
  char page[128] = {};
  EXPECT_EQ(card::Exchange(*file, fast_, "file read_modbus 0x40 128\n", 100, page, sizeof page).count, 10u);
  auto command = Connected(kCard0, card::kCommandPort);
  // The kernel completes a connection before cardsim accepts it: wait for
  // the card to have taken the second one.
  ASSERT_TRUE(Eventually([&] { return WireLog().find("refusing connections") != std::string::npos; }));
  EXPECT_NE(Link(card::kCommandPort)->Connect(kCard0), 0) << "the third connection is refused";
  EXPECT_NE(Link(card::kFilePort)->Connect(kCard0), 0);
  EXPECT_TRUE(card::CheckRecord(QueryRecord(*command))) << "connections already open keep working";

  StartSim({"--refuse-after-ms", "1500", "--address", "127.0.0.20"});
  EXPECT_TRUE(card::CheckRecord(QueryRecord(*Connected("127.0.0.20"))));
  EXPECT_TRUE(Eventually([&] { return Link()->Connect("127.0.0.20") != 0; }, 5000));
}

}  // namespace
}  // namespace e2e
