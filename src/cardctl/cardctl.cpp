#include "cardctl/cardctl.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "cardctl/texts.h"
#include "link/announce.h"
#include "link/command_channel.h"
#include "link/driver_binding.h"
#include "modbus/master_table.h"
#include "params/advanced.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel_driver.h"
#include "params/panel_lists.h"
#include "platform/codec.h"
#include "platform/files.h"
#include "platform/text.h"
#include "storage/script.h"

namespace card::cli {
namespace {

using platform::Format;

// The panel of a terminal: nothing to show, the values come from a record.
class NoPanel : public PanelPort {
 public:
  PanelValues Read() override { return {}; }
  void Write(const PanelValues&) override {}
};
NoPanel gNoPanel;

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

}  // namespace

std::string StepName(Step step, int slot) {
  switch (step) {
    case Step::Read: return Tr("读取控制卡", "reading the card");
    case Step::Plan: return Tr("计划", "planning");
    case Step::Confirm: return Tr("确认", "confirming");
    case Step::Panel: return Tr("参数面板", "parameter panel");
    case Step::Advanced: return Tr("高级设置", "advanced settings");
    case Step::Driver: return Tr("更多目标设置", "panel driver");
    case Step::Modbus: return Tr("Modbus请求", "Modbus requests");
    case Step::Carried: return Tr("间隔、定时和分割线", "intervals, restart time and split lines");
    case Step::Script: return Tr("脚本", "script");
    case Step::DeleteProgram: return Format(Tr("删除节目%d", "deleting program %d").c_str(), slot + 1);
    case Step::Program: return Format(Tr("节目%d", "program %d").c_str(), slot + 1);
    case Step::Network: return Tr("网络设置", "network settings");
    case Step::Clock: return Tr("时钟", "clock");
    case Step::Verify: return Tr("读回核对", "reading back");
    case Step::WriteFile: return Tr("写文件", "writing the file");
  }
  return {};
}

// ConsoleUser

void ConsoleUser::Message(const std::string& text, const std::string& title, Icon icon) {
  const std::string shown = TrOperation(text);
  if (icon == Icon::Error || icon == Icon::Warning) {
    std::lock_guard<std::mutex> lock(own_);
    lastError_ = shown;
  }
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << (title.empty() ? "" : TrOperation(title) + ": ") << shown << "\n";
  out_.flush();
}

bool ConsoleUser::Ask(const std::string& text, const std::string& title) {
  bool yes = false;
  {
    std::lock_guard<std::mutex> lock(own_);
    asked_.push_back(text);
    yes = allYes_ || approved_.count(text) > 0;
  }
  if (allYes_) return true;
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << (title.empty() ? "" : TrOperation(title) + ": ") << TrOperation(text)
       << (yes ? Tr(" —— 是", " — yes") : Tr(" —— 否", " — no")) << "\n";
  return yes;
}

std::optional<int> ConsoleUser::Choose(const std::string& text, const std::string&, const std::vector<std::string>&,
                                       int) {
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << TrOperation(text) << Tr(" —— 已取消", " — cancelled") << "\n";
  return std::nullopt;
}

void ConsoleUser::Approve(const std::vector<std::string>& questions) {
  std::lock_guard<std::mutex> lock(own_);
  approved_.insert(questions.begin(), questions.end());
}

std::vector<std::string> ConsoleUser::asked() const {
  std::lock_guard<std::mutex> lock(own_);
  return asked_;
}

std::string ConsoleUser::lastError() const {
  std::lock_guard<std::mutex> lock(own_);
  return lastError_;
}

void ConsoleUser::clearLastError() {
  std::lock_guard<std::mutex> lock(own_);
  lastError_.clear();
}

// Target

// A link that counts what goes out through it.
class Target::Counting : public Channel {
 public:
  Counting(std::unique_ptr<Channel> inner, std::atomic<int>& sends) : inner_(std::move(inner)), sends_(sends) {}
  bool exists() const override { return inner_ && inner_->exists(); }
  int Connect(const std::string& address) override { return inner_->Connect(address); }
  void Disconnect() override { inner_->Disconnect(); }
  int Send(const void* data, std::size_t length) override {
    ++sends_;
    return inner_->Send(data, length);
  }
  int Receive(void* buffer, std::size_t capacity, std::size_t* count) override {
    return inner_->Receive(buffer, capacity, count);
  }
  void BeginExchange() override { inner_->BeginExchange(); }
  void EndExchange() override { inner_->EndExchange(); }

