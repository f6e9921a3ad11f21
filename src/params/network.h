// Operations on the card as a whole: the network group of a submit, the
// card's clock, the restart (direct or by broadcast), and the poll through
// which the program editor asks for an upload.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/main_context.h"

namespace card {

inline constexpr const char* kMsgReaddressed = "IP修改成功,设备已重启，请重新搜卡！！！";
inline constexpr const char* kMsgResetDone = "复位成功";
inline constexpr const char* kTitleSuccess = "成功";

// Addresses travel in command lines as four numbers separated by blanks.
std::string BlankSeparated(std::string_view dotted);
// The record's address at off as "%d %d %d %d".
std::string RecordAddressBlank(const DeviceStatusRecord& r, std::size_t off);
// Parses the blank-separated text into the four bytes at off (low 8 bits of
// each number; missing numbers count as 0).
void StoreBlankAddress(DeviceStatusRecord& r, std::size_t off, std::string_view blank);

enum class NetworkOutcome {
  NotConnected,  // the card could not be reached; nothing was sent
  Done,
  Readdressed,   // the card got a new address and restarts
};

// Submits the network group: addressing mode, server connection, double
// sided, storage lock, server address and port, then the card address,
// which restarts the card; stores "RemotIP".
NetworkOutcome NetworkStep(MainContext& ctx);

// Sets the card's clock from the PC's local time.
void ClockStep(MainContext& ctx);

// "重启设备": a direct reset, or with "广播" ticked the broadcast sequence that
// can give a card a fixed address (or automatic addressing) when it cannot be
// reached directly.
void RestartCard(MainContext& ctx);

// One tick of the 100 ms timer: once a card was opened, takes a pending
// "Syc_Update" request, resets the key and calls startUpload.
void SyncRequestPoll(MainContext& ctx, const std::function<void()>& startUpload);

}  // namespace card
