// "更多目标设置" and "高级设置" as the user meets them: every control under
// its label and laid out whole, inputs held while the card is written, the
// recognition wizard's run, and the main window's hand-over and follow-on
// submit.
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

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "app/main_window.h"
#include "params/advanced_dialog.h"
#include "params/panel_driver_dialog.h"
#include "platform/codec.h"
#include "platform/text.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"
#include "support/main_fixture.h"
#include "support/temp_dir.h"
#include "wizard/wizard_dialog.h"

namespace {

namespace rec = card::rec;
using testing_support::FakeChannel;

// Hands every call to a fake that outlives the dialog owning the link.
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
  for (W* w : root->findChildren<W*>())
    if (w->text() == text) return w;
  return nullptr;
}
QPushButton* Button(QWidget* root, const char* text) { return ByText<QPushButton>(root, QString::fromUtf8(text)); }

// What assistive technology reads for a control: its own name and the texts
// of what labels it.
QStringList AccessibleNames(QWidget* w) {
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
  if (!a) return {};
  QStringList names{a->text(QAccessible::Name)};
  for (const auto& rel : a->relations(QAccessible::Label)) names << rel.first->text(QAccessible::Name);
  return names;
}
QString AccessibleName(QWidget* w) { return AccessibleNames(w).join(QLatin1Char('/')); }

// The control assistive technology finds under name.
QWidget* Find(QWidget* root, const char* name) {
  for (QWidget* w : root->findChildren<QWidget*>())
    if (!qobject_cast<QLabel*>(w) && !qobject_cast<QGroupBox*>(w) && AccessibleNames(w).contains(QString::fromUtf8(name)))
      return w;
  return nullptr;
}
QComboBox* Combo(QWidget* root, const char* name) { return qobject_cast<QComboBox*>(Find(root, name)); }

// Nothing smaller than its text needs, no two controls of a group on top of
// each other (tests/ui/shots.cpp draws them for a person to look at).
void ExpectLaidOutWhole(QWidget* dialog) {
  dialog->show();
  dialog->adjustSize();
  QCoreApplication::processEvents();
  QList<QWidget*> controls;
  for (QWidget* w : dialog->findChildren<QWidget*>())
    if (w->isVisible() && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                           qobject_cast<QComboBox*>(w) ||
                           (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget()))))
      controls << w;
  for (int i = 0; i < controls.size(); ++i) {
    const QSize need = controls[i]->minimumSizeHint();
    EXPECT_TRUE(controls[i]->width() >= need.width() && controls[i]->height() >= need.height())
        << AccessibleName(controls[i]).toStdString();
    for (int j = i + 1; j < controls.size(); ++j) {
      if (controls[i]->parentWidget() != controls[j]->parentWidget()) continue;
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << AccessibleName(controls[i]).toStdString() << " / " << AccessibleName(controls[j]).toStdString();
    }
  }
}

card::DeviceStatusRecord Opened() {
  auto r = testing_support::CardRecord("192.168.1.20");
  for (auto [off, v] : {std::pair<std::size_t, int>{rec::kIpMode, 1}, {rec::kFixedNetwork, 85}, {200, 32}, {202, 16},
                        {204, 8}, {205, 32}, {210, 1}})
    r.setU8(off, static_cast<std::uint8_t>(v));
  r.setSerialBytes(platform::Utf8ToGbk("2023显示屏一号0000000000"));
  r.updateChecksum();
  return r;
}

// The person at the sign during "智能识别": answers whatever wizard window is
// up with "是" and "1" point, or leaves it by `leave` ("close", "取消") at the
// nth question, or closes the countdown window then.
class Person : public QObject {
 public:
  Person() {
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start(2);
  }
  int leaveAt = 0, closeCountdownAt = 0, questions = 0;
  const char* leave = "";
  std::function<void(QWidget* dialog)> onThird;
  std::set<QString> titles;

 private:
  void Look() {
    QWidget* w = QApplication::activeModalWidget();
    auto* points = qobject_cast<card::Regonize_DHS*>(w);
    if (!qobject_cast<card::YesNoWindow*>(w) && !points) return;
    const auto countdowns = w->parentWidget()->findChildren<card::CCountdownDlg*>();
    titles.insert(w->windowTitle());
    for (auto* c : countdowns) titles.insert(c->windowTitle());
    if (++questions == 3 && onThird) onThird(w->parentWidget());
    if (questions == closeCountdownAt)
      for (auto* c : countdowns) c->reject();  // what its close box does
    if (questions == leaveAt && std::string(leave) == "close") return void(w->close());
    if (questions == leaveAt) return QTest::mouseClick(Button(w, leave), Qt::LeftButton);
    if (points) points->findChild<QComboBox*>()->setCurrentIndex(1);
    QTest::mouseClick(Button(w, points ? "确定" : "是"), Qt::LeftButton);
  }
  QTimer timer_;
};

