#include "wizard/wizard.h"

#include <algorithm>
#include <functional>

#include "link/announce.h"
#include "link/command_channel.h"
#include "platform/codec.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

// Countdowns, in seconds.
constexpr int kCodeWordCountdown = 8;
constexpr int kPushCountdown = 5;
constexpr int kOneModuleCountdown = 8;
constexpr int kPolarityCountdown = 2;
constexpr int kOeCountdown = 4;
constexpr int kBeforePointCountdown = 9;
constexpr int kPointCountdown = 1;
constexpr int kFoldScreenCountdown = 9;
constexpr int kClearCountdown = 2;
constexpr int kScanCountdown = 8;
constexpr int kSquareCountdown = 1;

constexpr int kStartData = 0;
constexpr int kStartOe = 1;
constexpr int kStartScan = 32;
constexpr int kDimBrightness = 2;
constexpr int kBrightBrightness = 19;
constexpr int kFoldRowsItems = 4;

constexpr const char* kLineRecognition = "set Regonize_M \n";
constexpr const char* kLineCodeWord = "set chrct machine %x \n";
constexpr const char* kLineOneModule = "set ld 2\n set soft  %d %d  \n";
constexpr const char* kLineBright = "set ld %d \n";
constexpr const char* kLineScreen = "set soft %d %d  \n";
// The card takes this one without a line end.
constexpr const char* kLineRestoreBrightness = "set ld %d";
constexpr const char* kLineClear = "led clearall\n";
constexpr const char* kLineClearBlank = "led clearall \n";
constexpr const char* kLinePoint = "led clearall\n  led p 6 0 0\n";
constexpr const char* kLinePointRow = "led clearall\n  led l 6  %d 0 %d  0 \n";
constexpr const char* kLineFirstRow = "led clearall \n led l 6 0 %d %d %d \n";
constexpr const char* kLineMoreRow = "led l 6 0 %d %d %d \n";
constexpr const char* kLineSquare = "led clearall\n  led r 6 1 1 14 14 \n";
constexpr const char* kLineDone = "led clearall \nled 12t 6 0 0 %s\n";

// How the run stops early: the person closed a window, or the link is gone.
struct Stop {
  WizardOutcome outcome;
};

class Run {
 public:
  Run(Channel& link, platform::Clock& clock, WizardPort& port, const std::string& address, DeviceStatusRecord* copy)
      : link_(link),
        clock_(clock),
        port_(port),
        address_(address),
        copy_(copy),
        start_(*copy),
        brightness_(copy->u8(rec::kBrightness)) {}

  WizardOutcome Go(const ModuleGuess& start) {
    try {
      Send(kLineRecognition);
      recognitionMode_ = true;
      bool recognised = false;
      do {
        guess_ = start;
        Setup();
        if (!Polarity()) break;
        recognised = Recognise();
      } while (!recognised);
      if (!recognised) return Restore(WizardOutcome::Failed, true);
      clock_.sleepMs(kDonePauseMs);
      // untranslated: the card draws it on the panel
      Send(Format(kLineDone, platform::Utf8ToGbk("完成").c_str()));
      clock_.sleepMs(kDonePauseMs);
      port_.Message(kMsgRecognised, kTitleNotice, Icon::Information);
      End();
      return WizardOutcome::Recognised;
    } catch (const Stop& stop) {
      return Restore(stop.outcome, true);
    } catch (const platform::OperationAborted&) {
      // The dialog is closing: put the card back all the same, in pauses a
      // cancel does not cut short, and say nothing.
      Restore(WizardOutcome::Cancelled, false);
      throw;
    }
  }

 private:
  void Setup() {
    if (copy_->u16(rec::kCodeWord) != kParameterisedModuleCode) {
      DeviceStatusRecord candidate = *copy_;
      candidate.setU16(rec::kCodeWord, kParameterisedModuleCode);
      Change(candidate, Format(kLineCodeWord, kParameterisedModuleCode));
      Countdown(kCodeWordCountdown);
    }
    Push();
    Countdown(kPushCountdown);
    Send(Format(kLineOneModule, guess_.width, guess_.height), [this](DeviceStatusRecord& r) {
      r.setU8(rec::kBrightness, kDimBrightness);
      SetScreen(r, guess_.width, guess_.height);
    });
    Countdown(kOneModuleCountdown);
  }

