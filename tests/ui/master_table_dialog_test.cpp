// "MODBUS 主站请求配置" as the user meets it: the card's table row for row,
// the header sets, the add dialog, rows found from the cells, a store that
// refuses bad cells, and the upload that closes the dialog with the sent
// requests in the record copy.
#include "modbus/master_table_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "modbus/rtu.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/temp_dir.h"
#include "ui/editable_list.h"
#include "support/shots.h"
#include "support/widgets.h"

namespace mb = card::modbus;
using testing_support::FakeChannel;

namespace {

mb::RequestEntry Entry(int fc, int slave, int reg, int count, int lower = 0) {
  mb::RequestEntry e = mb::RequestEntry::Empty();
  e.function = static_cast<std::uint8_t>(fc);
  e.slave = static_cast<std::uint8_t>(slave);
  e.address = static_cast<std::uint16_t>(reg);
  e.count = static_cast<std::uint8_t>(count);
  e.master = 1;
  e.delay = 20;
  e.lower = static_cast<std::int16_t>(lower);
  return e;
}

class MasterTableDialogTest : public ::testing::Test {
 protected:
  MasterTableDialogTest() {
    state.setSelectedAddress("192.168.1.20");
    for (std::size_t i = 0; i < mb::kRequests; ++i) mb::WriteEntry(&record, i, mb::RequestEntry::Empty());
    mb::WriteEntry(&record, 0, Entry(3, 1, 0, 2));
    mb::WriteEntry(&record, 5, Entry(16, 2, 100, 4, -5));
    mb::WriteEntry(&record, 22, Entry(15, 3, 0, 8));
  }
  std::unique_ptr<mb::MasterTableDialog> Open() {
    auto link = std::make_unique<FakeChannel>(&clock);
    link_ = link.get();
    return std::make_unique<mb::MasterTableDialog>(env, std::move(link), record);
  }
  std::string WorkingFile() { return testing_support::ReadFile(dir.file("PlC1MEM.datr")); }
  QPushButton* Button(QWidget* w, const QString& text) { return testing_support::FindButton(w, text); }

  platform::VirtualClock clock{1765258109000};
  testing_support::TempDir dir;
  card::MainState state;
  testing_support::FakeProcesses processes;
  card::Siblings siblings{processes, dir.path() + "/"};
  testing_support::FakeUser user{&clock};
  testing_support::FakeFiles files;
  card::ToolEnv env{{}, clock, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, &files};
  card::DeviceStatusRecord record;
  FakeChannel* link_ = nullptr;
};

}  // namespace

TEST_F(MasterTableDialogTest, OpensOnTheCardsTableRowForEntryWithItsHeadersWidthsAndFrames) {
  auto d = Open();
  d->show();
  QTest::qWait(50);
  const mb::TableTexts rows = d->rows();
  EXPECT_EQ(rows[5][2] + rows[5][11] + rows[22][2], "16-515");
  EXPECT_EQ(rows[1], mb::RowTexts{});
  EXPECT_EQ(WorkingFile(), mb::EncodeTableFile(mb::ToRecords(mb::ReadEntries(record))));
  EXPECT_EQ(d->list()->accessibleName(), QStringLiteral(u"MODBUS 主站请求配置"));
  EXPECT_EQ(d->list()->horizontalHeaderItem(0)->text(), QStringLiteral(u"从站地址 "));
  EXPECT_EQ(d->list()->palette().color(QPalette::Base), QColor(187, 255, 255));
  const int w = d->list()->viewport()->width() / 6;
  EXPECT_EQ(d->list()->columnWidth(8), w * 12 / 15);
  EXPECT_EQ(d->list()->columnWidth(2), w * 6 / 15);
  // Each row's request frame stands beside it and follows its cells.
  EXPECT_EQ(d->frames()->item(0, 0)->text(), QStringLiteral("01 03 00 00 00 02 C4 0B"));
  EXPECT_EQ(d->frames()->item(1, 0)->text(), QString());
  for (int c = 0; c < 4; ++c) d->list()->setCellText(1, c, QStringLiteral("17 107 3 3").split(' ')[c]);
  EXPECT_EQ(d->frames()->item(1, 0)->text(), QStringLiteral("11 03 00 6B 00 03 76 87"));
  d->list()->setCellText(1, 3, "3x");
  EXPECT_EQ(d->frames()->item(1, 0)->text(), QStringLiteral(u"（数值无效）"));
  // A frame that cannot be is explained, not wrapped into a wrong one.
  d->list()->setCellText(1, 2, "16");
  d->list()->setCellText(1, 3, "128");
  EXPECT_EQ(d->frames()->item(1, 0)->text(), QStringLiteral(u"（功能码16请求个数128超出1–123，不能组帧）"));
  EXPECT_EQ(d->frames()->item(1, 0)->toolTip(), d->frames()->item(1, 0)->text());
  ui::MaybeShoot(d.get(), "modbus_table_bad_count.png");
  d->list()->setCellText(1, 2, "3");
  d->list()->setCellText(1, 3, "3");
  EXPECT_EQ(d->frames()->accessibleName(), QStringLiteral(u"RTU请求帧"));
  EXPECT_FALSE(d->findChild<QProgressBar*>()->accessibleName().isEmpty());
  ui::MaybeShoot(d.get(), "modbus_table.png");

  // The weighing mode names raw bytes in equal columns; the fields stay.
  record.setU8(card::rec::kRs485Mode, mb::kWeighingMode);
  auto weighing = Open();
  weighing->show();
  QTest::qWait(50);
  EXPECT_EQ(weighing->list()->horizontalHeaderItem(0)->text(), QStringLiteral(u" 0 (16进制）"));
  EXPECT_EQ(weighing->list()->horizontalHeaderItem(9)->text(), QStringLiteral(u"延时 (10进制）"));
  const int ww = weighing->list()->viewport()->width() / 6;
  for (int c = 0; c < 12; ++c) EXPECT_EQ(weighing->list()->columnWidth(c), ww * 10 / 15) << c;
  EXPECT_EQ(weighing->rows()[5][11], "-5");
}

