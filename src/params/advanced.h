// "高级设置": the card's less common parameters. The dialog's fields as
// values, how a record fills them, the steps "确定" turns them into (each a
// checksum announcement, its line and a pause), and "启用固定设置", which
// goes to the card at the click.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card {

inline constexpr const char* kDeviceNameNote = TR_NOOP("名字2023开头，长度必须24个字节！！！");
inline constexpr const char* kMsgFixedNeedsManualIp =
    TR_NOOP("当前是自动获取，如需使能在主界面取消自动获取后重启设备");
// printf formats of the refusals; the device name ones keep the dialog open
// after the other steps ran, the others refuse "确定" before anything is sent.
inline constexpr const char* kMsgDeviceNameLength = TR_NOOP("提示:设备名长度为%d,长度必须24个字节，以2023开头！！\n");
inline constexpr const char* kMsgDeviceNameBlank = TR_NOOP("提示:设备名不能含有空格或控制字符！！\n");
inline constexpr const char* kMsgDeviceNameCharset = TR_NOOP("提示:设备名含有无法保存到设备的字符！！\n");
inline constexpr const char* kMsgMacDigits = TR_NOOP("MAC地址第%d段必须是两位十六进制数(0-9,A-F)！！！");
inline constexpr const char* kMsgCounterStart = TR_NOOP("起始计数值%d必须是0到%d之间的整数！！！");
inline constexpr const char* kMsgAddressIncomplete =
    TR_NOOP("“%s”的地址不完整：请填写四段0到255之间的数字（例如255.255.255.0），没有发送任何设置！！！");

// The device name is exactly this many GBK bytes.
constexpr std::size_t kDeviceNameBytes = 24;
// Start values the card takes: larger ones it cannot count from.
constexpr int kMaxCounterStart = 499;
constexpr int kCounterCount = 5;
constexpr int kMacFields = 6;
// Flags of these settings: on and off.
constexpr int kFlagOn = 85;

// Pauses after each kind of line.
constexpr int kAdvancedStepPauseMs = 5000;
constexpr int kCounterStartPauseMs = 3000;
constexpr int kCounterDirectionPauseMs = 1000;

// The dialog's fields. Lists are positions, -1 without a selection; texts as
// typed (addresses dotted, the name in UTF-8).
struct AdvancedValues {
  // "485设置"
  int dataBits = -1;        // "数据位": "8", "7"
  int stopBits = -1;        // "停止位": "1", "1.5", "2"
  int parity = -1;          // "校验位": "NONE" … "SPACE"
  int rs485Heartbeat = -1;  // "是否监测心跳": "关闭", "启动"
  int rs485Interval = -1;   // "心跳间隔(秒）": 0 … 59
  // "设定每日重启"
  bool dailyRestart = false;  // "启用日重启"
  int hour = -1, minute = -1, second = -1;
  // "网卡设置"
  bool fixedAllowed = false;  // "启用固定设置" can be ticked: the card has a fixed address
  bool fixedNetwork = false;  // "启用固定设置"
  std::string gateway, mask, dns;  // as typed: may be empty or incomplete
  // "服务设置"
  int startDelay = -1;         // "启动是否延时": "关闭", "启动"
  int startDelaySeconds = -1;  // "启动延时(秒)"
  int serverHeartbeat = -1;    // "是否启动心跳": "关闭", "启动"
  int serverInterval = -1;     // "心跳包间隔(秒)"
  // "Modbus"
  int modbusStorage = -1;  // "modbus存储": "不加载", "启动加载"
  // "日累加设置"
  int counterDirection = -1;  // "正反向选择": "日累加计数", "日累减计数"
  std::array<std::string, kCounterCount> counterStart;  // "起始计数值1" … "起始计数值5"
  // "MAC设置", one hexadecimal octet per field
  std::array<std::string, kMacFields> mac;
  // "设备名设置"
  std::string deviceName;
  // "功能使能"
  int blue = -1;    // "蓝色开关": "打开", "关闭"
  int voice = -1;   // "语音开关": "关闭", "打开"
  int script = -1;  // "脚本启动": "关闭", "打开"
  // "主从卡模式"
  int role = -1;    // "主从模式"
  int splitX = -1;  // "主X分割线"
  int splitY = -1;  // "主Y分割线"
  bool operator==(const AdvancedValues&) const = default;
};