class ParamsDialogs : public ::testing::Test {
 protected:
  ParamsDialogs() {
    card::WindowLinks links;
    auto command = std::make_unique<FakeChannel>(&clock);
    command_ = command.get();
    links.search = std::make_unique<FakeChannel>(&clock);
    links.command = std::move(command);
    links.file = std::make_unique<FakeChannel>(&clock);
    links.recovery = std::make_unique<FakeChannel>(&clock);
    links.makeLink = [this](int port) {
      ports.push_back(port);
      return std::make_unique<Forward>(wire);
    };
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), card::SysCfg(dir.file("SysCfg.ini")), cancellable,
                                                   processes, &user);
    window->show();
  }
  // The panel shows the card's record; opened: the card passed the checks.
  void Fill(bool opened) {
    if (opened) {
      window->state().setSelectedAddress("192.168.1.20");
      window->state().setCardOpened();
      window->state().setPanelRecordFrom("192.168.1.20");
    }
    window->state().setRecord(Opened());
    std::vector<std::string> messages;
    window->Write(card::FilledPanel(Opened(), window->Read(), card::FillVariant::Direct, &messages));
  }
  template <typename D>
  std::unique_ptr<D> Dialog() {
    Fill(true);
    auto d = std::make_unique<D>(window->toolEnv(), Opened(), std::make_unique<Forward>(wire), window.get());
    d->show();
    return d;
  }
  // Runs what on the modal dialog D once it is up.
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
        ADD_FAILURE() << "unexpected dialog " << d->windowTitle().toStdString();
        d->reject();
      }
    });
  }
  void ChooseTarget(int index) {
    Combo(window.get(), "显示目标")->setCurrentIndex(index);
    emit Combo(window.get(), "显示目标")->activated(index);
    QCoreApplication::processEvents();
  }

  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  FakeChannel* command_ = nullptr;
  FakeChannel wire{&clock};  // what the dialogs' links send
  std::vector<int> ports;
  std::unique_ptr<card::CCardSetupDlg> window;
};

}  // namespace

TEST_F(ParamsDialogs, EveryControlUnderItsLabelLaidOutWholeAndUnusedOnesDisabled) {
  auto driver = Dialog<card::CELL_PARA>();
  for (const auto& [label, count] : {std::pair<const char*, int>{"单元板长点数", 18}, {"单元板高点数", 18},
                                     {"扫描行数", 10}, {"扫描芯片", 24}, {"折线点数", 6}, {"U型折线", 2},
                                     {"DZ型折线", 6}, {"蛇形方向", 2}, {"折线行数", 4}, {"行列转换点数", 5}}) {
    ASSERT_NE(Combo(driver.get(), label), nullptr) << label;
    EXPECT_EQ(Combo(driver.get(), label)->count(), count) << label;
  }
  EXPECT_EQ(Combo(driver.get(), "单元板长点数")->currentText(), QStringLiteral("32"));
  EXPECT_NE(ByText<QLabel>(driver.get(), QString::fromUtf8(card::kPanelDriverNote)), nullptr);
  ExpectLaidOutWhole(driver.get());
  // "智能识别" waits for the recognition wizard to be plugged in.
  EXPECT_FALSE(Button(driver.get(), "智能识别")->isEnabled());
  int calls = 0;
  driver->SetRecognitionHook([&](card::CELL_PARA& d) { calls += d.values().width == 4; });
  QTest::mouseClick(Button(driver.get(), "智能识别"), Qt::LeftButton);
  EXPECT_EQ(calls, 1);

  auto advanced = Dialog<card::MoreSetting>();
  for (const auto& [label, count] : {std::pair<const char*, int>{"数据位", 2}, {"停止位", 3}, {"校验位", 5},
                                     {"是否监测心跳", 2}, {"心跳间隔(秒）", 60}, {"小时", 24}, {"分钟", 60},
                                     {"秒数", 60}, {"服务请求间隔", 0}, {"启动是否延时", 2}, {"启动延时(秒)", 60},
                                     {"是否启动心跳", 2}, {"心跳包间隔(秒)", 60}, {"modbus存储", 2}, {"正反向选择", 2},
                                     {"蓝色开关", 2}, {"语音开关", 2}, {"脚本启动", 2}, {"主从模式", 3},
                                     {"主X分割线", 60}, {"主Y分割线", 60}, {"开启时间", 0}, {"关闭时间 秒", 0}}) {
    ASSERT_NE(Combo(advanced.get(), label), nullptr) << label;
    EXPECT_EQ(Combo(advanced.get(), label)->count(), count) << label;
  }
  for (const char* name : {"网关", "子网掩码", "DNS", "起始计数值1", "起始计数值5", "MAC设置 1", "MAC设置 6",
                           "设备名设置", "启用日重启", "启用固定设置", "启用开关屏", "确定", "取消"})
    EXPECT_NE(Find(advanced.get(), name), nullptr) << name;
  EXPECT_EQ(qobject_cast<QLineEdit*>(Find(advanced.get(), "设备名设置"))->text(),
            QStringLiteral(u"2023显示屏一号0000000000"));
  for (const char* unused : {"服务请求间隔", "启用开关屏", "开启时间"})
    EXPECT_FALSE(Find(advanced.get(), unused)->isEnabled()) << unused;
  ExpectLaidOutWhole(advanced.get());
}

