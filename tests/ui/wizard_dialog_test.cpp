// "智能识别" as the installer meets it: the windows and what each way of
// leaving them answers, the panel driver dialog held while the run goes on
// its worker, a closed window that stops the run with the brightness back,
// and from the main window a recognised module handed back and submitted
// only after the run's last line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <mutex>

#include "app/main_window.h"
#include "params/panel_driver_dialog.h"
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

QPushButton* Button(QWidget* root, const QString& text) {
  for (auto* b : root->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}
QLabel* Label(QWidget* root, const QString& text) {
  for (auto* l : root->findChildren<QLabel*>())
    if (l->text() == text) return l;
  return nullptr;
}

// A module of 32 × 16 dots, chip 0, brightness 7.
card::DeviceStatusRecord Opened() {
  auto r = testing_support::CardRecord("192.168.1.20");
  for (auto [off, v] : {std::pair<std::size_t, int>{200, 32}, {202, 16}, {204, 8}, {205, 32}, {206, 0}, {210, 1},
                        {36, 7}, {rec::kIpMode, 1}})
    r.setU8(off, static_cast<std::uint8_t>(v));
  r.updateChecksum();
  return r;
}

// The person at the sign: answers whatever wizard window is up, "是" and
// "1" point, unless told to close one.
class Person : public QObject {
 public:
  Person() {
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, [this] { Look(); });
    timer_.start();
  }
  // Closes the window of the nth question (1-based) instead of answering.
  int closeQuestion = 0;
  // Closes the countdown window when the nth question is up.
  int closeCountdownAt = 0;
  int questions = 0;
  std::function<void()> onQuestion;

 private:
  void Look() {
    QWidget* w = QApplication::activeModalWidget();
    auto* yesNo = qobject_cast<card::YesNoWindow*>(w);
    auto* points = qobject_cast<card::Regonize_DHS*>(w);
    if (!yesNo && !points) return;
    ++questions;
    if (onQuestion) onQuestion();
    if (questions == closeCountdownAt)
      for (auto* c : w->parentWidget()->findChildren<card::CCountdownDlg*>()) c->reject();
    if (questions == closeQuestion) return void(w->close());
    if (points) {
      points->findChild<QComboBox*>()->setCurrentIndex(1);
      return QTest::mouseClick(Button(points, QStringLiteral(u"确定")), Qt::LeftButton);
    }
    QTest::mouseClick(Button(yesNo, QStringLiteral(u"是")), Qt::LeftButton);
  }
  QTimer timer_;
};

class WizardDialog : public ::testing::Test {
 protected:
  WizardDialog() {
    card::WindowLinks links;
    auto command = std::make_unique<FakeChannel>(&clock);
    command_ = command.get();
    links.search = std::make_unique<FakeChannel>(&clock);
    links.command = std::move(command);
    links.file = std::make_unique<FakeChannel>(&clock);
    links.recovery = std::make_unique<FakeChannel>(&clock);
    links.makeLink = [this](int) { return std::make_unique<Forward>(wire); };
    window = std::make_unique<card::CCardSetupDlg>(std::move(links), card::SysCfg(dir.file("SysCfg.ini")), cancellable,
                                                   processes, &user);
    window->state().setSelectedAddress("192.168.1.20");
    window->state().setCardOpened();
    window->state().setPanelRecordFrom("192.168.1.20");
    window->state().setRecord(Opened());
    std::vector<std::string> messages;
    window->Write(card::FilledPanel(Opened(), window->Read(), card::FillVariant::Direct, &messages));
    window->show();
    // One order for the lines of both links.
    wire.onSend([this](const std::string& s) { Note("1002 " + s); });
    command_->onSend([this](const std::string& s) { Note("1001 " + s); });
  }
  std::unique_ptr<card::CELL_PARA> Dialog() {
    auto d = std::make_unique<card::CELL_PARA>(window->toolEnv(), Opened(), std::make_unique<Forward>(wire),
                                               window.get());
    d->SetRecognitionHook(&card::StartRecognition);
    d->show();
    return d;
  }
  void Note(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
  }

