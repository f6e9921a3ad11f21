// "更多目标设置" and "高级设置" as the user meets them: every control under
// its label, the fill, inputs held while the card is written, and the main
// window's hand-over and follow-on submit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/main_window.h"
#include "params/advanced_dialog.h"
#include "platform/codec.h"
#include "params/panel_driver_dialog.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "ui/ipv4_edit.h"

namespace {

namespace rec = card::rec;
using testing_support::FakeChannel;

// A link that hands every call to a fake the test keeps after the dialog
// that owned the link is gone.
class Forward : public card::Channel {
 public:
  explicit Forward(FakeChannel& to) : to_(to) {}
  bool exists() const override { return true; }
  int Connect(const std::string& a) override { return to_.Connect(a); }
  void Disconnect() override { to_.Disconnect(); }
  int Send(const void* d, std::size_t n) override { return to_.Send(d, n); }
  int Receive(void* b, std::size_t c, std::size_t* n) override { return to_.Receive(b, c, n); }
  void BeginExchange() override { to_.BeginExchange(); }
  void EndExchange() override { to_.EndExchange(); }

 private:
  FakeChannel& to_;
};

template <typename W>
W* ByText(QWidget* root, const QString& text) {
  for (W* w : root->findChildren<W*>()) {
    if constexpr (std::is_same_v<W, QGroupBox>) {
      if (w->title() == text) return w;
    } else if (w->text() == text) {
      return w;
    }
  }
  return nullptr;
}

QWidget* Labelled(QWidget* root, const QString& text) {
  for (QLabel* l : root->findChildren<QLabel*>())
    if (l->text() == text) return l->buddy();
  return nullptr;
}

QWidget* Named(QWidget* root, const QString& name) {
  for (QWidget* w : root->findChildren<QWidget*>())
    if (w->accessibleName() == name) return w;
  return nullptr;
}

// What assistive technology reads as the field's name: its label, or its own name.
QString AccessibleName(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  if (!a) return {};
  for (const auto& rel : a->relations(QAccessible::Label)) return rel.first->text(QAccessible::Name);
  return a->text(QAccessible::Name);
}

QComboBox* Combo(QWidget* root, const char* label) { return qobject_cast<QComboBox*>(Labelled(root, QString::fromUtf8(label))); }

card::DeviceStatusRecord Opened() {
  auto r = testing_support::CardRecord("192.168.1.20");
  r.setU8(rec::kIpMode, 1);
  r.setU8(rec::kFixedNetwork, 85);
  r.setU8(200, 32);
  r.setU8(202, 16);
  r.setU8(204, 8);
  r.setU8(205, 32);
  r.setU8(210, 1);
  r.updateChecksum();
  return r;
}

class DialogTest : public ::testing::Test {
 protected:
  platform::ScaledClock clock{0.02};  // 2500 ms pass in 50
  testing_support::TempDir dir;
  card::MainState state;
  testing_support::FakeProcesses processes;
  card::Siblings siblings{processes, dir.path() + "/"};
  platform::VirtualClock stamps;
  testing_support::FakeUser user{&stamps};
  card::ToolEnv env{{}, clock, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, nullptr};
  FakeChannel wire{&stamps};
  DialogTest() { state.setSelectedAddress("192.168.1.20"); }
};

}  // namespace