TEST_F(ParamsDialogs, AdvancedOkHoldsTheFormAndARefusedNameKeepsItOpen) {
  auto d = Dialog<card::MoreSetting>();
  Combo(d.get(), "蓝色开关")->setCurrentIndex(1);
  auto* name = qobject_cast<QLineEdit*>(Find(d.get(), "设备名设置"));
  name->setText(QStringLiteral("2023short"));
  QTest::mouseClick(Button(d.get(), "确定"), Qt::LeftButton);
  for (const char* held : {"数据位", "起始计数值1", "确定"}) EXPECT_FALSE(Find(d.get(), held)->isEnabled()) << held;
  EXPECT_TRUE(Button(d.get(), "取消")->isEnabled());
  d->WaitForOperation();
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"提示:设备名长度为9,长度必须24个字节，以2023开头！！\n"}));
  EXPECT_EQ(d->record().u8(rec::kBlueSwitch), 85);
  EXPECT_TRUE(Find(d.get(), "数据位")->isEnabled());
  name->setText(QStringLiteral("2023ABCDEFGHIJKLMNOPQRST"));
  QTest::mouseClick(Button(d.get(), "确定"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!d->isVisible(), 3000);
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_EQ(d->record().serialBytes(), "2023ABCDEFGHIJKLMNOPQRST");
}

TEST_F(ParamsDialogs, FixedSettingsClickGoesToTheCardOrComesBack) {
  auto d = Dialog<card::MoreSetting>();
  auto* fixed = qobject_cast<QCheckBox*>(Find(d.get(), "启用固定设置"));
  QTest::mouseClick(fixed, Qt::LeftButton);
  d->WaitForOperation();
  ASSERT_FALSE(wire.sent().empty());
  EXPECT_EQ(wire.sent().back(), "set local_ip_user  0  \n");
  wire.queueConnectResult(-1);
  QTest::mouseClick(fixed, Qt::LeftButton);
  d->WaitForOperation();
  EXPECT_FALSE(fixed->isChecked()) << "the box goes back";
  EXPECT_EQ(d->record().u8(rec::kFixedNetwork), 0);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"连接设备失败"}));
  EXPECT_FALSE(Find(d.get(), "网关")->isEnabled());

  // Ticked through assistive technology, which toggles without a click: the
  // same line goes out, and the fields follow the box.
  wire.clearEvents();
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(fixed);
  ASSERT_NE(a->actionInterface(), nullptr);
  a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  d->WaitForOperation();
  EXPECT_TRUE(fixed->isChecked());
  ASSERT_FALSE(wire.sent().empty());
  EXPECT_EQ(wire.sent().back(), "set local_ip_user  85  \n");
  EXPECT_EQ(d->record().u8(rec::kFixedNetwork), 85);
  EXPECT_TRUE(Find(d.get(), "网关")->isEnabled());
}

