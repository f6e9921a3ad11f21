// The main window as a thin shell: the busy pattern, the panel as values,
// controls found by their labels, and a search/open/submit run over fake
// channels.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/main_window.h"
#include "params/network.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "ui/ipv4_edit.h"

namespace {

class MainWindow : public ::testing::Test {
 protected:
  MainWindow() {
    card::WindowLinks links;
    auto search = std::make_unique<testing_support::FakeChannel>(&clock);
    auto command = std::make_unique<testing_support::FakeChannel>(&clock);
    search->setDatagrams(true);
    search_ = search.get();
    command_ = command.get();
    links.search = std::move(search);
    links.command = std::move(command);
    links.file = std::make_unique<testing_support::FakeChannel>(&clock);
    links.recovery = std::make_unique<testing_support::FakeChannel>(&clock);
    card::SysCfg cfg(dir.file("SysCfg.ini"));
    cfg.setServerIp("192.168.1.5");
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), cfg, cancellable, processes, &user);
  }
  ~MainWindow() override { window.reset(); }

  template <typename W>
  W* byText(const QString& text) {
    for (W* w : window->findChildren<W*>())
      if (w->text() == text) return w;
    return nullptr;
  }
  // The field a label names, as assistive technology finds it.
  QWidget* labelled(const QString& text) {
    for (QLabel* l : window->findChildren<QLabel*>())
      if (l->text() == text) return l->buddy();
    return nullptr;
  }

  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  testing_support::FakeChannel* search_ = nullptr;
  testing_support::FakeChannel* command_ = nullptr;
  std::unique_ptr<card::CCardSetupDlg> window;
};

}  // namespace

TEST_F(MainWindow, TitleAndEveryControlUnderItsText) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral(u"     Korvex控制卡参数配置  V6.2"));
  for (const char* text : {"像素宽点数", "像素高点数", "OE信号", "数据高低", "显示目标", "显示模式", "刷屏率", "亮度",
                           "ModBus地址", "485模式", "波特率", "开发编号", "控制卡IP", "服务器IP", "服务器端口",
                           " 服务类型", "当前节目", "停留时长"}) {
    QWidget* field = labelled(QString::fromUtf8(text));
    ASSERT_NE(field, nullptr) << text;
    // Assistive technology sees the label as the field's "labelled by" relation.
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(field);
    ASSERT_NE(a, nullptr) << text;
    bool labelledByText = false;
    for (const auto& rel : a->relations(QAccessible::Label))
      labelledByText = labelledByText || rel.first->text(QAccessible::Name) == QString::fromUtf8(text);
    EXPECT_TRUE(labelledByText) << text;
  }
  for (const char* text : {"搜索设备", "提交更改", "添加设备", "固件升级", "高级设置", "重启设备", "编辑", "更新", "删除",
                           "打开文件", "另存文件", "格式化", "显示测试", "同步显示", "主站请求配置", "运行数据监视",
                           "modbus调试", "脚本程序", "读写设备数据", "使用帮助"})
    EXPECT_NE(byText<QPushButton>(QString::fromUtf8(text)), nullptr) << text;
  for (const char* text : {"自动获取IP", "是否连接服务器", "双面", "锁定", "广播", "是否回读"})
    EXPECT_NE(byText<QCheckBox>(QString::fromUtf8(text)), nullptr) << text;
  auto* list = window->findChild<QTableWidget*>();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->accessibleName(), QStringLiteral(u"设备列表"));
  EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral(u"设备SN"));
  EXPECT_EQ(list->columnWidth(1), 300);
  EXPECT_EQ(qobject_cast<QComboBox*>(labelled(QStringLiteral(u"485模式")))->count(), 32);
  EXPECT_EQ(qobject_cast<QComboBox*>(labelled(QStringLiteral(u"亮度")))->count(), 40);
}

