// The runner every tool dialog shares: inputs held while its operation runs,
// progress on its bar, cancel through its own clock, and no close before the
// worker has ended.
#include "ui/tool_dialog.h"
#include "ui/ui_thread.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/fake_ports.h"
#include "support/temp_dir.h"

namespace {

class Probe : public ui::ToolDialog {
 public:
  explicit Probe(const card::ToolEnv& env) : ToolDialog(env) {
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{field, list, ok, cancel, bar}) layout->addWidget(w);
    disabledFromTheStart->setEnabled(false);
    layout->addWidget(disabledFromTheStart);
    KeepEnabledWhileRunning(cancel);
    SetProgressBar(bar);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  }
  ~Probe() override { StopOperation(); }
  using ToolDialog::RunOperation;

  QLineEdit* field = new QLineEdit;
  QComboBox* list = new QComboBox;
  QPushButton* ok = new QPushButton(QStringLiteral(u"确定"));
  QPushButton* cancel = new QPushButton(QStringLiteral(u"取消"));
  QPushButton* disabledFromTheStart = new QPushButton(QStringLiteral(u"智能识别"));
  QProgressBar* bar = new QProgressBar;
};

class ToolDialogTest : public ::testing::Test {
 protected:
  platform::RealClock clock;
  testing_support::TempDir dir;
  card::MainState state;
  testing_support::FakeProcesses processes;
  card::Siblings siblings{processes, dir.path() + "/"};
  platform::VirtualClock stamps;
  testing_support::FakeUser user{&stamps};
  card::ToolEnv env{{}, clock, state, card::SysCfg(dir.file("SysCfg.ini")), siblings, &user, nullptr};
};

}  // namespace

TEST_F(ToolDialogTest, InputsAreHeldWhileTheOperationRunsAndProgressReachesTheBar) {
  Probe d(env);
  std::atomic<bool> release{false};
  std::optional<bool> completed;
  ASSERT_TRUE(d.RunOperation(
      [&](platform::Clock&) {
        d.progress().Progress(40);
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      [&](bool c) { completed = c; }));
  EXPECT_FALSE(d.RunOperation([](platform::Clock&) {})) << "one operation at a time";
  for (QWidget* w : std::initializer_list<QWidget*>{d.field, d.list, d.ok}) EXPECT_FALSE(w->isEnabled());
  EXPECT_TRUE(d.cancel->isEnabled());
  QTRY_COMPARE(d.bar->value(), 40);
  release = true;
  d.WaitForOperation();
  EXPECT_EQ(completed, true);
  for (QWidget* w : std::initializer_list<QWidget*>{d.field, d.list, d.ok}) EXPECT_TRUE(w->isEnabled());
  EXPECT_FALSE(d.disabledFromTheStart->isEnabled()) << "what was disabled before stays disabled";
}

TEST_F(ToolDialogTest, CancelAndTheCloseBoxStopTheRunThenClose) {
  for (bool closeBox : {false, true}) {
    Probe d(env);
    d.show();
    std::atomic<bool> afterPause{false};
    std::optional<bool> completed;
    d.RunOperation(
        [&](platform::Clock& c) {
          c.sleepMs(60000);
          afterPause = true;  // never reached
        },
        [&](bool c) { completed = c; });
    QElapsedTimer t;
    t.start();
    if (closeBox)
      d.close();
    else
      QTest::mouseClick(d.cancel, Qt::LeftButton);
    EXPECT_FALSE(d.operationRunning());
    EXPECT_FALSE(d.isVisible()) << closeBox;
    EXPECT_EQ(completed, false);
    EXPECT_FALSE(afterPause);
    EXPECT_LT(t.elapsed(), 1500) << "the pause is cut short";
  }
}

TEST_F(ToolDialogTest, AStopFromInsideAPostedCallEndsEvenWhileTheWorkerWaitsForTheUi) {
  Probe d(env);
  d.show();
  std::atomic<bool> asked{false};
  std::optional<bool> completed;
  d.RunOperation(
      [&](platform::Clock& c) {
        // A message box, say: the worker waits for the UI thread.
        ui::RunOnObjectThread(&d, [&] { asked = true; });
        c.sleepMs(60000);
      },
      [&](bool c) { completed = c; });
  // Closing from inside a posted call, where Qt delivers no further posted
  // events until the call returns.
  bool closedInside = false;
  QTimer::singleShot(0, &d, [&] {
    d.reject();
    closedInside = !d.operationRunning();
  });
  QTRY_VERIFY_WITH_TIMEOUT(closedInside, 3000);
  EXPECT_TRUE(asked);
  EXPECT_EQ(completed, false);
}

TEST_F(ToolDialogTest, AnEarlierRunsEndDoesNotEndTheNextRun) {
  // The first run ends in a wait; its posted end is still queued when the
  // second run starts. The second run's worker holds on; the window must
  // stay free meanwhile and the second run report its own end.
  Probe d(env);
  d.show();
  ASSERT_TRUE(d.RunOperation([](platform::Clock&) {}));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // ended, its end posted
  d.WaitForOperation();
  std::atomic<bool> release{false}, finished{false};
  bool completed = false;
  ASSERT_TRUE(d.RunOperation(
      [&](platform::Clock&) {
        for (int i = 0; i < 300 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      },
      [&](bool c) {
        completed = c;
        finished = true;
      }));
  QElapsedTimer t;
  t.start();
  QTest::qWait(50);
  EXPECT_LT(t.elapsed(), 1000) << "the window waited for the second worker";
  EXPECT_TRUE(d.operationRunning());
  EXPECT_FALSE(finished);
  release = true;
  EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 3000));
  EXPECT_TRUE(completed);
}

TEST_F(ToolDialogTest, AnErrorTheOperationDidNotExpectIsSaidAndTheDialogStays) {
  Probe d(env);
  std::optional<bool> completed;
  ASSERT_TRUE(d.RunOperation([](platform::Clock&) { throw std::runtime_error("disk gone"); },
                             [&](bool c) { completed = c; }));
  d.WaitForOperation();
  EXPECT_EQ(completed, false);
  ASSERT_EQ(user.shown().size(), 1u);
  EXPECT_EQ(user.shown()[0].text, "操作出错，已停止：disk gone");
  EXPECT_EQ(user.shown()[0].icon, card::Icon::Error);
  EXPECT_TRUE(d.ok->isEnabled());
  // The next run goes as usual; something that is no std::exception too.
  ASSERT_TRUE(d.RunOperation([](platform::Clock&) { throw 7; }));
  d.WaitForOperation();
  EXPECT_EQ(user.texts().back(), "操作出错，已停止");
  ASSERT_TRUE(d.RunOperation([](platform::Clock&) {}, [&](bool c) { completed = c; }));
  d.WaitForOperation();
  EXPECT_EQ(completed, true);
}
