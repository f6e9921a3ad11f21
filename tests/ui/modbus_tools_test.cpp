// "Modbus数据读写" and "运行数据监视" as the user meets them: the opening
// lines, reads on each choice with a question before edits are dropped, a
// write of only the edited cells, the single write; the monitor's log in
// its three types, its count, its stop on a closed link and its close.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>

#include "modbus/monitor_dialog.h"
#include "modbus/register_view_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/shots.h"
#include "support/temp_dir.h"
#include "ui/editable_list.h"

namespace mb = card::modbus;
using testing_support::FakeChannel;

namespace {

// A card's register map behind a fake link: reads answer from it, writes
// change it. Register i starts as i.
class FakeRegisters {
 public:
  explicit FakeRegisters(FakeChannel* ch) : regs_(2048), ch_(ch) {
    for (std::size_t i = 0; i < regs_.size(); ++i) regs_[i] = static_cast<std::uint16_t>(i);
    ch->onSend([this](const std::string& s) { OnSend(s); });
  }
  std::vector<std::uint16_t> regs_;
  std::size_t replyLimit = 128;  // bytes a read answers at most
  int repliesLeft = -1;          // reads it still answers; -1: all

 private:
  void OnSend(const std::string& s) {
    unsigned start = 0, n = 0;
    if (writeAt_ >= 0) {
      for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        regs_[writeAt_ + i / 2] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(s[i]) | static_cast<std::uint8_t>(s[i + 1]) << 8);
      writeAt_ = -1;
    } else if (std::sscanf(s.c_str(), "file read_modbus 0x%x %u", &start, &n) == 2) {
      if (repliesLeft == 0) return;
      if (repliesLeft > 0) --repliesLeft;
      std::string page;
      for (unsigned r = start; page.size() < std::min<std::size_t>(n, replyLimit); ++r) {
        page.push_back(static_cast<char>(regs_[r] & 0xFF));
        page.push_back(static_cast<char>(regs_[r] >> 8));
      }
      ch_->queueReply(page.substr(0, std::min<std::size_t>(n, replyLimit)));
    } else if (std::sscanf(s.c_str(), "file write_modbus 0x%x %u", &start, &n) == 2) {
      writeAt_ = static_cast<int>(start);
    }
  }
  FakeChannel* ch_;
  int writeAt_ = -1;
};

class ModbusTools : public ::testing::Test {
 protected:
  ModbusTools() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    state.setSelectedAddress("192.168.1.20");
  }
  std::unique_ptr<mb::RegisterViewDialog> OpenView() {
    auto link = std::make_unique<FakeChannel>(&clock);
    link_ = link.get();
    card_ = std::make_unique<FakeRegisters>(link_);
    auto d = std::make_unique<mb::RegisterViewDialog>(env, std::move(link));
    QCoreApplication::processEvents();  // the opening starts
    d->WaitForOperation();
    return d;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const auto& s : link_->sent())
      if (s.rfind("file ", 0) == 0 || s.rfind("set ", 0) == 0) out.push_back(s);
    return out;
  }
  QLabel* Label(QWidget* w, const QString& text) {
    for (QLabel* l : w->findChildren<QLabel*>())
      if (l->text() == text) return l;
    return nullptr;
  }

  platform::VirtualClock clock{1765258109000};
  testing_support::TempDir dir;
  card::MainState state;
  testing_support::FakeProcesses processes;
  card::Siblings siblings{processes, dir.path() + "/"};
  testing_support::FakeUser user{&clock};
  testing_support::FakeFiles files;
  card::ToolEnv env{{}, clock, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, &files};
  FakeChannel* link_ = nullptr;
  std::unique_ptr<FakeRegisters> card_;
};

}  // namespace

