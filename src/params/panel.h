// The parameter panel: filling it from the WorkingRecord, clearing it, and
// "提交更改", which turns every changed field into one "set" line, each after
// a checksum announcement.
#pragma once

#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/panel_values.h"
#include "core/ports.h"
#include "core/syscfg.h"
#include "link/announce.h"
#include "link/channel.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card {

enum class FillVariant { Direct, Broadcast };

constexpr int kMaxPanelWidth = 2000;
constexpr int kMaxPanelHeight = 1024;

inline constexpr const char* kMsgSizeTooLarge = TR_NOOP("像素长或高超过最大值！！！");
inline constexpr const char* kMsgSizeNegative = TR_NOOP("像素长或高不能小于0！！！");
inline constexpr const char* kMsgSelectCardFirst = TR_NOOP("请在搜卡后,双击设备列表中设备再进行参数编辑！！！");

// What the operations of the panel work with: the command link, the clock,
// the user, the panel, the shared state and SysCfg.ini.
struct PanelContext {
  Channel& command;
  platform::Clock& clock;
  UserPort& user;
  PanelPort& panel;
  MainState& state;
  SysCfg cfg;
};

// An IPv4 field without text reads as "0.0.0.0".
std::string Ipv4FieldText(const std::string& shown);

// Connects ch to the selected card; on failure tells the user "连接设备失败"
// and returns false.
bool ConnectSelectedCard(PanelContext& ctx, Channel& ch);

// One changed field on the command link: candidate holds the working record
// with the new value. Announces its checksum (2000 ms), sends line, and only
// when both went out makes candidate the WorkingRecord (and *record). A
// failed send says "连接设备失败" and returns false: the field stays
// unapplied, so the next submit sends it again.
bool ApplyField(PanelContext& ctx, DeviceStatusRecord* record, const DeviceStatusRecord& candidate,
                const std::string& line);

// The panel as the fill leaves it: current is what it showed before (lists
// whose value is out of range keep their selection). The range messages the
// fill shows are appended to messages.
PanelValues FilledPanel(const DeviceStatusRecord& r, PanelValues current, FillVariant variant,
                        std::vector<std::string>* messages);
// Makes r, read from the selected card, the WorkingRecord and shows it in the
// panel; shows the range messages, and after a direct read stores the panel
// size under WIDTH/HEIGHT.
void FillParameterPanel(PanelContext& ctx, const DeviceStatusRecord& r, FillVariant variant);

// Empties the text fields, clears every list selection (program lists too)
// and the four state check boxes.
PanelValues ClearedPanel(PanelValues current);
// ClearedPanel on the window, the panel forgets its record, then Disconnect
// the command link.
void ClearParameterPanel(PanelContext& ctx);

// Sends every changed panel field of p to the selected card. 0 when all were
// sent, -1 when no card is selected, it could not be connected or a line
// could not be sent.
int SubmitParameters(PanelContext& ctx, const PanelValues& p);

// The body of "提交更改": the panel must show the selected card's record,
// the size check, SubmitParameters, then the network and clock steps.
void SubmitAll(PanelContext& ctx);

}  // namespace card
