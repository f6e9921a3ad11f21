#include "params/panel_lists.h"

#include <array>

#include "platform/i18n.h"
#include "platform/text.h"

namespace card {
namespace {

struct Target {
  const char* item;
  std::uint16_t code;
};

// Items 0 and 1 build their code word from the polarity lists.
constexpr std::array<Target, kDisplayTargetCount> kTargets = {{
    {TR_NOOP("1-- 常规P10"), 0x8100},
    {TR_NOOP("2-- 常规室内P4.75"), 0x8000},
    {TR_NOOP("3-- 常规P2.5&P3"), 0x800A},
    {TR_NOOP("4-- 数码管"), 0x8007},
    {TR_NOOP("5-- 强力P10"), 0x8006},
    {TR_NOOP("6-- 行8S_折16"), 0x8801},
    {TR_NOOP("7-- 行8S_折32"), 0x8802},
    {TR_NOOP("8-- 行8S_折64"), 0x8803},
    {TR_NOOP("9-- 全彩4S_P10"), 0x800B},
    {TR_NOOP("10--全彩8S_P10"), 0x800C},
    {TR_NOOP("11--全彩8S_P10_V30"), 0x800D},
    {TR_NOOP("12--全彩P4_折16(室外)"), 0x800E},
    {TR_NOOP("13--强力Q3"), 0x800F},
    {TR_NOOP("14--强力Q3(5266)"), 0x8009},
    {TR_NOOP("15--全彩户外Q3(64*64)"), 0x8005},
    {"16--ziD3", 0x801F},
    {"17--ziD4", 0x802F},
    {TR_NOOP("18--全彩P4_折80(室外)"), 0x801E},
    {TR_NOOP("19--交通OUT_P16"), 0x883F},
    {TR_NOOP("20--P10_2S_Z折线"), 0x883E},
    {TR_NOOP("21--32扫描_M1折线"), 0x802A},
    {TR_NOOP("22--行10S_P4全彩外"), 0x8804},
    {TR_NOOP("23--更多目标设置"), 0x88FF},
}};

constexpr std::array<BaudSetting, 22> kBaud = {{
    {1200, "set baud 1200 8 0 1 \n"},   {2400, "set baud 2400 8 0 1 \n"},
    {4800, "set baud 4800 8 0 1 \n"},   {9600, "set baud 9600 8 0 1 \n"},
    {14400, "set baud 14400 8 0 1 \n"}, {19200, "set baud 19200 8 0 1 \n"},
    {38400, "set baud 38400 8 0 1 \n"}, {56000, "set baud 56000 8 0 1 \n"},
    {57600, "set baud 57600 8 0 1 \n"}, {115200, "set baud 115200 8 0 1 \n"},
    {4800, "set baud 4800 7 1 1 \n"},   {4800, "set baud 4800 7 1 2 \n"},
    {4800, "set baud 4800 7 2 1 \n"},   {4800, "set baud 4800 7 2 2 \n"},
    {4800, "set baud 4800 8 1 1 \n"},   {4800, "set baud 4800 8 2 1 \n"},
    {9600, "set baud 9600 7 1 1 \n"},   {9600, "set baud 9600 7 1 2 \n"},
    {9600, "set baud 9600 7 2 1 \n"},   {9600, "set baud 9600 7 2 2 \n"},
    {9600, "set baud 9600 8 1 1 \n"},   {9600, "set baud 9600 8 2 1 \n"},
}};

}  // namespace

std::vector<std::string> DisplayTargetItems() {
  std::vector<std::string> out;
  for (const Target& t : kTargets) out.emplace_back(t.item);
  return out;
}

std::vector<std::string> DisplayModeItems() {
  return {TR_NOOP("1-- 横屏显示"),         TR_NOOP("2-- 绿转红扩展"), TR_NOOP("3-- 竖屏显示"),
          TR_NOOP("4-- 绿转红扩展&竖屏"),  TR_NOOP("5-- 蓝红互换&扩展"), TR_NOOP("6-- 保留"),
          TR_NOOP("7-- 蓝红互换&竖屏"),    TR_NOOP("8-- 保留"),       TR_NOOP("9-- 镜像反转")};
}

std::vector<std::string> PolarityItems() { return {TR_NOOP("1-- 正"), TR_NOOP("2-- 负")}; }

std::vector<std::string> Rs485ModeItems() {
  return {TR_NOOP("0-RTU从站模式"), TR_NOOP("1-RTU主站模式"), TR_NOOP("2-命令模式"),     TR_NOOP("3-客制化1"),        TR_NOOP("4-客制化2"),
          TR_NOOP("5-客制化3"),     TR_NOOP("6-太平洋客户"),  TR_NOOP("7-客制化5"),      TR_NOOP("8-客制化6"),        TR_NOOP("9-客制化7"),
          TR_NOOP("10-客制化8"),    TR_NOOP("11-1002端口透传"), TR_NOOP("12-服务器模式透传"), TR_NOOP("13-交通红绿灯"), TR_NOOP("14-工程压路车"),
          TR_NOOP("15-Korvex指令"), TR_NOOP("16-环保212协议"), "17-zozav",       TR_NOOP("18-客制化16"),      TR_NOOP("19-伪主站监听"),
          TR_NOOP("20-语音播报"),   TR_NOOP("21-开关量模式"), TR_NOOP("22-称重仪器定制"), TR_NOOP("23-电磁辐射设备"), TR_NOOP("24-噪音设备"),
          TR_NOOP("25-客制化23"),   TR_NOOP("26-客制化24"),   TR_NOOP("27-客制化25"),    TR_NOOP("28-客制化26"),      TR_NOOP("29-客制化27"),
          TR_NOOP("30-客制化28"),   TR_NOOP("31-客制化29")};
}

std::vector<std::string> ServiceTypeItems() {
  return {"0-Tcp", TR_NOOP("1-Korvex云服务"), TR_NOOP("2-二次开发指令"), "3-Modbus_Tcp", "4-HJ212", TR_NOOP("5-接收卡")};
}

std::vector<std::string> BaudRateItems() {
  return {"0-- 1200",  "1-- 2400",  "2-- 4800",  "3-- 9600",  "4-- 14400",
          "5-- 19200", "6-- 38400", "7-- 56000", "8-- 57600", "9-- 115200"};
}

std::vector<std::string> DevelopmentItems() {
  // Each item whole, so that the catalogue holds every one of them.
  return {TR_NOOP("0-- 关闭"), TR_NOOP("1-- 编号0"), TR_NOOP("2-- 启动脚本程序"), TR_NOOP("3-- modbus文本"),
          TR_NOOP("4-- 节目触发模式"), TR_NOOP("5-- 选控式文本"), TR_NOOP("6-- 编号5"), TR_NOOP("7-- 编号6"),
          TR_NOOP("8-- 编号7"), TR_NOOP("9-- 编号8"), TR_NOOP("10-- 编号9"), TR_NOOP("11-- 编号10"),
          TR_NOOP("12-- 编号11"), TR_NOOP("13-- 编号12"), TR_NOOP("14-- 编号13"), TR_NOOP("15-- 编号14"),
          TR_NOOP("16-- 编号15"), TR_NOOP("17-- 编号16"), TR_NOOP("18-- 变量超限红色"), TR_NOOP("19-- 变量超限黄色"),
          TR_NOOP("20-- modbus+110颜色"), TR_NOOP("21-- 编号20"), TR_NOOP("22-- 编号21"), TR_NOOP("23-- 编号22"),
          TR_NOOP("24-- 编号23"), TR_NOOP("25-- 编号24"), TR_NOOP("26-- 编号25"), TR_NOOP("27-- 编号26"),
          TR_NOOP("28-- 编号27"), TR_NOOP("29-- 编号28"), TR_NOOP("30-- 编号29"), TR_NOOP("31-- 编号30"),
          TR_NOOP("32-- 伪hub75"), TR_NOOP("33-- 编号32")};
}

std::vector<std::string> NumberItems(int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(std::to_string(i));
  return out;
}

std::vector<std::string> ModbusAddressItems() {
  std::vector<std::string> out;
  for (int i = 0; i < kModbusItems; ++i) out.push_back(platform::Format("%d-0x%2x", i, i));
  return out;
}

std::vector<std::string> ProgramItems() {
  return {TR_NOOP("1--节目1"), TR_NOOP("2--节目2"), TR_NOOP("3--节目3"), TR_NOOP("4--节目4"),
          TR_NOOP("5--节目5"), TR_NOOP("6--节目6"), TR_NOOP("7--节目7"), TR_NOOP("8--WEB页面")};
}

std::vector<std::string> DwellItems() {
  std::vector<std::string> out;
  for (int i = 0; i < kDwellItems; ++i) out.push_back(platform::Format(platform::Tr("%2d秒"), i));
  return out;
}

std::optional<std::uint16_t> CodeWordFor(int target, int oe, int data) {
  if (target < 0 || target >= kDisplayTargetCount) return std::nullopt;
  std::uint16_t code = kTargets[static_cast<std::size_t>(target)].code;
  if (target <= 1) {
    if (oe == 0) code |= 0x10;
    if (data == 0) code |= 0x01;
  }
  return code;
}

std::optional<int> TargetForFixedCode(std::uint16_t code) {
  for (int i = 2; i < kDisplayTargetCount; ++i)
    if (kTargets[static_cast<std::size_t>(i)].code == code) return i;
  return std::nullopt;
}

std::optional<BaudSetting> BaudFor(int index) {
  if (index < 0 || index >= static_cast<int>(kBaud.size())) return std::nullopt;
  return kBaud[static_cast<std::size_t>(index)];
}

int BaudIndexForRate(int rate) {
  for (int i = 0; i <= 8; ++i)
    if (kBaud[static_cast<std::size_t>(i)].rate == rate) return i;
  return 10;
}

}  // namespace card
