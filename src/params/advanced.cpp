#include "params/advanced.h"

#include <cctype>
#include <cstring>

#include "link/announce.h"
#include "params/network.h"
#include "params/panel.h"
#include "platform/codec.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

int Index(int value, int count) { return value >= 0 && value < count ? value : -1; }
// Lists that read 255 (a field the card never set) as their first item.
int IndexUnsetIsFirst(int value, int count) { return value == 0xFF ? 0 : Index(value, count); }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(const std::string& text) {
  int value = 0;
  for (char c : text) {
    int d = 0;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    value = (value << 4 | d) & 0xFFFF;
  }
  return value;
}

std::string MacFieldText(const DeviceStatusRecord& r, int i) {
  return Format("%02X", r.u16(rec::kMac + 2 * static_cast<std::size_t>(i)));
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A field left as the record filled it counts as unchanged, whatever it holds.
bool MacUnchanged(const DeviceStatusRecord& r, const AdvancedValues& v, int i) {
  return SameIgnoringCase(v.mac[static_cast<std::size_t>(i)], MacFieldText(r, i));
}

std::uint16_t CounterWord(const DeviceStatusRecord& r, int i) {
  return r.u16(rec::kCounterStart + 2 * static_cast<std::size_t>(i));
}

std::optional<int> CounterValue(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  for (char c : text)
    if (!IsDigit(c)) return std::nullopt;
  return std::stoi(text);
}

bool CounterUnchanged(const DeviceStatusRecord& r, const AdvancedValues& v, int i) {
  auto value = CounterValue(v.counterStart[static_cast<std::size_t>(i)]);
  return value && *value == CounterWord(r, i);
}

// The first 24 bytes of a name, as far as its terminator, as the card's
// name field is compared.
std::string NamePrefix(const std::string& bytes) {
  std::string prefix = bytes.substr(0, kDeviceNameBytes);
  std::size_t nul = prefix.find('\0');
  return nul == std::string::npos ? prefix : prefix.substr(0, nul);
}

// Blanks and control characters would cut the name out of the broadcast
// queries that carry it and keep the card out of the device list.
bool NameHasBlankOrControl(const std::string& gbk) {
  for (unsigned char c : gbk)
    if (c <= 0x20 || c == 0x7F) return true;
  return false;
}

// Four numbers 0..255 with dots between and nothing else.
bool CompleteAddress(const std::string& dotted) {
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (i < dotted.size() && IsDigit(dotted[i]) && digits < 3) value = value * 10 + (dotted[i++] - '0'), ++digits;
    if (digits == 0 || value > 255) return false;
    ++parts;
    if (parts < 4) {
      if (i >= dotted.size() || dotted[i] != '.') return false;
      ++i;
    }
  }
  return i == dotted.size();
}

class Planner {
 public:
  Planner(const DeviceStatusRecord& copy, const AdvancedValues& v) : r_(copy), v_(v) {}

  AdvancedPlan Run() {
    Address(Tr("子网掩码"), rec::kSubnetMask, v_.mask, "set local_ip_sn  %d %d %d %d \n");
    Address(Tr("网关"), rec::kGateway, v_.gateway, "set local_ip_gw  %d %d %d %d \n");
    Address("DNS", rec::kDns, v_.dns, "set local_ip_dns  %d %d %d %d \n");
    Mac();
    DeviceName();
    Counters();
    Direction();
    DailyRestart();
    ServerHeartbeat();
    Rs485Frame();
    FlagWithValue(Tr("是否监测心跳"), v_.rs485Heartbeat, v_.rs485Interval, rec::kRs485HeartbeatFlag,
                  rec::kRs485HeartbeatInterval, "set RS_M_Enable  %d %d   \n");
    FlagWithValue(Tr("启动是否延时"), v_.startDelay, v_.startDelaySeconds, rec::kStartDelayFlag, rec::kStartDelay,
                  "set NET_W_Enable  %d %d   \n");
    Flag16(Tr("modbus存储"), v_.modbusStorage, 1, rec::kModbusStorage, "set Load_M_Enable  %d    \n");
    Role();
    SplitLines();
    Flag8(Tr("脚本启动"), v_.script, 1, rec::kScriptStart, "set Script_Enable  %d    \n");
    Flag8(Tr("蓝色开关"), v_.blue, 1, rec::kBlueSwitch, "set Blue_Disable  %d    \n");
    Flag8(Tr("语音开关"), v_.voice, 1, rec::kVoiceSwitch, "set SFE_Disable  %d    \n");
    return std::move(plan_);
  }

