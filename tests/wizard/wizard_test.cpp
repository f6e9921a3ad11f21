// "智能识别" against a scripted person: every line, pause, countdown and
// question in its order, both polarity rounds, the start over after the
// square never showed, and a stop at every kind of wait that still restores
// the brightness and leaves the copy with what the card was sent.
#include "wizard/wizard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "platform/codec.h"
#include "platform/text.h"
#include "support/fake_channel.h"

namespace {

namespace rec = card::rec;
using card::WizardAnswer;
using card::WizardOutcome;
using card::WizardWindow;
using platform::Format;
using Log = std::vector<std::string>;

// Pauses go into the log the lines and questions go to. It can cancel a
// run's clock inside the first pause of a given length, as the dialog's close
// box would while the worker waits there.
struct LoggingClock : platform::VirtualClock {
  explicit LoggingClock(Log* log) : log(log) {}
  void sleepMs(int ms) override {
    if (ms > 0) log->push_back(Format("wait %d", ms));
    if (cancelIn && ms == cancelInMs) std::exchange(cancelIn, nullptr)->cancel();
    VirtualClock::sleepMs(ms);
  }
  Log* log;
  platform::CancellableClock* cancelIn = nullptr;
  int cancelInMs = 0;
};

// The person: answers by a function of the window and the text ("是" by
// default), counts points from a queue ("1" by default), may close the nth
// countdown window.
struct ScriptedPort : card::WizardPort {
  explicit ScriptedPort(Log* log) : log(log) {}
  WizardAnswer Ask(WizardWindow w, const std::string& text) override {
    log->push_back(Format("ask %d %s", static_cast<int>(w), text.c_str()));
    return answer ? answer(w, text) : WizardAnswer::Yes;
  }
  std::optional<int> ChoosePointCount() override {
    log->push_back("points?");
    if (points.empty()) return 1;
    return std::exchange(points, {points.begin() + 1, points.end()}).front();
  }
  void ShowCountdown(int seconds) override {
    log->push_back(Format("countdown %d", seconds));
    closed = ++countdowns == closeCountdown;
  }
  void UpdateCountdown(int remaining, int percent) override { updates.push_back(remaining * 1000 + percent); }
  void HideCountdown() override {}
  bool CountdownClosed() override { return closed; }
  void Message(const std::string& text, const std::string& title, card::Icon) override {
    log->push_back("message " + title + " " + text);
  }
  void SelectItem(card::WizardList list, int item) override {
    log->push_back(Format("select %d %d", static_cast<int>(list), item));
  }
  Log* log;
  std::function<WizardAnswer(WizardWindow, const std::string&)> answer;
  std::vector<std::optional<int>> points;
  int closeCountdown = 0, countdowns = 0;
  bool closed = false;
  std::vector<int> updates;
};

// 64 × 32 at brightness 7, a fixed display target, firmware 39.
card::DeviceStatusRecord Opened() {
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8110);
  r.setU16(rec::kWidth, 64);
  r.setU16(rec::kHeight, 32);
  r.setU16(rec::kFirmware, 39);
  for (auto [off, v] : {std::pair{rec::kBrightness, 7}, {rec::kDriverConstant, 16}, {rec::kDzFold, 3}, {rec::kUFold, 1}})
    r.setU8(off, static_cast<std::uint8_t>(v));
  r.updateChecksum();
  return r;
}