  platform::VirtualClock clock{1765258109000};
  platform::CancellableClock cancellable{clock};
  testing_support::TempDir dir;
  testing_support::FakeUser user{&clock};
  testing_support::FakeProcesses processes;
  FakeChannel* command_ = nullptr;
  FakeChannel wire{&clock};
  std::unique_ptr<card::CCardSetupDlg> window;
  std::mutex mutex;
  std::vector<std::string> lines;
};

}  // namespace

TEST_F(WizardDialog, WindowsAnswerByTheirButtonsAndAClosedWindowAnswersNothing) {
  QWidget parent;
  card::HScan_Regon screen(&parent);
  EXPECT_EQ(screen.windowTitle(), QStringLiteral(u"屏幕参数识别"));
  EXPECT_EQ(card::Continue_line(&parent).windowTitle(), QStringLiteral(u"观察区域的亮点是否连续"));
  EXPECT_EQ(card::Regonize_DZSU(&parent).windowTitle(), QStringLiteral(u"蛇形方向识别"));
  for (const auto& [act, answer] : {std::pair<const char*, card::WizardAnswer>{"是", card::WizardAnswer::Yes},
                                    {"否", card::WizardAnswer::No}, {"close", card::WizardAnswer::Closed}}) {
    QTimer::singleShot(0, [&screen, act = QString::fromUtf8(act)] {
      if (act == QStringLiteral("close")) return void(screen.close());
      QTest::mouseClick(Button(&screen, act), Qt::LeftButton);
    });
    EXPECT_EQ(screen.Ask(QStringLiteral(u"观察区域是否全亮")), answer) << act;
    EXPECT_NE(Label(&screen, QStringLiteral(u"观察区域是否全亮")), nullptr);
  }

  card::Regonize_DHS points(&parent);
  EXPECT_EQ(points.windowTitle(), QStringLiteral(u"折线行数识别"));
  auto* count = points.findChild<QComboBox*>();
  ASSERT_EQ(count->count(), 8);
  EXPECT_EQ(count->itemText(7), QStringLiteral("64"));
  QTimer::singleShot(0, [&] {
    count->setCurrentIndex(5);
    QTest::mouseClick(Button(&points, QStringLiteral(u"确定")), Qt::LeftButton);
  });
  EXPECT_EQ(points.Choose(), 5);
  QTimer::singleShot(0, [&] {
    EXPECT_EQ(count->currentIndex(), 0) << "the first item again";
    QTest::mouseClick(Button(&points, QStringLiteral(u"取消")), Qt::LeftButton);
  });
  EXPECT_EQ(points.Choose(), std::nullopt);
  QTimer::singleShot(0, [&] { points.close(); });
  EXPECT_EQ(points.Choose(), std::nullopt);

  card::CCountdownDlg countdown(&parent);
  int closed = 0;
  countdown.setOnClosed([&] { ++closed; });
  countdown.Start(8);
  countdown.show();
  countdown.Update(5, 38);
  EXPECT_NE(Label(&countdown, QStringLiteral(u"倒计时：5秒")), nullptr);
  EXPECT_EQ(countdown.findChild<QProgressBar*>()->value(), 38);
  EXPECT_TRUE(countdown.findChildren<QPushButton*>().isEmpty()) << "no buttons";
  countdown.Update(0, 100);
  EXPECT_FALSE(countdown.isVisible()) << "it closes itself";
  EXPECT_EQ(closed, 0);
  countdown.show();
  countdown.close();
  EXPECT_EQ(closed, 1) << "the close box";
  countdown.show();
  QTest::keyClick(&countdown, Qt::Key_Escape);
  EXPECT_EQ(closed, 2) << "Escape";
}

