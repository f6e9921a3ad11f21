// The master request table: entry, file record and list row both ways, the
// table file, the "set C_DD" lines and the upload, and the cell checks.
#include "modbus/master_table.h"

#include <gtest/gtest.h>

#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace mb = card::modbus;
using testing_support::FakeChannel;

namespace {

// Entry i starts at 338 + 19 i; fields at the offsets the card uses.
constexpr std::size_t kTable = 338, kEntry = 19;

mb::RequestEntry Entry(int fc, int slave, int reg, int count, int master = 1, int lower = 0) {
  mb::RequestEntry e;
  e.function = static_cast<std::uint8_t>(fc);
  e.slave = static_cast<std::uint8_t>(slave);
  e.address = static_cast<std::uint16_t>(reg);
  e.count = static_cast<std::uint8_t>(count);
  e.divisor = 10;
  e.multiplier = 2;
  e.master = static_cast<std::uint8_t>(master);
  e.calPlus = 3;
  e.calMinus = 4;
  e.delay = 50;
  e.upper = 1000;
  e.lower = static_cast<std::int16_t>(lower);
  return e;
}

mb::EntryTable EmptyTable() {
  mb::EntryTable t;
  t.fill(mb::RequestEntry::Empty());
  return t;
}

}  // namespace

TEST(MasterTable, EntryRecordFileAndRowConvertBothWaysKeepingTheLowerLimitsSign) {
  card::DeviceStatusRecord r;
  mb::RequestEntry e;
  e.function = 3;
  e.slave = 0x11;
  e.address = 0x1234;
  e.count = 0x0A;
  e.divisor = 0x2345;
  e.multiplier = 0x3456;
  e.master = 0x21;
  e.calPlus = 0x4567;
  e.calMinus = 0x5678;
  e.delay = 0xC8;
  e.upper = 0x6789;
  e.lower = -5;
  mb::WriteEntry(&r, 29, e);
  const std::size_t b = kTable + 29 * kEntry;
  const std::uint8_t expected[19] = {3,    0x11, 0x34, 0x12, 0x0A, 0x45, 0x23, 0x56, 0x34, 0x21,
                                     0x67, 0x45, 0x78, 0x56, 0xC8, 0x89, 0x67, 0xFB, 0xFF};
  for (std::size_t k = 0; k < 19; ++k) EXPECT_EQ(r.u8(b + k), expected[k]) << k;
  EXPECT_EQ(b + 19, card::DeviceStatusRecord::size());
  EXPECT_EQ(mb::ReadEntry(r, 29), e);

  // Widened: the lower limit sign-extended; back: the same entry.
  const mb::RequestRecord rec = mb::ToRecord(e);
  EXPECT_EQ(rec.lower, -5);
  EXPECT_EQ(rec.upper, 0x6789);
  EXPECT_EQ(mb::ToEntry(rec), e);
  const mb::RowTexts row = mb::ToRow(rec);
  EXPECT_EQ(row, (mb::RowTexts{"17", "4660", "3", "10", "9029", "13398", "17767", "22136", "33", "200", "26505", "-5"}));
  // A table saved with the lower limit as its unsigned pattern shows signed too.
  mb::RequestRecord old = rec;
  old.lower = 65531;
  EXPECT_EQ(mb::ToRow(old)[11], "-5");
  EXPECT_EQ(mb::ToEntry(old).lower, -5);

  // The file record: little-endian fields at 0, 4, ... 32, the delay at 36,
  // the limits at 37 and 41; 30 of them, 1350 bytes.
  mb::RecordTable table{};
  table[1] = rec;
  const std::string file = mb::EncodeTableFile(table);
  ASSERT_EQ(file.size(), 1350u);
  const std::string r1 = file.substr(45, 45);
  auto i32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint8_t>(r1[at]) | static_cast<std::uint8_t>(r1[at + 1]) << 8 |
                                     static_cast<std::uint8_t>(r1[at + 2]) << 16 |
                                     static_cast<std::uint32_t>(static_cast<std::uint8_t>(r1[at + 3])) << 24);
  };
  EXPECT_EQ(i32(0), 0x21);      // master storage
  EXPECT_EQ(i32(4), 0x11);      // slave
  EXPECT_EQ(i32(8), 0x1234);    // register
  EXPECT_EQ(i32(12), 3);        // function
  EXPECT_EQ(i32(16), 0x0A);     // count
  EXPECT_EQ(i32(20), 0x2345);   // divisor
  EXPECT_EQ(i32(24), 0x4567);   // calibration +
  EXPECT_EQ(i32(28), 0x5678);   // calibration -
  EXPECT_EQ(i32(32), 0x3456);   // multiplier
  EXPECT_EQ(static_cast<std::uint8_t>(r1[36]), 0xC8);
  EXPECT_EQ(i32(37), 0x6789);
  EXPECT_EQ(i32(41), -5);
  EXPECT_EQ(mb::DecodeTableFile(file, {}).records, table);

  // No request: function 0 gives zeros and an empty row; an empty row
  // stores the empty entry.
  mb::RequestEntry zero = e;
  zero.function = 0;
  EXPECT_EQ(mb::ToRecord(zero), mb::RequestRecord{});
  EXPECT_EQ(mb::ToRow(mb::ToRecord(zero)), mb::RowTexts{});
  const mb::RequestEntry empty = mb::ToEntry(mb::RequestRecord{});
  EXPECT_EQ(empty.function, 38);
  EXPECT_EQ(empty.divisor, 1);
  EXPECT_EQ(empty.multiplier, 1);
  EXPECT_EQ(empty.delay, 1);
  EXPECT_EQ(empty.slave + empty.address + empty.count + empty.master + empty.upper + empty.lower, 0);
}