// The lists with a module of width × 8 and height × 4 dots.
card::PanelDriverValues Lists(int width = 4, int height = 4, int chip = 0) {
  card::PanelDriverValues v = card::PanelDriverFromRecord(Opened());
  v.width = width;
  v.height = height;
  v.chip = chip;
  return v;
}

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    link.onSend([this](const std::string& bytes) {
      log.push_back("> " + bytes);
      // The card closes the link as it restarts.
      if (bytes == "reset \n") link.queueReceiveFailure();
    });
  }
  WizardOutcome Run(const card::PanelDriverValues& lists = Lists()) {
    return card::RunRecognitionWizard(link, cancellable, port, "192.168.1.20", &copy, lists);
  }
  void Reset() {
    log.clear();
    link.clearEvents();
    copy = Opened();
    port.countdowns = 0;
  }
  // The log with the announced checksums left out and each countdown's
  // one-second steps folded into it.
  Log Transcript() const {
    Log out;
    for (std::size_t i = 0; i < log.size(); ++i) {
      std::string e = log[i].rfind("> set Sys_Crc ", 0) == 0 ? "> set Sys_Crc" : log[i];
      int n = 0, steps = 0;
      if (std::sscanf(e.c_str(), "countdown %d", &n) != 1) n = 0;
      while (steps < n && i + 1 < log.size() && log[i + 1] == "wait 1000") ++i, ++steps;
      out.push_back(steps == n ? e : e + Format(" (%d steps)", steps));
    }
    return out;
  }
  Log Only(const std::string& prefix) const {
    Log out;
    for (const auto& e : Transcript())
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }
  // Recognised: the brightness back, the link closed twice, the copy sealed.
  void ExpectEndActions() {
    ASSERT_FALSE(link.sent().empty());
    EXPECT_EQ(link.sent().back(), "set ld 7");
    const auto ev = link.events();
    ASSERT_GE(ev.size(), 2u);
    EXPECT_EQ(ev[ev.size() - 1].kind, testing_support::ChannelEvent::Disconnect);
    EXPECT_EQ(ev[ev.size() - 2].kind, testing_support::ChannelEvent::Disconnect);
    EXPECT_EQ(copy.u8(rec::kBrightness), 7);
    EXPECT_EQ(copy.u32(rec::kChecksum), copy.computeChecksum());
  }
  // Not recognised: the copy is the card as the run found it, the restart
  // came last, then a new connection once the card answered, closed twice.
  void ExpectPutBack() {
    EXPECT_EQ(copy, Opened());
    ASSERT_FALSE(link.sent().empty());
    EXPECT_EQ(link.sent().back(), "reset \n");
    using K = testing_support::ChannelEvent;
    const auto ev = link.events();
    ASSERT_GE(ev.size(), 5u);
    const std::vector<K::Kind> tail = {ev[ev.size() - 5].kind, ev[ev.size() - 4].kind, ev[ev.size() - 3].kind,
                                       ev[ev.size() - 2].kind, ev[ev.size() - 1].kind};
    EXPECT_EQ(tail, (std::vector<K::Kind>{K::End, K::Disconnect, K::Connect, K::Disconnect, K::Disconnect}));
    EXPECT_EQ(ev[ev.size() - 6].kind, K::Receive) << "the link closed by the restart";
    EXPECT_EQ(ev[ev.size() - 3].bytes, "192.168.1.20");
  }
  // The lines that put back what a run changed: screen, driver, code word,
  // brightness (each only when it changed), then the restart.
  static Log PutBack(bool screen, bool driver, bool code, bool bright) {
    Log out;
    auto step = [&](bool on, const std::string& line) {
      if (on) out.insert(out.end(), {"> set Sys_Crc", "wait 1500", "> " + line});
    };
    step(screen, "set soft 64 32  \n");
    step(driver, "set ledpara  0 0 16 0 0 0 0 0 1 0 3 0 0 \n");
    step(code, "set chrct machine 8110 \n");
    step(bright, "set ld 7 \n");
    out.insert(out.end(), {"> reset \n", "wait 500"});  // closed at once, back at the first try
    return out;
  }

  Log log;
  LoggingClock clock{&log};
  platform::CancellableClock cancellable{clock};
  testing_support::FakeChannel link{&clock};
  ScriptedPort port{&log};
  card::DeviceStatusRecord copy = Opened();
};