TEST_F(DialogTest, PanelDriverDialogLabelsEveryListAndKeepsRecognitionForItsHook) {
  const auto record = Opened();
  card::CELL_PARA d(env, record, std::make_unique<Forward>(wire));
  EXPECT_EQ(d.windowTitle(), QStringLiteral(u"更多目标设置"));
  const std::pair<const char*, int> lists[] = {{"单元板长点数", 18}, {"单元板高点数", 18}, {"扫描行数", 10},
                                               {"扫描芯片", 24},     {"折线点数", 6},      {"U型折线", 2},
                                               {"DZ型折线", 6},      {"蛇形方向", 2},      {"折线行数", 4},
                                               {"行列转换点数", 5}};
  for (const auto& [label, count] : lists) {
    QComboBox* c = Combo(&d, label);
    ASSERT_NE(c, nullptr) << label;
    EXPECT_EQ(c->count(), count) << label;
    EXPECT_EQ(AccessibleName(c), QString::fromUtf8(label));
  }
  EXPECT_EQ(Combo(&d, "单元板长点数")->currentText(), QStringLiteral("32"));
  EXPECT_EQ(Combo(&d, "扫描行数")->currentText(), QStringLiteral("1/8"));
  EXPECT_EQ(Combo(&d, "DZ型折线")->currentText(), QStringLiteral(u"无"));
  EXPECT_NE(ByText<QGroupBox>(&d, QStringLiteral(u"目标属性")), nullptr);
  EXPECT_NE(ByText<QLabel>(&d, QString::fromUtf8(card::kPanelDriverNote)), nullptr);
  EXPECT_EQ(d.record(), record);

  QPushButton* recognize = ByText<QPushButton>(&d, QStringLiteral(u"智能识别"));
  ASSERT_NE(recognize, nullptr);
  EXPECT_FALSE(recognize->isEnabled());
  int calls = 0;
  d.SetRecognitionHook([&](card::CELL_PARA& dialog) {
    ++calls;
    EXPECT_EQ(dialog.values().width, 4);
    EXPECT_EQ(dialog.address(), "192.168.1.20");
  });
  EXPECT_TRUE(recognize->isEnabled());
  QTest::mouseClick(recognize, Qt::LeftButton);
  EXPECT_EQ(calls, 1);
}

TEST_F(DialogTest, PanelDriverSaveHoldsTheListsThenClosesWithTheCopyTheCardGot) {
  card::CELL_PARA d(env, Opened(), std::make_unique<Forward>(wire));
  d.show();
  Combo(&d, "单元板长点数")->setCurrentIndex(8);
  QTest::mouseClick(ByText<QPushButton>(&d, QStringLiteral(u"固化到设备")), Qt::LeftButton);
  EXPECT_TRUE(d.operationRunning());
  EXPECT_FALSE(Combo(&d, "扫描芯片")->isEnabled());
  EXPECT_FALSE(ByText<QPushButton>(&d, QStringLiteral(u"固化到设备"))->isEnabled());
  EXPECT_TRUE(ByText<QPushButton>(&d, QStringLiteral(u"取消"))->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 3000);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.record().u8(200), 64);
  ASSERT_EQ(wire.sent().size(), 2u);
  EXPECT_EQ(wire.sent()[1], "set ledpara  64 16 16 32 1 8 0 0 0 0 0 0 0 \n");
}

