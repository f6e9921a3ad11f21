// "更多目标设置": the driver parameters of LED modules that no fixed display
// target covers. The lists of the dialog as values, how a record shows in
// them, and "固化到设备", which writes them all with one "set ledpara" line.
#pragma once

#include <string>
#include <vector>

#include "core/panel_values.h"
#include "core/ports.h"
#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card {

inline constexpr const char* kPanelDriverNote =
    TR_NOOP("注意：显示板连接第一个端口！！！！               在选择智能识别时请输入单元板长点数和高点数，"
    "扫描行数和扫描芯片根据实际情况正确填写，此信息可以从显示板判断");

// The pause after "固化到设备"'s line before the link is closed.
constexpr int kLedParaSettleMs = 1000;

// The list positions of the group "目标属性"; -1 is a list without a
// selection.
struct PanelDriverValues {
  int width = -1;       // "单元板长点数": position × 8 dots
  int height = -1;      // "单元板高点数": position × 4 dots
  int scan = -1;        // "扫描行数"
  int chip = -1;        // "扫描芯片"
  int foldWidth = -1;   // "折线点数"
  int uFold = -1;       // "U型折线"
  int dzFold = 0;       // "DZ型折线": shown only, the record's value is what goes out
  int snake = -1;       // "蛇形方向"
  int foldRows = -1;    // "折线行数"
  int conversion = -1;  // "行列转换点数"
  bool operator==(const PanelDriverValues&) const = default;
};

std::vector<std::string> ModuleWidthItems();   // 18 items "%02d" of 0, 8 … 136
std::vector<std::string> ModuleHeightItems();  // 18 items "%02d" of 0, 4 … 68
std::vector<std::string> ScanItems();          // "1/1" … "1/64"
std::vector<std::string> RowScanChipItems();   // 24 chips
std::vector<std::string> FoldWidthItems();     // "4折宽点数" … "128折宽点数"
std::vector<std::string> UFoldItems();         // "非U型折", "U型折"
std::vector<std::string> DzFoldItems();        // "无" … "64折"
std::vector<std::string> SnakeItems();         // "S型", "反S型"
std::vector<std::string> FoldRowsItems();      // "无折线" … "8行折"
std::vector<std::string> ConversionItems();    // "0" … "512"

// The list items that stand for a value: the position in "扫描行数" of a
// scan, in "折线点数" of a fold width; -1 when no item does (no default is
// put in its place). FoldRowsOfItem: the fold rows an item of "折线行数"
// stands for, -1 for a position without an item.
int ScanItemOf(int rowGroups);
int FoldWidthItemOf(int dots);
int FoldRowsOfItem(int item);

// How the lists show a record. A module never set (width or height 0) shows
// 64 × 32 dots, a scan or fold width of 0 shows "1/32" and "32折宽点数"; the
// record itself keeps its 0 until "固化到设备". A value that no item stands
// for leaves its list without a selection.
PanelDriverValues PanelDriverFromRecord(const DeviceStatusRecord& r);

// The record as "固化到设备" stores the lists into it: the selected items'
// values, 16 at offset 12, and for a list without a selection the value the
// record already holds. The DZ fold value is never taken from its list.
DeviceStatusRecord WithPanelDriver(DeviceStatusRecord r, const PanelDriverValues& v);

// "set ledpara  %d … \n" with the thirteen values of r.
std::string LedParaLine(const DeviceStatusRecord& r);

// "固化到设备": connects link to address, announces the checksum of the copy
// with the lists stored (1500 ms), sends the "set ledpara" line, waits
// 1000 ms and disconnects. The copy takes the new values only once the line
// went out. False, after "连接设备失败", when the card could not be reached
// or a line not sent. The line goes out even when nothing changed.
bool SaveLedPara(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                 DeviceStatusRecord* copy, const PanelDriverValues& values);

// The panel after the dialog handed its copy back: width and height from
// offsets 2 and 4, "数据高低", "OE信号" and "亮度" from offsets 24, 25 and 36
// (a value beyond its list leaves the list without a selection). The main
// window then submits it.
PanelValues PanelAfterPanelDriver(PanelValues panel, const DeviceStatusRecord& r);

}  // namespace card
