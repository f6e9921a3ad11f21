// The register view: the eleven types both ways, whole-value checks, the
// page decode and the write that re-encodes only edited cells, and the
// page read with split, short, late and missing replies.
#include "modbus/register_view.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/fake_channel.h"
#include "support/fake_ports.h"

namespace mb = card::modbus;
using testing_support::ChannelEvent;
using testing_support::FakeChannel;

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

std::string Decode(int type, const std::string& bytes) {
  return mb::DecodeValue(type, reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

std::string Encode(int type, const std::string& text) {
  std::string error;
  auto b = mb::EncodeValue(type, text, &error);
  return b ? *b : "error: " + error;
}

mb::PageImage Page(const std::string& bytes, std::size_t valid = mb::kPageBytes) {
  mb::PageImage p;
  std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), mb::kPageBytes), p.bytes.begin());
  p.valid = valid;
  return p;
}

// The card's page: register i holds 0x100 + i.
std::string CardPage(std::uint32_t start) {
  std::string s;
  for (std::uint32_t r = 0; r < 64; ++r) {
    s.push_back(static_cast<char>((0x100 + start + r) & 0xFF));
    s.push_back(static_cast<char>((0x100 + start + r) >> 8));
  }
  return s;
}

}  // namespace

TEST(RegisterCodec, EveryTypeEncodesTheExactInverseOfItsDecode) {
  // Type, text, page bytes: each type's own byte order.
  const struct {
    int type;
    const char* text;
    std::string bytes;
  } table[] = {
      {mb::kU16, "4660", B({0x34, 0x12})},
      {mb::kU16, "65534", B({0xFE, 0xFF})},
      {mb::kFloatCdab, "1.500", B({0x00, 0x00, 0xC0, 0x3F})},
      {mb::kI16, "-2", B({0xFE, 0xFF})},
      {mb::kFloatNegAbcd, "-1.500", B({0xC0, 0xBF, 0x00, 0x00})},
      {mb::kFloatDcba, "1.500", B({0x00, 0x00, 0x3F, 0xC0})},
      {mb::kU32, "4294967294", B({0xFE, 0xFF, 0xFF, 0xFF})},
      {mb::kI32, "-2", B({0xFE, 0xFF, 0xFF, 0xFF})},
      {mb::kFloatBadc, "1.500", B({0x3F, 0xC0, 0x00, 0x00})},
      {mb::kU32Swapped, "305419896", B({0x34, 0x12, 0x78, 0x56})},
      {mb::kI32Swapped, "-305419896", B({0xCB, 0xED, 0x88, 0xA9})},
      {mb::kString, "AB", B({0x42, 0x41})},
  };
  for (const auto& row : table) {
    EXPECT_EQ(Decode(row.type, row.bytes), row.text) << row.type;
    EXPECT_EQ(Encode(row.type, row.text), row.bytes) << row.type;
  }
  // The worked page: 00 00 80 3F.
  EXPECT_EQ(Decode(mb::kFloatCdab, B({0, 0, 0x80, 0x3F})), "1.000");
  EXPECT_EQ(Decode(mb::kFloatBadc, B({0, 0, 0x80, 0x3F})), "0.000");
  // Every register value survives the 16-bit types, odd strings and
  // Chinese characters included.
  for (int type : {mb::kU16, mb::kI16, mb::kString}) {
    for (int v = 0; v < 65536; ++v) {
      const std::string bytes = B({v & 0xFF, v >> 8});
      ASSERT_EQ(Encode(type, Decode(type, bytes)), bytes) << type << " " << v << " " << Decode(type, bytes);
    }
  }
  EXPECT_EQ(Decode(mb::kString, B({0xD0, 0xD6})), "中");
  EXPECT_EQ(Decode(mb::kString, B({0x42, 0x00})), "\\x00B");
  EXPECT_EQ(Decode(mb::kString, B({0x00, 0x41})), "A");
  EXPECT_EQ(Decode(mb::kString, B({0x00, 0x00})), "");
  for (std::uint32_t v : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x12345678u}) {
    for (int type : {mb::kU32, mb::kI32, mb::kU32Swapped, mb::kI32Swapped}) {
      const std::string bytes = B({static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                                   static_cast<int>((v >> 16) & 0xFF), static_cast<int>(v >> 24)});
      EXPECT_EQ(Encode(type, Decode(type, bytes)), bytes) << type << " " << v;
    }
  }
  EXPECT_EQ(Decode(mb::kU32, B({0, 0, 0, 0x80})), "2147483648");
  EXPECT_EQ(Decode(mb::kU32Swapped, B({0, 0x80, 0, 0})), "2147483648");
  for (const char* f : {"0.125", "-1000.250", "3.000"})
    for (int type : {mb::kFloatCdab, mb::kFloatNegAbcd, mb::kFloatDcba, mb::kFloatBadc})
      EXPECT_EQ(Decode(type, Encode(type, f)), f) << type;
}