TEST_F(MasterTableDialogTest, AddFillsColumnsFromTheirOwnFieldsAndAddAndDeleteFindTheirRowFromTheCells) {
  mb::AddRequestDialog add(&user);
  add.slave->setCurrentIndex(4);
  add.function->setCurrentIndex(3);
  add.delay->setCurrentIndex(add.delay->count() - 1);
  add.multiplier->setText("7");
  add.divisor->setText("100");
  add.lower->setText("-5x");
  ui::MaybeShoot(&add, "modbus_add_request.png");
  QTest::mouseClick(add.ok, Qt::LeftButton);
  EXPECT_EQ(user.texts().back(), "“下限值”：“-5x”不是-32768到32767之间的整数");
  add.lower->setText("-5");
  QTest::mouseClick(add.ok, Qt::LeftButton);
  ASSERT_TRUE(add.request());
  EXPECT_EQ(add.result(), QDialog::Accepted);

  auto d = Open();
  ASSERT_TRUE(d->AddRow(*add.request()));
  EXPECT_EQ(d->rows()[1], (mb::RowTexts{"5", "0", "16", "0", "100", "7", "0", "0", "1", "250", "0", "-5"}));
  d->list()->setCellText(2, 0, "7");  // typed into a row of its own
  ASSERT_TRUE(d->AddRow(*add.request()));
  EXPECT_EQ(d->rows()[3][2], "16");
  EXPECT_EQ(d->rows()[2][0], "7");
  // Only the last filled row goes, whichever row a click selected.
  d->list()->selectRow(5);
  d->DeleteRequest();
  EXPECT_EQ(d->rows()[22], mb::RowTexts{});
  EXPECT_EQ(d->rows()[5][2], "16");
  d->DeleteRequest();
  EXPECT_EQ(d->rows()[5], mb::RowTexts{});
  EXPECT_EQ(d->rows()[3][2], "16");
  while (d->AddRow(*add.request())) {
  }
  d->AddRequest();
  EXPECT_EQ(user.texts().back(), "30行都已有请求，不能再添加。请先删除一条请求。");
}