 private:
  void Add(const char* name, const DeviceStatusRecord& next, std::string line, int pauseMs) {
    plan_.steps.push_back({name, next, std::move(line), pauseMs, {}});
    r_ = next;
  }
  void Refuse(std::string message) {
    plan_.steps.push_back({TR_NOOP("设备名设置"), r_, {}, 0, std::move(message)});
    plan_.nameRejected = true;
  }

  // A changed address, then the fixed-settings flag as the box says.
  void Address(const char* name, std::size_t off, const std::string& dotted, const char* format) {
    const std::string blank = BlankSeparated(Ipv4FieldText(dotted));
    if (blank == RecordAddressBlank(r_, off)) return;
    DeviceStatusRecord n = r_;
    StoreBlankAddress(n, off, blank);
    Add(name, n, Format(format, n.u8(off), n.u8(off + 1), n.u8(off + 2), n.u8(off + 3)), kAdvancedStepPauseMs);
    n = r_;
    n.setU8(rec::kFixedNetwork, v_.fixedNetwork ? kFlagOn : 0);
    Add(Tr("启用固定设置"), n, Format("set local_ip_user  %d  \n", n.u8(rec::kFixedNetwork)), kAdvancedStepPauseMs);
  }

  void Mac() {
    DeviceStatusRecord n = r_;
    bool changed = false;
    for (int i = 0; i < kMacFields; ++i) {
      const std::size_t off = rec::kMac + 2 * static_cast<std::size_t>(i);
      const int word = HexValue(v_.mac[static_cast<std::size_t>(i)]);
      if (word == r_.u16(off)) continue;
      n.setU16(off, static_cast<std::uint16_t>(word));
      changed = true;
    }
    if (!changed) return;
    Add(Tr("MAC设置"), n,
        Format("set Mac  %x %x %x %x %x %x    \n", n.u16(rec::kMac), n.u16(rec::kMac + 2), n.u16(rec::kMac + 4),
               n.u16(rec::kMac + 6), n.u16(rec::kMac + 8), n.u16(rec::kMac + 10)),
        kAdvancedStepPauseMs);
  }

  void DeviceName() {
    // The field shows the card's bytes decoded, with '?' for what does not
    // decode: left as it was filled, it is no request to rename the card.
    if (v_.deviceName == SerialText(r_)) return;
    const std::string gbk = platform::Utf8ToGbk(v_.deviceName);
    if (NamePrefix(gbk) == NamePrefix(r_.serialBytes())) return;
    // Characters GBK has no code for would reach the card as '?'.
    if (platform::GbkToUtf8(gbk) != v_.deviceName) return Refuse(kMsgDeviceNameCharset);
    if (gbk.size() != kDeviceNameBytes) return Refuse(Format(Tr(kMsgDeviceNameLength), static_cast<int>(gbk.size())));
    if (NameHasBlankOrControl(gbk)) return Refuse(kMsgDeviceNameBlank);
    // The 24 bytes and their terminator; the rest of the field stays as the
    // card keeps it.
    DeviceStatusRecord n = r_;
    std::memcpy(n.data() + rec::kSerial, gbk.data(), kDeviceNameBytes);
    n.setU8(rec::kSerial + kDeviceNameBytes, 0);
    Add(Tr("设备名设置"), n, Format("set SN  %s    \n", gbk.c_str()), kAdvancedStepPauseMs);
  }

  void Counters() {
    for (int i = 0; i < kCounterCount; ++i) {
      auto value = CounterValue(v_.counterStart[static_cast<std::size_t>(i)]);
      if (!value || *value == CounterWord(r_, i) || *value > kMaxCounterStart) continue;
      DeviceStatusRecord n = r_;
      n.setU16(rec::kCounterStart + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(*value));
      Add(Tr("日累加设置"), n, Format("set safedate %d  %d  \n", i, *value), kCounterStartPauseMs);
    }
  }