 private:
  std::unique_ptr<Channel> inner_;
  std::atomic<int>& sends_;
};

Target::Target(const LinkFactory& makeLink, const std::string& address, platform::Clock& clock, ConsoleUser& user,
               const std::string& workDir)
    : address_(address),
      workDir_(workDir),
      command_(std::make_unique<Counting>(makeLink(kCommandPort), sends_)),
      file_(std::make_unique<Counting>(makeLink(kFilePort), sends_)),
      clock_(clock),
      user_(user),
      cfg_(workDir + "/SysCfg.ini"),
      siblings_(processes_, workDir + "/") {
  state_.setSelectedAddress(address);
  state_.setLocalAddress(address);
  state_.setCardOpened();
  panel_ = std::make_unique<PanelContext>(PanelContext{*command_, clock_, user_, gNoPanel, state_, cfg_});
  programs_ = std::make_unique<ProgramContext>(ProgramContext{*file_, *command_, clock_, user_, state_, cfg_, siblings_});
}

Target::~Target() = default;

void Target::Readdress(const std::string& address) {
  address_ = address;
  state_.setSelectedAddress(address);
  state_.setLocalAddress(address);
}

void Target::Enter(Step step, int slot) {
  step_ = step;
  slot_ = slot;
  user_.clearLastError();
}

void Target::Fail(const std::string& message) {
  Failure f;
  f.step = step_;
  f.slot = slot_;
  f.message = message.empty() ? user_.lastError() : message;
  if (f.message.empty()) f.message = Format(Tr("%s失败", "%s failed").c_str(), StepName(step_, slot_).c_str());
  failure_ = f;
}

Failure& Target::failureRef() {
  if (!failure_) Fail();
  return *failure_;
}

// Reading

std::optional<DeviceStatusRecord> ReadCard(Target& t) {
  auto r = ReadCardRecord(t.panel());
  if (!r) {
    t.Fail();
    return std::nullopt;
  }
  t.state().setRecord(*r);
  t.state().setPanelRecordFrom(t.address());
  return r;
}

namespace {

bool Blank(const std::string& region) {
  return std::all_of(region.begin(), region.end(), [](char c) { return c == '\0' || c == '\xff'; });
}

// The script as the card keeps it, or a failure. A region that holds bytes
// but no line at all is no script we could restore: garbage, not "empty".
std::optional<std::optional<std::string>> ReadScriptText(Target& t, int firmwareMajor) {
  if (firmwareMajor > kScriptReadMaxFirmware) return std::optional<std::string>();
  ScriptTools tools{t.file(), t.clock(), t.user(), t.address(), firmwareMajor};
  if (!SwitchLogOff(tools)) {
    t.Fail();
    return std::nullopt;
  }
  ScriptRead read = ReadScript(tools);
  switch (read.outcome) {
    case ScriptReadOutcome::Read: return std::optional<std::string>(ScriptText(ProgramRows(read.split.lines)));
    case ScriptReadOutcome::Skipped: return std::optional<std::string>();
    case ScriptReadOutcome::NoLines:
      if (Blank(read.region)) return std::optional<std::string>(std::string());
      t.Fail(Tr("脚本区的内容不是脚本（没有一行完整的文字），无法确认读到的是完整的脚本",
                "the script region holds no script line at all, so what came back cannot be the whole script"));
      return std::nullopt;
    default: t.Fail(); return std::nullopt;
  }
}

// A directory as a card writes it: erased (every byte 0xFF), or a count of
// the programs it lists, at most one per entry.
bool PlausibleDirectory(const ProgramDirectory& d) {
  if (d.count >= 0 && d.count <= kDirectorySlots) return true;
  if (d.count != -1) return false;
  return std::all_of(d.entries.begin(), d.entries.end(), [](const DirectoryEntry& e) {
    return e.inUse && e.address == 0xFFFFFFFFu && e.length == -1;
  });
}

std::optional<std::map<int, std::string>> ReadPrograms(Target& t) {
  auto directory = ReadProgramDirectory(t.programs());
  if (!directory) {
    t.Fail();
    return std::nullopt;
  }
  if (!PlausibleDirectory(*directory)) {
    t.Fail(Tr("节目目录的内容无法识别，无法确认读到的是完整的目录",
              "the program directory makes no sense, so what came back cannot be the whole directory"));
    return std::nullopt;
  }
  std::map<int, std::string> programs;
  for (int slot = 0; slot < kDirectorySlots; ++slot) {
    if (!directory->Used(slot)) continue;
    ProgramChoice choice;
    choice.slot = slot;
    choice.readBack = true;
    if (ReadBackProgram(t.programs(), choice) != ReadBackOutcome::Written) {
      t.Fail();
      return std::nullopt;
    }
    std::string bytes;
    if (!platform::ReadWholeFile(WorkingFilePath(t.programs().subsysDir(), slot + 1, "cmd.txt"), &bytes)) {
      t.Fail(Format(TrOperation(kMsgWorkingFileFailed).c_str(), t.programs().subsysDir().c_str()));
      return std::nullopt;
    }
    programs[slot] = bytes;
  }
  return programs;
}

}  // namespace

std::optional<CardState> ReadCardState(Target& t, ReadWhat what) {
  auto record = ReadCard(t);
  if (!record) return std::nullopt;
  CardState state;
  state.record = *record;
  if (what == ReadWhat::Record) return state;
  auto script = ReadScriptText(t, record->firmwareMajor());
  if (!script) return std::nullopt;
  state.script = *script;
  auto programs = ReadPrograms(t);
  if (!programs) return std::nullopt;
  state.programs = std::move(*programs);
  state.contentsRead = true;
  return state;
}

DeviceStatusRecord KeepIdentity(DeviceStatusRecord desired, const DeviceStatusRecord& card) {
  for (std::size_t o : {rec::kCardAddress, rec::kSubnetMask, rec::kGateway, rec::kDns})
    for (std::size_t i = 0; i < 4; ++i) desired.setU8(o + i, card.u8(o + i));
  for (std::size_t o : {rec::kIpMode, rec::kFixedNetwork}) desired.setU8(o, card.u8(o));
  for (std::size_t i = 0; i < 12; ++i) desired.setU8(rec::kMac + i, card.u8(rec::kMac + i));
  for (std::size_t i = 0; i < rec::kSerialSize; ++i) desired.setU8(rec::kSerial + i, card.u8(rec::kSerial + i));
  // What the card reports of itself, never set by a line.
  for (std::size_t i = 0; i < 6; ++i) desired.setU8(rec::kFirmware + i, card.u8(rec::kFirmware + i));
  desired.setU16(rec::kPlatformStatus, card.u16(rec::kPlatformStatus));
  return desired;
}

Desired DesiredFrom(const Snapshot& s, const DeviceStatusRecord& card, bool withNetwork, bool replacePrograms) {
  Desired d;
  d.record = withNetwork ? s.record : KeepIdentity(s.record, card);
  if (withNetwork) {
    // Firmware and platform state are the card's own even then.
    d.record = KeepIdentity(d.record, card);
    for (std::size_t o : {rec::kCardAddress, rec::kSubnetMask, rec::kGateway, rec::kDns})
      for (std::size_t i = 0; i < 4; ++i) d.record.setU8(o + i, s.record.u8(o + i));
    for (std::size_t o : {rec::kIpMode, rec::kFixedNetwork}) d.record.setU8(o, s.record.u8(o));
    for (std::size_t i = 0; i < 12; ++i) d.record.setU8(rec::kMac + i, s.record.u8(rec::kMac + i));
    for (std::size_t i = 0; i < rec::kSerialSize; ++i) d.record.setU8(rec::kSerial + i, s.record.u8(rec::kSerial + i));
  }
  d.script = s.script;
  d.programs = s.programs;
  d.replacePrograms = replacePrograms;
  d.withNetwork = withNetwork;
  return d;
}

Snapshot SnapshotOf(const CardState& card, const std::string& address, const std::string& toolVersion) {
  Snapshot s;
  s.toolVersion = toolVersion;
  s.address = address;
  s.mac = MacText(card.record);
  s.serial = SerialText(card.record);
  s.firmware = FirmwareText(card.record);
  s.record = card.record;
  s.script = card.script;
  s.programs = card.programs;
  return s;
}

// Restarts

namespace {

bool Reachable(Target& t, const std::string& address) {
  if (t.command().Connect(address) != 0) return false;
  t.command().Disconnect();
  return true;
}

}  // namespace

bool WaitForRestart(Target& t, const std::string& address) {
  // Bounded by the clock, not by counting polls: a poll that waits for the
  // driver's connect timeout costs that time too.
  platform::Clock& clock = t.clock();
  const std::int64_t start = clock.now();
  while (Reachable(t, address) && clock.now() - start < kDownWithinMs) clock.sleepMs(kRestartPollMs);
  const std::int64_t down = clock.now();
  while (!Reachable(t, address)) {
    if (clock.now() - down >= kBackWithinMs) {
      t.Fail(Format(Tr("控制卡重启后 %d 秒内没有恢复连接", "the card did not come back within %d s of its restart").c_str(),
                    kBackWithinMs / 1000));
      return false;
    }
    clock.sleepMs(kRestartPollMs);
  }
  return true;
}

// Running the steps

namespace {

PanelValues PanelFor(const DeviceStatusRecord& desired, const DeviceStatusRecord& card) {
  std::vector<std::string> messages;
  PanelValues p = FilledPanel(desired, {}, FillVariant::Direct, &messages);
  p.cardIp = Ipv4FieldText(p.cardIp);
  p.serverIp = Ipv4FieldText(p.serverIp);
  // 115200 does not fit the 16-bit field: the record holds its low bits,
  // which the panel shows as no rate at all. Its line goes when the card
  // holds something else.
  const auto fastest = BaudFor(static_cast<int>(BaudRateItems().size()) - 1);
  const auto stored = static_cast<std::uint16_t>(fastest->rate & 0xFFFF);
  if (p.baud < 0 && desired.u16(rec::kBaudRate) == stored && card.u16(rec::kBaudRate) != stored)
    p.baud = static_cast<int>(BaudRateItems().size()) - 1;
  return p;
}

// The driver lists for desired. A value no item stands for (a module size
// or scan the card never had set) leaves its list without a selection, so
// the line carries the value as it is instead of the list's default.
PanelDriverValues DriverFor(const DeviceStatusRecord& desired) {
  PanelDriverValues v = PanelDriverFromRecord(desired);
  const DeviceStatusRecord sent = WithPanelDriver(desired, v);
  const std::pair<std::size_t, int PanelDriverValues::*> lists[] = {
      {rec::kModuleWidth, &PanelDriverValues::width},   {rec::kModuleHeight, &PanelDriverValues::height},
      {rec::kScan, &PanelDriverValues::scan},           {rec::kRowScanChip, &PanelDriverValues::chip},
      {rec::kFoldWidth, &PanelDriverValues::foldWidth}, {rec::kUFold, &PanelDriverValues::uFold},
      {rec::kSnakeDirection, &PanelDriverValues::snake}, {rec::kFoldRows, &PanelDriverValues::foldRows},
      {rec::kRowColConversion, &PanelDriverValues::conversion}};
  for (const auto& [offset, list] : lists)
    if (sent.u8(offset) != desired.u8(offset)) v.*list = -1;
  return v;
}

bool SameBytes(const DeviceStatusRecord& a, const DeviceStatusRecord& b, std::initializer_list<std::size_t> offsets) {
  for (std::size_t o : offsets)
    if (a.u8(o) != b.u8(o)) return false;
  return true;
}

bool DriverDiffers(const DeviceStatusRecord& card, const DeviceStatusRecord& desired) {
  return !SameBytes(card, desired,
                    {rec::kModuleWidth, rec::kModuleHeight, rec::kScan, rec::kFoldWidth, rec::kRowScanChip, rec::kUFold,
                     rec::kRowColConversion, rec::kSnakeDirection, rec::kFoldRows, rec::kDzFold});
}

// The dialog's fields for desired. The values a switch guards are taken as
// the record holds them even while the switch is off, so that a switch
// turned off keeps the value meant.
AdvancedValues AdvancedFor(const DeviceStatusRecord& desired) {
  AdvancedValues v = AdvancedFromRecord(desired);
  v.rs485Interval = desired.u16(rec::kRs485HeartbeatInterval) % 60;
  v.startDelaySeconds = desired.u16(rec::kStartDelay) % 60;
  v.serverInterval = (desired.u16(rec::kServerHeartbeatInterval) / 100) % 60;
  v.hour = desired.u16(rec::kRestartHour) % 24;
  v.minute = desired.u16(rec::kRestartMinute) % 60;
  v.second = desired.u16(rec::kRestartSecond) % 60;
  return v;
}

using StepKey = std::pair<Step, int>;

class Runner {
 public:
  Runner(Target& t, const CardState& card, const Desired& d, const std::set<StepKey>* only, StepHook hook)
      : t_(t), card_(card), d_(d), only_(only), hook_(std::move(hook)) {}