TEST_F(MainWindow, BusyDisablesExactlyTheBusyControlsAndLeaveEnablesThemAndTheMode) {
  const auto& controls = window->busyControls();
  ASSERT_EQ(controls.size(), 27u);
  EXPECT_EQ(qobject_cast<QPushButton*>(controls[0])->text(), QStringLiteral(u"搜索设备"));
  EXPECT_EQ(qobject_cast<QPushButton*>(controls[25])->text(), QStringLiteral(u"格式化"));
  EXPECT_EQ(qobject_cast<QPushButton*>(controls.back())->text(), QStringLiteral(u"脚本程序"));
  auto* mode = qobject_cast<QComboBox*>(labelled(QStringLiteral(u"显示模式")));
  auto* width = labelled(QStringLiteral(u"像素宽点数"));
  mode->setEnabled(false);
  window->EnterBusy();
  for (QWidget* w : controls) EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(width->isEnabled());
  EXPECT_TRUE(labelled(QStringLiteral(u"控制卡IP"))->isEnabled());
  // Nested operations keep the window busy until the outer one ends.
  window->EnterBusy();
  window->LeaveBusy();
  EXPECT_FALSE(controls[0]->isEnabled());
  window->LeaveBusy();
  for (QWidget* w : controls) EXPECT_TRUE(w->isEnabled());
  EXPECT_TRUE(mode->isEnabled());
}

TEST_F(MainWindow, PanelValuesRoundTripThroughTheWidgets) {
  card::PanelValues v;
  v.widthText = "256";
  v.heightText = "64";
  v.oe = 1;
  v.data = 0;
  v.target = 22;
  v.mode = 8;
  v.refresh = 39;
  v.brightness = 0;
  v.modbus = 254;
  v.rs485 = 31;
  v.baud = 9;
  v.devNo = 33;
  v.autoIp = true;
  v.serverEnable = true;
  v.cardIp = "10.1.2.30";
  v.serverIp = "10.1.2.1";
  v.serverPort = "70000";
  v.service = 5;
  v.doubleSided = true;
  v.lock = true;
  v.broadcast = true;
  v.program = 7;
  v.dwell = 59;
  v.readBack = false;
  v.cardPortText = "5005";
  v.internalCode = "1_2_3_4_5_6_7_8";
  window->Write(v);
  EXPECT_EQ(window->Read(), v);
  // Cleared lists have no selection; empty address fields read 0.0.0.0.
  card::PanelValues cleared;
  cleared.readBack = false;
  window->Write(cleared);
  card::PanelValues back = window->Read();
  EXPECT_EQ(back.target, -1);
  EXPECT_EQ(back.cardIp, "0.0.0.0");
}

TEST_F(MainWindow, ToolDialogsRefuseUntilACardWasOpened) {
  QTest::mouseClick(byText<QPushButton>(QStringLiteral(u"高级设置")), Qt::LeftButton);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"设备未连接,请搜卡后双击列表中设备"}));
  EXPECT_EQ(user.shown()[0].title, "错误");
}

TEST_F(MainWindow, RecordDialogsRefuseWhileTheCopyMayHoldAChangeTheCardNeverGot) {
  window->state().setCardOpened();
  window->state().markRecordUnconfirmed();
  for (const char* button : {"高级设置", "主站请求配置"})
    QTest::mouseClick(byText<QPushButton>(QString::fromUtf8(button)), Qt::LeftButton);
  auto* target = qobject_cast<QComboBox*>(labelled(QStringLiteral(u"显示目标")));
  const int before = target->currentIndex();
  target->setCurrentIndex(target->count() - 1);
  emit target->activated(target->count() - 1);
  EXPECT_EQ(user.texts(), std::vector<std::string>(3, card::kMsgReadRecordAgain));
  EXPECT_EQ(target->currentIndex(), before);
  EXPECT_TRUE(command_->events().empty());
}

TEST_F(MainWindow, StartSearchesOpensTheLastCardAndSubmitSendsTheChange) {
  auto record = testing_support::MainFixture::CardRecord("192.168.1.20");
  const std::string bytes = testing_support::MainFixture::Bytes(record);
  search_->onSend([&](const std::string& line) {
    if (line == "query all_in_strut \n") search_->queueReply(bytes);
  });
  command_->onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") command_->queueReply(bytes);
  });
  window->show();
  window->Start();
  auto* list = window->findChild<QTableWidget*>();
  QTRY_COMPARE(list->rowCount(), 1);
  auto* width = qobject_cast<QLineEdit*>(labelled(QStringLiteral(u"像素宽点数")));
  QTRY_COMPARE(width->text(), QStringLiteral("128"));
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_EQ(list->item(0, 2)->text(), QStringLiteral("192.168.1.20"));
  EXPECT_TRUE(window->state().cardOpened());
  QTRY_VERIFY(byText<QPushButton>(QStringLiteral(u"提交更改"))->isEnabled());

  command_->clearEvents();
  width->setText(QStringLiteral("256"));
  QTest::mouseClick(byText<QPushButton>(QStringLiteral(u"提交更改")), Qt::LeftButton);
  QTRY_VERIFY(window->workers().WaitIdle(0));
  auto sent = command_->sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0].rfind("set Sys_Crc ", 0), 0u);
  EXPECT_EQ(sent[1], "set soft 256 64 \n");
  EXPECT_EQ(window->state().record().u16(card::rec::kWidth), 256);
  EXPECT_TRUE(user.shown().empty());
}