TEST_F(DialogTest, PanelDriverStaysOpenWhenTheCardCannotBeReached) {
  card::CELL_PARA d(env, Opened(), std::make_unique<Forward>(wire));
  d.show();
  wire.queueConnectResult(-1);
  QTest::mouseClick(ByText<QPushButton>(&d, QStringLiteral(u"固化到设备")), Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_TRUE(Combo(&d, "扫描芯片")->isEnabled());
}

TEST_F(DialogTest, AdvancedDialogLabelsEveryControlAndShowsUnusedOnesDisabled) {
  auto record = Opened();
  record.setU16(rec::kDailyRestart, 85);
  record.setU16(rec::kRestartHour, 4);
  card::MoreSetting d(env, record, std::make_unique<Forward>(wire));
  EXPECT_EQ(d.windowTitle(), QStringLiteral(u"高级设置"));
  for (const char* group : {"485设置", "设定每日重启", "网卡设置", "服务设置", "Modbus", "日累加设置", "MAC设置",
                            "设备名设置", "功能使能", "主从卡模式", "显示定时开关"})
    EXPECT_NE(ByText<QGroupBox>(&d, QString::fromUtf8(group)), nullptr) << group;
  const std::pair<const char*, int> lists[] = {
      {"数据位", 2},        {"停止位", 3},       {"校验位", 5},        {"是否监测心跳", 2},  {"心跳间隔(秒）", 60},
      {"小时", 24},         {"分钟", 60},        {"秒数", 60},         {"服务请求间隔", 0},  {"启动是否延时", 2},
      {"启动延时(秒)", 60}, {"是否启动心跳", 2}, {"心跳包间隔(秒)", 60}, {"modbus存储", 2},  {"正反向选择", 2},
      {"蓝色开关", 2},      {"语音开关", 2},     {"脚本启动", 2},      {"主从模式", 3},      {"主X分割线", 60},
      {"主Y分割线", 60}};
  for (const auto& [label, count] : lists) {
    QComboBox* c = Combo(&d, label);
    ASSERT_NE(c, nullptr) << label;
    EXPECT_EQ(c->count(), count) << label;
    EXPECT_EQ(AccessibleName(c), QString::fromUtf8(label));
  }
  for (const char* label : {"网关", "子网掩码", "DNS", "起始计数值1", "起始计数值5", "开启时间", "关闭时间"})
    EXPECT_NE(Labelled(&d, QString::fromUtf8(label)), nullptr) << label;
  for (int i = 1; i <= 6; ++i) EXPECT_NE(Named(&d, QStringLiteral(u"MAC设置 %1").arg(i)), nullptr) << i;
  EXPECT_NE(Named(&d, QStringLiteral(u"设备名设置")), nullptr);
  EXPECT_NE(ByText<QLabel>(&d, QStringLiteral(u"名字2023开头，长度必须24个字节！！！")), nullptr);
  EXPECT_EQ(Combo(&d, "主X分割线")->itemText(59), QStringLiteral("1888"));

  EXPECT_FALSE(Combo(&d, "服务请求间隔")->isEnabled());
  EXPECT_FALSE(ByText<QCheckBox>(&d, QStringLiteral(u"启用开关屏"))->isEnabled());
  EXPECT_FALSE(Labelled(&d, QStringLiteral(u"开启时间"))->isEnabled());
  EXPECT_EQ(Combo(&d, "小时")->currentText(), QStringLiteral("04"));
  EXPECT_TRUE(ByText<QCheckBox>(&d, QStringLiteral(u"启用固定设置"))->isChecked());
  EXPECT_TRUE(Labelled(&d, QStringLiteral(u"网关"))->isEnabled());

  // A card that takes its address automatically cannot use fixed settings.
  record.setU8(rec::kIpMode, 2);
  card::MoreSetting automatic(env, record, std::make_unique<Forward>(wire));
  auto* fixed = ByText<QCheckBox>(&automatic, QStringLiteral(u"启用固定设置"));
  EXPECT_FALSE(fixed->isEnabled());
  EXPECT_FALSE(fixed->isChecked());
  EXPECT_FALSE(Labelled(&automatic, QStringLiteral(u"网关"))->isEnabled());
}

TEST_F(DialogTest, AdvancedOkHoldsTheFormAndARefusedNameKeepsItOpen) {
  card::MoreSetting d(env, Opened(), std::make_unique<Forward>(wire));
  d.show();
  Combo(&d, "蓝色开关")->setCurrentIndex(1);
  qobject_cast<QLineEdit*>(Named(&d, QStringLiteral(u"设备名设置")))->setText(QStringLiteral("2023short"));
  QTest::mouseClick(ByText<QPushButton>(&d, QStringLiteral(u"确定")), Qt::LeftButton);
  EXPECT_TRUE(d.operationRunning());
  for (QWidget* w : std::initializer_list<QWidget*>{Combo(&d, "数据位"), Labelled(&d, QStringLiteral(u"起始计数值1")),
                                                    ByText<QPushButton>(&d, QStringLiteral(u"确定"))})
    EXPECT_FALSE(w->isEnabled());
  d.WaitForOperation();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"提示:设备名长度为9,长度必须24个字节，以2023开头！！\n"}));
  EXPECT_EQ(d.record().u8(rec::kBlueSwitch), 85);
  EXPECT_TRUE(Combo(&d, "数据位")->isEnabled());
  EXPECT_FALSE(wire.connected());

  // With the name put right the next "确定" closes it.
  qobject_cast<QLineEdit*>(Named(&d, QStringLiteral(u"设备名设置")))->setText(QStringLiteral("2023ABCDEFGHIJKLMNOPQRST"));
  QTest::mouseClick(ByText<QPushButton>(&d, QStringLiteral(u"确定")), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 3000);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.record().serialBytes(), "2023ABCDEFGHIJKLMNOPQRST");
}

