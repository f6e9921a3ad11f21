// Operations on the card as a whole: the network group of a submit, the
// card's clock, the restart (direct or by broadcast), the storage lock, and
// the poll through which the program editor asks for an upload.
#pragma once

#include <string>
#include <string_view>

#include "params/panel.h"
#include "platform/i18n.h"

namespace card {

inline constexpr const char* kMsgReaddressed = TR_NOOP("IP修改成功,设备已重启，请重新搜卡！！！");
inline constexpr const char* kMsgResetDone = TR_NOOP("复位成功");
inline constexpr const char* kMsgLockUnsupported = TR_NOOP("该设备固件版本不支持锁定！");

// Addresses travel in command lines as four numbers separated by blanks.
std::string BlankSeparated(std::string_view dotted);
// The record's address at off as "%d %d %d %d".
std::string RecordAddressBlank(const DeviceStatusRecord& r, std::size_t off);
// Parses the blank-separated text into the four bytes at off (low 8 bits of
// each number; missing numbers count as 0).
void StoreBlankAddress(DeviceStatusRecord& r, std::size_t off, std::string_view blank);

// "set Store_lock on \n  " / "set Store_lock off \n  ".
std::string LockLine(bool on);
DeviceStatusRecord WithLock(DeviceStatusRecord r, bool on);

enum class NetworkOutcome {
  Failed,       // the card could not be reached, or a line could not be sent
  Done,
  Readdressed,  // the card got a new address and restarts
};

// Submits the network group of p: addressing mode, server connection, double
// sided, the storage lock ("on" after the other lines), server address and
// port, then the card address, which restarts the card; stores "RemotIP".
NetworkOutcome NetworkStep(PanelContext& ctx, const PanelValues& p);

// Sets the card's clock from the PC's local time.
void ClockStep(PanelContext& ctx);

// "重启设备": a direct reset, or with "广播" ticked (and a search handle) the
// broadcast sequence that can give a card a fixed address (or automatic
// addressing) when it cannot be reached directly.
void RestartCard(PanelContext& ctx, Channel* search);

// One tick of the 100 ms timer: whether the program editor asks for an
// upload ("Syc_Update" non-zero) once a card was opened. The request stays
// pending until the upload takes it.
bool SyncRequestPending(const MainState& state, const SysCfg& cfg);

}  // namespace card