  bool Go() {
    t_.state().setRecord(card_.record);
    t_.state().setPanelRecordFrom(t_.address());
    const PanelValues p = PanelFor(d_.record, card_.record);
    return Panel(p) && Advanced() && Driver() && Modbus() && Carried() && Script() && Programs() && Network(p);
  }

 private:
  bool Begin(Step step, int slot = -1) {
    if (only_ && !only_->count({step, slot})) return false;
    t_.Enter(step, slot);
    if (hook_) hook_(step, slot, 0);
    return true;
  }
  bool Fail(const std::string& message = {}) {
    t_.Fail(message);
    return false;
  }

  bool Panel(const PanelValues& p) {
    if (!Begin(Step::Panel)) return true;
    return SubmitParameters(t_.panel(), p) == 0 || Fail();
  }

  bool Advanced() {
    DeviceStatusRecord copy = t_.state().record();
    const AdvancedValues advanced = AdvancedFor(d_.record);
    if (PlanAdvanced(copy, advanced).steps.empty() || !Begin(Step::Advanced)) return true;
    const AdvancedOutcome out = SaveAdvanced(t_.file(), t_.clock(), t_.user(), nullptr, t_.address(), &copy, advanced);
    t_.state().setRecord(copy);
    return out == AdvancedOutcome::Confirmed || Fail();
  }

