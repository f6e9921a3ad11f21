#include "cardctl/fields.h"

#include <cerrno>
#include <cstdlib>
#include <set>

#include "modbus/master_table.h"
#include "params/advanced.h"
#include "params/network.h"
#include "params/panel.h"
#include "params/panel_driver.h"
#include "params/panel_lists.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using platform::Format;
using Show = std::function<std::string(const DeviceStatusRecord&)>;
using Set = std::function<std::optional<std::string>(DeviceStatusRecord*, const std::string&)>;

// The whole text as a decimal number within [lo, hi]; "12abc", "+5" and " 5" are no numbers.
std::optional<long long> Whole(const std::string& text, long long lo, long long hi) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return std::nullopt;
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

std::string Refused(const std::string& label, const std::string& value, const std::string& allowed) {
  return Format(platform::Tr("%s 的值 \"%s\" 无效，可选：%s"),
                platform::Tr(label).c_str(), value.c_str(), allowed.c_str());
}

// A list of the window and every way its items can be named.
struct List {
  std::vector<std::string> items;  // as the window shows them (Chinese)
  std::vector<std::string> en;     // English names; empty where the item is English already
  std::vector<std::vector<long long>> numbers;  // the numbers each item stands for

  const std::string& English(std::size_t i) const { return i < en.size() && !en[i].empty() ? en[i] : items[i]; }
  std::string Shown(std::size_t i) const { return platform::Tr(items[i]); }
};

bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The number an item's text shows: "6-- 行8S_折16" shows 6, "05" shows 5;
// "1/4" or "4折宽点数" show none by themselves (their value table does).
std::optional<long long> ShownNumber(const std::string& item) {
  std::size_t digits = 0;
  while (digits < item.size() && item[digits] >= '0' && item[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return std::nullopt;
  if (digits == item.size() || item[digits] == '-') return std::stoll(item.substr(0, digits));
  return std::nullopt;
}

List MakeList(std::vector<std::string> items, std::vector<std::string> en = {},
              std::vector<long long> values = {}) {
  List l;
  l.items = std::move(items);
  l.en = std::move(en);
  l.numbers.resize(l.items.size());
  for (std::size_t i = 0; i < l.items.size(); ++i) {
    if (auto n = ShownNumber(l.items[i])) l.numbers[i].push_back(*n);
    if (i < values.size() && (l.numbers[i].empty() || l.numbers[i][0] != values[i])) l.numbers[i].push_back(values[i]);
  }
  return l;
}

std::string Choices(const List& l) {
  std::string out;
  const std::size_t shown = std::min<std::size_t>(l.items.size(), 12);
  for (std::size_t i = 0; i < shown; ++i) out += (i ? ", " : "") + l.Shown(i);
  if (l.items.size() > shown) out += Format(", ... %s", l.Shown(l.items.size() - 1).c_str());
  return out;
}

// The item a user meant, or the reason none is meant.
struct Resolved {
  std::optional<std::size_t> index;
  std::string error;
};

Resolved Resolve(const List& l, const std::string& label, const std::string& value) {
  Resolved r;
  if (value.size() > 1 && value[0] == '#') {
    if (auto n = Whole(value.substr(1), 0, static_cast<long long>(l.items.size()) - 1)) {
      r.index = static_cast<std::size_t>(*n);
      return r;
    }
    r.error = Refused(label, value, Format("#0 ... #%zu", l.items.size() - 1));
    return r;
  }
  std::set<std::size_t> hits;
  const auto number = Whole(value, 0, 1'000'000'000);
  for (std::size_t i = 0; i < l.items.size(); ++i) {
    if (l.items[i] == value || SameIgnoringAsciiCase(l.English(i), value) || SameIgnoringAsciiCase(l.Shown(i), value))
      hits.insert(i);
    if (number)
      for (long long n : l.numbers[i])
        if (n == *number) hits.insert(i);
  }
  if (hits.size() == 1) {
    r.index = *hits.begin();
    return r;
  }
  if (hits.empty()) {
    r.error = Refused(label, value, Choices(l));
    return r;
  }
  std::string which;
  for (std::size_t i : hits) which += (which.empty() ? "" : platform::Tr(" 或 ")) + std::string("\"") + l.Shown(i) + "\"";
  r.error = Format(platform::Tr("%s 的值 \"%s\" 不明确：可指 %s；请写完整的选项文字或 #序号"),
                   label.c_str(), value.c_str(), which.c_str());
  return r;
}

// Field construction.

std::function<std::optional<std::string>(const std::string&)> ItemNamed(const List& list) {
  return [list](const std::string& value) -> std::optional<std::string> {
    Resolved at = Resolve(list, {}, value);
    if (!at.index) return std::nullopt;
    return list.items[*at.index];
  };
}

std::optional<std::string> PlainNumber(const std::string& value) {
  if (auto n = Whole(value, 0, 1'000'000'000)) return std::to_string(*n);
  return std::nullopt;
}

Field Make(std::string name, std::string label, std::string labelEn, Group group, ValueKind kind, Show show,
           Set set = {}) {
  Field f;
  f.name = std::move(name);
  f.label = std::move(label);
  f.labelEn = std::move(labelEn);
  f.group = group;
  f.kind = kind;
  f.carried = static_cast<bool>(set);
  f.show = std::move(show);
  f.set = std::move(set);
  return f;
}

std::string NotInList(unsigned v) { return Format(TR_NOOP("%u (不在列表中)"), v); }

// A list whose item i stores values[i] (its position when values is empty).
Field ListField(std::string name, std::string label, std::string labelEn, Group group, std::size_t offset, int width,
                List list, std::vector<unsigned> values = {}) {
  if (values.empty())
    for (std::size_t i = 0; i < list.items.size(); ++i) values.push_back(static_cast<unsigned>(i));
  const bool yesNo = list.items == std::vector<std::string>{TR_NOOP("否"), TR_NOOP("是")};
  Show show = [=](const DeviceStatusRecord& r) {
    const unsigned v = Read(r, offset, width);
    for (std::size_t i = 0; i < values.size(); ++i)
      if (values[i] == v) return list.items[i];
    return NotInList(v);
  };
  const std::string labelZh = label;
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    Resolved at = Resolve(list, labelZh, value);
    if (!at.index) return at.error;
    Write(r, offset, width, values[*at.index]);
    return std::nullopt;
  };
  Field f = Make(name, std::move(label), std::move(labelEn), group, yesNo ? ValueKind::Bool : ValueKind::List,
                 show, set);
  f.canonical = ItemNamed(list);
  f.items = list.items;
  return f;
}

Field NumberField(std::string name, std::string label, std::string labelEn, Group group, std::size_t offset,
                  int width, long long lo, long long hi) {
  Show show = [=](const DeviceStatusRecord& r) { return std::to_string(Read(r, offset, width)); };
  const std::string zh = label;
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    auto v = Whole(value, lo, hi);
    if (!v) return Refused(zh, value, Format("%lld ... %lld", lo, hi));
    Write(r, offset, width, static_cast<unsigned>(*v));
    return std::nullopt;
  };
  Field f = Make(std::move(name), std::move(label), std::move(labelEn), group, ValueKind::Number, show, set);
  f.canonical = PlainNumber;
  return f;
}

std::optional<std::array<int, 4>> DottedAddress(const std::string& text) {
  std::array<int, 4> out{};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (at > text.size()) return std::nullopt;
    std::size_t dot = i < 3 ? text.find('.', at) : text.size();
    if (dot == std::string::npos) return std::nullopt;
    auto v = Whole(text.substr(at, dot - at), 0, 255);
    if (!v || dot - at > 3) return std::nullopt;
    out[static_cast<std::size_t>(i)] = static_cast<int>(*v);
    at = dot + 1;
  }
  return out;
}

Field AddressField(std::string name, std::string label, std::string labelEn, Group group, std::size_t offset) {
  Show show = [=](const DeviceStatusRecord& r) { return Ipv4Text(r, offset); };
  const std::string zh = label;
  Set set = [=](DeviceStatusRecord* r, const std::string& value) -> std::optional<std::string> {
    auto a = DottedAddress(value);
    if (!a) return Refused(zh, value, "a.b.c.d");
    for (std::size_t i = 0; i < 4; ++i) r->setU8(offset + i, static_cast<std::uint8_t>((*a)[i]));
    return std::nullopt;
  };
  Field f = Make(std::move(name), std::move(label), std::move(labelEn), group, ValueKind::Text, show, set);
  f.canonical = [](const std::string& value) -> std::optional<std::string> {
    auto a = DottedAddress(value);
    if (!a) return std::nullopt;
    return Format("%d.%d.%d.%d", (*a)[0], (*a)[1], (*a)[2], (*a)[3]);
  };
  return f;
}

Field ReadOnly(std::string name, std::string label, std::string labelEn, Group group, Show show) {
  return Make(std::move(name), std::move(label), std::move(labelEn), group, ValueKind::Text, std::move(show));
}

const std::vector<std::string> kNoYes = {TR_NOOP("否"), TR_NOOP("是")};
const std::vector<std::string> kNoYesEn = {"no", "yes"};

// The panel as the window shows a record: the polarity and target lists
// depend on the firmware and on each other.
PanelValues PanelOf(const DeviceStatusRecord& r) {
  std::vector<std::string> messages;
  return FilledPanel(r, {}, FillVariant::Direct, &messages);
}

// Writes one of the three lists that make the code word, keeping the other two.
void SetCodeWordList(DeviceStatusRecord* r, int target, int oe, int data) {
  if (auto code = CodeWordFor(target, oe, data)) r->setU16(rec::kCodeWord, *code);
  if (PolarityFromFields(*r)) {
    if (oe >= 0) r->setU8(rec::kOePolarity, static_cast<std::uint8_t>(oe));
    if (data >= 0) r->setU8(rec::kDataPolarity, static_cast<std::uint8_t>(data));
  }
}

// One of the three code-word lists: which of the panel's positions it is.
Field CodeWordField(std::string name, std::string label, std::string labelEn, List list, int PanelValues::*member) {
  const std::string zh = label;
  Show show = [=](const DeviceStatusRecord& r) {
    const int i = PanelOf(r).*member;
    return i >= 0 ? list.items[static_cast<std::size_t>(i)] : std::string(TR_NOOP("(不在列表中)"));
  };
  Set set = [=](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
    Resolved at = Resolve(list, zh, v);
    if (!at.index) return at.error;
    PanelValues p = PanelOf(*r);
    p.*member = static_cast<int>(*at.index);
    SetCodeWordList(r, p.target, p.oe, p.data);
    return std::nullopt;
  };
  Field f = Make(name, std::move(label), std::move(labelEn), Group::Panel, ValueKind::List, show, set);
  f.canonical = ItemNamed(list);
  f.items = list.items;
  return f;
}

std::vector<std::string> DisplayTargetEnglish() {
  return {"1-- standard P10",
          "2-- standard indoor P4.75",
          "3-- standard P2.5&P3",
          "4-- digit tubes",
          "5-- high-power P10",
          "6-- row 8S fold 16",
          "7-- row 8S fold 32",
          "8-- row 8S fold 64",
          "9-- full colour 4S P10",
          "10--full colour 8S P10",
          "11--full colour 8S P10 V30",
          "12--full colour P4 fold 16 (outdoor)",
          "13--high-power Q3",
          "14--high-power Q3 (5266)",
          "15--full colour outdoor Q3 (64*64)",
          "",
          "",
          "18--full colour P4 fold 80 (outdoor)",
          "19--traffic OUT P16",
          "20--P10 2S Z fold",
          "21--32 scan M1 fold",
          "22--row 10S P4 full colour outdoor",
          "23--more target settings"};
}

std::vector<std::string> DisplayModeEnglish() {
  return {"1-- landscape",
          "2-- green-to-red extension",
          "3-- portrait",
          "4-- green-to-red extension & portrait",
          "5-- blue/red swap & extension",
          "6-- reserved",
          "7-- blue/red swap & portrait",
          "8-- reserved",
          "9-- mirrored"};
}

std::vector<std::string> Rs485ModeEnglish() {
  return {"0-RTU slave",         "1-RTU master",         "2-command mode",       "3-custom 1",
          "4-custom 2",          "5-custom 3",           "6-Pacific customer",   "7-custom 5",
          "8-custom 6",          "9-custom 7",           "10-custom 8",          "11-port 1002 pass-through",
          "12-server pass-through", "13-traffic lights", "14-road roller",       "15-Korvex commands",
          "16-environmental 212 protocol", "",           "18-custom 16",         "19-pseudo master listening",
          "20-voice announcements", "21-switch inputs",  "22-weighing instrument", "23-radiation meter",
          "24-noise meter",      "25-custom 23",         "26-custom 24",         "27-custom 25",
          "28-custom 26",        "29-custom 27",         "30-custom 28",         "31-custom 29"};
}

std::vector<std::string> DevelopmentEnglish() {
  std::vector<std::string> out = {"0-- off", "1-- number 0", "2-- start script program", "3-- modbus text",
                                  "4-- program trigger mode", "5-- selectable text"};
  for (int i = 6; i <= 17; ++i) out.push_back(Format("%d-- number %d", i, i - 1));
  out.insert(out.end(), {"18-- variable over limit red", "19-- variable over limit yellow", "20-- modbus+110 colour"});
  for (int i = 21; i <= 31; ++i) out.push_back(Format("%d-- number %d", i, i - 1));
  out.insert(out.end(), {"32-- pseudo hub75", "33-- number 32"});
  return out;
}

std::vector<long long> BaudRates() {
  std::vector<long long> rates;
  for (int i = 0; i < static_cast<int>(BaudRateItems().size()); ++i) rates.push_back(BaudFor(i)->rate);
  return rates;
}

std::vector<std::string> RequestLines(const modbus::RequestEntry& e) {
  return {Format(platform::Tr("功能码%d 从站%d 地址%d 个数%d 除数%d 乘数%d 主站地址%d 校正+%d 校正-%d 延时%d 上限%d 下限%d"), e.function,
                 e.slave, e.address, e.count, e.divisor, e.multiplier, e.master, e.calPlus, e.calMinus, e.delay,
                 e.upper, e.lower)};
}

std::vector<Field> Build() {
  std::vector<Field> f;
  // Who the card is: shown, never set here.
  f.push_back(ReadOnly("address", TR_NOOP("IP地址"), "IP address", Group::Identity,
                       [](const DeviceStatusRecord& r) { return AddressText(r); }));
  f.push_back(ReadOnly("mac", TR_NOOP("MAC地址"), "MAC address", Group::Identity,
                       [](const DeviceStatusRecord& r) { return MacText(r); }));
  f.push_back(ReadOnly("serial", TR_NOOP("设备SN"), "serial number", Group::Identity,
                       [](const DeviceStatusRecord& r) { return SerialText(r); }));
  f.push_back(ReadOnly("firmware", TR_NOOP("固件版本"), "firmware version", Group::Identity,
                       [](const DeviceStatusRecord& r) { return FirmwareText(r); }));
  f.push_back(ReadOnly("platform", TR_NOOP("平台"), "cloud platform", Group::Identity, [](const DeviceStatusRecord& r) {
    return std::string(r.u16(rec::kPlatformStatus) == 0x55 ? TR_NOOP("已连接") : TR_NOOP("未连接"));
  }));
  f.push_back(ReadOnly("checksum", TR_NOOP("参数校验"), "record checksum", Group::Identity, [](const DeviceStatusRecord& r) {
    switch (ChecksumOf(r)) {
      case ChecksumState::Ok: return std::string(TR_NOOP("正确"));
      case ChecksumState::Bad: return std::string(TR_NOOP("错误"));
      case ChecksumState::Untested: break;
    }
    return std::string(TR_NOOP("不校验（固件低于17）"));
  }));

  // The parameter panel.
  f.push_back(NumberField("width", TR_NOOP("像素宽点数"), "width in pixels", Group::Panel, rec::kWidth, 2, 0, kMaxPanelWidth));
  f.push_back(NumberField("height", TR_NOOP("像素高点数"), "height in pixels", Group::Panel, rec::kHeight, 2, 0, kMaxPanelHeight));
  const List polarity = MakeList(PolarityItems(), {"1-- positive", "2-- negative"});
  f.push_back(CodeWordField("oe_polarity", TR_NOOP("OE信号"), "OE polarity", polarity, &PanelValues::oe));
  f.push_back(CodeWordField("data_polarity", TR_NOOP("数据高低"), "data polarity", polarity, &PanelValues::data));
  f.push_back(CodeWordField("display_target", TR_NOOP("显示目标"), "display target",
                            MakeList(DisplayTargetItems(), DisplayTargetEnglish()), &PanelValues::target));
  f.push_back(ListField("display_mode", TR_NOOP("显示模式"), "display mode", Group::Panel, rec::kDisplayMode, 1,
                        MakeList(DisplayModeItems(), DisplayModeEnglish())));
  f.push_back(ListField("refresh_rate", TR_NOOP("刷屏率"), "refresh rate", Group::Panel, rec::kRefreshRate, 1,
                        MakeList(NumberItems(kRefreshItems))));
  f.push_back(ListField("brightness", TR_NOOP("亮度"), "brightness", Group::Panel, rec::kBrightness, 1,
                        MakeList(NumberItems(kBrightnessItems))));
  f.push_back(ListField("modbus_address", TR_NOOP("ModBus地址"), "Modbus address", Group::Panel, rec::kModbusAddress, 2,
                        MakeList(ModbusAddressItems())));
  f.push_back(ListField("rs485_mode", TR_NOOP("485模式"), "RS-485 mode", Group::Panel, rec::kRs485Mode, 1,
                        MakeList(Rs485ModeItems(), Rs485ModeEnglish())));
  {
    std::vector<unsigned> stored;
    for (long long rate : BaudRates()) stored.push_back(static_cast<unsigned>(rate) & 0xFFFF);
    f.push_back(ListField("baud_rate", TR_NOOP("波特率"), "baud rate", Group::Panel, rec::kBaudRate, 2,
                          MakeList(BaudRateItems(), {}, BaudRates()), stored));
  }
  f.push_back(ListField("development_no", TR_NOOP("开发编号"), "development number", Group::Panel, rec::kDevelopmentNo, 1,
                        MakeList(DevelopmentItems(), DevelopmentEnglish())));

  // The network group.
  {
    Field autoIp = ListField("auto_ip", TR_NOOP("自动获取IP"), "obtain address automatically", Group::Network, rec::kIpMode, 1,
                             MakeList(kNoYes, kNoYesEn), {1, 0});
    // Any value but 1 means automatic addressing.
    autoIp.show = [](const DeviceStatusRecord& r) { return std::string(r.u8(rec::kIpMode) != 1 ? TR_NOOP("是") : TR_NOOP("否")); };
    f.push_back(autoIp);
  }
  f.push_back(ListField("server_enable", TR_NOOP("是否连接服务器"), "connect to server", Group::Network, rec::kServerEnable, 1,
                        MakeList(kNoYes, kNoYesEn)));
  f.push_back(AddressField("card_ip", TR_NOOP("控制卡IP"), "card IP address", Group::Network, rec::kCardAddress));
  f.push_back(AddressField("server_ip", TR_NOOP("服务器IP"), "server IP address", Group::Network, rec::kServerAddress));
  f.push_back(NumberField("server_port", TR_NOOP("服务器端口"), "server port", Group::Network, rec::kServerPort, 2, 0, 65535));
  f.push_back(ListField("service_type", TR_NOOP(" 服务类型"), "service type", Group::Panel, rec::kServiceType, 1,
                        MakeList(ServiceTypeItems(), {"", "1-Korvex cloud service", "2-secondary development commands",
                                                      "", "", "5-receiving card"})));
  f.push_back(ListField("double_sided", TR_NOOP("双面"), "double-sided", Group::Network, rec::kDoubleSided, 1,
                        MakeList(kNoYes, kNoYesEn)));
  {
    Field lock = ListField("lock", TR_NOOP("锁定"), "storage lock", Group::Network, rec::kLock, 1, MakeList(kNoYes, kNoYesEn));
    lock.show = [](const DeviceStatusRecord& r) { return std::string(r.u8(rec::kLock) != 0 ? TR_NOOP("是") : TR_NOOP("否")); };
    auto plain = lock.set;
    lock.set = [plain](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
      DeviceStatusRecord n = *r;
      if (auto error = plain(&n, v)) return error;
      if (n.u8(rec::kLock) != 0 && r->u8(rec::kLock) == 0 && !LockCanBeSwitchedOn(*r))
        return std::string(platform::Tr(kMsgLockUnsupported));
      *r = n;
      return std::nullopt;
    };
    f.push_back(lock);
  }

  // "高级设置". Flags hold 85 for on.
  const std::vector<unsigned> offOn = {0, kFlagOn};
  const List offOnList = MakeList(OffOnItems(), {"off", "on"});
  f.push_back(ListField("data_bits", TR_NOOP("数据位"), "data bits", Group::Advanced, rec::kDataBits, 1,
                        MakeList(DataBitsItems())));
  f.push_back(ListField("stop_bits", TR_NOOP("停止位"), "stop bits", Group::Advanced, rec::kStopBits, 1,
                        MakeList(StopBitsItems())));
  f.push_back(ListField("parity", TR_NOOP("校验位"), "parity", Group::Advanced, rec::kParity, 1, MakeList(ParityItems())));
  f.push_back(ListField("rs485_heartbeat", TR_NOOP("是否监测心跳"), "supervise RS-485 heartbeat", Group::Advanced,
                        rec::kRs485HeartbeatFlag, 2, offOnList, offOn));
  f.push_back(NumberField("rs485_heartbeat_interval", TR_NOOP("心跳间隔(秒）"), "RS-485 heartbeat interval (s)", Group::Advanced,
                          rec::kRs485HeartbeatInterval, 2, 0, 59));
  f.push_back(ListField("daily_restart", TR_NOOP("启用日重启"), "daily restart", Group::Advanced, rec::kDailyRestart, 2,
                        MakeList(kNoYes, kNoYesEn), offOn));
  f.push_back(NumberField("restart_hour", TR_NOOP("小时"), "restart hour", Group::Advanced, rec::kRestartHour, 2, 0, 23));
  f.push_back(NumberField("restart_minute", TR_NOOP("分钟"), "restart minute", Group::Advanced, rec::kRestartMinute, 2, 0, 59));
  f.push_back(NumberField("restart_second", TR_NOOP("秒数"), "restart second", Group::Advanced, rec::kRestartSecond, 2, 0, 59));
  f.push_back(ListField("fixed_network", TR_NOOP("启用固定设置"), "use fixed network settings", Group::Network,
                        rec::kFixedNetwork, 1, MakeList(kNoYes, kNoYesEn), {0, kFlagOn}));
  f.push_back(AddressField("gateway", TR_NOOP("网关"), "gateway", Group::Network, rec::kGateway));
  f.push_back(AddressField("subnet_mask", TR_NOOP("子网掩码"), "subnet mask", Group::Network, rec::kSubnetMask));
  f.push_back(AddressField("dns", "DNS", "DNS server", Group::Network, rec::kDns));
  f.push_back(ListField("start_delay", TR_NOOP("启动是否延时"), "delay at start-up", Group::Advanced, rec::kStartDelayFlag, 2,
                        offOnList, offOn));
  f.push_back(NumberField("start_delay_seconds", TR_NOOP("启动延时(秒)"), "start-up delay (s)", Group::Advanced,
                          rec::kStartDelay, 2, 0, 59));
  f.push_back(ListField("server_heartbeat", TR_NOOP("是否启动心跳"), "send server heartbeat", Group::Advanced,
                        rec::kServerHeartbeatFlag, 2, offOnList, offOn));
  {
    // Kept in hundredths of a second.
    const std::string zh = TR_NOOP("心跳包间隔(秒)"), en = "server heartbeat interval (s)";
    f.push_back(Make(
        "server_heartbeat_interval", zh, en, Group::Advanced, ValueKind::Number,
        [](const DeviceStatusRecord& r) { return std::to_string(r.u16(rec::kServerHeartbeatInterval) / 100); },
        [zh, en](DeviceStatusRecord* r, const std::string& v) -> std::optional<std::string> {
          auto n = Whole(v, 0, 59);
          if (!n) return Refused(zh, v, "0 ... 59");
          r->setU16(rec::kServerHeartbeatInterval, static_cast<std::uint16_t>(*n * 100));
          return std::nullopt;
        }));
    f.back().canonical = PlainNumber;
  }
  f.push_back(ListField("modbus_storage", TR_NOOP("modbus存储"), "Modbus storage", Group::Advanced, rec::kModbusStorage, 2,
                        MakeList(ModbusStorageItems(), {"do not load", "load at start"}), offOn));
  {
    Field direction = ListField("counter_direction", TR_NOOP("正反向选择"), "daily counter direction", Group::Advanced,
                                rec::kCounterDirection, 2, MakeList(DirectionItems(), {"count up", "count down"}));
    // Any value but 0 counts down.
    direction.show = [](const DeviceStatusRecord& r) {
      return DirectionItems()[r.u16(rec::kCounterDirection) != 0 ? 1 : 0];
    };
    f.push_back(direction);
  }
  for (int i = 0; i < kCounterCount; ++i) {
    constexpr const char* kCounterLabel = TR_NOOP("起始计数值%d");
    Field counter = NumberField(Format("counter_start_%d", i + 1), Format(kCounterLabel, i + 1),
                                Format("start value of counter %d", i + 1), Group::Advanced,
                                rec::kCounterStart + 2 * static_cast<std::size_t>(i), 2, 0, kMaxCounterStart);
    counter.labelFormat = kCounterLabel;
    counter.labelNumber = i + 1;
    f.push_back(counter);
  }
  f.push_back(ListField("card_role", TR_NOOP("主从模式"), "card role", Group::Advanced, rec::kCardRole, 1,
                        MakeList(RoleItems(), {"independent", "sending", "hidden on the network"})));
  f.push_back(ListField("split_x", TR_NOOP("主X分割线"), "X split line", Group::Advanced, rec::kSplitX, 1,
                        MakeList(TwoDigitItems(kSplitItems, kSplitXStep))));
  f.push_back(ListField("split_y", TR_NOOP("主Y分割线"), "Y split line", Group::Advanced, rec::kSplitY, 1,
                        MakeList(TwoDigitItems(kSplitItems, kSplitYStep))));
  f.push_back(ListField("blue_switch", TR_NOOP("蓝色开关"), "blue", Group::Advanced, rec::kBlueSwitch, 1,
                        MakeList(BlueItems(), {"on", "off"}), offOn));
  f.push_back(ListField("voice_switch", TR_NOOP("语音开关"), "voice", Group::Advanced, rec::kVoiceSwitch, 1,
                        MakeList(OffOpenItems(), {"off", "on"}), offOn));
  f.push_back(ListField("script_start", TR_NOOP("脚本启动"), "script start", Group::Advanced, rec::kScriptStart, 1,
                        MakeList(OffOpenItems(), {"off", "on"}), offOn));

  // "更多目标设置".
  auto steps = [](std::size_t count, long long step) {
    std::vector<long long> v;
    for (std::size_t i = 0; i < count; ++i) v.push_back(static_cast<long long>(i) * step);
    return v;
  };
  auto stored = [](const std::vector<long long>& v) { return std::vector<unsigned>(v.begin(), v.end()); };
  const auto widths = steps(ModuleWidthItems().size(), 8), heights = steps(ModuleHeightItems().size(), 4);
  const std::vector<long long> scans = {1, 2, 4, 8, 10, 13, 16, 20, 32, 64}, folds = {4, 8, 16, 32, 64, 128},
                               foldRows = {1, 2, 4, 8};
  f.push_back(ListField("module_width", TR_NOOP("单元板长点数"), "module width (dots)", Group::Driver, rec::kModuleWidth, 1,
                        MakeList(ModuleWidthItems(), {}, widths), stored(widths)));
  f.push_back(ListField("module_height", TR_NOOP("单元板高点数"), "module height (dots)", Group::Driver, rec::kModuleHeight, 1,
                        MakeList(ModuleHeightItems(), {}, heights), stored(heights)));
  f.push_back(ListField("scan", TR_NOOP("扫描行数"), "scan", Group::Driver, rec::kScan, 1, MakeList(ScanItems(), {}, scans),
                        stored(scans)));
  f.push_back(ListField("row_scan_chip", TR_NOOP("扫描芯片"), "row-scan chip", Group::Driver, rec::kRowScanChip, 1,
                        MakeList(RowScanChipItems(), {"standard 138", "no row-scan chip"})));
  f.push_back(ListField("fold_width", TR_NOOP("折线点数"), "fold width", Group::Driver, rec::kFoldWidth, 1,
                        MakeList(FoldWidthItems(),
                                 {"fold width 4", "fold width 8", "fold width 16", "fold width 32", "fold width 64",
                                  "fold width 128"},
                                 folds),
                        stored(folds)));
  f.push_back(ListField("u_fold", TR_NOOP("U型折线"), "U-shaped fold", Group::Driver, rec::kUFold, 1,
                        MakeList(UFoldItems(), {"no U fold", "U fold"})));
  f.push_back(ListField("snake_direction", TR_NOOP("蛇形方向"), "snake direction", Group::Driver, rec::kSnakeDirection, 1,
                        MakeList(SnakeItems(), {"S", "reverse S"})));
  f.push_back(ListField("fold_rows", TR_NOOP("折线行数"), "fold rows", Group::Driver, rec::kFoldRows, 1,
                        MakeList(FoldRowsItems(), {"no fold", "2-row fold", "4-row fold", "8-row fold"}, foldRows),
                        stored(foldRows)));
  f.push_back(ListField("row_col_conversion", TR_NOOP("行列转换点数"), "row/column conversion points", Group::Driver,
                        rec::kRowColConversion, 1, MakeList(ConversionItems())));
  f.push_back(NumberField("dz_fold", TR_NOOP("DZ型折线"), "DZ-type fold", Group::Driver, rec::kDzFold, 1, 0, 255));

  // The Modbus master requests, shown; a restore carries those the card takes.
  for (std::size_t i = 0; i < rec::kModbusEntries; ++i) {
    constexpr const char* kRequestLabel = TR_NOOP("主站请求%d");
    Field request = ReadOnly(Format("modbus_request_%zu", i + 1), Format(kRequestLabel, static_cast<int>(i) + 1),
                             Format("Modbus request %zu", i + 1), Group::Modbus, [i](const DeviceStatusRecord& r) {
                               const auto e = modbus::ReadEntry(r, i);
                               return e.empty() ? std::string("-") : RequestLines(e)[0];
                             });
    request.labelFormat = kRequestLabel;
    request.labelNumber = static_cast<int>(i) + 1;
    request.carried = i < modbus::kSentRequests;
    f.push_back(request);
  }
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

std::string Field::Label() const {
  return labelFormat ? Format(platform::Tr(labelFormat), labelNumber) : std::string(platform::Tr(label));
}

std::string Field::Shown(const DeviceStatusRecord& r) const {
  // show() gives the record's text in the source language (the JSON and the
  // backups keep it); the terminal gets it through the catalogue.
  const std::string text = show(r);
  if (group == Group::Modbus) return text;
  const std::string notInList = TR_NOOP(" (不在列表中)");
  const std::size_t cut = text.find(notInList);
  if (cut != std::string::npos) return text.substr(0, cut) + platform::Tr(notInList);
  return platform::Tr(text);
}

nlohmann::ordered_json Field::Value(const DeviceStatusRecord& r) const {
  const std::string text = show(r);
  if (name == "checksum") {
    switch (ChecksumOf(r)) {
      case ChecksumState::Ok: return "ok";
      case ChecksumState::Bad: return "bad";
      case ChecksumState::Untested: return "untested";
    }
  }
  if (name == "platform") return text == TR_NOOP("已连接");
  if (group == Group::Modbus) {
    const auto e = modbus::ReadEntry(r, static_cast<std::size_t>(std::stoi(name.substr(15)) - 1));
    if (e.empty()) return nullptr;
    return {{"function", e.function}, {"slave", e.slave},       {"register", e.address},  {"count", e.count},
            {"divisor", e.divisor},   {"multiplier", e.multiplier}, {"master", e.master}, {"cal_plus", e.calPlus},
            {"cal_minus", e.calMinus}, {"delay", e.delay},      {"upper", e.upper},       {"lower", e.lower}};
  }
  // A stored value outside the list: its number.
  const std::size_t cut = text.find(TR_NOOP(" (不在列表中)"));
  if (cut != std::string::npos) return std::stoll(text.substr(0, cut));
  if (text == TR_NOOP("(不在列表中)")) return nullptr;
  switch (kind) {
    case ValueKind::Number: return std::stoll(text);
    case ValueKind::Bool: return text == TR_NOOP("是");
    case ValueKind::List:
      if (auto n = Whole(text, 0, 1'000'000'000)) return *n;
      return text;
    case ValueKind::Text: break;
  }
  return text;
}

ChecksumState ChecksumOf(const DeviceStatusRecord& r) {
  if (!ChecksumTested(r)) return ChecksumState::Untested;
  return VerifyChecksum(r) ? ChecksumState::Ok : ChecksumState::Bad;
}

std::optional<std::string> ApplyValue(DeviceStatusRecord* record, const std::string& name, const std::string& value) {
  const Field* f = FindField(name);
  if (!f)
    return Format(platform::Tr("没有名为 %s 的参数（cardctl show 列出全部名称）"),
                  name.c_str());
  if (!f->set) return Format(platform::Tr("%s 只能查看，不能修改"), name.c_str());
  DeviceStatusRecord changed = *record;
  if (auto error = f->set(&changed, value)) return error;
  // What the record now shows must be what was asked for: a list whose value
  // another setting decides (a polarity the display target fixes) takes nothing.
  const auto meant = f->canonical ? f->canonical(value) : std::nullopt;
  if (meant && f->show(changed) != *meant)
    return Format(platform::Tr("%s 不能设为 \"%s\"：该值由其他设置决定（当前显示 %s）"),
                  name.c_str(), value.c_str(), f->Shown(changed).c_str());
  *record = changed;
  return std::nullopt;
}

std::optional<std::string> ApplyAssignment(DeviceStatusRecord* record, const std::string& assignment) {
  const std::size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0)
    return Format(platform::Tr("\"%s\" 不是 名称=值 的形式"), assignment.c_str());
  return ApplyValue(record, assignment.substr(0, eq), assignment.substr(eq + 1));
}

std::optional<std::string> ValueText(const Field& f, const nlohmann::ordered_json& v, std::string* error) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer() || v.is_number_unsigned()) return v.dump();
  if (v.is_boolean() && f.kind == ValueKind::Bool) return std::string(v.get<bool>() ? TR_NOOP("是") : TR_NOOP("否"));
  *error = Format(platform::Tr("%s 的值 %s 不是该参数可用的类型"), f.name.c_str(),
                  v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
  return std::nullopt;
}

std::vector<const Field*> DifferingFields(const DeviceStatusRecord& a, const DeviceStatusRecord& b,
                                          const std::function<bool(const Field&)>& pick) {
  std::vector<const Field*> out;
  for (const Field& f : Fields())
    if (pick(f) && f.show(a) != f.show(b)) out.push_back(&f);
  return out;
}

bool NetworkIdentity(const Field& f) {
  for (const char* name : {"card_ip", "auto_ip", "fixed_network", "subnet_mask", "gateway", "dns", "mac", "serial"})
    if (f.name == name) return true;
  return false;
}

bool RestoreCompares(const Field& f, bool withNetwork) {
  if (NetworkIdentity(f)) return withNetwork;
  return f.carried;
}

}  // namespace card::cli