TEST_F(MainWindow, DoubleClickOpensTheRowsCard) {
  auto record = testing_support::MainFixture::CardRecord("192.168.1.33");
  command_->onSend([&](const std::string& line) {
    if (line == "query all_in_struct_tcp \n") command_->queueReply(testing_support::MainFixture::Bytes(record));
  });
  window->AppendRow(card::MakeDeviceListEntry(record, 1));
  auto* list = window->findChild<QTableWidget*>();
  // Refused, with a word to the user, while another operation runs.
  window->EnterBusy();
  emit list->cellDoubleClicked(0, 3);
  EXPECT_EQ(window->workers().running(), 0);
  EXPECT_EQ(window->state().selectedAddress(), "");
  EXPECT_EQ(user.texts(), (std::vector<std::string>{card::kMsgBusy}));
  window->LeaveBusy();
  emit list->cellDoubleClicked(0, 3);
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_EQ(window->state().selectedAddress(), "192.168.1.33");
  EXPECT_EQ(window->state().selectedSerial(), card::SerialText(record));
  EXPECT_EQ(qobject_cast<ui::Ipv4Edit*>(labelled(QStringLiteral(u"控制卡IP")))->text(), QStringLiteral("192.168.1.33"));
}

TEST_F(MainWindow, AnErrorAnOperationDidNotExpectIsSaidAndTheWindowGoesOn) {
  auto record = testing_support::MainFixture::CardRecord("192.168.1.33");
  bool fail = true;
  command_->onSend([&](const std::string& line) {
    if (fail) throw std::runtime_error("no space left on device");
    if (line == "query all_in_struct_tcp \n") command_->queueReply(testing_support::MainFixture::Bytes(record));
  });
  window->state().setLocalAddress("192.168.1.5");
  window->AppendRow(card::MakeDeviceListEntry(record, 1));
  auto* list = window->findChild<QTableWidget*>();
  emit list->cellDoubleClicked(0, 3);
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"操作出错，已停止：no space left on device"}));
  EXPECT_EQ(user.shown()[0].icon, card::Icon::Error);
  EXPECT_FALSE(window->busy());
  EXPECT_TRUE(byText<QPushButton>(QStringLiteral(u"搜索设备"))->isEnabled());
  // The next operation runs as usual.
  fail = false;
  emit list->cellDoubleClicked(0, 3);
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_EQ(qobject_cast<QLineEdit*>(labelled(QStringLiteral(u"像素宽点数")))->text(), QStringLiteral("128"));
}

TEST_F(MainWindow, LockCannotBeTickedForOldCardsHoweverItIsTicked) {
  auto record = testing_support::MainFixture::CardRecord("192.168.1.33", 16);
  window->state().setRecord(record);
  window->show();
  auto* lock = byText<QCheckBox>(QStringLiteral(u"锁定"));
  QTest::mouseClick(lock, Qt::LeftButton);
  EXPECT_FALSE(lock->isChecked());
  lock->setFocus();
  QTest::keyClick(lock, Qt::Key_Space);
  EXPECT_FALSE(lock->isChecked());
  // Assistive technology presses the box through its action interface.
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(lock);
  ASSERT_NE(a, nullptr);
  a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_FALSE(lock->isChecked());
  EXPECT_EQ(user.texts(), std::vector<std::string>(3, card::kMsgLockUnsupported));
  // Filling the panel from a locked old card shows the lock without a word.
  auto locked = record;
  locked.setU8(card::rec::kLock, 1);
  std::vector<std::string> messages;
  window->Write(card::FilledPanel(locked, window->Read(), card::FillVariant::Direct, &messages));
  EXPECT_TRUE(lock->isChecked());
  EXPECT_EQ(user.texts().size(), 3u);
  window->state().setRecord(testing_support::MainFixture::CardRecord("192.168.1.33", 17));
  lock->setChecked(false);
  QTest::mouseClick(lock, Qt::LeftButton);
  EXPECT_TRUE(lock->isChecked());
}