  bool Driver() {
    DeviceStatusRecord copy = t_.state().record();
    if (!DriverDiffers(copy, d_.record) || !Begin(Step::Driver)) return true;
    // The DZ fold value goes out as the record holds it.
    copy.setU8(rec::kDzFold, d_.record.u8(rec::kDzFold));
    const DeviceStatusRecord before = t_.state().record();
    const bool sent = SaveLedPara(t_.file(), t_.clock(), t_.user(), t_.address(), &copy, DriverFor(d_.record));
    t_.state().setRecord(sent ? copy : before);
    return sent || Fail();
  }

  bool Modbus() {
    DeviceStatusRecord copy = t_.state().record();
    const modbus::EntryTable want = modbus::ReadEntries(d_.record), have = modbus::ReadEntries(copy);
    bool differs = false;
    for (std::size_t i = 0; i < modbus::kSentRequests; ++i) differs = differs || !(want[i] == have[i]);
    if (!differs || !Begin(Step::Modbus)) return true;
    struct Quiet : ProgressPort {
      void Progress(int) override {}
    } quiet;
    // Only the requests the card takes go out; the rest of the table stays as the card has it.
    modbus::EntryTable sent = have;
    std::copy_n(want.begin(), modbus::kSentRequests, sent.begin());
    const bool ok = modbus::UploadTable(t_.command(), t_.clock(), t_.user(), quiet, t_.address(), sent, &copy);
    t_.state().setRecord(copy);
    return ok || Fail();
  }

