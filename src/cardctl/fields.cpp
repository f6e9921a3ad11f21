#include "cardctl/fields.h"

#include <cerrno>
#include <cstdlib>

#include "modbus/master_table.h"
#include "params/advanced.h"
#include "params/network.h"
#include "params/panel_driver.h"
#include "params/panel.h"
#include "params/panel_lists.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using platform::Format;
using Show = std::function<std::string(const DeviceStatusRecord&)>;
using Set = std::function<std::optional<std::string>(DeviceStatusRecord*, const std::string&)>;

// The whole text as a decimal number within [lo, hi]; "12abc" is no number.
std::optional<long long> Whole(const std::string& text, long long lo, long long hi) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == ' ' || text[0] == '+' || v < lo || v > hi) return std::nullopt;
  return v;
}

unsigned Read(const DeviceStatusRecord& r, std::size_t offset, int width) {
  return width == 1 ? r.u8(offset) : r.u16(offset);
}

void Write(DeviceStatusRecord* r, std::size_t offset, int width, unsigned v) {
  if (width == 1)
    r->setU8(offset, static_cast<std::uint8_t>(v));
  else
    r->setU16(offset, static_cast<std::uint16_t>(v));
}

std::string ItemsText(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size() && i < 12; ++i) out += (i ? ", " : "") + Format("%zu=%s", i, platform::Tr(items[i]).c_str());
  if (items.size() > 12) out += Format(", … %zu=%s", items.size() - 1, platform::Tr(items.back()).c_str());
  return out;
}

// The position a user meant: a number within the list, or an item's text.
std::optional<std::size_t> Position(const std::vector<std::string>& items, const std::string& value) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i] == value || platform::Tr(items[i]) == value) return i;
  if (auto n = Whole(value, 0, static_cast<long long>(items.size()) - 1)) return static_cast<std::size_t>(*n);
  return std::nullopt;
}

std::string Refused(const std::string& label, const std::string& value, const std::string& allowed) {
  return Format(platform::Tr("%s 的值 \"%s\" 无效，可选：%s"), platform::Tr(label).c_str(), value.c_str(), allowed.c_str());
}

// A list whose item i stores values[i] (its position when values is empty).
Field ListField(std::string name, std::string label, Group group, std::size_t offset, int width,
                std::vector<std::string> items, std::vector<unsigned> values = {}) {
  if (values.empty())
    for (std::size_t i = 0; i < items.size(); ++i) values.push_back(static_cast<unsigned>(i));
  Show show = [=](const DeviceStatusRecord& r) {
    const unsigned v = Read(r, offset, width);
    for (std::size_t i = 0; i < values.size(); ++i)
      if (values[i] == v) return items[i];
    return Format(platform::Tr("%u (不在列表中)"), v);
  };
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    auto at = Position(items, value);
    if (!at) return Refused(label, value, ItemsText(items));
    Write(r, offset, width, values[*at]);
    return std::nullopt;
  };
  return {std::move(name), std::move(label), group, show, set};
}

Field NumberField(std::string name, std::string label, Group group, std::size_t offset, int width, long long lo,
                  long long hi) {
  Show show = [=](const DeviceStatusRecord& r) { return std::to_string(Read(r, offset, width)); };
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    auto v = Whole(value, lo, hi);
    if (!v) return Refused(label, value, Format("%lld … %lld", lo, hi));
    Write(r, offset, width, static_cast<unsigned>(*v));
    return std::nullopt;
  };
  return {std::move(name), std::move(label), group, show, set};
}

std::optional<std::array<int, 4>> DottedAddress(const std::string& text) {
  std::array<int, 4> out{};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (at > text.size()) return std::nullopt;
    std::size_t dot = i < 3 ? text.find('.', at) : text.size();
    if (dot == std::string::npos) return std::nullopt;
    auto v = Whole(text.substr(at, dot - at), 0, 255);
    if (!v) return std::nullopt;
    out[static_cast<std::size_t>(i)] = static_cast<int>(*v);
    at = dot + 1;
  }
  return out;
}

Field AddressField(std::string name, std::string label, Group group, std::size_t offset) {
  Show show = [=](const DeviceStatusRecord& r) { return Ipv4Text(r, offset); };
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    auto a = DottedAddress(value);
    if (!a) return Refused(label, value, "a.b.c.d");
    for (std::size_t i = 0; i < 4; ++i) r->setU8(offset + i, static_cast<std::uint8_t>((*a)[i]));
    return std::nullopt;
  };
  return {std::move(name), std::move(label), group, show, set};
}