  // The cleared screen lights up all over only with the wrong data
  // polarity. False after the cable message.
  bool Polarity() {
    Send(kLineClear);
    for (;;) {
      Countdown(kPolarityCountdown);
      if (!Answer(WizardWindow::Screen, kAskFullyLit)) {
        if (guess_.data == 1) {
          port_.Message(kMsgCheckCable, kTitleError, Icon::Error);
          return false;
        }
        Announce();
        guess_.data = 1;
        Push();
        Countdown(kPushCountdown);
        Send(kLineClear);
        continue;
      }
      port_.Message(kMsgRememberBrightness, kTitleNotice, Icon::Information);
      Send(Format(kLineBright, kBrightBrightness),
           [](DeviceStatusRecord& r) { r.setU8(rec::kBrightness, kBrightBrightness); });
      if (!Answer(WizardWindow::Screen, kAskBrighter)) {
        guess_.oe = 0;
        Push();
        Countdown(kOeCountdown);
      }
      guess_.data ^= 1;
      Push();
      return true;
    }
  }

  // Fold rows, fold width, scan and snake; false when the square never
  // showed and the run starts over.
  bool Recognise() {
    Countdown(kBeforePointCountdown);
    Send(kLinePoint);
    Countdown(kPointCountdown);
    const std::optional<int> chosen = port_.ChoosePointCount();
    if (!chosen) throw Stop{WizardOutcome::Cancelled};
    const int item = std::max(0, *chosen - 1);
    TakeFoldRows(item);
    {
      DeviceStatusRecord candidate = *copy_;
      SetScreen(candidate, guess_.width * guess_.foldRows, guess_.height);
      Change(candidate, Format(kLineScreen, guess_.width * guess_.foldRows, guess_.height));
    }
    Countdown(kFoldScreenCountdown);

    const int chain = std::min(guess_.width * guess_.foldRows, kMaxFoldWidth);
    int j = 1;
    while (j < chain) {
      Send(Format(kLinePointRow, 0, j));
      clock_.sleepMs(kPatternPauseMs);
      if (!Answer(WizardWindow::PointLine, Format(Tr(kAskPointsInLine), j + 1))) break;
      ++j;
    }
    guess_.foldWidth = j;
    if (int at = FoldWidthItemOf(j); at >= 0) port_.SelectItem(WizardList::FoldWidth, at);
    TakeFoldRows(item);
    Push();
    Countdown(kPushCountdown);
    Send(Format(kLineScreen, guess_.width, guess_.height),
         [this](DeviceStatusRecord& r) { SetScreen(r, guess_.width, guess_.height); });
    Countdown(kPushCountdown);
    Send(kLineClearBlank);
    Countdown(kClearCountdown);

    int i = 0;
    while (i < guess_.height) {
      Send(Format(i == 0 ? kLineFirstRow : kLineMoreRow, i, guess_.width - 1, i));
      clock_.sleepMs(kPatternPauseMs);
      if (!Answer(WizardWindow::Screen, Format(Tr(kAskLineCount), i + 1))) break;
      ++i;
    }
    guess_.scan = i;
    if (int at = ScanItemOf(i); at >= 0) port_.SelectItem(WizardList::Scan, at);
    Push();
    Countdown(kScanCountdown);

    Send(kLineSquare);
    Countdown(kSquareCountdown);
    if (Answer(WizardWindow::Square, kAskSquare)) return true;
    guess_.snake ^= 1;
    Push();
    Send(kLineClear);
    Countdown(kPushCountdown);
    Send(kLineSquare);
    if (Answer(WizardWindow::Square, kAskSquare)) return true;
    port_.Message(kMsgTryAgain, kTitleError, Icon::Error);
    return false;
  }

  // Item of "折线行数" as counted: the points lit, and the fold rows it
  // stands for (none for 16 points and more, which keep the rows).
  void TakeFoldRows(int item) {
    const bool listed = item < kFoldRowsItems;
    port_.SelectItem(WizardList::FoldRows, listed ? item : -1);
    if (listed) guess_.foldRows = FoldRowsOfItem(item);
  }