  void Direction() {
    const int stored = r_.u16(rec::kCounterDirection) != 0 ? 1 : 0;
    if (Index(v_.counterDirection, 2) < 0 || v_.counterDirection == stored) return;
    DeviceStatusRecord n = r_;
    n.setU16(rec::kCounterDirection, static_cast<std::uint16_t>(v_.counterDirection));
    Add(Tr("正反向选择"), n, Format("set safedi %d  \n", v_.counterDirection), kCounterDirectionPauseMs);
  }

  // While the restart stays on, a changed time goes out too.
  void DailyRestart() {
    const bool on = r_.u16(rec::kDailyRestart) == kFlagOn;
    DeviceStatusRecord n = r_;
    if (v_.dailyRestart) {
      if (Index(v_.hour, 24) < 0 || Index(v_.minute, 60) < 0 || Index(v_.second, 60) < 0) return;
      const bool timeChanged = v_.hour != r_.u16(rec::kRestartHour) % 24 ||
                               v_.minute != r_.u16(rec::kRestartMinute) % 60 ||
                               v_.second != r_.u16(rec::kRestartSecond) % 60;
      if (on && !timeChanged) return;
      n.setU16(rec::kDailyRestart, kFlagOn);
      n.setU16(rec::kRestartHour, static_cast<std::uint16_t>(v_.hour));
      n.setU16(rec::kRestartMinute, static_cast<std::uint16_t>(v_.minute));
      n.setU16(rec::kRestartSecond, static_cast<std::uint16_t>(v_.second));
    } else {
      if (!on) return;
      for (std::size_t off : {rec::kDailyRestart, rec::kRestartHour, rec::kRestartMinute, rec::kRestartSecond})
        n.setU16(off, 0);
    }
    Add(Tr("设定每日重启"), n,
        Format("set reset_Enable  %d %d %d %d  \n", n.u16(rec::kDailyRestart), n.u16(rec::kRestartHour),
               n.u16(rec::kRestartMinute), n.u16(rec::kRestartSecond)),
        kAdvancedStepPauseMs);
  }

  // The server heartbeat keeps its interval in hundredths of a second.
  void ServerHeartbeat() {
    const bool on = r_.u16(rec::kServerHeartbeatFlag) == kFlagOn;
    const int interval = Index(v_.serverInterval, 60);
    const int shown = (r_.u16(rec::kServerHeartbeatInterval) / 100) % 60;
    DeviceStatusRecord n = r_;
    if (v_.serverHeartbeat == 1) {
      if (interval < 0 || (on && interval == shown)) return;
      n.setU16(rec::kServerHeartbeatFlag, kFlagOn);
    } else if (v_.serverHeartbeat == 0) {
      if (!on) return;
      n.setU16(rec::kServerHeartbeatFlag, 0);
    } else {
      return;
    }
    if (interval >= 0) n.setU16(rec::kServerHeartbeatInterval, static_cast<std::uint16_t>(interval * 100));
    Add(Tr("是否启动心跳"), n,
        Format("set N_M_Enable  %d %d   \n", n.u16(rec::kServerHeartbeatFlag), n.u16(rec::kServerHeartbeatInterval)),
        kAdvancedStepPauseMs);
  }

  // A list without a selection keeps the card's value in the line.
  void Rs485Frame() {
    const std::pair<int, std::size_t> lists[] = {{Index(v_.dataBits, 2), rec::kDataBits},
                                                 {Index(v_.parity, 5), rec::kParity},
                                                 {Index(v_.stopBits, 3), rec::kStopBits}};
    DeviceStatusRecord n = r_;
    bool changed = false;
    for (const auto& [value, off] : lists) {
      if (value < 0 || value == r_.u8(off)) continue;
      n.setU8(off, static_cast<std::uint8_t>(value));
      changed = true;
    }
    if (!changed) return;
    Add(Tr("485设置"), n,
        Format("set uart1  %d  %d %d  \n", n.u8(rec::kDataBits), n.u8(rec::kParity), n.u8(rec::kStopBits)),
        kAdvancedStepPauseMs);
  }