  // What the dialogs send only together with a switch: a heartbeat interval
  // or start-up delay while its switch is off, the restart time while the
  // daily restart is off, split lines of a card that is not sending, and the
  // fixed network settings' switch. The card keeps them; each goes out with
  // the line that carries it.
  bool Carried() {
    const DeviceStatusRecord& want = d_.record;
    DeviceStatusRecord r = t_.state().record();
    struct Line {
      DeviceStatusRecord candidate;
      std::string text;
    };
    std::vector<Line> lines;
    auto u16Differs = [&](std::size_t off) { return r.u16(off) != want.u16(off); };
    auto pair = [&](std::size_t flag, std::size_t value, const char* format) {
      if (!u16Differs(value)) return;
      DeviceStatusRecord c = r;
      c.setU16(value, want.u16(value));
      lines.push_back({c, Format(format, c.u16(flag), c.u16(value))});
      r = c;
    };
    pair(rec::kRs485HeartbeatFlag, rec::kRs485HeartbeatInterval, "set RS_M_Enable  %d %d   \n");
    pair(rec::kStartDelayFlag, rec::kStartDelay, "set NET_W_Enable  %d %d   \n");
    pair(rec::kServerHeartbeatFlag, rec::kServerHeartbeatInterval, "set N_M_Enable  %d %d   \n");
    if (u16Differs(rec::kRestartHour) || u16Differs(rec::kRestartMinute) || u16Differs(rec::kRestartSecond)) {
      DeviceStatusRecord c = r;
      for (std::size_t off : {rec::kRestartHour, rec::kRestartMinute, rec::kRestartSecond}) c.setU16(off, want.u16(off));
      lines.push_back({c, Format("set reset_Enable  %d %d %d %d  \n", c.u16(rec::kDailyRestart), c.u16(rec::kRestartHour),
                                 c.u16(rec::kRestartMinute), c.u16(rec::kRestartSecond))});
      r = c;
    }
    if (r.u8(rec::kSplitX) != want.u8(rec::kSplitX) || r.u8(rec::kSplitY) != want.u8(rec::kSplitY)) {
      DeviceStatusRecord c = r;
      c.setU8(rec::kSplitX, want.u8(rec::kSplitX));
      c.setU8(rec::kSplitY, want.u8(rec::kSplitY));
      lines.push_back({c, Format("set xyilne  %d %d\n", c.u8(rec::kSplitX), c.u8(rec::kSplitY))});
      r = c;
    }
    if (r.u8(rec::kFixedNetwork) != want.u8(rec::kFixedNetwork)) {
      DeviceStatusRecord c = r;
      c.setU8(rec::kFixedNetwork, want.u8(rec::kFixedNetwork));
      lines.push_back({c, Format("set local_ip_user  %d  \n", c.u8(rec::kFixedNetwork))});
      r = c;
    }
    if (lines.empty() || !Begin(Step::Carried)) return true;
    Channel& link = t_.file();
    if (link.Connect(t_.address()) != 0) return Fail(TrOperation(kMsgConnectFailed));
    DeviceStatusRecord copy = t_.state().record();
    bool ok = true;
    for (const Line& line : lines) {
      // Each candidate holds the lines before it too; only its own value is new.
      if (!SendChange(link, t_.clock(), &copy, line.candidate, kAdvancedAnnounceWaitMs, line.text)) {
        ok = false;
        break;
      }
      t_.state().setRecord(copy);
      t_.clock().sleepMs(kAdvancedStepPauseMs);
    }
    link.Disconnect();
    return ok || Fail(TrOperation(kMsgConnectFailed));
  }