TEST(RegisterCodec, ValuesAreTakenWholeAndWithinTheirTypesRange) {
  std::string error;
  for (auto [type, text] : std::initializer_list<std::pair<int, const char*>>{
           {mb::kU16, "12abc"}, {mb::kU16, "65536"}, {mb::kU16, "-1"}, {mb::kI16, "-32769"}, {mb::kI16, ""},
           {mb::kU32, "4294967296"}, {mb::kI32, "2147483648"}, {mb::kI32Swapped, "-2147483649"},
           {mb::kFloatDcba, "1e39"}, {mb::kFloatCdab, "nan"}, {mb::kFloatBadc, "1.5x"}, {mb::kString, "ABC"},
           {mb::kString, "\\q"}}) {
    EXPECT_FALSE(mb::EncodeValue(type, text, &error)) << type << " " << text;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(Encode(mb::kU16, "12abc"), "error: “12abc”不是0到65535之间的整数");
  EXPECT_EQ(Encode(mb::kU32, "2147483648"), B({0, 0, 0, 0x80}));
  EXPECT_EQ(Encode(mb::kI32, "-2147483648"), B({0, 0, 0, 0x80}));
  EXPECT_EQ(Encode(mb::kU16, " 7 "), B({7, 0}));
  EXPECT_EQ(Encode(mb::kString, "\\\\"), B({0x00, '\\'}));

  // The single write: the worked values, and strings padded to whole registers.
  auto single = [&](int type, const std::string& text) {
    auto b = mb::EncodeSingle(type, text, &error);
    return b ? *b : "error: " + error;
  };
  EXPECT_EQ(single(mb::kFloatDcba, "1.5"), B({0x00, 0x00, 0x3F, 0xC0}));
  EXPECT_EQ(single(mb::kI16, "-2"), B({0xFE, 0xFF}));
  EXPECT_EQ(single(mb::kString, "ABC"), B({'B', 'A', 0, 'C'}));
  EXPECT_EQ(single(mb::kString, "中A"), B({0xD0, 0xD6, 0, 'A'}));
  EXPECT_EQ(single(mb::kString, std::string(128, 'x')).size(), 128u);
  EXPECT_EQ(single(mb::kString, std::string(129, 'x')), "error: 字符串有129个字节，一次最多写128个");
  EXPECT_EQ(single(mb::kString, ""), "error: 没有填写字符串");
  EXPECT_EQ(mb::WriteLine(9, 4), "file write_modbus 0x9 4\n");
  EXPECT_EQ(mb::ReadLine(64, 128), "file read_modbus 0x40 128\n");
  EXPECT_EQ(mb::ReadLine(1024, 128), "file read_modbus 0x400 128\n");
  EXPECT_EQ(mb::RegisterItem(0), "001");
  EXPECT_EQ(mb::StartAddressItems().back(), "1024");
}

TEST(RegisterPage, CellsShowOnlyWhatArrivedAndAWriteReencodesOnlyEditedCells) {
  std::string bytes = CardPage(0);
  bytes.replace(0, 4, B({0xDB, 0x0F, 0x49, 0x40}));  // pi, more digits than a cell shows
  // A short read: 37 bytes, so 18 whole registers.
  mb::GridTexts grid = mb::DecodePage(mb::kU16, Page(bytes, 37));
  EXPECT_EQ(grid[1][1], std::to_string(0x100 + 17));
  EXPECT_EQ(grid[1][2], "");
  EXPECT_EQ(grid[3][15], "");
  grid = mb::DecodePage(mb::kFloatCdab, Page(bytes, 37));
  EXPECT_EQ(grid[0][0], "3.142");
  EXPECT_EQ(grid[0][1], "--");
  EXPECT_NE(grid[1][0], "");  // bytes 32..35 arrived
  EXPECT_EQ(grid[1][2], "");  // bytes 36..39 did not all arrive
  EXPECT_EQ(grid[3][15], "--");

  const mb::PageImage read = Page(bytes);
  const mb::GridTexts shown = mb::DecodePage(mb::kFloatCdab, read);
  mb::GridTexts now = shown;
  now[2][4] = "2.5";
  mb::PageWrite w = mb::BuildPageWrite(mb::kFloatCdab, read, shown, now);
  EXPECT_TRUE(w.errors.empty());
  EXPECT_EQ(w.edited, 1);
  std::string expected = bytes;
  expected.replace(64 + 8, 4, B({0x00, 0x00, 0x20, 0x40}));
  EXPECT_EQ(std::string(w.bytes.begin(), w.bytes.end()), expected) << "pi and every other cell as read";

  now[0][1] = "7";
  now[1][0] = "x";
  w = mb::BuildPageWrite(mb::kFloatCdab, read, shown, now);
  EXPECT_EQ(w.errors, (std::vector<std::string>{"第1行第2列：这一格属于左边的32位数值，不能单独修改",
                                                "第2行第1列：“x”不是单精度浮点数"}));
  // Strings: the edited register only.
  const mb::GridTexts strings = mb::DecodePage(mb::kString, read);
  mb::GridTexts edited = strings;
  edited[3][15] = "OK";
  w = mb::BuildPageWrite(mb::kString, read, strings, edited);
  expected = bytes;
  expected.replace(126, 2, "KO");
  EXPECT_EQ(std::string(w.bytes.begin(), w.bytes.end()), expected);
}

TEST(RegisterPage, AReadCollectsPiecesInOrderAsksOnlyForTheMissingTailAndIsBounded) {
  platform::VirtualClock clock;
  testing_support::FakeUser user{&clock};
  const std::string page = CardPage(64);
  auto readLines = [](const FakeChannel& ch) {
    std::vector<std::string> out;
    for (const auto& s : ch.sent()) out.push_back(s);
    return out;
  };
  {
    // Split into pieces, one of them late: one request.
    FakeChannel ch(&clock);
    ch.onSend([&](const std::string&) {
      ch.queueReply(page.substr(0, 50));
      ch.queueReply("");
      ch.queueReply("");
      ch.queueReply(page.substr(50, 50));
      ch.queueReply(page.substr(100));
    });
    auto r = mb::ReadPage(ch, clock, user, "192.168.1.20", 64);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::Whole);
    EXPECT_EQ(std::string(r.page.bytes.begin(), r.page.bytes.end()), page);
    EXPECT_EQ(readLines(ch), (std::vector<std::string>{"file read_modbus 0x40 128\n"}));
    EXPECT_EQ(ch.connectCount(), 1);
    EXPECT_FALSE(ch.connected());
    EXPECT_TRUE(user.shown().empty());
  }
  {
    // A short reply of 51 bytes: the tail from the first whole register not
    // received, on a new connection.
    FakeChannel ch(&clock);
    int sends = 0;
    ch.onSend([&](const std::string&) {
      if (sends++ == 0)
        ch.queueReply(page.substr(0, 51));
      else
        ch.queueReply(page.substr(50));
    });
    auto r = mb::ReadPage(ch, clock, user, "192.168.1.20", 64);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::Whole);
    EXPECT_EQ(std::string(r.page.bytes.begin(), r.page.bytes.end()), page);
    EXPECT_EQ(readLines(ch), (std::vector<std::string>{"file read_modbus 0x40 128\n", "file read_modbus 0x59 78\n"}));
    EXPECT_EQ(ch.connectCount(), 2);
  }
  {
    // Short for good: the cells that came, a message, a bounded number of asks.
    FakeChannel ch(&clock);
    int sends = 0;
    ch.onSend([&](const std::string&) {
      if (sends++ == 0) ch.queueReply(page.substr(0, 20));
    });
    const std::int64_t t0 = clock.now();
    auto r = mb::ReadPage(ch, clock, user, "192.168.1.20", 64);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::Short);
    EXPECT_EQ(r.page.valid, 20u);
    EXPECT_EQ(ch.sent().size(), static_cast<std::size_t>(mb::kReadRequests));
    EXPECT_EQ(ch.sent()[1], "file read_modbus 0x4a 108\n");
    EXPECT_LE(clock.now() - t0, (mb::kReadRequests * (mb::kReadSilentPolls + 1)) * mb::kReadPollMs);
    EXPECT_EQ(user.texts().back(), "读取不完整：只收到20个字节（一页128个），没有收到的单元格留空。");
    EXPECT_EQ(mb::DecodePage(mb::kU16, r.page)[0][10], "");
  }
  {
    // A silent card, a card whose link fails, a card that cannot be reached.
    FakeChannel silent(&clock);
    auto r = mb::ReadPage(silent, clock, user, "192.168.1.20", 0);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::Nothing);
    EXPECT_EQ(silent.sent().size(), static_cast<std::size_t>(mb::kReadRequests));
    EXPECT_EQ(user.texts().back(), mb::kMsgReadNothing);
    FakeChannel broken(&clock);
    broken.queueReceiveFailure();
    broken.onSend([&](const std::string& line) {
      if (line.find("0x0 ") != std::string::npos && broken.connectCount() == 2) broken.queueReply(CardPage(0));
    });
    r = mb::ReadPage(broken, clock, user, "192.168.1.20", 0);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::Whole);
    FakeChannel unreachable(&clock);
    unreachable.queueConnectResult(-5);
    r = mb::ReadPage(unreachable, clock, user, "192.168.1.20", 0);
    EXPECT_EQ(r.outcome, mb::ReadOutcome::ConnectFailed);
    EXPECT_TRUE(unreachable.sent().empty());
    EXPECT_EQ(user.texts().back(), "连接设备失败");
  }
}

