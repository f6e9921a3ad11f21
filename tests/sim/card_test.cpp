// The card's rules without sockets: set lines against the record, the
// checksum check, paced acknowledgements, flash layout and the RTU CRC.
#include "card.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include "rtu.h"
#include "support/temp_dir.h"

namespace {

namespace field = sim::field;
using sim::ApplySetLine;
using sim::SplitWords;

sim::Command Line(const std::string& text) {
  sim::Command c;
  c.line = text;
  c.words = SplitWords(text);
  return c;
}

sim::CardRecord Fresh() { return sim::MakeRecord(3, 0x7F00000D, sim::Firmware{}); }

TEST(CardRecord, StartsValidAndUniquePerIndex) {
  auto a = sim::MakeRecord(0, 0x7F00000A, sim::Firmware{39, 2, 1});
  auto b = sim::MakeRecord(1, 0x7F00000B, sim::Firmware{39, 2, 1});
  EXPECT_EQ(a.u16(0) & 0xF000, 0x8000) << "a valid record's code word";
  EXPECT_EQ(a.u32(333), crc32(0, a.data(), 256));
  EXPECT_EQ(a.ip(), 0x7F00000Au);
  EXPECT_EQ(a.versionText(), "39.2.1");
  EXPECT_EQ(a.name().size(), 24u);
  EXPECT_EQ(a.name().substr(0, 4), "2023");
  EXPECT_NE(a.name(), b.name());
  EXPECT_NE(a.macText(), b.macText());
  EXPECT_EQ(a.u16(0), 0x8111);
}

TEST(CardRecord, ModbusEntryFollowsTheLineOrder) {
  namespace q = sim::request;
  auto r = Fresh();
  ApplySetLine(r, SplitWords("set C_DD 29 16 247 65535 120 3 4 5 200 6 250 1000 -32768\n"));
  const std::size_t e = sim::field::kRequests + 29 * sim::field::kRequestSize;
  EXPECT_EQ(r.u8(e + q::kFunction), 16);
  EXPECT_EQ(r.u8(e + q::kSlave), 247);
  EXPECT_EQ(r.u16(e + q::kRegister), 65535);
  EXPECT_EQ(r.u8(e + q::kCount), 120);
  EXPECT_EQ(r.u16(e + q::kDivisor), 3);
  EXPECT_EQ(r.u16(e + q::kCalPlus), 4);
  EXPECT_EQ(r.u16(e + q::kCalMinus), 5);
  EXPECT_EQ(r.u8(e + q::kMasterSlot), 200);
  EXPECT_EQ(r.u16(e + q::kMultiplier), 6);
  EXPECT_EQ(r.u8(e + q::kDelayMs), 250);
  EXPECT_EQ(r.u16(e + q::kUpper), 1000);
  EXPECT_EQ(static_cast<std::int16_t>(r.u16(e + q::kLower)), -32768);
  auto before = r;
  EXPECT_FALSE(ApplySetLine(r, SplitWords("set C_DD 30 3 1 0 1 1 0 0 1 1 1 0 0\n")).known) << "only 30 entries";
  EXPECT_TRUE(r == before);
}

TEST(CardRecord, SerialNumberKeepsTheRestOfItsField) {
  auto r = Fresh();
  r.data()[field::kName + 30] = 'Z';
  r.seal();
  ApplySetLine(r, SplitWords("set SN  2023ABCDEFGHIJKLMNOPQRST    \n"));
  EXPECT_EQ(r.name(), "2023ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(r.data()[field::kName + 30], 'Z');
}

TEST(CardRecord, LinesThatDoNotTouchTheRecordSayWhatTheyAreFor) {
  auto r = Fresh();
  auto before = r;
  EXPECT_EQ(*ApplySetLine(r, SplitWords("set Sys_Crc deadbeef \n")).announced, 0xDEADBEEFu);
  EXPECT_EQ(ApplySetLine(r, SplitWords("set get485ascii 1 \n")).rs485, 2);
  EXPECT_EQ(ApplySetLine(r, SplitWords("set get485 1 \n")).rs485, 1);
  EXPECT_EQ(*ApplySetLine(r, SplitWords("set time 2024 2 29 23 59 58 4 0 \n  ")).clock, 1709251198);
  EXPECT_TRUE(ApplySetLine(r, SplitWords("set Regonize_M \n")).recognition);
  EXPECT_FALSE(ApplySetLine(r, SplitWords("set nonsense 1 \n")).known);
  EXPECT_TRUE(r == before);
  EXPECT_TRUE(ApplySetLine(r, SplitWords("set local_ip 127 0 0 77 \n")).moveAddress);
  EXPECT_EQ(r.ip(), 0x7F00004Du);
}

TEST(Card, AnnouncedChecksumsAreCheckedAfterTheNextLine) {
  sim::Card c(0, 0x7F00000A, sim::CardOptions{}, "");
  sim::Session s;
  auto mirror = c.record();
  mirror.put8(field::kBrightness, 9);
  auto line = [&](const std::string& text) { c.Execute(Line(text), s, 0); };
  line("set Sys_Crc " + [&] { char b[16]; mirror.seal(); std::snprintf(b, sizeof b, "%x", mirror.crc()); return std::string(b); }() + " ");
  line("set ld 9 ");
  EXPECT_EQ(c.counters().crcChecks, 1);
  EXPECT_EQ(c.counters().crcMismatches, 0);
  line("set Sys_Crc 1 ");
  line("set ld 10 ");
  EXPECT_EQ(c.counters().crcChecks, 2);
  EXPECT_EQ(c.counters().crcMismatches, 1);
  line("set ld 11 ");
  EXPECT_EQ(c.counters().crcChecks, 2) << "no announcement, no check";
  EXPECT_EQ(c.flash().Read(0, field::kBlockSize), c.record().bytes())
      << "the record at flash 0 follows the changes";
}

TEST(Card, RecognitionModeLastsUntilARestart) {
  sim::Card c(0, 0x7F00000A, sim::CardOptions{}, "");
  sim::Session s;
  c.Execute(Line("set Regonize_M "), s, 0);
  c.Execute(Line("set ld 3 "), s, 0);
  EXPECT_TRUE(c.recognition());
  c.Execute(Line("reset "), s, 0);
  ASSERT_TRUE(c.restartDue().has_value());
  EXPECT_TRUE(c.recognition()) << "until the card goes down";
  c.GoDown();
  c.Boot(10);
  EXPECT_FALSE(c.recognition());
  EXPECT_EQ(c.record().u8(field::kBrightness), 3) << "the record outlives the restart";
}

TEST(PacedAcks, OneAfterEveryFullPieceButTheLast) {
  EXPECT_EQ(sim::PacedAcksDue(1199, 1199, 39), 0) << "below 1200 nothing is paced";
  EXPECT_EQ(sim::PacedAcksDue(1200, 1200, 39), 1) << "its one piece is followed by an empty one";
  EXPECT_EQ(sim::PacedAcksDue(1200, 1200, 38), 0) << "firmware 38 takes it whole";
  EXPECT_EQ(sim::PacedAcksDue(1201, 1200, 39), 1);
  EXPECT_EQ(sim::PacedAcksDue(2400, 1199, 39), 0);
  EXPECT_EQ(sim::PacedAcksDue(2400, 1200, 39), 1);
  EXPECT_EQ(sim::PacedAcksDue(2400, 2400, 39), 1);
  EXPECT_EQ(sim::PacedAcksDue(2500, 2400, 39), 2);
  EXPECT_EQ(sim::PacedAcksDue(2500, 2500, 39), 2);
  EXPECT_EQ(sim::PacedAcksDue(3600, 3600, 40), 2);
}

TEST(Flash, ProgramDirectoryHasTheToolsLayout) {
  sim::Flash f;
  EXPECT_EQ(f.Read(sim::kProgramDirectory, 296), std::string(296, '\0'));
  ASSERT_TRUE(f.StoreProgram(5, "hello"));
  ASSERT_TRUE(f.StoreProgram(7, "web"));  // no directory entry for 6 and 7
  std::string dir = f.Read(sim::kProgramDirectory, 296);
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(dir[at]) | static_cast<std::uint8_t>(dir[at + 1]) << 8 |
                                      static_cast<std::uint8_t>(dir[at + 2]) << 16 |
                                      static_cast<std::uint8_t>(dir[at + 3]) << 24);
  };
  EXPECT_EQ(u32(0), 1u);
  EXPECT_EQ(u32(12 + 48 * 5), 1u);
  EXPECT_EQ(u32(48 + 48 * 5), 5u);
  EXPECT_EQ(f.Read(u32(44 + 48 * 5), 5), "hello");
  EXPECT_LT(u32(44 + 48 * 5), sim::kProgramRegionEnd);
  EXPECT_EQ(f.Read(sim::kProgramAreas + 7 * sim::kProgramAreaSize, 3), "web");
  f.RemoveProgram(5);
  EXPECT_EQ(f.ProgramCount(), 0);
  EXPECT_FALSE(f.StoreProgram(8, "x"));
  EXPECT_FALSE(f.StoreProgram(0, std::string(sim::kProgramAreaSize + 1, 'x')));
  EXPECT_EQ(f.Read(sim::kFlashSize - 2, 100).size(), 2u);
  EXPECT_TRUE(f.Read(sim::kFlashSize, 1).empty());
}