TEST_F(DialogTest, FixedSettingsClickGoesToTheCardOrComesBack) {
  card::MoreSetting d(env, Opened(), std::make_unique<Forward>(wire));
  d.show();
  auto* fixed = ByText<QCheckBox>(&d, QStringLiteral(u"启用固定设置"));
  QTest::mouseClick(fixed, Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_FALSE(fixed->isChecked());
  EXPECT_EQ(d.record().u8(rec::kFixedNetwork), 0);
  EXPECT_EQ(wire.sent().back(), "set local_ip_user  0  \n");
  EXPECT_FALSE(Labelled(&d, QStringLiteral(u"网关"))->isEnabled());

  wire.queueConnectResult(-1);
  QTest::mouseClick(fixed, Qt::LeftButton);
  d.WaitForOperation();
  EXPECT_FALSE(fixed->isChecked()) << "the box goes back";
  EXPECT_EQ(d.record().u8(rec::kFixedNetwork), 0);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_FALSE(Labelled(&d, QStringLiteral(u"网关"))->isEnabled());
}

namespace {

class WindowDialogs : public ::testing::Test {
 protected:
  WindowDialogs() {
    card::WindowLinks links;
    auto command = std::make_unique<FakeChannel>(&clock);
    command_ = command.get();
    links.search = std::make_unique<FakeChannel>(&clock);
    links.command = std::move(command);
    links.file = std::make_unique<FakeChannel>(&clock);
    links.recovery = std::make_unique<FakeChannel>(&clock);
    links.makeLink = [this](int port) {
      ports.push_back(port);
      return std::make_unique<Forward>(dialogLink);
    };
    card::SysCfg cfg(dir.file("SysCfg.ini"));
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), cfg, cancellable, processes, &user);
    window->show();
  }
  ~WindowDialogs() override { window.reset(); }

  // The card is open: the panel shows its record.
  void Open(const card::DeviceStatusRecord& r) {
    window->state().setSelectedAddress("192.168.1.20");
    window->state().setCardOpened();
    window->state().setRecord(r);
    window->state().setPanelRecordFrom("192.168.1.20");
    std::vector<std::string> messages;
    window->Write(card::FilledPanel(r, window->Read(), card::FillVariant::Direct, &messages));
  }
  // Runs what on the modal dialog as soon as it is shown.
  template <typename D>
  static void WhenShown(std::function<void(D*)> what, int triesLeft = 200) {
    QTimer::singleShot(10, [what, triesLeft] {
      if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) return what(d);
      if (triesLeft > 0) return WhenShown<D>(what, triesLeft - 1);
      ADD_FAILURE() << "the dialog did not come up";
    });
  }
  // A dialog that must not come up fails the test instead of waiting for a user.
  static void RefuseAnyDialog() {
    QTimer::singleShot(0, [] {
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "a dialog came up: " << d->windowTitle().toStdString();
        d->reject();
      }
    });
  }
  QComboBox* Target() { return Combo(window.get(), "显示目标"); }
  void ChooseTarget(int index) {
    Target()->setCurrentIndex(index);
    emit Target()->activated(index);
  }

  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  FakeChannel* command_ = nullptr;
  FakeChannel dialogLink{&clock};
  std::vector<int> ports;
  std::unique_ptr<card::CCardSetupDlg> window;
};

}  // namespace

TEST_F(WindowDialogs, MoreTargetsOpensTheDialogAndCancelStillHandsBackAndSubmits) {
  Open(Opened());
  ASSERT_EQ(Target()->currentIndex(), 0);
  WhenShown<card::CELL_PARA>([](card::CELL_PARA* d) {
    EXPECT_TRUE(d->isModal());
    QTest::mouseClick(ByText<QPushButton>(d, QStringLiteral(u"取消")), Qt::LeftButton);
  });
  ChooseTarget(22);
  EXPECT_EQ(ports, (std::vector<int>{1002}));
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_TRUE(dialogLink.sent().empty());
  // The follow-on submit: the target's code word, and nothing else differs.
  auto sent = command_->sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[1], "set chrct machine 88ff \n");
  EXPECT_EQ(window->state().record().u16(rec::kCodeWord), 0x88FF);
  EXPECT_EQ(Target()->currentIndex(), 22);
}

TEST_F(WindowDialogs, SavedDriverParametersReachThePanelAndTheSubmit) {
  auto r = Opened();
  r.setU8(rec::kModuleWidth, 0);  // shows 64, goes out as 64
  r.updateChecksum();
  Open(r);
  qobject_cast<QLineEdit*>(Labelled(window.get(), QStringLiteral(u"像素宽点数")))->setText(QStringLiteral("999"));
  WhenShown<card::CELL_PARA>([](card::CELL_PARA* d) {
    QTest::mouseClick(ByText<QPushButton>(d, QStringLiteral(u"固化到设备")), Qt::LeftButton);
  });
  ChooseTarget(22);
  QTRY_VERIFY(window->workers().WaitIdle(0));
  ASSERT_EQ(dialogLink.sent().size(), 2u);
  EXPECT_EQ(dialogLink.sent()[1], "set ledpara  64 16 16 32 1 8 0 0 0 0 0 0 0 \n");
  EXPECT_EQ(window->state().record().u8(rec::kModuleWidth), 64);
  // The panel shows the record's width again, so the submit leaves it.
  EXPECT_EQ(window->Read().widthText, "128");
  for (const auto& line : command_->sent()) EXPECT_EQ(line.rfind("set soft", 0), std::string::npos) << line;
}