  // The end of a run that recognised the module: the brightness the card
  // had before, and the link closed.
  void End() {
    port_.HideCountdown();
    const std::string line = Format(kLineRestoreBrightness, brightness_);
    if (SendLine(link_, line) == 0) {
      copy_->setU8(rec::kBrightness, static_cast<std::uint8_t>(brightness_));
      copy_->updateChecksum();
    }
    link_.Disconnect();
    link_.Disconnect();
  }

  // The end of every other run: each setting the run changed goes back to
  // what the card had, the copy with it; then a restart takes the card out
  // of recognition mode (no line does), and the run waits for it to answer
  // again, so whatever the person does next finds it.
  WizardOutcome Restore(WizardOutcome outcome, bool tell) {
    port_.HideCountdown();
    bool sent = true;
    auto putBack = [&](const std::function<void(DeviceStatusRecord&)>& edit, const std::string& line) {
      if (!sent) return;
      DeviceStatusRecord back = *copy_;
      edit(back);
      if (back == *copy_) return;
      sent = SendChange(link_, clock_, copy_, back, kDriverDialogAnnounceWaitMs, line);
    };
    const int width = start_.u16(rec::kWidth), height = start_.u16(rec::kHeight);
    putBack([&](DeviceStatusRecord& r) { SetScreen(r, width, height); }, Format(kLineScreen, width, height));
    DeviceStatusRecord driver = *copy_;
    for (std::size_t off : {rec::kModuleWidth, rec::kModuleHeight, rec::kDriverConstant, rec::kFoldWidth, rec::kFoldRows,
                            rec::kScan, rec::kSnakeDirection, rec::kRowColConversion, rec::kUFold, rec::kRowScanChip,
                            rec::kDzFold, rec::kOePolarity, rec::kDataPolarity})
      driver.setU8(off, start_.u8(off));
    putBack([&](DeviceStatusRecord& r) { r = driver; }, LedParaLine(driver));
    const std::uint16_t code = start_.u16(rec::kCodeWord);
    putBack([&](DeviceStatusRecord& r) { r.setU16(rec::kCodeWord, code); }, Format(kLineCodeWord, code));
    putBack([&](DeviceStatusRecord& r) { r.setU8(rec::kBrightness, static_cast<std::uint8_t>(brightness_)); },
            Format(kLineBright, brightness_));
    bool answers = true;
    if (sent && recognitionMode_) {
      sent = SendLine(link_, "reset \n") == 0;
      if (sent) answers = WaitForRestart();
    }
    link_.Disconnect();
    link_.Disconnect();
    if (tell) {
      if (!sent)
        port_.Message(kMsgNotRestored, kTitleError, Icon::Error);
      else
        port_.Message(answers ? kMsgRestored : kMsgRestoredNoAnswer, kTitleNotice, Icon::Information);
    }
    return sent ? outcome : WizardOutcome::LinkLost;
  }

  // The card closes the link as it goes down (until then it would still
  // take a new connection), and is back once it takes one again. Pauses a
  // cancel does not cut short, each wait bounded.
  bool WaitForRestart() {
    for (int waited = 0; waited < kRestartWaitMs; waited += kRestartPollMs) {
      char scrap[64];
      std::size_t count = 0;
      int rc;
      {
        ExchangeScope exchange(link_);
        rc = link_.Receive(scrap, sizeof scrap, &count);
      }
      if (rc != 0) break;
      clock_.holdMs(kRestartPollMs);
    }
    link_.Disconnect();
    for (int waited = 0; waited < kRestartWaitMs; waited += kRestartPollMs) {
      clock_.holdMs(kRestartPollMs);
      if (link_.Connect(address_) == 0) return true;
    }
    return false;
  }

  bool Answer(WizardWindow window, const std::string& text) {
    const WizardAnswer a = port_.Ask(window, text);
    if (a == WizardAnswer::Closed) throw Stop{WizardOutcome::Cancelled};
    return a == WizardAnswer::Yes;
  }

  void Countdown(int seconds) {
    port_.ShowCountdown(seconds);
    for (int left = seconds; left >= 1;) {
      clock_.sleepMs(kCountdownStepMs);
      if (port_.CountdownClosed()) throw Stop{WizardOutcome::Cancelled};
      --left;
      port_.UpdateCountdown(left, 100 - left * 100 / seconds);
    }
    port_.HideCountdown();
  }