Field ReadOnly(std::string name, std::string label, Group group, Show show) {
  return {std::move(name), std::move(label), group, std::move(show), {}};
}

const std::vector<std::string> kNoYes = {TR_NOOP("否"), TR_NOOP("是")};

// The panel as the window shows a record: the polarity and target lists
// depend on the firmware and on each other.
PanelValues PanelOf(const DeviceStatusRecord& r) {
  std::vector<std::string> messages;
  return FilledPanel(r, {}, FillVariant::Direct, &messages);
}

// Writes one of the three lists that make the code word, keeping the other two.
std::optional<std::string> SetCodeWordList(DeviceStatusRecord* r, int target, int oe, int data) {
  if (auto code = CodeWordFor(target, oe, data)) r->setU16(rec::kCodeWord, *code);
  if (PolarityFromFields(*r)) {
    if (oe >= 0) r->setU8(rec::kOePolarity, static_cast<std::uint8_t>(oe));
    if (data >= 0) r->setU8(rec::kDataPolarity, static_cast<std::uint8_t>(data));
  }
  return std::nullopt;
}

std::vector<Field> Build() {
  std::vector<Field> f;
  // Who the card is: shown, never set here.
  f.push_back(ReadOnly("address", TR_NOOP("IP地址"), Group::Identity, [](const DeviceStatusRecord& r) { return AddressText(r); }));
  f.push_back(ReadOnly("mac", TR_NOOP("MAC地址"), Group::Identity, [](const DeviceStatusRecord& r) { return MacText(r); }));
  f.push_back(ReadOnly("serial", TR_NOOP("设备SN"), Group::Identity, [](const DeviceStatusRecord& r) { return SerialText(r); }));
  f.push_back(ReadOnly("firmware", TR_NOOP("固件版本"), Group::Identity, [](const DeviceStatusRecord& r) { return FirmwareText(r); }));
  f.push_back(ReadOnly("platform", TR_NOOP("平台"), Group::Identity, [](const DeviceStatusRecord& r) {
    return std::string(r.u16(rec::kPlatformStatus) == 0x55 ? TR_NOOP("已连接") : TR_NOOP("未连接"));
  }));

  // The parameter panel.
  f.push_back(NumberField("width", TR_NOOP("像素宽点数"), Group::Panel, rec::kWidth, 2, 0, kMaxPanelWidth));
  f.push_back(NumberField("height", TR_NOOP("像素高点数"), Group::Panel, rec::kHeight, 2, 0, kMaxPanelHeight));
  const auto polarity = PolarityItems();
  f.push_back({"oe_polarity", TR_NOOP("OE信号"), Group::Panel,
               [polarity](const DeviceStatusRecord& r) {
                 int i = PanelOf(r).oe;
                 return i >= 0 ? polarity[static_cast<std::size_t>(i)] : std::string(TR_NOOP("(不在列表中)"));
               },
               [polarity](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(polarity, v);
                 if (!at) return Refused(TR_NOOP("OE信号"), v, ItemsText(polarity));
                 PanelValues p = PanelOf(*r);
                 return SetCodeWordList(r, p.target, static_cast<int>(*at), p.data);
               }});
  f.push_back({"data_polarity", TR_NOOP("数据高低"), Group::Panel,
               [polarity](const DeviceStatusRecord& r) {
                 int i = PanelOf(r).data;
                 return i >= 0 ? polarity[static_cast<std::size_t>(i)] : std::string(TR_NOOP("(不在列表中)"));
               },
               [polarity](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(polarity, v);
                 if (!at) return Refused(TR_NOOP("数据高低"), v, ItemsText(polarity));
                 PanelValues p = PanelOf(*r);
                 return SetCodeWordList(r, p.target, p.oe, static_cast<int>(*at));
               }});
  const auto targets = DisplayTargetItems();
  f.push_back({"display_target", TR_NOOP("显示目标"), Group::Panel,
               [targets](const DeviceStatusRecord& r) {
                 int i = PanelOf(r).target;
                 return i >= 0 ? targets[static_cast<std::size_t>(i)] : std::string(TR_NOOP("(不在列表中)"));
               },
               [targets](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(targets, v);
                 if (!at) return Refused(TR_NOOP("显示目标"), v, ItemsText(targets));
                 PanelValues p = PanelOf(*r);
                 return SetCodeWordList(r, static_cast<int>(*at), p.oe, p.data);
               }});
  f.push_back(ListField("display_mode", TR_NOOP("显示模式"), Group::Panel, rec::kDisplayMode, 1, DisplayModeItems()));
  f.push_back(ListField("refresh_rate", TR_NOOP("刷屏率"), Group::Panel, rec::kRefreshRate, 1, NumberItems(kRefreshItems)));
  f.push_back(ListField("brightness", TR_NOOP("亮度"), Group::Panel, rec::kBrightness, 1, NumberItems(kBrightnessItems)));
  f.push_back(ListField("modbus_address", TR_NOOP("ModBus地址"), Group::Panel, rec::kModbusAddress, 2, ModbusAddressItems()));
  f.push_back(ListField("rs485_mode", TR_NOOP("485模式"), Group::Panel, rec::kRs485Mode, 1, Rs485ModeItems()));
  {
    std::vector<unsigned> rates;
    for (int i = 0; i < static_cast<int>(BaudRateItems().size()); ++i)
      rates.push_back(static_cast<unsigned>(BaudFor(i)->rate) & 0xFFFF);
    f.push_back(ListField("baud_rate", TR_NOOP("波特率"), Group::Panel, rec::kBaudRate, 2, BaudRateItems(), rates));
  }
  f.push_back(ListField("development_no", TR_NOOP("开发编号"), Group::Panel, rec::kDevelopmentNo, 1, DevelopmentItems()));

  // The network group.
  f.push_back({"auto_ip", TR_NOOP("自动获取IP"), Group::Network,
               [](const DeviceStatusRecord& r) { return std::string(r.u8(rec::kIpMode) != 1 ? TR_NOOP("是") : TR_NOOP("否")); },
               [](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(kNoYes, v);
                 if (!at) return Refused(TR_NOOP("自动获取IP"), v, ItemsText(kNoYes));
                 r->setU8(rec::kIpMode, *at == 1 ? 0 : 1);
                 return std::nullopt;
               }});
  f.push_back(ListField("server_enable", TR_NOOP("是否连接服务器"), Group::Network, rec::kServerEnable, 1, kNoYes));
  f.push_back(AddressField("card_ip", TR_NOOP("控制卡IP"), Group::Network, rec::kCardAddress));
  f.push_back(AddressField("server_ip", TR_NOOP("服务器IP"), Group::Network, rec::kServerAddress));
  f.push_back(NumberField("server_port", TR_NOOP("服务器端口"), Group::Network, rec::kServerPort, 2, 0, 65535));
  f.push_back(ListField("service_type", TR_NOOP(" 服务类型"), Group::Panel, rec::kServiceType, 1, ServiceTypeItems()));
  f.push_back(ListField("double_sided", TR_NOOP("双面"), Group::Network, rec::kDoubleSided, 1, kNoYes));
  f.push_back({"lock", TR_NOOP("锁定"), Group::Network,
               [](const DeviceStatusRecord& r) { return std::string(r.u8(rec::kLock) != 0 ? TR_NOOP("是") : TR_NOOP("否")); },
               [](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(kNoYes, v);
                 if (!at) return Refused(TR_NOOP("锁定"), v, ItemsText(kNoYes));
                 if (*at == 1 && !LockCanBeSwitchedOn(*r)) return std::string(kMsgLockUnsupported);
                 r->setU8(rec::kLock, static_cast<std::uint8_t>(*at));
                 return std::nullopt;
               }});

  // "高级设置". Flags hold 85 for on.
  const std::vector<unsigned> offOn = {0, kFlagOn};
  f.push_back(ListField("data_bits", TR_NOOP("数据位"), Group::Advanced, rec::kDataBits, 1, DataBitsItems()));
  f.push_back(ListField("stop_bits", TR_NOOP("停止位"), Group::Advanced, rec::kStopBits, 1, StopBitsItems()));
  f.push_back(ListField("parity", TR_NOOP("校验位"), Group::Advanced, rec::kParity, 1, ParityItems()));
  f.push_back(ListField("rs485_heartbeat", TR_NOOP("是否监测心跳"), Group::Advanced, rec::kRs485HeartbeatFlag, 2, OffOnItems(), offOn));
  f.push_back(NumberField("rs485_heartbeat_interval", TR_NOOP("心跳间隔(秒）"), Group::Advanced, rec::kRs485HeartbeatInterval, 2, 0, 59));
  f.push_back(ListField("daily_restart", TR_NOOP("启用日重启"), Group::Advanced, rec::kDailyRestart, 2, kNoYes, offOn));
  f.push_back(NumberField("restart_hour", TR_NOOP("小时"), Group::Advanced, rec::kRestartHour, 2, 0, 23));
  f.push_back(NumberField("restart_minute", TR_NOOP("分钟"), Group::Advanced, rec::kRestartMinute, 2, 0, 59));
  f.push_back(NumberField("restart_second", TR_NOOP("秒数"), Group::Advanced, rec::kRestartSecond, 2, 0, 59));
  f.push_back(ListField("fixed_network", TR_NOOP("启用固定设置"), Group::Network, rec::kFixedNetwork, 1, kNoYes, {0, kFlagOn}));
  f.push_back(AddressField("gateway", TR_NOOP("网关"), Group::Network, rec::kGateway));
  f.push_back(AddressField("subnet_mask", TR_NOOP("子网掩码"), Group::Network, rec::kSubnetMask));
  f.push_back(AddressField("dns", "DNS", Group::Network, rec::kDns));
  f.push_back(ListField("start_delay", TR_NOOP("启动是否延时"), Group::Advanced, rec::kStartDelayFlag, 2, OffOnItems(), offOn));
  f.push_back(NumberField("start_delay_seconds", TR_NOOP("启动延时(秒)"), Group::Advanced, rec::kStartDelay, 2, 0, 59));
  f.push_back(ListField("server_heartbeat", TR_NOOP("是否启动心跳"), Group::Advanced, rec::kServerHeartbeatFlag, 2, OffOnItems(), offOn));
  // Kept in hundredths of a second.
  f.push_back({"server_heartbeat_interval", TR_NOOP("心跳包间隔(秒)"), Group::Advanced,
               [](const DeviceStatusRecord& r) { return std::to_string(r.u16(rec::kServerHeartbeatInterval) / 100); },
               [](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto n = Whole(v, 0, 59);
                 if (!n) return Refused(TR_NOOP("心跳包间隔(秒)"), v, "0 … 59");
                 r->setU16(rec::kServerHeartbeatInterval, static_cast<std::uint16_t>(*n * 100));
                 return std::nullopt;
               }});
  f.push_back(ListField("modbus_storage", TR_NOOP("modbus存储"), Group::Advanced, rec::kModbusStorage, 2, ModbusStorageItems(), offOn));
  f.push_back({"counter_direction", TR_NOOP("正反向选择"), Group::Advanced,
               [](const DeviceStatusRecord& r) { return DirectionItems()[r.u16(rec::kCounterDirection) != 0 ? 1 : 0]; },
               [](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
                 auto at = Position(DirectionItems(), v);
                 if (!at) return Refused(TR_NOOP("正反向选择"), v, ItemsText(DirectionItems()));
                 r->setU16(rec::kCounterDirection, static_cast<std::uint16_t>(*at));
                 return std::nullopt;
               }});
  for (int i = 0; i < kCounterCount; ++i)
    f.push_back(NumberField(Format("counter_start_%d", i + 1), Format(platform::Tr("起始计数值%d"), i + 1), Group::Advanced,
                            rec::kCounterStart + 2 * static_cast<std::size_t>(i), 2, 0, kMaxCounterStart));
  f.push_back(ListField("card_role", TR_NOOP("主从模式"), Group::Advanced, rec::kCardRole, 1, RoleItems()));
  f.push_back(ListField("split_x", TR_NOOP("主X分割线"), Group::Advanced, rec::kSplitX, 1, TwoDigitItems(kSplitItems, kSplitXStep)));
  f.push_back(ListField("split_y", TR_NOOP("主Y分割线"), Group::Advanced, rec::kSplitY, 1, TwoDigitItems(kSplitItems, kSplitYStep)));
  f.push_back(ListField("blue_switch", TR_NOOP("蓝色开关"), Group::Advanced, rec::kBlueSwitch, 1, BlueItems(), offOn));
  f.push_back(ListField("voice_switch", TR_NOOP("语音开关"), Group::Advanced, rec::kVoiceSwitch, 1, OffOpenItems(), offOn));
  f.push_back(ListField("script_start", TR_NOOP("脚本启动"), Group::Advanced, rec::kScriptStart, 1, OffOpenItems(), offOn));

  // "更多目标设置".
  auto steps = [](int count, unsigned step) {
    std::vector<unsigned> v;
    for (int i = 0; i < count; ++i) v.push_back(static_cast<unsigned>(i) * step);
    return v;
  };
  f.push_back(ListField("module_width", TR_NOOP("单元板长点数"), Group::Driver, rec::kModuleWidth, 1, ModuleWidthItems(),
                        steps(static_cast<int>(ModuleWidthItems().size()), 8)));
  f.push_back(ListField("module_height", TR_NOOP("单元板高点数"), Group::Driver, rec::kModuleHeight, 1, ModuleHeightItems(),
                        steps(static_cast<int>(ModuleHeightItems().size()), 4)));
  f.push_back(ListField("scan", TR_NOOP("扫描行数"), Group::Driver, rec::kScan, 1, ScanItems(), {1, 2, 4, 8, 10, 13, 16, 20, 32, 64}));
  f.push_back(ListField("row_scan_chip", TR_NOOP("扫描芯片"), Group::Driver, rec::kRowScanChip, 1, RowScanChipItems()));
  f.push_back(ListField("fold_width", TR_NOOP("折线点数"), Group::Driver, rec::kFoldWidth, 1, FoldWidthItems(), {4, 8, 16, 32, 64, 128}));
  f.push_back(ListField("u_fold", TR_NOOP("U型折线"), Group::Driver, rec::kUFold, 1, UFoldItems()));
  f.push_back(ListField("snake_direction", TR_NOOP("蛇形方向"), Group::Driver, rec::kSnakeDirection, 1, SnakeItems()));
  f.push_back(ListField("fold_rows", TR_NOOP("折线行数"), Group::Driver, rec::kFoldRows, 1, FoldRowsItems(), {1, 2, 4, 8}));
  f.push_back(ListField("row_col_conversion", TR_NOOP("行列转换点数"), Group::Driver, rec::kRowColConversion, 1, ConversionItems()));
  f.push_back(NumberField("dz_fold", TR_NOOP("DZ型折线"), Group::Driver, rec::kDzFold, 1, 0, 255));

  // The Modbus master requests, shown; a restore carries them.
  for (std::size_t i = 0; i < rec::kModbusEntries; ++i)
    f.push_back(ReadOnly(Format("modbus_request_%zu", i + 1), Format(platform::Tr("主站请求%zu"), i + 1), Group::Modbus,
                         [i](const DeviceStatusRecord& r) {
                           const auto e = modbus::ReadEntry(r, i);
                           if (e.empty()) return std::string("-");
                           return Format(platform::Tr("功能码%d 从站%d 地址%d 个数%d 除数%d 乘数%d 主站地址%d 校正+%d 校正-%d 延时%d 上限%d 下限%d"),
                                         e.function, e.slave, e.address, e.count, e.divisor, e.multiplier, e.master,
                                         e.calPlus, e.calMinus, e.delay, e.upper, e.lower);
                         }));
  return f;
}

}  // namespace

const char* GroupName(Group g) {
  switch (g) {
    case Group::Identity: return "identity";
    case Group::Panel: return "panel";
    case Group::Network: return "network";
    case Group::Advanced: return "advanced";
    case Group::Driver: return "driver";
    case Group::Modbus: return "modbus";
  }
  return "";
}

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = Build();
  return fields;
}

const Field* FindField(const std::string& name) {
  for (const Field& f : Fields())
    if (f.name == name) return &f;
  return nullptr;
}

std::optional<std::string> ApplyAssignment(DeviceStatusRecord* record, const std::string& assignment) {
  const std::size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) return Format(platform::Tr("\"%s\" 不是 名称=值 的形式"), assignment.c_str());
  const std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
  const Field* f = FindField(name);
  if (!f) return Format(platform::Tr("没有名为 %s 的参数（cardctl show 列出全部名称）"), name.c_str());
  if (!f->set) return Format(platform::Tr("%s 只能查看，不能修改"), name.c_str());
  return f->set(record, value);
}

}  // namespace card::cli