TEST(MasterTable, RowIHoldsEntryIForTheRecordAndForFilesAndStoresBackUnmoved) {
  // Gaps, codes the old filters hid (7 from the record, 15) and requests past 20.
  mb::EntryTable t = EmptyTable();
  t[0] = Entry(3, 1, 0, 2);
  t[1] = Entry(4, 2, 16, 1, 10);
  t[5] = Entry(16, 3, 100, 4, 20, -100);
  t[8] = Entry(7, 4, 0, 1, 30);
  t[12] = Entry(15, 5, 0, 8, 40);
  t[22] = Entry(3, 6, 0, 1, 50);
  t[3] = mb::RequestEntry{};  // function 0, as a fresh card has it
  card::DeviceStatusRecord r;
  for (std::size_t i = 0; i < mb::kRequests; ++i) mb::WriteEntry(&r, i, t[i]);

  const mb::TableTexts rows = mb::ToRows(mb::ToRecords(mb::ReadEntries(r)));
  for (std::size_t i = 0; i < mb::kRequests; ++i) {
    const bool filled = i == 0 || i == 1 || i == 5 || i == 8 || i == 12 || i == 22;
    EXPECT_EQ(!rows[i][2].empty(), filled) << "row " << i;
  }
  EXPECT_EQ(rows[5][2], "16");
  EXPECT_EQ(rows[22][0], "6");
  // The same rows from the file.
  const auto load = mb::DecodeTableFile(mb::EncodeTableFile(mb::ToRecords(t)), {});
  EXPECT_EQ(mb::ToRows(load.records), rows);

  // Stored again, every request is where it was; function 0 became the empty entry.
  const auto parse = mb::ParseRows(rows, mb::NormalHeaders());
  ASSERT_TRUE(parse.ok());
  EXPECT_TRUE(parse.warnings.empty());
  mb::EntryTable expected = t;
  expected[3] = mb::RequestEntry::Empty();
  EXPECT_EQ(mb::ToEntries(parse.records), expected);

  // What an upload leaves behind is named before it starts.
  EXPECT_EQ(mb::UnsentRequests(expected),
            (std::vector<std::string>{"第9行：功能码7的请求设备不接收，不会发送。",
                                      "第13行：功能码15的请求设备不接收，不会发送。",
                                      "设备只接收前20条请求，第23行只保存在表中，不会发送。"}));
}

TEST(MasterTable, CellsAreReadWholeAgainstTheirFieldsRange) {
  mb::TableTexts rows{};
  rows[0] = {"1", "0", "3", "2", "1", "1", "0", "0", "1", "20", "100", "-5"};
  rows[1] = {" 2 ", "0000000012", "+4", "1", "1", "1", "0", "0", "3", "255", "65535", "-32768"};
  rows[2] = {"1", "0", "12abc", "2", "1", "1", "0", "0", "1", "20", "100", "0"};
  rows[3] = {"256", "65536", "3", "-1", "1", "1", "0", "0", "1", "300", "100", "32768"};
  rows[4] = {"", "7", "", "", "", "9", "", "", "", "", "", ""};
  const auto parse = mb::ParseRows(rows, mb::NormalHeaders());
  EXPECT_EQ(parse.errors, (std::vector<std::string>{
                              "第3行“功能码”：“12abc”不是0到255之间的整数",
                              "第4行“从站地址”：“256”不是0到255之间的整数",
                              "第4行“寄存器地址”：“65536”不是0到65535之间的整数",
                              "第4行“请求个数”：“-1”不是0到255之间的整数",
                              "第4行“延时(ms)”：“300”不是0到255之间的整数",
                              "第4行“下限值”：“32768”不是-32768到32767之间的整数"}));
  EXPECT_EQ(parse.records[0].lower, -5);
  EXPECT_EQ(parse.records[1].slave, 2);
  EXPECT_EQ(parse.records[1].address, 12);
  EXPECT_EQ(parse.records[1].function, 4);
  EXPECT_EQ(parse.records[1].delay, 255);
  EXPECT_EQ(parse.records[1].lower, -32768);
  // A row without a function code keeps nothing, and says so.
  EXPECT_EQ(parse.records[4], mb::RequestRecord{});
  EXPECT_EQ(parse.warnings, (std::vector<std::string>{"第5行：没有功能码，这一行按空请求保存，其中的数值不保留。"}));
  // The weighing headers name the columns in that mode.
  const auto weighing = mb::ParseRows(rows, mb::WeighingHeaders());
  EXPECT_EQ(weighing.errors[0], "第3行“2 (16进制）”：“12abc”不是0到255之间的整数");
}