TEST_F(ModbusTools, TheViewOpensWithTheLogOffThenShowsTheFirstPage) {
  auto d = OpenView();
  d->show();
  QTest::qWait(20);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"set LOG 0 \n", "file read_modbus 0x0 128\n"}));
  EXPECT_EQ(clock.sleeps().front(), 800);
  EXPECT_EQ(d->grid()->cellText(1, 3), QStringLiteral("19"));
  EXPECT_EQ(d->grid()->horizontalHeaderItem(0)->text(), QStringLiteral(" 01 "));
  EXPECT_EQ(d->grid()->horizontalHeaderItem(15)->text(), QStringLiteral(" 10"));
  const int w = d->grid()->viewport()->width() / 16;
  EXPECT_EQ(d->grid()->columnWidth(0), w);
  EXPECT_EQ(d->grid()->columnWidth(15), w * 10 / 9);
  EXPECT_EQ(Label(d.get(), QStringLiteral(u"数据类型"))->buddy(), d->typeList());
  EXPECT_EQ(Label(d.get(), QStringLiteral(u"起始地址"))->buddy(), d->startList());
  EXPECT_EQ(d->typeList()->count(), 11);
  EXPECT_EQ(d->startList()->count(), 17);
  ASSERT_NE(Label(d.get(), QStringLiteral("31")), nullptr) << "row 4 starts at register 0x31";
  EXPECT_TRUE(user.shown().empty());
  ui::MaybeShoot(d.get(), "modbus_view.png");
}

TEST_F(ModbusTools, ChoicesReadAgainAndAskBeforeUnsentEditsAreDropped) {
  auto d = OpenView();
  d->grid()->setCellText(0, 0, "77");
  const std::size_t before = Lines().size();
  d->typeList()->setCurrentIndex(mb::kI16);
  emit d->typeList()->activated(mb::kI16);
  EXPECT_EQ(user.texts().back(), mb::kMsgDropEdits);
  EXPECT_EQ(d->typeList()->currentIndex(), mb::kU16) << "no: the old type stays";
  EXPECT_EQ(Lines().size(), before);
  EXPECT_EQ(d->grid()->cellText(0, 0), QStringLiteral("77"));

  user.queueAnswer(true);
  d->startList()->setCurrentIndex(1);
  emit d->startList()->activated(1);
  d->WaitForOperation();
  EXPECT_EQ(Lines().back(), "file read_modbus 0x40 128\n");
  EXPECT_EQ(d->grid()->cellText(0, 0), QStringLiteral("64"));
  EXPECT_NE(Label(d.get(), QStringLiteral("71")), nullptr);

  d->Read();
  d->WaitForOperation();
  EXPECT_EQ(Lines().back(), "file read_modbus 0x40 128\n") << "no edits, no question";
  EXPECT_EQ(user.texts().size(), 2u);
}

TEST_F(ModbusTools, AWriteSendsTheReadPageWithOnlyTheEditedCellsAndReadsItAgain) {
  auto d = OpenView();
  d->Write();
  EXPECT_EQ(user.texts().back(), mb::kMsgNothingEdited);
  d->grid()->setCellText(1, 3, "999");
  d->grid()->setCellText(2, 0, "x");
  d->Write();
  EXPECT_NE(user.texts().back().find("第3行第1列：“x”不是0到65535之间的整数"), std::string::npos);
  d->grid()->setCellText(2, 0, "32");
  link_->clearEvents();
  d->Write();
  d->WaitForOperation();
  const auto sent = link_->sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "file write_modbus 0x0 128\n");
  ASSERT_EQ(sent[1].size(), 128u);
  for (int r = 0; r < 64; ++r) {
    const int value = static_cast<std::uint8_t>(sent[1][2 * r]) | static_cast<std::uint8_t>(sent[1][2 * r + 1]) << 8;
    EXPECT_EQ(value, r == 19 ? 999 : r) << r;
  }
  EXPECT_EQ(sent[2], "file read_modbus 0x0 128\n");
  EXPECT_EQ(d->grid()->cellText(1, 3), QStringLiteral("999"));
  EXPECT_EQ(card_->regs_[19], 999);

  // A page that came short cannot be written.
  card_->replyLimit = 64;
  card_->repliesLeft = 1;
  d->Read();
  d->WaitForOperation();
  EXPECT_EQ(d->grid()->cellText(3, 0), QString());
  EXPECT_EQ(d->grid()->cellText(1, 15), QStringLiteral("31"));
  EXPECT_EQ(user.texts().back(), "读取不完整：只收到64个字节（一页128个），没有收到的单元格留空。");
  d->grid()->setCellText(0, 0, "5");
  link_->clearEvents();
  d->Write();
  EXPECT_EQ(user.texts().back(), mb::kMsgWriteNeedsRead);
  EXPECT_TRUE(link_->sent().empty());
}