TEST(Flash, ScriptAndTextsStayInTheirRegions) {
  sim::Flash f;
  EXPECT_FALSE(f.StoreScript(0x6EFFFF, "x"));
  EXPECT_FALSE(f.StoreScript(sim::kScriptRegion + 4000, std::string(200, 'y'))) << "cut at the region end";
  EXPECT_EQ(f.Read(sim::kScriptRegion + sim::kScriptSize, 1), "\xff");
  EXPECT_FALSE(f.StoreText(4, "a", 0));
  EXPECT_FALSE(f.StoreText(15, "a", 0));
  EXPECT_TRUE(f.StoreText(14, std::string(14096, 't'), 1));
  EXPECT_EQ(f.Read(0x75F000, 1), "\xff") << "the picture region is untouched";
}

TEST(Rtu, CrcMatchesKnownFrames) {
  // Read two holding registers from slave 1: 01 03 00 00 00 02 C4 0B.
  EXPECT_EQ(sim::WithCrc(std::string("\x01\x03\x00\x00\x00\x02", 6)), std::string("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8));
  // Write register 1 of slave 17 with 3: 11 06 00 01 00 03 9A 9B.
  EXPECT_EQ(sim::ModbusCrc16(std::string("\x11\x06\x00\x01\x00\x03", 6)), 0x9B9A);
}

TEST(Rtu, TrafficFollowsTheMasterTable) {
  auto r = Fresh();
  ApplySetLine(r, SplitWords("set C_DD 0 6 9 5 1 1 0 0 0 1 20 0 0\n"));
  std::vector<std::uint16_t> regs(16, 0x1234);
  auto traffic = sim::MasterTraffic(r, regs, 0);
  ASSERT_EQ(traffic.size(), 2u);  // the write and the default table's fc 4 request
  EXPECT_EQ(traffic[0].request, traffic[0].response) << "a single write is answered with its echo";
  EXPECT_EQ(traffic[0].request.substr(0, 4), std::string("\x09\x06\x00\x05", 4));
  EXPECT_EQ(sim::ModbusCrc16(traffic[1].response), 0);
  EXPECT_EQ(sim::TextView(traffic[0]).substr(0, 7), "TX: 09 ");
}

TEST(Framebuffer, DrawsWhatTheRecognitionWizardUses) {
  sim::Framebuffer fb;
  fb.Resize(32, 16);
  fb.Line(0, 3, 31, 3);
  EXPECT_EQ(fb.LitCount(), 32);
  fb.Clear();
  fb.Rect(1, 1, 14, 14);
  EXPECT_EQ(fb.LitCount(), 52);
  EXPECT_TRUE(fb.Lit(14, 7));
  EXPECT_FALSE(fb.Lit(7, 7));
  fb.Line(-5, 0, 100, 0);  // clipped, not crashing
  fb.Resize(100000, 0);
  EXPECT_EQ(fb.width(), sim::kMaxScreenWidth);
  EXPECT_EQ(fb.height(), 1);
}

TEST(Card, StateIsWrittenAndLoadedBack) {
  testing_support::TempDir dir;
  {
    sim::Card c(0, 0x7F00000A, sim::CardOptions{}, dir.file("card00"));
    sim::Session s;
    c.Execute(Line("set ld 33"), s, 0);
    sim::Command program = Line("file cmd 1 3 352441c2 4 ");
    program.payload = "abc";
    program.declared = 3;
    program.hasPayload = true;
    program.wireBytes = 28;
    c.Execute(program, s, 0);
    c.Persist(0);
  }
  sim::Card again(0, 0x7F00000A, sim::CardOptions{}, dir.file("card00"));
  EXPECT_EQ(again.record().u8(field::kBrightness), 33);
  EXPECT_EQ(again.flash().Entry(1).length, 3u);
  EXPECT_EQ(again.flash().Read(again.flash().Entry(1).address, 3), "abc");
}

}  // namespace