TEST_F(WizardDialog, ARunHoldsTheDialogAndARecognisedModuleClosesItAsConfirmed) {
  auto d = Dialog();
  Person person;
  QStringList held;
  person.onQuestion = [&] {
    if (person.questions != 3) return;
    for (const char* b : {"智能识别", "固化到设备", "取消"})
      if (!Button(d.get(), QString::fromUtf8(b))->isEnabled()) held << QString::fromUtf8(b);
    for (auto* c : d->findChildren<QComboBox*>())
      if (!c->isEnabled()) held << QStringLiteral("list");
  };
  QTest::mouseClick(Button(d.get(), QStringLiteral(u"智能识别")), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!d->operationRunning(), 10000);
  EXPECT_EQ(held.size(), 13) << held.join(QLatin1Char(' ')).toStdString();
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(d->result(), QDialog::Accepted);
  // The lists show what was found; the copy has it and the brightness back.
  EXPECT_EQ(d->values().scan, 6);
  EXPECT_EQ(d->values().foldWidth, 3);
  EXPECT_EQ(d->values().foldRows, 0);
  EXPECT_EQ(d->record().u8(rec::kScan), 16);
  EXPECT_EQ(d->record().u8(rec::kBrightness), 7);
  EXPECT_EQ(d->record().u16(rec::kCodeWord), 0x88FF);
  EXPECT_EQ(wire.sent().back(), "set ld 7");
  EXPECT_EQ(user.texts().back(), card::kMsgRecognised);
}

TEST_F(WizardDialog, AClosedQuestionOrCountdownStopsTheRunAndTheDialogStaysOpen) {
  for (int how : {0, 1}) {
    auto d = Dialog();
    wire.clearEvents();
    Person person;
    if (how == 0) person.closeQuestion = 2;      // "观察区亮度比之前是否变亮"
    else person.closeCountdownAt = 3;            // while the point count is asked
    QTest::mouseClick(Button(d.get(), QStringLiteral(u"智能识别")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->operationRunning(), 10000);
    EXPECT_TRUE(d->isVisible()) << how;
    EXPECT_EQ(wire.sent().back(), "set ld 7") << how;
    EXPECT_EQ(d->record().u8(rec::kBrightness), 7) << how;
    // The one after the countdown window was closed is the last question.
    EXPECT_EQ(person.questions, how == 0 ? 2 : 3) << how;
    for (const char* b : {"智能识别", "固化到设备", "取消"})
      EXPECT_TRUE(Button(d.get(), QString::fromUtf8(b))->isEnabled()) << b;
    d->reject();
  }
  EXPECT_TRUE(user.texts().empty() || user.texts().back() == card::kMsgRememberBrightness);
}

TEST_F(WizardDialog, FromTheMainWindowTheSubmitStartsAfterTheRunsLastLine) {
  Person person;
  QTimer::singleShot(10, [] {
    auto* d = qobject_cast<card::CELL_PARA*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    auto* recognise = Button(d, QStringLiteral(u"智能识别"));
    ASSERT_TRUE(recognise->isEnabled()) << "the main window plugs the wizard in";
    QTest::mouseClick(recognise, Qt::LeftButton);
  });
  auto* target = window->findChildren<QComboBox*>().value(0);
  for (auto* c : window->findChildren<QComboBox*>())
    if (c->count() == 23) target = c;
  target->setCurrentIndex(22);
  emit target->activated(22);
  QTRY_VERIFY_WITH_TIMEOUT(window->workers().WaitIdle(0) && !window->busy(), 10000);
  const auto all = Lines();
  const auto restore = std::find(all.begin(), all.end(), "1002 set ld 7");
  ASSERT_NE(restore, all.end());
  const auto submit = std::find_if(all.begin(), all.end(), [](const std::string& l) { return l.rfind("1001 ", 0) == 0; });
  EXPECT_EQ(std::distance(all.begin(), restore) + 1, std::distance(all.begin(), submit))
      << "the submit's lines come after the brightness is back";
  // The WorkingRecord took the module; the panel shows it.
  EXPECT_EQ(window->state().record().u8(rec::kScan), 16);
  EXPECT_EQ(window->state().record().u16(rec::kWidth), 32);
  EXPECT_EQ(window->Read().widthText, "32");
}
