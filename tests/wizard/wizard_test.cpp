// "智能识别" against a scripted person: every line, pause, countdown and
// question in its order, both polarity rounds, the start over after the
// square never showed, and a stop at every kind of wait that still restores
// the brightness and leaves the copy with what the card was sent.
#include "wizard/wizard.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "platform/codec.h"
#include "platform/text.h"
#include "support/fake_channel.h"

namespace {

namespace rec = card::rec;
using card::WizardAnswer;
using card::WizardList;
using card::WizardOutcome;
using card::WizardWindow;
using platform::Format;
using Log = std::vector<std::string>;

// Every pause goes into the log the lines and questions go to. It can
// cancel a run's clock from inside the first pause of a given length, as the
// dialog's close box would while the worker waits there.
class LoggingClock : public platform::VirtualClock {
 public:
  explicit LoggingClock(Log* log) : log_(log) {}
  void sleepMs(int ms) override {
    if (ms > 0) log_->push_back(Format("wait %d", ms));
    if (cancelIn && ms == cancelInMs) {
      cancelIn->cancel();
      cancelIn = nullptr;
    }
    VirtualClock::sleepMs(ms);
  }
  platform::CancellableClock* cancelIn = nullptr;
  int cancelInMs = 0;

 private:
  Log* log_;
};

// The person: answers from a function of the window and the text, counts
// points from a queue, and may close the nth countdown window.
class ScriptedPort : public card::WizardPort {
 public:
  explicit ScriptedPort(Log* log) : log_(log) {}
  WizardAnswer Ask(WizardWindow w, const std::string& text) override {
    log_->push_back(Format("ask %d %s", static_cast<int>(w), text.c_str()));
    return answer ? answer(w, text) : WizardAnswer::Yes;
  }
  std::optional<int> ChoosePointCount() override {
    log_->push_back("points?");
    if (points.empty()) return 1;
    auto p = points.front();
    points.pop_front();
    return p;
  }
  void ShowCountdown(int seconds) override {
    log_->push_back(Format("countdown %d", seconds));
    closed_ = ++countdowns == closeCountdown;
  }
  void UpdateCountdown(int remaining, int percent) override { updates.push_back(remaining * 1000 + percent); }
  void HideCountdown() override {}
  bool CountdownClosed() override { return closed_; }
  void Message(const std::string& text, const std::string& title, card::Icon) override {
    log_->push_back("message " + title + " " + text);
  }
  void SelectItem(WizardList list, int item) override {
    log_->push_back(Format("select %d %d", static_cast<int>(list), item));
  }

  std::function<WizardAnswer(WizardWindow, const std::string&)> answer;
  std::deque<std::optional<int>> points;
  int closeCountdown = 0;  // 1-based; 0 never
  int countdowns = 0;
  std::vector<int> updates;

 private:
  Log* log_;
  bool closed_ = false;
};

// 64 × 32 at brightness 7, a fixed display target, firmware 39.
card::DeviceStatusRecord Opened() {
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8110);
  r.setU16(rec::kWidth, 64);
  r.setU16(rec::kHeight, 32);
  r.setU8(rec::kBrightness, 7);
  r.setU8(rec::kDriverConstant, 16);
  r.setU8(rec::kDzFold, 3);
  r.setU8(rec::kUFold, 1);
  r.setU16(rec::kFirmware, 39);
  r.updateChecksum();
  return r;
}

// Lists with the module 32 × 16, chip 0.
card::PanelDriverValues Lists(int width = 4, int height = 4, int chip = 0) {
  card::PanelDriverValues v = card::PanelDriverFromRecord(Opened());
  v.width = width;
  v.height = height;
  v.chip = chip;
  return v;
}