std::vector<std::string> DataBitsItems();      // "8", "7"
std::vector<std::string> StopBitsItems();      // "1", "1.5", "2"
std::vector<std::string> ParityItems();        // "NONE", "ODD", "EVEN", "MARK", "SPACE"
std::vector<std::string> OffOnItems();         // "关闭", "启动"
std::vector<std::string> TwoDigitItems(int count, int step = 1);  // "%02d" of 0, step … (count items)
std::vector<std::string> ModbusStorageItems(); // "不加载", "启动加载"
std::vector<std::string> DirectionItems();     // "日累加计数", "日累减计数"
std::vector<std::string> BlueItems();          // "打开", "关闭"
std::vector<std::string> OffOpenItems();       // "关闭", "打开"
std::vector<std::string> RoleItems();          // "独立模式", "发送模式", "网络隐身模式"
constexpr int kSplitItems = 60;
constexpr int kSplitXStep = 32;
constexpr int kSplitYStep = 16;

// The card obtains its address automatically unless offset 207 holds 1.
bool IpIsAutomatic(const DeviceStatusRecord& r);

AdvancedValues AdvancedFromRecord(const DeviceStatusRecord& r);

// What refuses "确定" before anything is sent: a changed address field that
// is not four numbers 0..255 (an emptied mask would otherwise go out as
// 0 0 0 0 and cut the card off), a changed MAC field that is not two
// hexadecimal digits, a changed start value that is not a number up to 499.
// A field still holding the text it was filled with is unchanged, whatever
// it holds. The message, or nothing.
std::optional<std::string> AdvancedInputProblem(const DeviceStatusRecord& copy, const AdvancedValues& v);

// One step of "确定": the copy once its line went out, the line and the
// pause after it. A step without a line shows message instead (a refused
// device name).
struct AdvancedStep {
  std::string name;
  DeviceStatusRecord record;
  std::string line;
  int pauseMs = 0;
  std::string message;
};

struct AdvancedPlan {
  std::vector<AdvancedStep> steps;
  bool nameRejected = false;
};

// The steps for the fields v against the copy, in the order the card gets
// them. Only what changed has a step; a list without a selection has none.
AdvancedPlan PlanAdvanced(const DeviceStatusRecord& copy, const AdvancedValues& v);

enum class AdvancedOutcome {
  Confirmed,  // every step sent: the dialog closes
  StayOpen,   // refused input, or the device name was refused after the other steps
  Failed,     // the card could not be reached or a line not sent ("连接设备失败")
};

// How far a "确定" got: the steps with a line and those that went out, also
// when a cancel cut the run short; linkLost when a line could not be sent
// (the one before it may not have reached the card either).
struct AdvancedReport {
  int total = 0;
  int sent = 0;
  bool linkLost = false;
};

// "确定": refuses bad input, connects link to address, runs the steps (each:
// announcement over the copy with the step's value, 2500 ms, line, pause)
// and disconnects. The copy takes each value once its line went out.
AdvancedOutcome SaveAdvanced(Channel& link, platform::Clock& clock, UserPort& user, ProgressPort* progress,
                             const std::string& address, DeviceStatusRecord* copy, const AdvancedValues& v,
                             AdvancedReport* report = nullptr);

// "启用固定设置" clicked: connects, announces the copy with offset 255 at 85
// (on) or 0, sends "set local_ip_user  %d  \n" and disconnects. False, after
// "连接设备失败", when that failed; the copy keeps its value then.
bool SwitchFixedNetwork(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                        DeviceStatusRecord* copy, bool on);

}  // namespace card
