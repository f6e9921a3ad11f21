// The items of the main window's drop-down lists and the tables that map a
// list position to what the card stores.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace card {

std::vector<std::string> DisplayTargetItems();  // "显示目标", 23 items
std::vector<std::string> DisplayModeItems();    // "显示模式", 9 items
std::vector<std::string> PolarityItems();       // "OE信号" and "数据高低"
std::vector<std::string> Rs485ModeItems();      // "485模式", 32 items
std::vector<std::string> ServiceTypeItems();    // " 服务类型", 6 items
std::vector<std::string> BaudRateItems();       // "波特率", 10 items
std::vector<std::string> DevelopmentItems();    // "开发编号", 34 items
std::vector<std::string> NumberItems(int count);  // "0" .. count-1: "亮度", "刷屏率"
std::vector<std::string> ModbusAddressItems();  // "ModBus地址": "%d-0x%2x" of 0..254
std::vector<std::string> ProgramItems();        // "当前节目", 8 items
std::vector<std::string> DwellItems();          // "停留时长": "%2d秒" of 0..59

constexpr int kDisplayTargetCount = 23;
constexpr int kMoreTargetsIndex = 22;  // "23--更多目标设置" opens the panel driver dialog
constexpr int kMaxDisplayMode = 8;
constexpr int kBrightnessItems = 40;
constexpr int kRefreshItems = 40;
constexpr int kModbusItems = 255;
constexpr int kDwellItems = 60;
constexpr int kDefaultDwell = 4;

// The code word of a display target; items 0 and 1 carry the polarity bits
// (0x10 when OE is "1-- 正", 0x01 when data is "1-- 正"). nullopt without a
// selection.
std::optional<std::uint16_t> CodeWordFor(int target, int oe, int data);
// The item whose fixed code word equals code (items 2..22), or nullopt.
std::optional<int> TargetForFixedCode(std::uint16_t code);

struct BaudSetting {
  int rate;          // stored at offset 26
  const char* line;  // sent as it stands
};
// The baud table; indexes 10..21 exist in the mapping but not in the list.
std::optional<BaudSetting> BaudFor(int index);
// The list item whose rate equals rate (items 0..8); any other rate gives 10,
// which leaves the ten-item list without a selection.
int BaudIndexForRate(int rate);

}  // namespace card