class Wizard : public ::testing::Test {
 protected:
  WizardOutcome Run(const card::PanelDriverValues& lists = Lists()) {
    return card::RunRecognitionWizard(link, cancellable, port, "192.168.1.20", &copy, lists);
  }
  // The log with announcements' checksums left out and each countdown's
  // one-second steps folded into it.
  Log Transcript() const {
    Log out;
    for (std::size_t i = 0; i < log.size(); ++i) {
      std::string e = log[i];
      if (e.rfind("> set Sys_Crc ", 0) == 0) e = "> set Sys_Crc";
      int n = 0;
      if (std::sscanf(e.c_str(), "countdown %d", &n) == 1) {
        int steps = 0;
        while (i + 1 < log.size() && log[i + 1] == "wait 1000" && steps < n) ++i, ++steps;
        if (steps != n) e += Format(" (%d steps)", steps);
      }
      out.push_back(e);
    }
    return out;
  }
  // Entries of the transcript starting with prefix.
  Log Only(const std::string& prefix) const {
    Log out;
    for (const auto& e : Transcript())
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }
  std::vector<testing_support::ChannelEvent::Kind> LinkCalls() const {
    std::vector<testing_support::ChannelEvent::Kind> out;
    for (const auto& e : link.events()) out.push_back(e.kind);
    return out;
  }
  // The run ended with the brightness restored and the link closed twice.
  void ExpectEndActions() {
    ASSERT_GE(link.sent().size(), 1u);
    EXPECT_EQ(link.sent().back(), "set ld 7");
    auto calls = LinkCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 1], testing_support::ChannelEvent::Disconnect);
    EXPECT_EQ(calls[calls.size() - 2], testing_support::ChannelEvent::Disconnect);
    EXPECT_EQ(copy.u8(rec::kBrightness), 7);
    EXPECT_EQ(copy.u32(rec::kChecksum), copy.computeChecksum());
  }

  Log log;
  LoggingClock clock{&log};
  platform::CancellableClock cancellable{clock};
  testing_support::FakeChannel link{&clock};
  ScriptedPort port{&log};
  card::DeviceStatusRecord copy = Opened();

  void SetUp() override {
    link.onSend([this](const std::string& bytes) { log.push_back("> " + bytes); });
  }
};