TEST_F(WindowDialogs, MoreTargetsWhileBusyOrBeforeACardIsIgnoredAndTheListGoesBack) {
  window->state().setRecord(Opened());
  std::vector<std::string> messages;
  window->Write(card::FilledPanel(Opened(), window->Read(), card::FillVariant::Direct, &messages));
  ChooseTarget(5);  // the user picks another target first
  RefuseAnyDialog();
  ChooseTarget(22);
  EXPECT_EQ(Target()->currentIndex(), 5);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"设备未连接,请搜卡后双击列表中设备"}));
  Open(Opened());
  window->EnterBusy();
  RefuseAnyDialog();
  ChooseTarget(22);
  QCoreApplication::processEvents();
  EXPECT_EQ(Target()->currentIndex(), 0);
  EXPECT_TRUE(ports.empty());
  window->LeaveBusy();
}

TEST_F(WindowDialogs, AdvancedSettingsHandTheCopyBackAfterOk) {
  Open(Opened());
  WhenShown<card::MoreSetting>([](card::MoreSetting* d) {
    Combo(d, "语音开关")->setCurrentIndex(1);
    QTest::mouseClick(ByText<QPushButton>(d, QStringLiteral(u"确定")), Qt::LeftButton);
  });
  QTest::mouseClick(ByText<QPushButton>(window.get(), QStringLiteral(u"高级设置")), Qt::LeftButton);
  EXPECT_EQ(ports, (std::vector<int>{1002}));
  EXPECT_EQ(dialogLink.events().front().bytes, "192.168.1.20");
  EXPECT_EQ(dialogLink.sent().back(), "set SFE_Disable  85    \n");
  EXPECT_EQ(window->state().record().u8(rec::kVoiceSwitch), 85);
  EXPECT_FALSE(window->busy());
  EXPECT_TRUE(command_->sent().empty()) << "no submit after the advanced settings";
}

namespace {

// Every label, box, button and list at least as large as its text needs, and
// no two controls of one group on top of each other.
void ExpectNothingClippedOrOverlapping(QWidget* dialog) {
  QList<QWidget*> controls;
  for (QWidget* w : dialog->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
        (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget())))
      controls << w;
  }
  for (QWidget* w : controls) {
    const QSize need = w->minimumSizeHint();
    EXPECT_GE(w->width(), need.width()) << w->metaObject()->className() << " " << AccessibleName(w).toStdString();
    EXPECT_GE(w->height(), need.height()) << w->metaObject()->className() << " " << AccessibleName(w).toStdString();
  }
  for (int i = 0; i < controls.size(); ++i)
    for (int j = i + 1; j < controls.size(); ++j) {
      if (controls[i]->parentWidget() != controls[j]->parentWidget()) continue;
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << AccessibleName(controls[i]).toStdString() << " / " << AccessibleName(controls[j]).toStdString();
    }
}

// CARD_SHOTS_DIR set: the dialog is also saved there as a picture.
void Shoot(QWidget* dialog, const char* name) {
  const QByteArray dir = qgetenv("CARD_SHOTS_DIR");
  if (dir.isEmpty()) return;
  EXPECT_TRUE(dialog->grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QString::fromUtf8(name)));
}

}  // namespace

TEST_F(DialogTest, BothDialogsLayOutWithoutClippingOrOverlap) {
  auto record = Opened();
  record.setSerialBytes(platform::Utf8ToGbk("2023显示屏一号0000000000"));
  card::CELL_PARA driver(env, record, std::make_unique<Forward>(wire));
  driver.show();
  driver.adjustSize();
  QCoreApplication::processEvents();
  ExpectNothingClippedOrOverlapping(&driver);
  Shoot(&driver, "panel_driver.png");

  card::MoreSetting advanced(env, record, std::make_unique<Forward>(wire));
  advanced.show();
  advanced.adjustSize();
  QCoreApplication::processEvents();
  ExpectNothingClippedOrOverlapping(&advanced);
  Shoot(&advanced, "advanced.png");
}