TEST(MasterTable, TheAddDialogFillsEachColumnFromItsOwnFieldAndOffersOnlyDelaysThatFit) {
  const auto& items = mb::AddItems();
  EXPECT_EQ(items.slaves.front(), "01");
  EXPECT_EQ(items.slaves.back(), "255");
  EXPECT_EQ(items.addresses.back(), "fe");
  EXPECT_EQ(items.functions, (std::vector<std::string>{"03", "04", "06", "10"}));
  EXPECT_EQ(items.counts.back(), "199");
  EXPECT_EQ(items.masters.back(), "200");
  EXPECT_EQ(items.delays.front(), "20ms");
  EXPECT_EQ(items.delays.back(), "250ms");
  EXPECT_EQ(items.delays.size(), 24u);

  mb::AddRequestValues v;
  v.slave = 4;      // 5
  v.address = 0x1f;
  v.function = 3;   // "10" = 16
  v.count = 2;
  v.master = 9;     // 10
  v.delay = 23;     // 250 ms
  v.multiplier = "7";
  v.divisor = "100";
  v.calPlus = "1";
  v.calMinus = "2";
  v.upper = "65535";
  v.lower = "-5";
  std::vector<std::string> errors;
  auto r = mb::AddedRequest(v, &errors);
  ASSERT_TRUE(r) << errors.front();
  const mb::RowTexts row = mb::AddedRow(*r);
  EXPECT_EQ(row, (mb::RowTexts{"5", "31", "16", "2", "100", "7", "1", "2", "10", "250", "65535", "-5"}));
  EXPECT_EQ(mb::NormalHeaders()[4], "除倍数");
  EXPECT_EQ(mb::NormalHeaders()[5], "乘倍数");

  v.multiplier = "7x";
  v.lower = "-40000";
  EXPECT_FALSE(mb::AddedRequest(v, &errors));
  EXPECT_EQ(errors, (std::vector<std::string>{"“乘倍数”：“7x”不是0到65535之间的整数",
                                              "“下限值”：“-40000”不是-32768到32767之间的整数"}));
}

TEST(MasterTable, AShortFileLoadsWholeRecordsOnlyAndSaysSo) {
  mb::RecordTable previous{}, file{};
  for (auto& r : previous) r.function = 4;
  for (auto& r : file) r.function = 3;
  const std::string bytes = mb::EncodeTableFile(file);

  auto load = mb::DecodeTableFile(bytes.substr(0, 100), previous);  // 2 whole records and 10 bytes
  EXPECT_EQ(load.whole, 2u);
  EXPECT_EQ(load.records[1].function, 3);
  EXPECT_EQ(load.records[2].function, 4);
  EXPECT_EQ(mb::TableFileNotice(load),
            "文件长度为100字节，不是完整的请求表（1350字节）：只载入了前2条完整的请求，第3行起保持不变。");
  load = mb::DecodeTableFile(bytes.substr(0, 44), previous);
  EXPECT_EQ(load.whole, 0u);
  EXPECT_EQ(load.records, previous);
  EXPECT_NE(mb::TableFileNotice(load).find("没有一条完整的请求"), std::string::npos);
  load = mb::DecodeTableFile(bytes + "xx", previous);
  EXPECT_EQ(load.whole, 30u);
  EXPECT_NE(mb::TableFileNotice(load).find("多余部分未载入"), std::string::npos);
  EXPECT_EQ(mb::TableFileNotice(mb::DecodeTableFile(bytes, previous)), "");
}