TEST_F(ParamsDialogs, AdvancedRefusesAnEmptiedMaskAndSaysWhatACancelLeftSent) {
  auto d = Dialog<card::MoreSetting>();
  auto* mask = qobject_cast<QLineEdit*>(Find(d.get(), "子网掩码"));
  mask->clear();
  QTest::mouseClick(Button(d.get(), "确定"), Qt::LeftButton);
  d->WaitForOperation();
  EXPECT_EQ(user.texts().back(), platform::Format(card::kMsgAddressIncomplete, "子网掩码"));
  EXPECT_TRUE(wire.events().empty());
  EXPECT_TRUE(d->isVisible());

  // A new mask and two switches; "取消" while the third line goes out: the
  // worker holds there until the dialog is closing.
  mask->setText(QStringLiteral("255.255.0.0"));
  for (const char* list : {"蓝色开关", "脚本启动"}) Combo(d.get(), list)->setCurrentIndex(1);
  std::atomic<int> lines{0};
  std::atomic<bool> released{false};
  wire.onSend([&](const std::string& s) {
    if (s.rfind("set Sys_Crc", 0) == 0 || ++lines != 3) return;
    for (int i = 0; i < 300 && !released; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  QTest::mouseClick(Button(d.get(), "确定"), Qt::LeftButton);
  // Short waits: the window's events never run out, so one long wait would
  // not look at the count until it ends.
  for (int i = 0; i < 300 && lines.load() < 3; ++i) QTest::qWait(10);
  ASSERT_EQ(lines.load(), 3);
  EXPECT_TRUE(Button(d.get(), "取消")->isEnabled());
  QTimer::singleShot(20, [&] { released = true; });
  QTest::mouseClick(Button(d.get(), "取消"), Qt::LeftButton);
  wire.onSend({});
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(user.texts().back(), "设置已取消：已发送 3/4 项，其余设置没有发送。");
  EXPECT_EQ(lines.load(), 3);
  EXPECT_EQ(d->record().u8(rec::kScriptStart) * 1000 + d->record().u8(rec::kBlueSwitch), 85000);
}

TEST_F(ParamsDialogs, MoreTargetsCancelledStillHandsBackAndSubmitsTheTarget) {
  Fill(true);
  qobject_cast<QLineEdit*>(Find(window.get(), "像素宽点数"))->setText(QStringLiteral("999"));
  WhenShown<card::CELL_PARA>([](card::CELL_PARA* d) { QTest::mouseClick(Button(d, "取消"), Qt::LeftButton); });
  ChooseTarget(22);
  EXPECT_EQ(ports, (std::vector<int>{1002}));
  QTRY_VERIFY(window->workers().WaitIdle(0));
  EXPECT_TRUE(wire.sent().empty());
  // The panel took the record's size back; only the target's code word differs.
  EXPECT_EQ(window->Read().widthText, "128");
  auto sent = command_->sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1], "set chrct machine 88ff \n");
  EXPECT_EQ(sent[2].rfind("set time ", 0), 0u) << "then the network and clock steps";
  EXPECT_EQ(window->state().record().u16(rec::kCodeWord), 0x88FF);
}

TEST_F(ParamsDialogs, MoreTargetsWhileBusyOrBeforeACardIsIgnoredAndTheListGoesBack) {
  Fill(false);
  ChooseTarget(5);  // the user picks another target first
  RefuseAnyDialog();
  ChooseTarget(22);
  EXPECT_EQ(Combo(window.get(), "显示目标")->currentIndex(), 5);
  EXPECT_EQ(user.texts(), (std::vector<std::string>{"设备未连接,请搜卡后双击列表中设备"}));
  Fill(true);
  window->EnterBusy();
  RefuseAnyDialog();
  ChooseTarget(22);
  EXPECT_EQ(Combo(window.get(), "显示目标")->currentIndex(), 0);
  EXPECT_TRUE(ports.empty());
  window->LeaveBusy();
}

TEST_F(ParamsDialogs, AdvancedSettingsHandTheCopyBackAfterOk) {
  Fill(true);
  WhenShown<card::MoreSetting>([](card::MoreSetting* d) {
    Combo(d, "语音开关")->setCurrentIndex(1);
    QTest::mouseClick(Button(d, "确定"), Qt::LeftButton);
  });
  QTest::mouseClick(Button(window.get(), "高级设置"), Qt::LeftButton);
  EXPECT_EQ(wire.events().front().bytes, "192.168.1.20");
  EXPECT_EQ(wire.sent().back(), "set SFE_Disable  85    \n");
  EXPECT_EQ(window->state().record().u8(rec::kVoiceSwitch), 85);
  EXPECT_FALSE(window->busy());
}

TEST_F(ParamsDialogs, RecognisedFromTheMainWindowTheSubmitStartsAfterTheRunsLastLine) {
  Fill(true);
  std::mutex mutex;
  std::vector<std::string> lines;  // both links' lines in one order
  for (auto [link, port] : {std::pair{&wire, "1002 "}, std::pair{command_, "1001 "}})
    link->onSend([&, port = std::string(port)](const std::string& s) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(port + s);
    });
  Person person;
  QStringList held;
  person.onThird = [&held](QWidget* d) {
    for (auto* w : d->findChildren<QWidget*>())
      if ((qobject_cast<QPushButton*>(w) || qobject_cast<QComboBox*>(w)) && !w->isEnabled()) held << w->objectName();
  };
  WhenShown<card::CELL_PARA>([](card::CELL_PARA* d) {
    ASSERT_TRUE(Button(d, "智能识别")->isEnabled()) << "the main window plugs the wizard in";
    QTest::mouseClick(Button(d, "智能识别"), Qt::LeftButton);
  });
  ChooseTarget(22);
  QTRY_VERIFY_WITH_TIMEOUT(window->workers().WaitIdle(0) && !window->busy(), 10000);
  for (FakeChannel* link : {&wire, command_}) link->onSend({});
  EXPECT_EQ(held.size(), 13) << "three buttons, \"取消\" too, and ten lists";
  EXPECT_EQ(person.titles, (std::set<QString>{QStringLiteral(u"屏幕参数识别"), QStringLiteral(u"观察区域的亮点是否连续"),
                                              QStringLiteral(u"折线行数识别"), QStringLiteral(u"蛇形方向识别"),
                                              QStringLiteral(u"智能识别中")}));
  EXPECT_EQ(user.texts().back(), card::kMsgRecognised);
  const auto restore = std::find(lines.begin(), lines.end(), "1002 set ld 20");
  const auto submit = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("1001 ", 0) == 0; });
  ASSERT_NE(restore, lines.end());
  EXPECT_EQ(std::distance(lines.begin(), restore) + 1, std::distance(lines.begin(), submit))
      << "the dialog closed, and the submit began, once the brightness was back";
  EXPECT_EQ(window->state().record().u8(rec::kScan), 16);
  EXPECT_EQ(window->state().record().u16(rec::kCodeWord), 0x88FF);
  EXPECT_EQ(window->Read().widthText, "32");
}

