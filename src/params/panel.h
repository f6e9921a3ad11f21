// The parameter panel: filling it from the WorkingRecord, clearing it, and
// "提交更改", which turns every changed field into one "set" line, each after
// a checksum announcement.
#pragma once

#include <string>
#include <vector>

#include "app/main_context.h"
#include "params/panel_values.h"

namespace card {

enum class FillVariant { Direct, Broadcast };

// Waits after the checksum announcement: main window, panel driver dialog,
// advanced settings dialog.
constexpr int kMainAnnounceWaitMs = 2000;
constexpr int kDriverDialogAnnounceWaitMs = 1500;
constexpr int kAdvancedAnnounceWaitMs = 2500;

constexpr int kMaxPanelWidth = 2000;
constexpr int kMaxPanelHeight = 1024;

inline constexpr const char* kMsgSizeTooLarge = "像素长或高超过最大值！！！";
inline constexpr const char* kMsgSizeNegative = "像素长或高不能小于0！！！";
inline constexpr const char* kMsgSelectCardFirst = "请在搜卡后,双击设备列表中设备再进行参数编辑！！！";

// An IPv4 field without text reads as "0.0.0.0".
std::string Ipv4FieldText(const std::string& shown);

// Recomputes the record's checksum, stores it at offset 333, sends
// "set Sys_Crc %x \n" and waits waitMs.
void AnnounceChecksum(Channel& ch, platform::Clock& clock, DeviceStatusRecord& record, int waitMs);

// One changed field of the main window: record already holds the new value.
// Announces its checksum (2000 ms), makes it the WorkingRecord, then sends
// line. The WorkingRecord follows every step, so a submit cut short keeps
// what was already sent.
void SendChangedField(MainContext& ctx, Channel& ch, DeviceStatusRecord& record, const std::string& line);

// The panel as the fill leaves it: current is what it showed before (lists
// whose value is out of range keep their selection). The range messages the
// fill shows are appended to messages.
PanelValues FilledPanel(const DeviceStatusRecord& r, PanelValues current, FillVariant variant,
                        std::vector<std::string>* messages);
// Copies the WorkingRecord into the panel, shows the range messages, and
// after a direct read stores the panel size under WIDTH/HEIGHT.
void FillParameterPanel(MainContext& ctx, FillVariant variant);

// Empties the text fields, clears every list selection (program lists too)
// and the four state check boxes.
PanelValues ClearedPanel(PanelValues current);
// ClearedPanel on the window, then Disconnect the command link.
void ClearParameterPanel(MainContext& ctx);

// Sends every changed panel field to the selected card. 0 when the card was
// reached, -1 when no card is selected or it could not be connected.
int SubmitParameters(MainContext& ctx);

// The body of "提交更改": the size check, SubmitParameters, then the network
// and clock steps.
void SubmitAll(MainContext& ctx);

}  // namespace card