TEST_F(ModbusTools, TheSingleWriteSendsItsTypesBytesThenShowsThePageInThatType) {
  mb::SingleWriteDialog single(mb::kU32, &user);
  EXPECT_EQ(single.typeList->currentIndex(), mb::kU32);
  EXPECT_EQ(single.address->count(), 300);
  single.address->setCurrentIndex(9);  // "010"
  single.typeList->setCurrentIndex(mb::kFloatDcba);
  single.value->setText("1.5x");
  ui::MaybeShoot(&single, "modbus_single_write.png");
  QTest::mouseClick(single.send, Qt::LeftButton);
  EXPECT_EQ(user.texts().back(), "“1.5x”不是单精度浮点数");
  single.value->setText("1.5");
  QTest::mouseClick(single.send, Qt::LeftButton);
  EXPECT_EQ(single.result(), QDialog::Accepted);
  EXPECT_EQ(single.registerNumber(), 9);
  EXPECT_EQ(single.bytes(), std::string("\x00\x00\x3F\xC0", 4));

  auto d = OpenView();
  link_->clearEvents();
  d->SendSingle(single.registerNumber(), single.type(), single.bytes());
  d->WaitForOperation();
  EXPECT_EQ(link_->sent(), (std::vector<std::string>{"file write_modbus 0x9 4\n", std::string("\x00\x00\x3F\xC0", 4),
                                                     "file read_modbus 0x0 128\n"}));
  EXPECT_EQ(d->typeList()->currentIndex(), mb::kFloatDcba);
  EXPECT_EQ(card_->regs_[9], 0x0000);
  EXPECT_EQ(card_->regs_[10], 0xC03F);
}

namespace {

class MonitorTools : public ModbusTools {
 protected:
  std::unique_ptr<mb::MonitorDialog> OpenMonitor(std::unique_ptr<FakeChannel> link) {
    link_ = link.get();
    auto d = std::make_unique<mb::MonitorDialog>(realEnv, std::move(link));
    QCoreApplication::processEvents();  // monitoring starts
    return d;
  }
  platform::RealClock real;
  card::ToolEnv realEnv{{}, real, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, &files};
};

std::int64_t At(int h, int m, int s, int ms) {
  return (static_cast<std::int64_t>(1765238400) + h * 3600 + m * 60 + s) * 1000 + ms;
}

}  // namespace

TEST_F(MonitorTools, BlocksReachTheLogInTheirTypeAndClearResetsTheCount) {
  auto d = OpenMonitor(std::make_unique<FakeChannel>(nullptr));
  d->show();
  EXPECT_EQ(d->typeList()->currentText(), QStringLiteral("ascii"));
  const std::string request("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8);
  const std::string response("\x01\x03\x04\x00\x07\x00\x08\x4A\x34", 9);
  d->queue().Push({std::string("\x01\x02\x0A", 3), At(14, 5, 9, 7), mb::kMonitorHex});
  d->queue().Push({"TX: 01 03\r\n", At(14, 5, 9, 500), mb::kMonitorAscii});
  d->queue().Push({request + response.substr(0, 4), At(14, 5, 10, 0), mb::kMonitorRtu});
  d->queue().Push({response.substr(4), At(14, 5, 10, 20), mb::kMonitorRtu});
  d->Drain();
  const QString log = d->logText();
  EXPECT_TRUE(log.startsWith(QStringLiteral("\n[14:05:09:007 len=003]: \n01 02 0A \n"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("[14:05:09:500 len=011]: \nTX: 01 03\n")));
  EXPECT_TRUE(log.contains(QStringLiteral(u"01 03 00 00 00 02 C4 0B  → 请求 从站1 功能码03(读保持寄存器) 地址0 数量2  CRC正确")));
  EXPECT_TRUE(log.contains(QStringLiteral(u"01 03 04 00 07 00 08 4A 34  ← 应答 从站1 功能码03(读保持寄存器) 4字节 数值 7 8  CRC")));
  EXPECT_EQ(d->received(), 3u + 11u + 12u + 5u);
  ui::MaybeShoot(d.get(), "modbus_monitor.png");

  // Paused, the log holds still and the queue keeps its newest blocks.
  d->TogglePause();
  for (int i = 0; i < static_cast<int>(mb::kQueueBlocks) + 5; ++i) d->queue().Push({"x", At(15, 0, 0, 0), mb::kMonitorAscii});
  d->Drain();
  EXPECT_EQ(d->logText(), log);
  d->TogglePause();
  EXPECT_TRUE(d->logText().contains(QStringLiteral(u"（有5个数据块来不及显示，已丢弃）")));

  d->Clear();
  EXPECT_TRUE(d->logText().isEmpty());
  EXPECT_EQ(d->received(), 0u);
  EXPECT_EQ(d->log()->maximumBlockCount(), mb::kLogLines);
}

TEST_F(MonitorTools, StartLinesGoOutAsTheCardExpectsAndClosingJoinsTheWorkerPromptly) {
  auto link = std::make_unique<FakeChannel>(nullptr);
  FakeChannel* ch = link.get();
  auto d = OpenMonitor(std::move(link));
  d->show();
  // The opening's "ascii" line, and again from the worker's first turn.
  ASSERT_TRUE(QTest::qWaitFor([&] { return ch->sent().size() == 2; }, 2000));
  d->typeList()->setCurrentIndex(mb::kMonitorHex);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ch->sent().size() == 3; }, 2000));
  d->typeList()->setCurrentIndex(mb::kMonitorRtu);
  QTest::qWait(100);
  EXPECT_EQ(ch->sent(),
            (std::vector<std::string>{"set get485ascii 1 \n", "set get485ascii 1 \n", "set get485 1 \n"}));
  EXPECT_TRUE(d->monitoring());
  QElapsedTimer t;
  t.start();
  d->close();
  EXPECT_FALSE(d->monitoring());
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_FALSE(ch->connected());
}

