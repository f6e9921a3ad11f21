// "固件升级": the password decides between the upgrade, which flags the card
// for its boot loader, restarts it and hands it to the firmware loader, and
// the loader-only hand-over, which leaves the card alone.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/siblings.h"
#include "params/discovery.h"
#include "params/panel.h"

namespace card {

inline constexpr const char* kMsgWrongPassword = "密码错误！";
inline constexpr const char* kMsgUpgradeNotStarted = "未能读取设备参数，固件升级已停止，未向设备发送任何命令！";

// The administrator password, shown in the dialog's title, and the service
// code that only starts the loader. Only the first three characters count.
inline constexpr std::string_view kAdminPassword = "826";
inline constexpr std::string_view kLoaderOnlyCode = "827";

inline constexpr const char* kFirmwareLoader = "fwloader";

constexpr std::uint8_t kFactoryFlag = 0x80;
constexpr int kAfterFactoryFlagMs = 3000;
constexpr int kAfterUpgradeResetMs = 5000;
// The restart line of the upgrade: reset, a blank, a line feed and a blank.
inline constexpr std::string_view kUpgradeResetLine{"reset \n ", 8};

enum class AccessPath { Upgrade, LoaderOnly, Wrong };
AccessPath ClassifyPassword(std::string_view typed);

// The administrator path: reads the card's record again, sets its factory
// byte to 0x80 (announced), restarts it, clears the panel, leaves the card's
// address for the loader and starts the loader when it is not running. Stops
// with one message when the read or any line fails; then no key is written
// and no loader started. Once the flag went out, its reset follows whatever
// is cancelled. True when the loader took over (or already ran).
bool FirmwareUpgrade(PanelContext& ctx, OpenContext& open);

// The service code: "Restore_En" = 0 and the loader, nothing to the card.
bool LoaderOnly(PanelContext& ctx, Siblings& siblings);

}  // namespace card