  // The driver parameters of the guess, announced and sent.
  void Push() {
    const DeviceStatusRecord candidate = WithGuess(*copy_, guess_);
    Change(candidate, LedParaLine(candidate));
  }

  void Change(const DeviceStatusRecord& candidate, const std::string& line) {
    if (!SendChange(link_, clock_, copy_, candidate, kDriverDialogAnnounceWaitMs, line))
      throw Stop{WizardOutcome::LinkLost};
  }

  // An announcement of the copy as it stands: the card holds the same, so
  // whatever line comes next is checked against a matching value.
  void Announce() {
    if (AnnounceChecksum(link_, clock_, *copy_, kDriverDialogAnnounceWaitMs) != 0) throw Stop{WizardOutcome::LinkLost};
  }

  // A line without an announcement; follow makes the copy take what the
  // line changes on the card (which seals its record anew).
  template <typename Follow>
  void Send(const std::string& line, Follow follow) {
    Send(line);
    follow(*copy_);
    copy_->updateChecksum();
  }
  void Send(const std::string& line) {
    if (SendLine(link_, line) != 0) throw Stop{WizardOutcome::LinkLost};
  }

  static void SetScreen(DeviceStatusRecord& r, int width, int height) {
    r.setU16(rec::kWidth, static_cast<std::uint16_t>(width));
    r.setU16(rec::kHeight, static_cast<std::uint16_t>(height));
  }

  Channel& link_;
  platform::Clock& clock_;
  WizardPort& port_;
  const std::string address_;
  DeviceStatusRecord* copy_;
  // The copy as the run found it: what an unfinished run puts back.
  const DeviceStatusRecord start_;
  const int brightness_;
  bool recognitionMode_ = false;
  ModuleGuess guess_;
};

}  // namespace

std::vector<std::string> PointCountItems() { return {"0", "1", "2", "4", "8", "16", "32", "64"}; }

std::optional<ModuleGuess> StartGuess(const PanelDriverValues& lists) {
  const int items = static_cast<int>(ModuleWidthItems().size());
  if (lists.width <= 0 || lists.width >= items || lists.height <= 0 || lists.height >= items || lists.chip < 0 ||
      lists.chip >= static_cast<int>(RowScanChipItems().size()))
    return std::nullopt;
  ModuleGuess g;
  g.width = lists.width * 8;
  g.height = lists.height * 4;
  g.chip = lists.chip;
  g.data = kStartData;
  g.oe = kStartOe;
  g.foldRows = 1;
  g.foldWidth = g.width;
  g.scan = kStartScan;
  g.snake = 0;
  return g;
}

DeviceStatusRecord WithGuess(DeviceStatusRecord r, const ModuleGuess& g) {
  auto byte = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 0xFF)); };
  r.setU8(rec::kModuleWidth, byte(g.width));
  r.setU8(rec::kModuleHeight, byte(g.height));
  r.setU8(rec::kRowScanChip, byte(g.chip));
  r.setU8(rec::kDataPolarity, byte(g.data));
  r.setU8(rec::kOePolarity, byte(g.oe));
  r.setU8(rec::kFoldRows, byte(g.foldRows));
  r.setU8(rec::kFoldWidth, byte(g.foldWidth));
  r.setU8(rec::kScan, byte(g.scan));
  r.setU8(rec::kSnakeDirection, byte(g.snake));
  r.setU8(rec::kDzFold, 0);
  r.setU8(rec::kRowColConversion, 0);
  r.setU8(rec::kUFold, 0);
  return r;
}

WizardOutcome RunRecognitionWizard(Channel& link, platform::Clock& clock, WizardPort& port, const std::string& address,
                                   DeviceStatusRecord* copy, const PanelDriverValues& lists) {
  const std::optional<ModuleGuess> start = StartGuess(lists);
  if (!start) {
    port.Message(kMsgChooseModuleFirst, kTitleNotice, Icon::Warning);
    return WizardOutcome::Refused;
  }
  if (link.Connect(address) != 0) {
    port.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return WizardOutcome::ConnectFailed;
  }
  return Run(link, clock, port, address, copy).Go(*start);
}

}  // namespace card