  bool Script() {
    if (!d_.script || card_.script == d_.script || !Begin(Step::Script)) return true;
    ScriptTools tools{t_.file(), t_.clock(), t_.user(), t_.address(), card_.record.firmwareMajor()};
    if (!SwitchLogOff(tools)) return Fail();
    return WriteScript(tools, SplitCrLf(*d_.script)) == ScriptWriteOutcome::Sent || Fail();
  }

  bool Programs() {
    if (d_.replacePrograms)
      for (const auto& [slot, text] : card_.programs)
        if (!d_.programs.count(slot) && Begin(Step::DeleteProgram, slot) && !DeleteProgram(t_.programs(), slot))
          return Fail();
    for (const auto& [slot, text] : d_.programs) {
      auto have = card_.programs.find(slot);
      if (card_.contentsRead && have != card_.programs.end() && have->second == text) continue;
      if (!Begin(Step::Program, slot)) continue;
      const std::string path = WorkingFilePath(t_.programs().subsysDir(), slot + 1);
      if (platform::WriteFileMakingDirs(path, text.data(), text.size()) != 1)
        return Fail(Format(TrOperation(kMsgWorkingFileFailed).c_str(), path.c_str()));
      // The card keeps no dwell time; the window's default goes with the upload.
      if (!UploadProgram(t_.programs(), slot, kDefaultDwell)) return Fail();
      if (!WaitForRestart(t_, t_.address())) return false;
    }
    return true;
  }

  // The network group last: a new address restarts the card somewhere else.
  // The clock goes with every run that changed something, as after the window's submit.
  bool Network(const PanelValues& p) {
    if (Begin(Step::Network)) {
      const NetworkOutcome net = NetworkStep(t_.panel(), p);
      if (net == NetworkOutcome::Failed) return Fail();
      if (net == NetworkOutcome::Readdressed) readdressed_ = true;
    }
    if (readdressed_) {
      t_.Readdress(Ipv4Text(d_.record, rec::kCardAddress));
      return WaitForRestart(t_, t_.address());
    }
    if (t_.sends() > 0 && Begin(Step::Clock)) {
      ClockStep(t_.panel());
      if (!t_.user().lastError().empty()) return Fail();
    }
    return true;
  }

