#include "programs/display_test.h"

#include <algorithm>
#include <array>

#include "link/command_channel.h"
#include "platform/text.h"

namespace card {
namespace {

// The display targets whose modules are tested with pattern 6: "3-- 常规P2.5&P3",
// "6-- 行8S_折16", "7-- 行8S_折32", "8-- 行8S_折64", "12--全彩P4_折16(室外)",
// "13--强力Q3", "14--强力Q3(5266)", "16--ziD3", "17--ziD4", "18--全彩P4_折80(室外)",
// "22--行10S_P4全彩外", "23--更多目标设置".
constexpr std::array<std::uint16_t, 12> kPatternSixTargets = {0x800A, 0x8801, 0x8802, 0x8803, 0x800E, 0x800F,
                                                              0x8009, 0x801F, 0x802F, 0x801E, 0x8804, 0x88FF};

}  // namespace

int DisplayTestNumber(std::uint16_t codeWord) {
  return std::find(kPatternSixTargets.begin(), kPatternSixTargets.end(), codeWord) != kPatternSixTargets.end() ? 6 : 2;
}

bool DisplayTest(Channel& file, platform::Clock& clock, UserPort& user, const MainState& state) {
  const std::string address = state.selectedAddress();
  if (address.empty() || file.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  struct Disconnect {
    Channel& ch;
    ~Disconnect() { ch.Disconnect(); }
  } disconnect{file};
  const int number = DisplayTestNumber(state.record().u16(rec::kCodeWord));
  {
    ExchangeScope exchange(file);
    if (file.Send(platform::Format("led scr_t 1 %d \n", number)) != 0) {
      user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
      return false;
    }
    clock.sleepMs(kDisplayTestPauseMs);
  }
  clock.sleepMs(kAfterDisplayTestMs);
  return true;
}

bool SyncDisplay(const MainState& state, SysCfg cfg, Siblings& siblings, UserPort& user,
                 const std::string& cardIp) {
  if (!state.cardOpened()) {
    user.Message(kMsgNotConnected, kTitleError, Icon::Error);
    return false;
  }
  cfg.setRemoteIp(cardIp);
  if (siblings.StartIfNotRunning(kSyncDisplayProgram) == SiblingStart::Failed) {
    user.Message(SiblingStartFailedText(kSyncDisplayProgram), kTitleError, Icon::Error);
    return false;
  }
  return true;
}

}  // namespace card
