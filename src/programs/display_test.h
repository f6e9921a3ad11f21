// "显示测试" lights the card's own test pattern; "同步显示" hands the card to
// the synchronised-display program.
#pragma once

#include <cstdint>
#include <string>

#include "core/main_state.h"
#include "core/ports.h"
#include "core/siblings.h"
#include "core/syscfg.h"
#include "link/channel.h"
#include "platform/clock.h"

namespace card {

constexpr int kDisplayTestPauseMs = 500;
constexpr int kAfterDisplayTestMs = 1000;
inline constexpr const char* kSyncDisplayProgram = "progedit3";

// The test the card runs for its display target: 6 for the targets of the
// table below, 2 for every other code word.
int DisplayTestNumber(std::uint16_t codeWord);

// "led scr_t 1 %d \n" on the file link, for the WorkingRecord's code word.
// A link that cannot be connected (no card selected yet) or a line that
// cannot be sent says "连接设备失败". True when the line went out.
bool DisplayTest(Channel& file, platform::Clock& clock, UserPort& user, const MainState& state);

// Refuses while no card was opened; stores cardIp as "RemotIP" and starts
// progedit3 unless it runs. True when it runs.
bool SyncDisplay(const MainState& state, SysCfg cfg, Siblings& siblings, UserPort& user,
                 const std::string& cardIp);

}  // namespace card