Log Push(const std::string& ledpara) { return {"> set Sys_Crc", "wait 1500", "> set ledpara  " + ledpara + " \n"}; }
Log Cat(std::initializer_list<Log> parts) {
  Log out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST_F(Wizard, EveryAnswerYesFindsA32x16ModuleLineByLine) {
  ASSERT_EQ(Run(), WizardOutcome::Recognised);
  Log pointLine, lines;
  for (int j = 1; j < 32; ++j)
    pointLine = Cat({pointLine, {Format("> led clearall\n  led l 6  0 0 %d  0 \n", j), "wait 100",
                                 Format("ask 1 观察区是否亮起 [ %d ] 个点且在一条直线", j + 1)}});
  for (int i = 0; i < 16; ++i)
    lines = Cat({lines, {Format(i ? "> led l 6 0 %d %d %d \n" : "> led clearall \n led l 6 0 %d %d %d \n", i, 31, i),
                         "wait 100", Format("ask 0 观察区亮起的线条个数是否为: %d  条", i + 1)}});
  // ledpara: width, height, 16, fold width, fold rows, scan, snake,
  // conversion, U, chip, DZ, OE, data.
  EXPECT_EQ(Transcript(), Cat({
      {"> set Regonize_M \n", "> set Sys_Crc", "wait 1500", "> set chrct machine 88ff \n", "countdown 8"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 0"),
      {"countdown 5", "> set ld 2\n set soft  32 16  \n", "countdown 8"},
      {"> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮",
       "message 提示 即将判断亮度变化，请观察屏幕并记住此时对亮度感受！！！", "> set ld 19 \n",
       "ask 0 观察区亮度比之前是否变亮"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
      {"countdown 9", "> led clearall\n  led p 6 0 0\n", "countdown 1", "points?", "select 0 0", "> set Sys_Crc",
       "wait 1500", "> set soft 32 16  \n", "countdown 9"},
      pointLine,
      {"select 1 3", "select 0 0"},
      Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
      {"countdown 5", "> set soft 32 16  \n", "countdown 5", "> led clearall \n", "countdown 2"},
      lines,
      {"select 2 6"},
      Push("32 16 16 32 1 16 0 0 0 0 0 1 1"),
      {"countdown 8", "> led clearall\n  led r 6 1 1 14 14 \n", "countdown 1", "ask 2 观察区域是否有出现正方形形",
       "wait 2000", "> led clearall \nled 12t 6 0 0 " + platform::Utf8ToGbk("完成") + "\n", "wait 2000",
       "message 提示 目标显示板已识别成功,下一步断电重启设备搜卡根据屏像素情况配置屏参数！！！", "> set ld 7"}}));
  EXPECT_EQ(link.events().front().bytes, "192.168.1.20");
  ExpectEndActions();
  // The copy holds what the card was sent and nothing else: the code word,
  // the module, one module as the screen, the brightness it had.
  card::DeviceStatusRecord expect = Opened();
  expect.setU16(rec::kCodeWord, 0x88FF);
  expect.setU16(rec::kWidth, 32);
  expect.setU16(rec::kHeight, 16);
  for (auto [off, v] : {std::pair<std::size_t, int>{200, 32}, {202, 16}, {204, 16}, {205, 32}, {210, 1}, {24, 1},
                        {25, 1}, {21, 0}, {23, 0}})
    expect.setU8(off, static_cast<std::uint8_t>(v));
  expect.updateChecksum();
  EXPECT_EQ(copy, expect);
  // Seconds left and 100 − left × 100 ÷ initial, once a second.
  ASSERT_GE(port.updates.size(), 8u);
  EXPECT_EQ(std::vector<int>(port.updates.begin(), port.updates.begin() + 8),
            (std::vector<int>{7013, 6025, 5038, 4050, 3063, 2075, 1088, 100}));
}

TEST_F(Wizard, AnswersThatChangeTheCourse) {
  // Not lit twice: an announcement of the copy as it stands and data 1
  // pushed, then the cable message; no announcement without its line.
  port.answer = [](WizardWindow, const std::string& t) { return t == card::kAskFullyLit ? WizardAnswer::No : WizardAnswer::Yes; };
  ASSERT_EQ(Run(), WizardOutcome::Failed);
  const Log all = Transcript();
  EXPECT_EQ(Log(all.begin() + 11, all.end()),
            Cat({{"> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮", "> set Sys_Crc", "wait 1500"},
                 Push("32 16 16 32 1 32 0 0 0 0 0 1 1"),
                 {"countdown 5", "> led clearall\n", "countdown 2", "ask 0 观察区域是否全亮",
                  "message 错误 失败:请检查LED端口1排线和供电线是否正常连接到显示板！！！"},
                 PutBack(true, true, true, true), {std::string("message 提示 ") + card::kMsgRestored}}));
  ExpectPutBack();

  // Darker at 19: OE 0 is pushed before the data polarity flips. No square
  // twice: the snake flips, then the start over, without "set Regonize_M"
  // or the code word the card already has.
  Reset();
  int squares = 0;
  port.answer = [&squares](WizardWindow w, const std::string& t) {
    if (t == card::kAskBrighter) return WizardAnswer::No;
    return w == WizardWindow::Square && ++squares <= 2 ? WizardAnswer::No : WizardAnswer::Yes;
  };
  ASSERT_EQ(Run(), WizardOutcome::Recognised);
  const Log pushes = Only("> set ledpara");
  EXPECT_EQ(Log(pushes.begin() + 1, pushes.begin() + 3),
            (Log{"> set ledpara  32 16 16 32 1 32 0 0 0 0 0 0 0 \n", "> set ledpara  32 16 16 32 1 32 0 0 0 0 0 0 1 \n"}));
  const Log t = Transcript();
  auto at = std::find(t.begin(), t.end(), "ask 2 观察区域是否有出现正方形形");
  ASSERT_NE(at, t.end());
  EXPECT_EQ(Log(at + 1, at + 14),
            Cat({Push("32 16 16 32 1 16 1 0 0 0 0 0 1"),
                 {"> led clearall\n", "countdown 5", "> led clearall\n  led r 6 1 1 14 14 \n",
                  "ask 2 观察区域是否有出现正方形形",
                  "message 错误 失败:请重新开始智能识别，再试一次过程中仔细观察做出正确的判断！！！"},
                 Push("32 16 16 32 1 32 0 0 0 0 0 1 0"), {"countdown 5", "> set ld 2\n set soft  32 16  \n"}}));
  EXPECT_EQ(Only("> set Regonize_M").size() + Only("> set chrct").size(), 2u);
  EXPECT_EQ(copy.u8(rec::kSnakeDirection), 0);
  ExpectEndActions();
}

TEST_F(Wizard, PointCountsFoldWidthAndScanAnswersBecomeTheParameters) {
  struct Case {
    int points, noAtPoints, noAtLines;  // position chosen; first "[ n ]" and line count answered "否"
    int width, height;                  // list items
    std::string soft;                   // the screen for the fold width
    Log selected;
    std::string ledpara;                // the last push
    std::size_t asked;                  // "[ n ] 个点" questions
  };
  const Case cases[] = {
      // "2" points: 2 fold rows; the line of 64 breaks after 8; 4 lines.
      {2, 9, 5, 4, 4, "set soft 64 16  \n", {"select 0 1", "select 1 1", "select 0 1", "select 2 2"},
       "32 16 16 8 2 4 0 0 0 0 0 1 1", 8},
      // "16": no fold rows item, the list loses its selection and the rows
      // stay 1; "否" at once is a fold width of 1, which no item stands for.
      {5, 2, 0, 4, 4, "set soft 32 16  \n", {"select 0 -1", "select 0 -1", "select 2 6"},
       "32 16 16 1 1 16 0 0 0 0 0 1 1", 1},
      // "0" counts as one; 3 lines: no scan item.
      {0, 0, 4, 8, 8, "set soft 64 32  \n", {"select 0 0", "select 1 4", "select 0 0"}, "64 32 16 64 1 3 0 0 0 0 0 1 1",
       63},
      // 136 dots × 8 rows: the point line stops at the 255 a byte holds.
      {4, 0, 0, 17, 4, "set soft 1088 16  \n", {"select 0 3", "select 0 3", "select 2 6"},
       "136 16 16 255 8 16 0 0 0 0 0 1 1", 254},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ledpara);
    Reset();
    port.points = {c.points};
    port.answer = [&c](WizardWindow w, const std::string& text) {
      const bool no = (w == WizardWindow::PointLine && text == Format(card::kAskPointsInLine, c.noAtPoints)) ||
                      text == Format(card::kAskLineCount, c.noAtLines);
      return no ? WizardAnswer::No : WizardAnswer::Yes;
    };
    ASSERT_EQ(Run(Lists(c.width, c.height)), WizardOutcome::Recognised);
    EXPECT_EQ(Only("> set soft ")[0], "> " + c.soft);
    EXPECT_EQ(Only("select "), c.selected);
    EXPECT_EQ(Only("> set ledpara").back(), "> set ledpara  " + c.ledpara + " \n");
    EXPECT_EQ(Only("ask 1 ").size(), c.asked);
  }
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
      {"code word countdown", 1}, {"push countdown", 2}, {"one module countdown", 3}, {"polarity countdown", 4},
      {"fold rows countdown", 5}, {"fold width countdown", 9}, {"scan countdown", 11}, {"square countdown", 12},
      {"fully lit", 0, card::kAskFullyLit}, {"brighter", 0, card::kAskBrighter},
      {"points in line", 0, "观察区是否亮起 [ 5 ] 个点且在一条直线"}, {"line count", 0, "观察区亮起的线条个数是否为: 3  条"},
      {"square", 0, card::kAskSquare}, {"point count", 0, nullptr, true},
      {"dialog closed in an announcement", 0, nullptr, false, 1500},
      {"dialog closed in a pattern pause", 0, nullptr, false, 100},
      {"dialog closed before the success message", 0, nullptr, false, 2000},
  };
  for (const Stop& s : stops) {
    SCOPED_TRACE(s.what);
    Reset();
    platform::CancellableClock runClock{clock};
    clock.cancelIn = s.cancelInMs ? &runClock : nullptr;
    clock.cancelInMs = s.cancelInMs;
    port.closeCountdown = s.closeCountdown;
    port.points = {s.closePoints ? std::nullopt : std::optional<int>(1)};
    port.answer = [&s](WizardWindow, const std::string& text) {
      return s.closeWindow && text == s.closeWindow ? WizardAnswer::Closed : WizardAnswer::Yes;
    };
    bool aborted = false;
    try {
      EXPECT_EQ(card::RunRecognitionWizard(link, runClock, port, "192.168.1.20", &copy, Lists()),
                WizardOutcome::Cancelled);
    } catch (const platform::OperationAborted&) {
      aborted = true;
    }
    EXPECT_EQ(aborted, s.cancelInMs != 0);
    ExpectPutBack();
    // Right after the wait that was stopped (an announced line that had
    // begun went out whole): only the lines that put back what the run
    // changed, then the word that the card is as it was, unless the dialog
    // is closing.
    const Log t = Transcript();
    const Log all = PutBack(true, true, true, true);
    auto from = std::find_if(t.rbegin(), t.rend(), [&](const std::string& e) {
                  return std::find(all.begin(), all.end(), e) == all.end() && e.rfind("message 提示 ", 0) != 0;
                }).base();
    ASSERT_NE(from, t.begin());
    const std::string& stopped = *(from - 1);
    EXPECT_TRUE(stopped.rfind("countdown", 0) == 0 || stopped.rfind("ask", 0) == 0 || stopped == "points?" ||
                stopped.rfind("wait", 0) == 0)
        << stopped;
    const bool screen = std::find(t.begin(), from, "> set ld 2\n set soft  32 16  \n") != from;
    const bool driver = std::find_if(t.begin(), from, [](const std::string& e) {
                          return e.rfind("> set ledpara", 0) == 0;
                        }) != from;
    Log rest(from, t.end());
    EXPECT_EQ(rest, Cat({PutBack(screen, driver, true, screen),
                         aborted ? Log{} : Log{std::string("message 提示 ") + card::kMsgRestored}}));
    EXPECT_TRUE(Only("message 错误").empty() && Only("message 提示 目标").empty());
  }
}

TEST_F(Wizard, RefusesWithoutAModuleAndStopsWhenTheCardCannotBeReached) {
  for (const auto& lists : {Lists(0, 4, 0), Lists(4, -1, 0), Lists(4, 4, -1)}) EXPECT_EQ(Run(lists), WizardOutcome::Refused);
  EXPECT_EQ(Only("message"), Log(3, "message 提示 智能识别前请先选择单元板长点数、单元板高点数和扫描芯片！！！"));
  EXPECT_TRUE(link.events().empty());
  Reset();
  link.queueConnectResult(-1);
  EXPECT_EQ(Run(), WizardOutcome::ConnectFailed);
  EXPECT_EQ(Transcript(), Log{"message 错误 连接设备失败"});
  // A line that does not go out (the code word) stops the run; the copy
  // keeps only what went, and the person is told the card may be half set.
  Reset();
  link.failSendsFrom(2);
  EXPECT_EQ(Run(), WizardOutcome::LinkLost);
  EXPECT_EQ(Only("message"), Log{std::string("message 错误 ") + card::kMsgNotRestored});
  EXPECT_EQ(copy, Opened());
  // The link goes after the first push: what went out could not be put back.
  Reset();
  testing_support::FakeChannel later(&clock);
  later.failSendsFrom(5);
  EXPECT_EQ(card::RunRecognitionWizard(later, cancellable, port, "192.168.1.20", &copy, Lists()), WizardOutcome::LinkLost);
  EXPECT_EQ(Only("message"), Log{std::string("message 错误 ") + card::kMsgNotRestored});
  EXPECT_EQ(copy.u16(rec::kCodeWord), 0x88FF) << "the copy keeps what the card was sent";
}

TEST_F(Wizard, ARestartThatIsNotAnsweredIsSaidAndEachWaitIsBounded) {
  // A card that neither closes the link nor takes a new connection.
  link.onSend([this](const std::string& bytes) { log.push_back("> " + bytes); });
  port.closeCountdown = 1;
  const int polls = card::kRestartWaitMs / card::kRestartPollMs;
  for (int i = 0; i <= polls; ++i) link.queueConnectResult(i == 0 ? 0 : -1);  // the run's own, then silence
  EXPECT_EQ(Run(), WizardOutcome::Cancelled);
  EXPECT_EQ(Only("message"), Log{std::string("message 提示 ") + card::kMsgRestoredNoAnswer});
  EXPECT_EQ(link.connectCount(), 1 + polls);
  EXPECT_EQ(link.receiveCount(), polls);
  EXPECT_EQ(copy, Opened());
}