TEST_F(MasterTableDialogTest, LoadRefusesBadCellsThenUploadsAndTheWholeTableSurvivesTheNextOpening) {
  auto d = Open();
  d->show();
  d->list()->setCellText(3, 0, "4");
  d->list()->setCellText(3, 2, "12abc");
  QTest::mouseClick(Button(d.get(), QStringLiteral(u"加载到设备")), Qt::LeftButton);
  EXPECT_NE(user.texts().back().find("第4行“功能码”：“12abc”不是0到255之间的整数"), std::string::npos);
  EXPECT_TRUE(d->isVisible());
  EXPECT_TRUE(link_->sent().empty());

  d->list()->setCellText(3, 2, "4");
  d->list()->setCellText(3, 3, "1");
  d->list()->setCellText(22, 3, "9");  // past 20: stored, never sent
  for (int c = 0; c < 12; ++c) d->list()->setCellText(7, c, QStringLiteral("6 0 1 2 1 1 0 0 30 20 0 0").split(' ')[c]);
  d->list()->setCellText(7, 2, "1");  // a code the card does not take
  const std::string opened = WorkingFile();
  // Asked about rows 8 and 23 and answered no: nothing sent, the file as it was.
  user.queueAnswer(false);
  d->LoadToDevice();
  EXPECT_NE(user.texts().back().find("第23行"), std::string::npos);
  EXPECT_NE(user.texts().back().find("第8行：功能码1的请求设备不接收"), std::string::npos);
  EXPECT_TRUE(link_->events().empty());
  EXPECT_EQ(WorkingFile(), opened);
  user.queueAnswer(true);
  d->LoadToDevice();
  d->WaitForOperation();
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_FALSE(d->isVisible());

  const auto sent = link_->sent();
  ASSERT_EQ(sent.size(), 19u);
  EXPECT_EQ(sent[3], "set C_DD 3 4 4 0 1 0 0 0 0 0 0 0 0\n");
  EXPECT_EQ(sent[5], "set C_DD 5 16 2 100 4 1 0 0 1 1 20 0 -5\n");
  EXPECT_EQ(sent[7], "set C_DD 8 38 0 0 0 1 0 0 0 1 1 0 0\n");
  EXPECT_EQ(mb::ReadEntry(record, 3).function, 4);
  // The copy and the working file hold the whole table, rows 8 and 23 too.
  EXPECT_EQ(mb::ReadEntry(record, 7).function, 1);
  EXPECT_EQ(mb::ReadEntry(record, 22).count, 9);
  const auto stored = mb::DecodeTableFile(WorkingFile(), {});
  EXPECT_EQ(stored.records[22].count, 9);
  EXPECT_EQ(stored.records[7].function, 1);
  EXPECT_EQ(stored.records[3].function, 4);
  const mb::TableTexts storedRows = mb::ToRows(stored.records);

  // Opened again on the copy: every row is there and the file keeps them.
  auto again = Open();
  EXPECT_EQ(again->rows()[7][2] + again->rows()[22][3] + again->rows()[3][2], "194");
  EXPECT_EQ(again->rows(), storedRows);
  EXPECT_EQ(mb::ToRows(mb::DecodeTableFile(WorkingFile(), {}).records), storedRows);
}

TEST_F(MasterTableDialogTest, ClosingDuringTheUploadSaysHowManyRequestsWentOut) {
  auto d = Open();
  d->show();
  // The third line holds the worker until the dialog is being closed.
  std::atomic<int> lines{0};
  std::atomic<bool> released{false};
  link_->onSend([&](const std::string&) {
    if (++lines != 3) return;
    for (int i = 0; i < 300 && !released; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  user.queueAnswer(true);  // row 23 is kept on the PC
  d->LoadToDevice();
  ASSERT_TRUE(QTest::qWaitFor([&] { return lines.load() >= 3; }, 3000));
  QTimer::singleShot(20, [&] { released = true; });
  d->reject();
  EXPECT_FALSE(d->operationRunning());
  EXPECT_EQ(user.texts().back(), "上传已取消：已发送 3/20 项，其余请求没有发送，设备上仍是原来的请求。");
  EXPECT_EQ(lines.load(), 3);
  EXPECT_FALSE(state.recordUnconfirmed());

  // A line that could not be sent: the copy may hold what the card never got.
  auto lost = Open();
  link_->failSendsFrom(4);
  user.queueAnswer(true);
  lost->LoadToDevice();
  lost->WaitForOperation();
  EXPECT_TRUE(lost->isVisible() || lost->result() != QDialog::Accepted);
  EXPECT_EQ(user.texts().back(), "连接设备失败\n第5行的请求没有发出，上传已停止（已发送 4/20 项）。");
  EXPECT_TRUE(state.recordUnconfirmed());
}

TEST_F(MasterTableDialogTest, AnOversizedTableFileIsNamedByItsRealLength) {
  auto d = Open();
  mb::RecordTable table{};
  table[0].function = 4;
  table[0].slave = 9;
  const std::string path = dir.file("big.datr");
  testing_support::WriteFile(path, mb::EncodeTableFile(table) + std::string(100000, 'x'));
  files.opens.push_back(path);
  d->OpenFromFile();
  EXPECT_EQ(user.texts().back(), "文件长度为101350字节，超过请求表的1350字节：只载入了前30条请求，多余部分未载入。");
  EXPECT_EQ(d->rows()[0][0] + d->rows()[0][2], "94");
}

TEST_F(MasterTableDialogTest, TheCloseBoxLeavesCardCopyAndWorkingFileAsTheyWere) {
  const card::DeviceStatusRecord before = record;
  auto d = Open();
  d->show();
  const std::string file = WorkingFile();
  d->list()->setCellText(0, 2, "4");
  d->close();
  EXPECT_EQ(record, before);
  EXPECT_EQ(WorkingFile(), file);
  EXPECT_TRUE(link_->events().empty());
}