  Target& t_;
  const CardState& card_;
  const Desired& d_;
  const std::set<StepKey>* only_;
  StepHook hook_;
  bool readdressed_ = false;
};

// A link that accepts everything and only notes what would go out, when. A
// line that restarts the card makes its next connect fail once: the card is
// down for a moment.
class PlanChannel : public Channel {
 public:
  PlanChannel(int port, platform::VirtualClock& clock, std::vector<PlannedLine>& lines, bool& restarting)
      : port_(port), clock_(clock), lines_(lines), restarting_(restarting) {}
  bool exists() const override { return true; }
  int Connect(const std::string&) override {
    if (!restarting_) return 0;
    restarting_ = false;
    return -1;
  }
  void Disconnect() override {}
  int Send(const void* data, std::size_t length) override {
    std::string bytes(static_cast<const char*>(data), length);
    if (bytes.rfind("reset", 0) == 0 || bytes.rfind("set local_ip ", 0) == 0) restarting_ = true;
    lines_.push_back({clock_.now(), port_, std::move(bytes)});
    return 0;
  }
  // Every acknowledgement comes at once.
  int Receive(void* buffer, std::size_t capacity, std::size_t* count) override {
    *count = std::min<std::size_t>(capacity, 2);
    std::memcpy(buffer, "ok", *count);
    return 0;
  }
  void BeginExchange() override {}
  void EndExchange() override {}

 private:
  int port_;
  platform::VirtualClock& clock_;
  std::vector<PlannedLine>& lines_;
  bool& restarting_;
};

struct Pass {
  Plan plan;
  DeviceStatusRecord finalRecord;
  std::set<StepKey> stepsWithLines;
};

Pass PlanPass(const std::string& address, const CardState& card, const Desired& d, const std::string& workDir,
              const std::set<StepKey>* only) {
  Pass pass;
  Plan& plan = pass.plan;
  // Virtual time from now on: the clock line carries today's date.
  const std::int64_t start = platform::RealClock().now();
  platform::VirtualClock clock(start);
  std::mutex quiet;
  std::ostringstream discard;
  ConsoleUser user(discard, quiet, {});
  user.AnswerAllYes();
  bool restarting = false;
  LinkFactory links = [&](int port) -> std::unique_ptr<Channel> {
    return std::make_unique<PlanChannel>(port, clock, plan.lines, restarting);
  };
  Target t(links, address, clock, user, workDir);
  struct Mark {
    StepKey key;
    std::int64_t at;
    std::size_t firstLine;
  };
  std::vector<Mark> marks;
  Runner runner(t, card, d, only, [&](Step step, int slot, std::int64_t) {
    marks.push_back({{step, slot}, clock.now(), plan.lines.size()});
  });
  plan.ok = runner.Go();
  if (!plan.ok) plan.failure = t.failureRef().message;
  plan.totalMs = clock.now() - start;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const std::size_t endLine = i + 1 < marks.size() ? marks[i + 1].firstLine : plan.lines.size();
    const std::int64_t endAt = i + 1 < marks.size() ? marks[i + 1].at : clock.now();
    if (endLine == marks[i].firstLine) continue;
    pass.stepsWithLines.insert(marks[i].key);
    plan.steps.push_back({marks[i].key.first, marks[i].key.second, marks[i].at - start, endAt - marks[i].at});
  }
  for (auto& line : plan.lines) line.atMs -= start;
  plan.questions = user.asked();
  pass.finalRecord = t.state().record();
  return pass;
}

}  // namespace

Plan MakePlan(const std::string& address, const CardState& card, const Desired& d, const std::string& workDir) {
  ::mkdir(workDir.c_str(), 0700);
  // The first pass finds the steps that send something; the second runs only
  // those, so that its times are the real run's (a step with nothing to send
  // is skipped, its connection and pauses too).
  Pass first = PlanPass(address, card, d, workDir, nullptr);
  Pass pass = first.plan.ok ? PlanPass(address, card, d, workDir, &first.stepsWithLines) : first;
  Plan plan = std::move(pass.plan);
  if (plan.ok) {
    // What would still differ after every line went out: no line carries it.
    plan.notCarried = DifferingFields(pass.finalRecord, d.record,
                                      [&](const Field& f) { return RestoreCompares(f, d.withNetwork); });
  }
  plan.changes = DifferingFields(card.record, d.record, [&](const Field& f) { return RestoreCompares(f, d.withNetwork); });
  for (const PlannedStep& s : plan.steps) {
    if (s.step == Step::Script) plan.scriptChanges = true;
    if (s.step == Step::Program) plan.uploads.push_back(s.slot);
    if (s.step == Step::DeleteProgram) plan.deletes.push_back(s.slot);
  }
  return plan;
}