TEST_F(ParamsDialogs, AClosedWizardWindowStopsTheRunAndTheDialogStaysOpen) {
  struct Way {
    const char* leave;
    int at, countdownAt;
  };
  for (const Way& way : {Way{"close", 2, 0}, Way{"取消", 3, 0}, Way{"", 0, 3}}) {
    SCOPED_TRACE(way.leave);
    auto d = Dialog<card::CELL_PARA>();
    d->SetRecognitionHook(&card::StartRecognition);
    // The person chose the module; "折线行数" had no item for the card's value.
    Combo(d.get(), "单元板长点数")->setCurrentIndex(8);
    Combo(d.get(), "折线行数")->setCurrentIndex(-1);
    card::PanelDriverValues before = d->values();
    Person person;
    person.leave = way.leave;
    person.leaveAt = way.at;
    person.closeCountdownAt = way.countdownAt;
    QTest::mouseClick(Button(d.get(), "智能识别"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->operationRunning(), 10000);
    EXPECT_TRUE(d->isVisible());
    // The card's settings put back, the card restarted out of recognition
    // mode, the person told; the lists as before, the empty one showing the
    // record's value again.
    EXPECT_EQ(wire.sent().back(), "reset \n");
    EXPECT_EQ(d->record(), Opened());
    EXPECT_EQ(user.texts().back(), card::kMsgRestored);
    before.foldRows = card::PanelDriverFromRecord(Opened()).foldRows;
    EXPECT_EQ(d->values(), before);
    EXPECT_EQ(person.questions, 3 - (way.at == 2)) << "the one up when the countdown closed is the last";
    for (const char* b : {"智能识别", "固化到设备", "取消"}) EXPECT_TRUE(Button(d.get(), b)->isEnabled()) << b;
  }
}