TEST_F(MonitorTools, ABurstIsShownOverSeveralTicksAndTheEndNoteComesAfterIt) {
  auto link = std::make_unique<FakeChannel>(nullptr);
  link->queueReceiveFailure(-4);
  auto d = OpenMonitor(std::move(link));
  d->typeList()->setCurrentIndex(mb::kMonitorRtu);
  // A burst of text in the RTU view: one tick takes a bounded part of it,
  // and the note that the link closed waits for the rest.
  const std::size_t blocks = 3 * mb::kDrainTextPerTick / 4096;
  for (std::size_t i = 0; i < blocks; ++i) d->queue().Push({std::string(4096, 'A' + i % 26), At(9, 0, 0, 0), mb::kMonitorRtu});
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d->monitoring(); }, 2000));
  EXPECT_LE(d->received(), mb::kDrainTextPerTick + 4096) << "text is about as long as its bytes";
  EXPECT_FALSE(d->logText().contains(QString::fromUtf8(mb::kMsgMonitorLinkClosed)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return d->queue().size() == 0; }, 2000));
  d->Drain();
  EXPECT_EQ(d->received(), blocks * 4096 - 0u);
  const QString log = d->logText();
  EXPECT_TRUE(log.endsWith(QString::fromUtf8(mb::kMsgMonitorLinkClosed) + QStringLiteral("\n")));
  // Text is noise to the framer: one line per 256 bytes, not one per byte.
  EXPECT_LE(log.count(QStringLiteral(u"无法识别的字节")), static_cast<int>(blocks * 4096 / 256));
}

TEST_F(MonitorTools, AClosedLinkStopsTheMonitorWithALineInTheLog) {
  auto link = std::make_unique<FakeChannel>(nullptr);
  link->queueReply("TX: 01\r\n");
  link->queueReceiveFailure(-4);
  auto d = OpenMonitor(std::move(link));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !d->monitoring(); }, 2000));
  EXPECT_TRUE(d->logText().contains(QStringLiteral("TX: 01")));
  EXPECT_TRUE(d->logText().endsWith(QString::fromUtf8(mb::kMsgMonitorLinkClosed) + QStringLiteral("\n")));
  EXPECT_TRUE(user.shown().empty());

  auto refused = std::make_unique<FakeChannel>(nullptr);
  refused->queueConnectResult(-5);
  auto r = OpenMonitor(std::move(refused));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !r->monitoring(); }, 2000));
  EXPECT_EQ(user.texts().back(), "连接设备失败");
  EXPECT_TRUE(r->logText().contains(QString::fromUtf8(mb::kMsgMonitorNoConnect)));
}
