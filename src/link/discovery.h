// Finding cards by broadcast and opening one: the subnet check, the read of
// its record into the panel, and the probe of its command port (a card that
// answers only on its recovery port is handed to the firmware loader).
#pragma once

#include "app/main_context.h"

namespace card {

inline constexpr const char* kMsgNoSearchHandle = "未成功连接设备";
inline constexpr const char* kMsgTooManyCards = "搜索到的设备超过50台，列表只显示前50台！";
inline constexpr const char* kMsgNoCardFound = "未搜索到设备，请确认设备已上电并与电脑连接在同一网络！";
inline constexpr const char* kMsgRecovery = "设备启动异常请格式化参数或节目后再重启设备";
inline constexpr const char* kMsgCrcError = "CRC ERROR!";

constexpr int kSearchReceiveCapacity = 500;
constexpr int kInitialReceiveBound = 10;
constexpr int kBootQueryAttempts = 2000;

// Lists every card that answers the broadcast query, once per MAC address.
// SelectedAddress ends as the address of the last card added.
void SearchDevices(MainContext& ctx);

// Clears the panel, searches, then opens the last card found on a further worker.
void SearchBody(MainContext& ctx);

// The first time a card's first two address numbers match the PC's, marks a
// card as opened and starts the program-editor poll.
void CheckSubnet(MainContext& ctx);

// Reads the selected card's record into the WorkingRecord and the panel,
// directly over the command link or, with "广播" ticked, by broadcast.
void ReadRecord(MainContext& ctx);

// Probes the command port; lists the card first when it is new. A card that
// answers only on port 1000 is handed to the firmware loader.
void ProbeCard(MainContext& ctx);

// The worker body behind a double-click, "添加设备" and the end of a search.
void OpenCard(MainContext& ctx);

}  // namespace card