Log Push(const std::string& ledpara) { return {"> set Sys_Crc", "wait 1500", "> set ledpara  " + ledpara + " \n"}; }
Log Cat(std::initializer_list<Log> parts) {
  Log out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(Wizard, EveryAnswerYesFindsA32x16ModuleLineByLine) {
  port.points = {1};  // "1"
  ASSERT_EQ(Run(), WizardOutcome::Recognised);

  Log pointLine, lines;
  for (int j = 1; j < 32; ++j)
    pointLine = Cat({pointLine, {Format("> led clearall\n  led l 6  0 0 %d  0 \n", j), "wait 100",
                                 Format("ask 1 观察区是否亮起 [ %d ] 个点且在一条直线", j + 1)}});
  for (int i = 0; i < 16; ++i)
    lines = Cat({lines, {Format(i == 0 ? "> led clearall \n led l 6 0 %d %d %d \n" : "> led l 6 0 %d %d %d \n", i, 31, i),
                         "wait 100", Format("ask 0 观察区亮起的线条个数是否为: %d  条", i + 1)}});
  // Width, height, 16, fold width, fold rows, scan, snake, conversion, U,
  // chip, DZ, OE, data.
  const Log expected = Cat({
      {"> set Regonize_M \n", "> set Sys_Crc", "wait 1500", "> set chrct machine 88ff \n", "countdown 8"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 0"),
      {"countdown 5", "> set ld 2\n set soft  32 16  \n", "countdown 8"},
      // Polarity: lit all over at once, then brighter.
      {"> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮",
       "message 提示 即将判断亮度变化，请观察屏幕并记住此时对亮度感受！！！", "> set ld 19 \n",
       "ask 0 观察区亮度比之前是否变亮"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
      // Fold rows.
      {"countdown 9", "> led clearall\n  led p 6 0 0\n", "countdown 1", "points?", "select 0 0", "> set Sys_Crc",
       "wait 1500", "> set soft 32 16  \n", "countdown 9"},
      // Fold width.
      pointLine,
      {"select 1 3", "select 0 0"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
      {"countdown 5", "> set soft 32 16  \n", "countdown 5", "> led clearall \n", "countdown 2"},
      // Scan.
      lines,
      {"select 2 6"},
      Push("32 16 16 32 1 16 0 0 0 0 0 1 1"),
      // Snake.
      {"countdown 8", "> led clearall\n  led r 6 1 1 14 14 \n", "countdown 1", "ask 2 观察区域是否有出现正方形形"},
      // Done.
      {"wait 2000", "> led clearall \nled 12t 6 0 0 " + platform::Utf8ToGbk("完成") + "\n", "wait 2000",
       "message 提示 目标显示板已识别成功,下一步断电重启设备搜卡根据屏像素情况配置屏参数！！！", "> set ld 7"},
  });
  EXPECT_EQ(Transcript(), expected);
  EXPECT_EQ(link.events().front().kind, testing_support::ChannelEvent::Connect);
  EXPECT_EQ(link.events().front().bytes, "192.168.1.20");
  ExpectEndActions();

  // The copy holds what the card was sent: the code word, the module, one
  // module as the screen and the brightness it had. Nothing else changed.
  card::DeviceStatusRecord expect = Opened();
  expect.setU16(rec::kCodeWord, 0x88FF);
  expect.setU16(rec::kWidth, 32);
  expect.setU16(rec::kHeight, 16);
  for (auto [off, v] : {std::pair<std::size_t, int>{200, 32}, {202, 16}, {204, 16}, {205, 32}, {206, 0}, {210, 1},
                        {35, 0}, {24, 1}, {25, 1}, {21, 0}, {22, 0}, {23, 0}})
    expect.setU8(off, static_cast<std::uint8_t>(v));
  expect.updateChecksum();
  EXPECT_EQ(copy, expect);
  // Each countdown step: seconds left and 100 − left × 100 ÷ initial.
  EXPECT_EQ(std::vector<int>(port.updates.begin(), port.updates.begin() + 8),
            (std::vector<int>{7013, 6025, 5038, 4050, 3063, 2075, 1088, 100}));
}

TEST_F(Wizard, PolarityRoundsNotLitTwiceIsTheCableAndDarkerSetsOeFirst) {
  // Not lit at first: the announcement of the copy as it stands, the data
  // polarity 1 pushed, a clear and a second round.
  port.answer = [](WizardWindow, const std::string& text) {
    return text == card::kAskFullyLit ? WizardAnswer::No : WizardAnswer::Yes;
  };
  ASSERT_EQ(Run(), WizardOutcome::Failed);
  const Log all = Transcript();
  const Log polarity(all.begin() + 11, all.end());
  EXPECT_EQ(polarity, Cat({{"> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮", "> set Sys_Crc", "wait 1500"},
                           Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
                           {"countdown 5", "> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮",
                            "message 错误 失败:请检查LED端口1排线和供电线是否正常连接到显示板！！！", "> set ld 7"}}))
      << "no announcement without its line, no fold question";
  ExpectEndActions();

  // Lit at once, darker at 19: OE 0 is pushed before the data polarity flips.
  log.clear();
  link.clearEvents();
  copy = Opened();
  port.answer = [](WizardWindow, const std::string& text) {
    return text == card::kAskBrighter ? WizardAnswer::No : WizardAnswer::Yes;
  };
  ASSERT_EQ(Run(), WizardOutcome::Recognised);
  const Log pushes = Only("> set ledpara");
  ASSERT_GE(pushes.size(), 3u);
  EXPECT_EQ(pushes[1], "> set ledpara  32 16 16 32 1 32 0 0 0 0 0 0 0 \n");
  EXPECT_EQ(pushes[2], "> set ledpara  32 16 16 32 1 32 0 0 0 0 0 0 1 \n");
  EXPECT_EQ(copy.u8(rec::kOePolarity), 0);
  EXPECT_EQ(copy.u8(rec::kDataPolarity), 1);
}

TEST_F(Wizard, PointCountsFoldWidthAndScanAnswersBecomeTheParameters) {
  struct Case {
    int points;        // position chosen in "折线行数识别"
    int noAtPoints;    // the first "[ n ] 个点" answered "否"; 0 never
    int noAtLines;     // the first line count answered "否"; 0 never
    int width, height;  // list items
    std::string soft;  // the screen for the fold width
    Log selected;      // list selections in order
    std::string ledpara;  // the last push
    std::size_t asked;    // "[ n ] 个点" questions
  };
  const Case cases[] = {
      // "2" points: 2 fold rows; the line of 64 breaks after 8; 4 lines.
      {2, 9, 5, 4, 4, "set soft 64 16  \n", {"select 0 1", "select 1 1", "select 0 1", "select 2 2"},
       "32 16 16 8 2 4 0 0 0 0 0 1 1", 8},
      // "16" points stand for no fold rows item: the list loses its
      // selection and the rows stay 1. "否" at once: fold width 1, no item.
      {5, 2, 0, 4, 4, "set soft 32 16  \n", {"select 0 -1", "select 0 -1", "select 2 6"},
       "32 16 16 1 1 16 0 0 0 0 0 1 1", 1},
      // "0" points counts as one. 3 lines: no scan item, the list keeps its own.
      {0, 0, 4, 8, 8, "set soft 64 32  \n", {"select 0 0", "select 1 4", "select 0 0"},
       "64 32 16 64 1 3 0 0 0 0 0 1 1", 63},
      // 136 dots × 8 rows is a chain of 1088 points: the fold width stops at
      // the 255 a byte holds.
      {4, 0, 0, 17, 4, "set soft 1088 16  \n", {"select 0 3", "select 0 3", "select 2 6"},
       "136 16 16 255 8 16 0 0 0 0 0 1 1", 254},
  };
  for (const Case& c : cases) {
    log.clear();
    link.clearEvents();
    copy = Opened();
    port.points = {c.points};
    port.answer = [&c](WizardWindow w, const std::string& text) {
      if (w == WizardWindow::PointLine && text == Format(card::kAskPointsInLine, c.noAtPoints)) return WizardAnswer::No;
      if (text == Format(card::kAskLineCount, c.noAtLines)) return WizardAnswer::No;
      return WizardAnswer::Yes;
    };
    ASSERT_EQ(Run(Lists(c.width, c.height)), WizardOutcome::Recognised) << c.ledpara;
    EXPECT_EQ(Only("> set soft ")[0], "> " + c.soft) << c.ledpara;
    EXPECT_EQ(Only("select "), c.selected) << c.ledpara;
    EXPECT_EQ(Only("> set ledpara").back(), "> set ledpara  " + c.ledpara + " \n");
    EXPECT_EQ(Only("ask 1 ").size(), c.asked) << c.ledpara;
  }
}

TEST_F(Wizard, NoSquareTwiceStartsOverWithoutRecognitionModeOrCodeWordAgain) {
  int squares = 0;
  port.answer = [&squares](WizardWindow w, const std::string&) {
    if (w != WizardWindow::Square) return WizardAnswer::Yes;
    return ++squares <= 2 ? WizardAnswer::No : WizardAnswer::Yes;
  };
  port.points = {1, 1};
  ASSERT_EQ(Run(), WizardOutcome::Recognised);
  const Log t = Transcript();
  auto at = std::find(t.begin(), t.end(), "ask 2 观察区域是否有出现正方形形");
  ASSERT_NE(at, t.end());
  // The snake flips, then the square once more without a countdown.
  EXPECT_EQ(Log(at + 1, at + 8), Cat({Push("32 16 16 32 1 16 1 0 0 0 0 1 1"),
                                      {"> led clearall\n", "countdown 5", "> led clearall\n  led r 6 1 1 14 14 \n",
                                       "ask 2 观察区域是否有出现正方形形"}}));
  // Start over: the start values again (snake 0, scan 32), the card already
  // has the code word.
  EXPECT_EQ(Log(at + 8, at + 14),
            Cat({{"message 错误 失败:请重新开始智能识别，再试一次过程中仔细观察做出正确的判断！！！"},
                 Push("32 16 16 32 1 32 0 0 0 0 0 1 0"),
                 {"countdown 5", "> set ld 2\n set soft  32 16  \n"}}));
  EXPECT_EQ(Only("> set Regonize_M").size(), 1u);
  EXPECT_EQ(Only("> set chrct").size(), 1u);
  EXPECT_EQ(copy.u8(rec::kSnakeDirection), 0);
  ExpectEndActions();
}

TEST_F(Wizard, AStopAtAnyWaitGoesStraightToTheEndActions) {
  struct Stop {
    const char* what;
    int closeCountdown = 0;             // nth countdown window closed
    const char* closeWindow = nullptr;  // question whose window is closed
    bool closePoints = false;           // "折线行数识别" closed
    int cancelInMs = 0;                 // the run's clock cancelled in the first pause this long
  };
  const Stop stops[] = {
      {"code word countdown", 1},
      {"push countdown", 2},
      {"one module countdown", 3},
      {"first polarity countdown", 4},
      {"fold rows countdown", 5},
      {"fold width countdown", 9},
      {"scan countdown", 11},
      {"square countdown", 12},
      {"fully lit closed", 0, card::kAskFullyLit},
      {"brighter closed", 0, card::kAskBrighter},
      {"points in line closed", 0, "观察区是否亮起 [ 5 ] 个点且在一条直线"},
      {"line count closed", 0, "观察区亮起的线条个数是否为: 3  条"},
      {"square closed", 0, card::kAskSquare},
      {"point count closed", 0, nullptr, true},
      {"dialog closed in an announcement", 0, nullptr, false, 1500},
      {"dialog closed in a pattern pause", 0, nullptr, false, 100},
      {"dialog closed before the success message", 0, nullptr, false, 2000},
  };
  for (const Stop& s : stops) {
    SCOPED_TRACE(s.what);
    log.clear();
    link.clearEvents();
    copy = Opened();
    platform::CancellableClock runClock{clock};
    clock.cancelIn = s.cancelInMs ? &runClock : nullptr;
    clock.cancelInMs = s.cancelInMs;
    port.countdowns = 0;
    port.closeCountdown = s.closeCountdown;
    port.points.clear();
    if (s.closePoints) port.points = {std::nullopt};
    port.answer = [&s](WizardWindow, const std::string& text) {
      return s.closeWindow && text == s.closeWindow ? WizardAnswer::Closed : WizardAnswer::Yes;
    };
    bool aborted = false;
    WizardOutcome outcome = WizardOutcome::Recognised;
    try {
      outcome = card::RunRecognitionWizard(link, runClock, port, "192.168.1.20", &copy, Lists());
    } catch (const platform::OperationAborted&) {
      aborted = true;
    }
    EXPECT_EQ(aborted, s.cancelInMs != 0);
    if (!aborted) {
      EXPECT_EQ(outcome, WizardOutcome::Cancelled);
    }
    ExpectEndActions();
    // Nothing after the stop but the brightness: no further pattern, push or window.
    const Log t = Transcript();
    ASSERT_GE(t.size(), 2u);
    const std::string& last = t[t.size() - 2];
    EXPECT_TRUE(last.rfind("countdown", 0) == 0 || last.rfind("ask", 0) == 0 || last == "points?" ||
                last.rfind("wait", 0) == 0)
        << last;
    EXPECT_TRUE(Only("message 错误").empty());
    EXPECT_TRUE(Only("message 提示 目标").empty());
    // The copy has what the card was sent, nothing more: the last push, and
    // an announced line that had begun went out whole.
    const Log pushes = Only("> set ledpara");
    if (!pushes.empty()) {
      EXPECT_EQ("> " + card::LedParaLine(copy), pushes.back());
    } else {
      EXPECT_EQ(copy.u8(rec::kModuleWidth), 0) << "no guess in the copy before its first push";
    }
    if (s.cancelInMs == 1500) {
      EXPECT_EQ(t[t.size() - 3], "> set chrct machine 88ff \n");
      EXPECT_EQ(copy.u16(rec::kCodeWord), 0x88FF);
    }
  }
}

TEST_F(Wizard, RefusesWithoutAModuleAndSendsNothingWhenTheCardIsUnreachable) {
  for (const auto& lists : {Lists(0, 4, 0), Lists(4, -1, 0), Lists(4, 4, -1)}) {
    EXPECT_EQ(Run(lists), WizardOutcome::Refused);
  }
  EXPECT_EQ(Only("message"), Log(3, "message 提示 智能识别前请先选择单元板长点数、单元板高点数和扫描芯片！！！"));
  EXPECT_TRUE(link.events().empty());

  log.clear();
  link.queueConnectResult(-1);
  EXPECT_EQ(Run(), WizardOutcome::ConnectFailed);
  EXPECT_EQ(Transcript(), Log{"message 错误 连接设备失败"});
  EXPECT_TRUE(link.sent().empty());
  EXPECT_EQ(copy, Opened());

  // A line that does not go out stops the run; the copy has only what went.
  log.clear();
  link.clearEvents();
  link.failSendsFrom(2);  // the code word line
  EXPECT_EQ(Run(), WizardOutcome::Failed);
  EXPECT_EQ(Only("message"), Log{"message 错误 连接设备失败"});
  EXPECT_EQ(copy.u16(rec::kCodeWord), 0x8110);
  EXPECT_EQ(copy, Opened());
}

}  // namespace