TEST(MasterTable, ChecksWarnAboutSlavesCountsRangesDivisorsAndOverlappingStorage) {
  auto rec = [](int fc, int slave, int reg, int count, int master) {
    mb::RequestRecord r;
    r.function = fc;
    r.slave = slave;
    r.address = reg;
    r.count = count;
    r.master = master;
    r.divisor = 1;
    return r;
  };
  mb::RecordTable t{};
  t[0] = rec(3, 1, 0, 10, 1);      // storage 1..10
  t[1] = rec(4, 2, 0, 2, 11);      // 11..12: fits
  t[2] = rec(6, 0, 5, 0, 11);      // a broadcast write from storage 11: fine
  t[3] = rec(16, 3, 0, 10, 1);     // writes from storage 1..10: fine
  EXPECT_TRUE(mb::CheckTable(t).empty());

  t[4] = rec(3, 0, 0, 126, 50);
  t[5] = rec(16, 250, 65535, 2, 60);
  t[6] = rec(1, 1, 0, 40, 5);      // 40 coils: storage 5..7 overlaps row 1
  t[6].divisor = 0;
  t[7] = rec(9, 1, 0, 1, 1);
  EXPECT_EQ(mb::CheckTable(t), (std::vector<std::string>{
                                   "第5行：从站地址0是广播地址，读请求不会得到应答。",
                                   "第5行：功能码3的请求个数应在1到125之间，现为126。",
                                   "第6行：从站地址250超出了1到247。",
                                   "第6行：从寄存器地址65535起的2个地址超出了65535。",
                                   "第7行：除倍数为0。",
                                   "第8行：功能码9不是Modbus主站的读写功能码（1–6、15、16）。",
                                   "第1行与第7行的主寄存器地址范围重叠（1–10 与 5–7）。"}));
}

TEST(MasterTable, UploadSendsTheFirstTwentySendableEntriesEachAsItGoesOut) {
  platform::VirtualClock clock;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProgress progress;
  mb::EntryTable t = EmptyTable();
  t[0] = Entry(3, 1, 0, 2, 1, -5);
  t[2] = Entry(15, 5, 0, 8, 40);   // not taken by the card
  t[19] = Entry(16, 2, 7, 1, 9);
  t[25] = Entry(3, 6, 0, 1, 50);   // past 20: never sent
  card::DeviceStatusRecord before;
  for (std::size_t i = 0; i < mb::kRequests; ++i) mb::WriteEntry(&before, i, Entry(4, 9, 9, 9, 9));

  {
    FakeChannel link(&clock);
    card::DeviceStatusRecord record = before;
    ASSERT_TRUE(mb::UploadTable(link, clock, user, progress, "192.168.1.20", t, &record));
    const auto sent = link.sent();
    ASSERT_EQ(sent.size(), 19u);
    EXPECT_EQ(sent[0], "set C_DD 0 3 1 0 2 10 3 4 1 2 50 1000 -5\n");
    EXPECT_EQ(sent[1], "set C_DD 1 38 0 0 0 1 0 0 0 1 1 0 0\n");
    EXPECT_EQ(sent[2], "set C_DD 3 38 0 0 0 1 0 0 0 1 1 0 0\n");
    EXPECT_EQ(sent[4], "set C_DD 5 38 0 0 0 1 0 0 0 1 1 0 0\n");
    EXPECT_EQ(sent[18], "set C_DD 19 16 2 7 1 10 3 4 9 2 50 1000 0\n");
    const auto times = link.sendTimes();
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 2000);
    EXPECT_EQ(clock.sleeps().back(), 500);
    EXPECT_EQ(link.events().back().kind, testing_support::ChannelEvent::Disconnect);
    EXPECT_EQ(link.events().front().bytes, "192.168.1.20");
    for (std::size_t i = 0; i < mb::kRequests; ++i) {
      const bool sentHere = i < 20 && i != 2;
      EXPECT_EQ(mb::ReadEntry(record, i), sentHere ? t[i] : mb::ReadEntry(before, i)) << i;
    }
    EXPECT_TRUE(user.shown().empty());
    EXPECT_EQ(progress.percents.back(), 100);
  }
  {
    // The third send fails: two entries went out and only they were taken.
    FakeChannel link(&clock);
    link.failSendsFrom(2);
    card::DeviceStatusRecord record = before;
    EXPECT_FALSE(mb::UploadTable(link, clock, user, progress, "192.168.1.20", t, &record));
    EXPECT_EQ(link.sent().size(), 3u);
    EXPECT_EQ(mb::ReadEntry(record, 1), t[1]);
    EXPECT_EQ(mb::ReadEntry(record, 3), mb::ReadEntry(before, 3));
    EXPECT_EQ(user.texts().back(), "连接设备失败\n第4行的请求没有发出，上传已停止。");
    EXPECT_FALSE(link.connected());
  }
  {
    FakeChannel link(&clock);
    link.queueConnectResult(-5);
    card::DeviceStatusRecord record = before;
    EXPECT_FALSE(mb::UploadTable(link, clock, user, progress, "192.168.1.20", t, &record));
    EXPECT_TRUE(link.sent().empty());
    EXPECT_EQ(record, before);
    EXPECT_EQ(user.texts().back(), "连接设备失败");
  }
}
