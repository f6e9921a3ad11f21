// Finding cards by broadcast and opening one: the subnet check, the read of
// its record into the panel, and the probe of its command port (a card that
// answers only on its recovery port is handed to the firmware loader).
#pragma once

#include <functional>

#include "core/siblings.h"
#include "link/scan.h"
#include "params/panel.h"
#include "platform/i18n.h"

namespace card {

inline constexpr const char* kMsgNoSearchHandle = TR_NOOP("未成功连接设备");
inline constexpr const char* kMsgTooManyCards = TR_NOOP("搜索到的设备超过50台，列表只显示前50台！");
inline constexpr const char* kMsgNoCardFound = TR_NOOP("未搜索到设备，请确认设备已上电并与电脑连接在同一网络！");
inline constexpr const char* kMsgRecovery = TR_NOOP("设备启动异常请格式化参数或节目后再重启设备");
inline constexpr const char* kMsgCrcError = "CRC ERROR!";
inline constexpr const char* kMsgNoRecord = TR_NOOP("设备未返回参数，请检查设备后重新双击列表中设备！");
inline constexpr const char* kMsgShortRecord = TR_NOOP("设备返回的参数不完整，请重新双击列表中设备读取！");
inline constexpr const char* kMsgNoBroadcastAnswer = TR_NOOP("未收到该设备的广播应答，请确认设备已上电后重试！");
inline constexpr const char* kMsgSearchFailedFormat = TR_NOOP("搜索失败，请确认本机网卡地址%s可用，或重新选择网卡！");
inline constexpr const char* kMsgSearchFlooded = TR_NOOP("网络上的数据过多，设备的应答可能被淹没，请稍后重新搜索！");
inline constexpr const char* kMsgBusy = TR_NOOP("设备操作正在进行，请等待完成后再操作！");

constexpr int kBootQueryAttempts = 2000;
constexpr int kDirectReadCapacity = 8192;
constexpr int kBroadcastReadCapacity = 4096;

// What opening a card needs besides the panel's collaborators.
struct OpenContext {
  Channel* search;     // the broadcast read; may be null
  Channel& recovery;   // port 1000
  DeviceListPort& list;
  Siblings& siblings;
  std::function<void()> onFirstOpen;  // starts the program-editor poll
};

// Connects the search handle to the local adapter's address.
void ConnectSearch(Channel* search, const std::string& localAddress);

// Lists every card that answers the broadcast query, once per MAC address,
// at most 50. SelectedAddress and SelectedSerial end as those of the last
// card added. With broadcast, the cards are first put into their boot state
// and the boot query is used. Traffic that hid the cards is told.
ScanResult SearchDevices(Channel* search, platform::Clock& clock, UserPort& user, DeviceListPort& list,
                   MainState& state, bool broadcast);

// The first time a card's first two address numbers match the PC's, marks a
// card as opened and calls onFirstOpen.
void CheckSubnet(MainState& state, UserPort& user, const std::function<void()>& onFirstOpen);

// The direct read of the selected card's record over the command link: two
// attempts, whole records only, the checksum test; onRead runs with the
// record while the link is still connected. Tells the user when no record
// came.
std::optional<DeviceStatusRecord> ReadCardRecord(PanelContext& ctx,
                                                const std::function<void(const DeviceStatusRecord&)>& onRead = {});

// Reads the selected card's record into the WorkingRecord and the panel,
// directly over the command link or, with "广播" ticked, by broadcast. True
// when a whole record was read; otherwise the user was told why.
bool ReadRecord(PanelContext& ctx, OpenContext& open);

// Probes the command port; lists the card first when it is new. A card that
// answers only on port 1000 is handed to the firmware loader.
void ProbeCard(PanelContext& ctx, OpenContext& open);

// The worker body behind a double-click, "添加设备" and the end of a search.
void OpenCard(PanelContext& ctx, OpenContext& open);

// The worker body of "搜索设备" and of the start-up: clears the selection and
// the panel, searches, then opens the last card found.
void SearchBody(PanelContext& ctx, OpenContext& open, bool broadcast);

}  // namespace card
