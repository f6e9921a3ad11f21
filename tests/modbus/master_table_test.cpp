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
  // Entry 29, the last one, as the card stores it: it ends with the record.
  const std::string raw("\x03\x11\x34\x12\x0A\x45\x23\x56\x34\x21\x67\x45\x78\x56\xC8\x89\x67\xFB\xFF", 19);
  card::DeviceStatusRecord r;
  std::copy(raw.begin(), raw.end(), r.data() + kTable + 29 * kEntry);
  const mb::RequestEntry e = mb::ReadEntry(r, 29);
  EXPECT_EQ(e.lower, -5);
  card::DeviceStatusRecord back;
  mb::WriteEntry(&back, 29, e);
  EXPECT_EQ(back, r);

  // Widened: the row shows every field in its column, the lower limit signed.
  const mb::RequestRecord rec = mb::ToRecord(e);
  EXPECT_EQ(mb::ToEntry(rec), e);
  EXPECT_EQ(mb::ToRow(rec),
            (mb::RowTexts{"17", "4660", "3", "10", "9029", "13398", "17767", "22136", "33", "200", "26505", "-5"}));
  // A table saved with the lower limit as its unsigned pattern shows signed too.
  mb::RequestRecord old = rec;
  old.lower = 65531;
  EXPECT_EQ(mb::ToRow(old)[11], "-5");
  EXPECT_EQ(mb::ToEntry(old).lower, -5);

  // The file record: master, slave, register, function, count, divisor,
  // cal+, cal-, multiplier as 32-bit, the delay byte, the limits.
  auto le32 = [](std::uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  std::string expected;
  for (std::uint32_t v : {0x21u, 0x11u, 0x1234u, 3u, 0x0Au, 0x2345u, 0x4567u, 0x5678u, 0x3456u}) expected += le32(v);
  expected += std::string("\xC8") + le32(0x6789) + le32(0xFFFFFFFB);
  mb::RecordTable table{};
  table[1] = rec;
  const std::string file = mb::EncodeTableFile(table);
  ASSERT_EQ(file.size(), 1350u);
  EXPECT_EQ(file.substr(45, 45), expected);
  EXPECT_EQ(file.substr(0, 45), std::string(45, '\0'));
  EXPECT_EQ(mb::DecodeTableFile(file, {}).records, table);

  // No request: function 0 gives zeros and an empty row; an empty row
  // stores the empty entry (38, divisor, multiplier and delay 1).
  mb::RequestEntry zero = e;
  zero.function = 0;
  EXPECT_EQ(mb::ToRecord(zero), mb::RequestRecord{});
  EXPECT_EQ(mb::ToRow(mb::ToRecord(zero)), mb::RowTexts{});
  EXPECT_EQ(mb::CddLine(5, mb::ToEntry(mb::RequestRecord{})), "set C_DD 5 38 0 0 0 1 0 0 0 1 1 0 0\n");
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

TEST(MasterTable, UploadSendsTheFirstTwentySendableEntriesEachAsItGoesOutAndKeepsTheRest) {
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
    // The record keeps the whole table: what no line carries (row 3's code
    // 15, row 26 past the 20th, the empty rows past it) as the table has it.
    for (std::size_t i = 0; i < mb::kRequests; ++i) EXPECT_EQ(mb::ReadEntry(record, i), t[i]) << i;
    EXPECT_TRUE(user.shown().empty());
    EXPECT_EQ(progress.percents.back(), 100);
  }
  // Entries no line carries are kept whatever happens on the link; a sent
  // entry is taken only once its line went out.
  auto unsentKept = [&](const card::DeviceStatusRecord& record) {
    for (std::size_t i : {2u, 20u, 25u, 29u}) EXPECT_EQ(mb::ReadEntry(record, i), t[i]) << i;
  };
  {
    // The third send fails: two entries went out and only they were taken.
    FakeChannel link(&clock);
    link.failSendsFrom(2);
    card::DeviceStatusRecord record = before;
    mb::UploadReport report;
    EXPECT_FALSE(mb::UploadTable(link, clock, user, progress, "192.168.1.20", t, &record, &report));
    EXPECT_EQ(link.sent().size(), 3u);
    EXPECT_EQ(mb::ReadEntry(record, 1), t[1]);
    EXPECT_EQ(mb::ReadEntry(record, 3), mb::ReadEntry(before, 3));
    unsentKept(record);
    EXPECT_EQ(report.total * 100 + report.sent, 1902);
    EXPECT_TRUE(report.linkLost);
    EXPECT_EQ(user.texts().back(), "连接设备失败\n第4行的请求没有发出，上传已停止（已发送 2/19 项）。");
    EXPECT_FALSE(link.connected());
  }
  {
    FakeChannel link(&clock);
    link.queueConnectResult(-5);
    card::DeviceStatusRecord record = before;
    mb::UploadReport report;
    EXPECT_FALSE(mb::UploadTable(link, clock, user, progress, "192.168.1.20", t, &record, &report));
    EXPECT_TRUE(link.sent().empty());
    EXPECT_EQ(mb::ReadEntry(record, 0), mb::ReadEntry(before, 0));
    unsentKept(record);
    EXPECT_FALSE(report.linkLost);
    EXPECT_EQ(user.texts().back(), "连接设备失败");
  }
}
