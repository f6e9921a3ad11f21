// "智能识别": finds the driver parameters of an unknown LED module by lighting
// test patterns on it and asking the person in front of it what they see.
// The run works on the panel driver dialog's record copy and link; the
// questions, the countdown window and the dialog's lists are reached
// through a WizardPort, so the run itself can go on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "link/record.h"
#include "params/panel_driver.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card {

// What the windows ask.
inline constexpr const char* kAskFullyLit = TR_NOOP("观察区域是否全亮");
inline constexpr const char* kAskBrighter = TR_NOOP("观察区亮度比之前是否变亮");
inline constexpr const char* kAskLineCount = TR_NOOP("观察区亮起的线条个数是否为: %d  条");
inline constexpr const char* kAskPointsInLine = TR_NOOP("观察区是否亮起 [ %d ] 个点且在一条直线");
inline constexpr const char* kAskSquare = TR_NOOP("观察区域是否有出现正方形形");
inline constexpr const char* kAskPointCount = TR_NOOP("观察区域亮起的点数");

// What the run tells.
inline constexpr const char* kMsgRememberBrightness = TR_NOOP("即将判断亮度变化，请观察屏幕并记住此时对亮度感受！！！");
inline constexpr const char* kMsgCheckCable = TR_NOOP("失败:请检查LED端口1排线和供电线是否正常连接到显示板！！！");
inline constexpr const char* kMsgTryAgain = TR_NOOP("失败:请重新开始智能识别，再试一次过程中仔细观察做出正确的判断！！！");
inline constexpr const char* kMsgRecognised =
    TR_NOOP("目标显示板已识别成功,下一步断电重启设备搜卡根据屏像素情况配置屏参数！！！");
inline constexpr const char* kMsgChooseModuleFirst = TR_NOOP("智能识别前请先选择单元板长点数、单元板高点数和扫描芯片！！！");
inline constexpr const char* kMsgRestored =
    TR_NOOP("智能识别未完成：设备的屏幕大小、显示目标、驱动参数和亮度已恢复为识别前的设置，设备已重启退出识别模式。");
inline constexpr const char* kMsgRestoredNoAnswer =
    TR_NOOP("智能识别未完成：设备的屏幕大小、显示目标、驱动参数和亮度已恢复为识别前的设置，设备已重启退出识别模式，"
    "但重启后暂未应答，请稍后再操作。");
inline constexpr const char* kMsgNotRestored =
    TR_NOOP("与设备的连接中断，识别前的设置没有全部恢复，设备可能仍处于识别模式。请检查连接，重新读取设备参数后再设置。");

// The items of "折线行数识别", in order.
std::vector<std::string> PointCountItems();

// The code word of the parameterised module type ("23--更多目标设置").
constexpr std::uint16_t kParameterisedModuleCode = 0x88FF;
// The pause after each test pattern before its question, and the two
// pauses around "完成" after a successful run.
constexpr int kPatternPauseMs = 100;
constexpr int kDonePauseMs = 2000;
// One step of the countdown window.
constexpr int kCountdownStepMs = 1000;
// After an unfinished run the card restarts to leave recognition mode: the
// run watches this often, and for at most this long, for the card to close
// the link, then for it to take a new connection.
constexpr int kRestartPollMs = 500;
constexpr int kRestartWaitMs = 15000;
// The fold width is one byte on the card: the point line stops there.
constexpr int kMaxFoldWidth = 255;

// The three question windows with "是" and "否".
enum class WizardWindow {
  Screen,     // "屏幕参数识别": fully lit, brighter, number of lines
  PointLine,  // "观察区域的亮点是否连续"
  Square,     // "蛇形方向识别"
};

// Closed: the person closed the window instead of answering; the run stops.
enum class WizardAnswer { Yes, No, Closed };

// The lists of the panel driver dialog that the run selects items in.
enum class WizardList { FoldRows, FoldWidth, Scan };

class WizardPort {
 public:
  virtual ~WizardPort() = default;
  virtual WizardAnswer Ask(WizardWindow window, const std::string& text) = 0;
  // "折线行数识别": the chosen position of PointCountItems(); nothing when
  // the window was closed or "取消" pressed.
  virtual std::optional<int> ChoosePointCount() = 0;
  // The countdown window "智能识别中": shown with its seconds, updated once a
  // second, hidden when it has run out or the run stops.
  virtual void ShowCountdown(int seconds) = 0;
  virtual void UpdateCountdown(int remaining, int percent) = 0;
  virtual void HideCountdown() = 0;
  // Whether the person closed the countdown window since it was last shown.
  virtual bool CountdownClosed() = 0;
  virtual void Message(const std::string& text, const std::string& title, Icon icon) = 0;
  // Selects item of list; -1 leaves the list without a selection.
  virtual void SelectItem(WizardList list, int item) = 0;
};

// The driver parameters as the run has worked them out so far.
struct ModuleGuess {
  int width = 0;   // dots
  int height = 0;  // dots
  int chip = 0;
  int data = 0;  // data polarity index
  int oe = 1;    // OE polarity index
  int foldRows = 1;
  int foldWidth = 0;  // dots
  int scan = 32;      // row groups
  int snake = 0;
  bool operator==(const ModuleGuess&) const = default;
};

// The guess the run starts from: module size and chip from the lists, the
// rest at the start values. Nothing when the width, height or chip is not
// chosen (a size of 0 dots counts as not chosen).
std::optional<ModuleGuess> StartGuess(const PanelDriverValues& lists);

// r with the guess in its driver fields; DZ fold, row/column conversion and
// U fold 0. Offset 12 and every other byte stay as they are.
DeviceStatusRecord WithGuess(DeviceStatusRecord r, const ModuleGuess& g);

enum class WizardOutcome {
  Refused,        // module size or chip not chosen; nothing sent
  ConnectFailed,  // "连接设备失败"; nothing sent
  Recognised,     // the dialog closes as confirmed
  Failed,         // the cable message: nothing lights
  Cancelled,      // a window closed by the person
  LinkLost,       // a line could not be sent: the card may keep part of the run
};

// The whole run. lists: the dialog's lists as the person left them. *copy
// follows every line the card was sent, so every checksum announced matches
// the card. A run that recognises the module keeps what it found and
// restores the brightness. Any other end puts back every setting the run
// changed (screen size, code word, driver parameters and polarities,
// brightness), each with its announcement, restarts the card to leave
// recognition mode, waits for it to answer again, and tells the person so;
// when the link is gone the person is told the card may be half set
// (LinkLost). A cancelled clock still restores, without messages, then
// rethrows.
WizardOutcome RunRecognitionWizard(Channel& link, platform::Clock& clock, WizardPort& port, const std::string& address,
                                   DeviceStatusRecord* copy, const PanelDriverValues& lists);

}  // namespace card