  // A flag with a value in seconds (RS-485 heartbeat, start-up delay). While
  // the flag stays on, a changed value goes out too; switching it off keeps
  // the value.
  void FlagWithValue(const char* name, int flag, int value, std::size_t flagOff, std::size_t valueOff,
                     const char* format) {
    const bool on = r_.u16(flagOff) == kFlagOn;
    DeviceStatusRecord n = r_;
    if (flag == 1) {
      if (Index(value, 60) < 0 || (on && value == r_.u16(valueOff) % 60)) return;
      n.setU16(flagOff, kFlagOn);
      n.setU16(valueOff, static_cast<std::uint16_t>(value));
    } else if (flag == 0) {
      if (!on) return;
      n.setU16(flagOff, 0);
    } else {
      return;
    }
    Add(name, n, Format(format, n.u16(flagOff), n.u16(valueOff)), kAdvancedStepPauseMs);
  }

  // Lists whose item onItem switches a flag on.
  template <typename Get, typename Set>
  void Flag(const char* name, int choice, int onItem, Get get, Set set, const char* format) {
    if (Index(choice, 2) < 0) return;
    const bool wantOn = choice == onItem;
    const bool on = get(r_) == kFlagOn;
    if (wantOn == on) return;
    DeviceStatusRecord n = r_;
    set(n, wantOn ? kFlagOn : 0);
    Add(name, n, Format(format, get(n)), kAdvancedStepPauseMs);
  }
  void Flag16(const char* name, int choice, int onItem, std::size_t off, const char* format) {
    Flag(name, choice, onItem, [off](const DeviceStatusRecord& r) { return static_cast<int>(r.u16(off)); },
         [off](DeviceStatusRecord& r, int v) { r.setU16(off, static_cast<std::uint16_t>(v)); }, format);
  }
  void Flag8(const char* name, int choice, int onItem, std::size_t off, const char* format) {
    Flag(name, choice, onItem, [off](const DeviceStatusRecord& r) { return static_cast<int>(r.u8(off)); },
         [off](DeviceStatusRecord& r, int v) { r.setU8(off, static_cast<std::uint8_t>(v)); }, format);
  }

  void Role() {
    if (Index(v_.role, 3) < 0 || v_.role == r_.u8(rec::kCardRole)) return;
    DeviceStatusRecord n = r_;
    n.setU8(rec::kCardRole, static_cast<std::uint8_t>(v_.role));
    Add(Tr("主从模式"), n, Format("set RoleMorS  %d \n", v_.role), kAdvancedStepPauseMs);
  }

  // Split lines only matter to a sending card.
  void SplitLines() {
    if (r_.u8(rec::kCardRole) != 1) return;
    const int x = Index(v_.splitX, kSplitItems) >= 0 ? v_.splitX : r_.u8(rec::kSplitX);
    const int y = Index(v_.splitY, kSplitItems) >= 0 ? v_.splitY : r_.u8(rec::kSplitY);
    if (x == r_.u8(rec::kSplitX) && y == r_.u8(rec::kSplitY)) return;
    DeviceStatusRecord n = r_;
    n.setU8(rec::kSplitX, static_cast<std::uint8_t>(x));
    n.setU8(rec::kSplitY, static_cast<std::uint8_t>(y));
    Add(Tr("主从卡模式"), n, Format("set xyilne  %d %d\n", x, y), kAdvancedStepPauseMs);
  }

  DeviceStatusRecord r_;
  const AdvancedValues& v_;
  AdvancedPlan plan_;
};

// Closes the link on every path, also when a cancel ends a pause.
struct DisconnectOnExit {
  Channel& link;
  ~DisconnectOnExit() { link.Disconnect(); }
};

}  // namespace