TEST(RegisterPage, WritesSendTheLineThenTheBytesAndTheOpeningTurnsTheLogOff) {
  platform::VirtualClock clock;
  testing_support::FakeUser user{&clock};
  FakeChannel ch(&clock);
  ASSERT_TRUE(mb::WriteRegisters(ch, clock, user, "192.168.1.20", 9, B({0, 0, 0x3F, 0xC0})));
  EXPECT_EQ(ch.sent(), (std::vector<std::string>{"file write_modbus 0x9 4\n", B({0, 0, 0x3F, 0xC0})}));
  EXPECT_EQ(clock.sleeps(), (std::vector<int>{500}));
  EXPECT_FALSE(ch.connected());
  FakeChannel failing(&clock);
  failing.failSendsFrom(1);
  EXPECT_FALSE(mb::WriteRegisters(failing, clock, user, "192.168.1.20", 9, "ab"));
  EXPECT_EQ(user.texts().back(), mb::kMsgSendFailed);

  FakeChannel log(&clock);
  mb::SendLogOff(log, clock, "192.168.1.20");
  EXPECT_EQ(log.sent(), (std::vector<std::string>{"set LOG 0 \n"}));
  EXPECT_EQ(clock.sleeps().back(), 800);
  EXPECT_EQ(log.events().back().kind, ChannelEvent::Disconnect);
}