std::string FinalAddress(const Target& t, const Desired& d) {
  return d.withNetwork ? Ipv4Text(d.record, rec::kCardAddress) : t.address();
}

namespace {

// What was meant and is not on the card, read back after the run.
std::vector<std::string> Missing(const CardState& now, const Desired& d) {
  std::vector<std::string> missing;
  for (const Field* f : DifferingFields(now.record, d.record, [&](const Field& f) { return RestoreCompares(f, d.withNetwork); }))
    missing.push_back(f->name);
  if (d.script && now.contentsRead && now.script && now.script != d.script) missing.push_back("script");
  if (!d.programs.empty() || d.replacePrograms) {
    for (const auto& [slot, text] : d.programs) {
      auto have = now.programs.find(slot);
      if (have == now.programs.end() || have->second != text) missing.push_back(Format("program%d", slot + 1));
    }
    if (d.replacePrograms)
      for (const auto& [slot, text] : now.programs)
        if (!d.programs.count(slot)) missing.push_back(Format("program%d", slot + 1));
  }
  return missing;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

bool Execute(Target& t, const CardState& card, const Desired& d, const Plan& plan, const StepHook& hook) {
  std::set<StepKey> only;
  std::map<StepKey, std::int64_t> planned;
  for (const PlannedStep& s : plan.steps) {
    only.insert({s.step, s.slot});
    planned[{s.step, s.slot}] = s.durationMs;
  }
  t.user().Approve(plan.questions);
  Runner runner(t, card, d, &only, [&](Step step, int slot, std::int64_t) {
    if (hook) hook(step, slot, planned[{step, slot}]);
  });
  const bool sent = runner.Go();
  const std::optional<Failure> stopped = t.failure();

  // Whatever happened, what the card now holds is what the summary reports.
  t.Enter(Step::Verify);
  if (hook) hook(Step::Verify, -1, 0);
  const bool contents = d.script.has_value() || !d.programs.empty() || d.replacePrograms;
  std::vector<std::string> meant;
  for (const Field* f : plan.changes) meant.push_back(f->name);
  if (plan.scriptChanges) meant.push_back("script");
  for (int slot : plan.uploads) meant.push_back(Format("program%d", slot + 1));
  for (int slot : plan.deletes) meant.push_back(Format("program%d", slot + 1));

  if (sent && d.withNetwork) t.Readdress(FinalAddress(t, d));
  const std::optional<CardState> now = ReadCardState(t, contents ? ReadWhat::Contents : ReadWhat::Record);

  if (!now) {
    Failure f = stopped ? *stopped : t.failureRef();
    if (!stopped)
      f.message = Format(Tr("发送后无法读回核对（%s）", "could not read the card back after sending (%s)").c_str(),
                         f.message.c_str());
    t.Enter(f.step, f.slot);
    t.Fail(f.message);
    t.failureRef().missing = meant;
    return false;
  }
  const std::vector<std::string> missing = Missing(*now, d);
  if (stopped) {
    t.Enter(stopped->step, stopped->slot);
    t.Fail(stopped->message);
    t.failureRef().missing = missing;
    return false;
  }
  if (!missing.empty()) {
    t.Enter(Step::Verify);
    t.Fail(Format(Tr("写入后读回核对，控制卡上没有生效：%s", "read back after writing, the card does not hold: %s").c_str(),
                  Joined(missing).c_str()));
    t.failureRef().missing = missing;
    return false;
  }
  if (d.script && !now->script)
    t.user().Message(Tr("此固件的脚本无法读回，脚本已发送但未核对", "this firmware's script cannot be read back: sent, not checked"),
                     Tr("提示", "notice"), Icon::Information);
  return true;
}

std::string Printable(const std::string& bytes) {
  std::string text = platform::GbkToUtf8(bytes), out;
  for (unsigned char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c == 0x7F)
      out += Format("\\x%02x", c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

}  // namespace card::cli