std::vector<std::string> DataBitsItems() { return {"8", "7"}; }
std::vector<std::string> StopBitsItems() { return {"1", "1.5", "2"}; }
std::vector<std::string> ParityItems() { return {"NONE", "ODD", "EVEN", "MARK", "SPACE"}; }
std::vector<std::string> OffOnItems() { return {TR_NOOP("关闭"), TR_NOOP("启动")}; }
std::vector<std::string> TwoDigitItems(int count, int step) {
  std::vector<std::string> items;
  for (int i = 0; i < count; ++i) items.push_back(Format("%02d", i * step));
  return items;
}
std::vector<std::string> ModbusStorageItems() { return {TR_NOOP("不加载"), TR_NOOP("启动加载")}; }
std::vector<std::string> DirectionItems() { return {TR_NOOP("日累加计数"), TR_NOOP("日累减计数")}; }
std::vector<std::string> BlueItems() { return {TR_NOOP("打开"), TR_NOOP("关闭")}; }
std::vector<std::string> OffOpenItems() { return {TR_NOOP("关闭"), TR_NOOP("打开")}; }
std::vector<std::string> RoleItems() { return {TR_NOOP("独立模式"), TR_NOOP("发送模式"), TR_NOOP("网络隐身模式")}; }

bool IpIsAutomatic(const DeviceStatusRecord& r) { return r.u8(rec::kIpMode) != 1; }

AdvancedValues AdvancedFromRecord(const DeviceStatusRecord& r) {
  AdvancedValues v;
  v.dataBits = IndexUnsetIsFirst(r.u8(rec::kDataBits), 2);
  v.stopBits = IndexUnsetIsFirst(r.u8(rec::kStopBits), 3);
  v.parity = IndexUnsetIsFirst(r.u8(rec::kParity), 5);
  const bool supervised = r.u16(rec::kRs485HeartbeatFlag) == kFlagOn;
  v.rs485Heartbeat = supervised ? 1 : 0;
  v.rs485Interval = supervised ? r.u16(rec::kRs485HeartbeatInterval) % 60 : 0;

  v.dailyRestart = r.u16(rec::kDailyRestart) == kFlagOn;
  v.hour = v.dailyRestart ? r.u16(rec::kRestartHour) % 24 : 0;
  v.minute = v.dailyRestart ? r.u16(rec::kRestartMinute) % 60 : 0;
  v.second = v.dailyRestart ? r.u16(rec::kRestartSecond) % 60 : 0;

  v.fixedAllowed = !IpIsAutomatic(r);
  v.fixedNetwork = v.fixedAllowed && r.u8(rec::kFixedNetwork) == kFlagOn;
  v.gateway = Ipv4Text(r, rec::kGateway);
  v.mask = Ipv4Text(r, rec::kSubnetMask);
  v.dns = Ipv4Text(r, rec::kDns);

  const bool delayed = r.u16(rec::kStartDelayFlag) == kFlagOn;
  v.startDelay = delayed ? 1 : 0;
  v.startDelaySeconds = delayed ? r.u16(rec::kStartDelay) % 60 : 0;
  const bool heartbeat = r.u16(rec::kServerHeartbeatFlag) == kFlagOn;
  v.serverHeartbeat = heartbeat ? 1 : 0;
  v.serverInterval = heartbeat ? (r.u16(rec::kServerHeartbeatInterval) / 100) % 60 : 0;

  v.modbusStorage = r.u16(rec::kModbusStorage) == kFlagOn ? 1 : 0;
  v.counterDirection = r.u16(rec::kCounterDirection) != 0 ? 1 : 0;
  for (int i = 0; i < kCounterCount; ++i) v.counterStart[static_cast<std::size_t>(i)] = std::to_string(CounterWord(r, i));
  for (int i = 0; i < kMacFields; ++i) v.mac[static_cast<std::size_t>(i)] = MacFieldText(r, i);
  v.deviceName = SerialText(r);

  v.blue = r.u8(rec::kBlueSwitch) == kFlagOn ? 1 : 0;
  v.voice = r.u8(rec::kVoiceSwitch) == kFlagOn ? 1 : 0;
  v.script = r.u8(rec::kScriptStart) == kFlagOn ? 1 : 0;
  v.role = r.u8(rec::kCardRole) <= 2 ? r.u8(rec::kCardRole) : 0;
  v.splitX = Index(r.u8(rec::kSplitX), kSplitItems);
  v.splitY = Index(r.u8(rec::kSplitY), kSplitItems);
  return v;
}

std::optional<std::string> AdvancedInputProblem(const DeviceStatusRecord& copy, const AdvancedValues& v) {
  const struct {
    const char* label;
    const std::string* text;
    std::size_t offset;
  } addresses[] = {{TR_NOOP("网关"), &v.gateway, rec::kGateway}, {TR_NOOP("子网掩码"), &v.mask, rec::kSubnetMask}, {"DNS", &v.dns, rec::kDns}};
  for (const auto& a : addresses)
    if (*a.text != Ipv4Text(copy, a.offset) && !CompleteAddress(*a.text)) return Format(Tr(kMsgAddressIncomplete), a.label);
  for (int i = 0; i < kMacFields; ++i) {
    const std::string& text = v.mac[static_cast<std::size_t>(i)];
    if (MacUnchanged(copy, v, i)) continue;
    if (text.size() != 2 || !IsHexDigit(text[0]) || !IsHexDigit(text[1])) return Format(Tr(kMsgMacDigits), i + 1);
  }
  for (int i = 0; i < kCounterCount; ++i) {
    if (CounterUnchanged(copy, v, i)) continue;
    auto value = CounterValue(v.counterStart[static_cast<std::size_t>(i)]);
    if (!value || *value > kMaxCounterStart) return Format(Tr(kMsgCounterStart), i + 1, kMaxCounterStart);
  }
  return std::nullopt;
}

AdvancedPlan PlanAdvanced(const DeviceStatusRecord& copy, const AdvancedValues& v) { return Planner(copy, v).Run(); }

AdvancedOutcome SaveAdvanced(Channel& link, platform::Clock& clock, UserPort& user, ProgressPort* progress,
                             const std::string& address, DeviceStatusRecord* copy, const AdvancedValues& v,
                             AdvancedReport* report) {
  AdvancedReport own;
  AdvancedReport& r = report ? *report : own;
  r = AdvancedReport{};
  if (auto problem = AdvancedInputProblem(*copy, v)) {
    user.Message(*problem, kTitleNotice, Icon::Warning);
    return AdvancedOutcome::StayOpen;
  }
  const AdvancedPlan plan = PlanAdvanced(*copy, v);
  for (const AdvancedStep& step : plan.steps) r.total += step.line.empty() ? 0 : 1;
  if (link.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return AdvancedOutcome::Failed;
  }
  DisconnectOnExit disconnect{link};
  const std::size_t total = plan.steps.size();
  for (std::size_t i = 0; i < total; ++i) {
    const AdvancedStep& step = plan.steps[i];
    if (progress) progress->Status(platform::Tr("正在设置 ") + platform::Tr(step.name));
    if (!step.message.empty()) {
      user.Message(step.message, kTitleNotice, Icon::Warning);
    } else {
      if (!SendChange(link, clock, copy, step.record, kAdvancedAnnounceWaitMs, step.line)) {
        r.linkLost = true;
        user.Message(Format(Tr("%s\n已发送 %d/%d 项，其余设置没有发送。"), Tr(kMsgConnectFailed), r.sent, r.total), kTitleError,
                     Icon::Error);
        return AdvancedOutcome::Failed;
      }
      ++r.sent;
      clock.sleepMs(step.pauseMs);
    }
    if (progress) progress->Progress(static_cast<int>((i + 1) * 100 / total));
  }
  if (progress) progress->Progress(100);
  return plan.nameRejected ? AdvancedOutcome::StayOpen : AdvancedOutcome::Confirmed;
}

bool SwitchFixedNetwork(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                        DeviceStatusRecord* copy, bool on) {
  if (link.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  DisconnectOnExit disconnect{link};
  DeviceStatusRecord candidate = *copy;
  candidate.setU8(rec::kFixedNetwork, on ? kFlagOn : 0);
  if (!SendChange(link, clock, copy, candidate, kAdvancedAnnounceWaitMs,
                  Format("set local_ip_user  %d  \n", candidate.u8(rec::kFixedNetwork)))) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  return true;
}

}  // namespace card
