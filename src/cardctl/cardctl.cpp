#include "cardctl/cardctl.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "modbus/master_table.h"
#include "params/advanced.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel_driver.h"
#include "params/panel_lists.h"
#include "link/driver_binding.h"
#include "platform/codec.h"
#include "platform/files.h"
#include "platform/i18n.h"
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

// A card restarts after a program upload: the next step first sees it go
// down (it may take a moment to act on the reset), then waits for it to take
// connections again.
constexpr int kDownWithinMs = 10000;
constexpr int kBackWithinMs = 30000;
constexpr int kRestartPollMs = 200;

bool Reachable(Target& t) {
  if (t.command().Connect(t.address()) != 0) return false;
  t.command().Disconnect();
  return true;
}

bool WaitForRestart(Target& t) {
  for (int waited = 0; waited < kDownWithinMs && Reachable(t); waited += kRestartPollMs)
    t.clock().sleepMs(kRestartPollMs);
  for (int waited = 0; waited <= kBackWithinMs; waited += kRestartPollMs) {
    if (Reachable(t)) return true;
    t.clock().sleepMs(kRestartPollMs);
  }
  t.user().Message(kMsgConnectFailed, kTitleError, Icon::Error);
  return false;
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

void ConsoleUser::Message(const std::string& text, const std::string& title, Icon icon) {
  if (icon == Icon::Error) {
    std::lock_guard<std::mutex> lock(own_);
    lastError_ = platform::Tr(text);
  }
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << (title.empty() ? "" : platform::Tr(title) + ": ") << platform::Tr(text) << "\n";
  out_.flush();
}

bool ConsoleUser::Ask(const std::string& text, const std::string& title) {
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << (title.empty() ? "" : platform::Tr(title) + ": ") << platform::Tr(text) << (yes_ ? platform::Tr(" —— 是 (--yes)\n") : platform::Tr(" —— 否 (加 --yes 确认)\n"));
  return yes_;
}

std::optional<int> ConsoleUser::Choose(const std::string& text, const std::string&, const std::vector<std::string>&,
                                       int) {
  std::lock_guard<std::mutex> lock(lock_);
  out_ << prefix_ << platform::Tr(text) << platform::Tr(" —— 已取消\n");
  return std::nullopt;
}

std::string ConsoleUser::lastError() const {
  std::lock_guard<std::mutex> lock(own_);
  return lastError_;
}

Target::Target(const LinkFactory& makeLink, const std::string& address, platform::Clock& clock, UserPort& user,
               const std::string& workDir)
    : address_(address),
      command_(makeLink ? makeLink(kCommandPort) : nullptr),
      file_(makeLink ? makeLink(kFilePort) : nullptr),
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

std::optional<DeviceStatusRecord> ReadCard(Target& t) {
  auto r = ReadCardRecord(t.panel());
  if (r) {
    t.state().setRecord(*r);
    t.state().setPanelRecordFrom(t.address());
  }
  return r;
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

namespace {

// The settings steps that never restart the card, in the window's order:
// the panel's submit, the advanced settings, the panel driver, the Modbus
// requests.
bool ApplySettings(Target& t, const DeviceStatusRecord& desired, const PanelValues& p) {
  PanelContext& ctx = t.panel();
  if (SubmitParameters(ctx, p) != 0) return false;

  DeviceStatusRecord copy = t.state().record();
  const AdvancedValues advanced = AdvancedFromRecord(desired);
  if (!PlanAdvanced(copy, advanced).steps.empty()) {
    const AdvancedOutcome out = SaveAdvanced(t.file(), t.clock(), t.user(), nullptr, t.address(), &copy, advanced);
    t.state().setRecord(copy);
    if (out != AdvancedOutcome::Confirmed) return false;
  }

  copy = t.state().record();
  if (DriverDiffers(copy, desired)) {
    // The DZ fold value goes out as the record holds it.
    copy.setU8(rec::kDzFold, desired.u8(rec::kDzFold));
    DeviceStatusRecord before = t.state().record();
    const bool sent = SaveLedPara(t.file(), t.clock(), t.user(), t.address(), &copy, PanelDriverFromRecord(desired));
    t.state().setRecord(sent ? copy : before);
    if (!sent) return false;
  }

  copy = t.state().record();
  const modbus::EntryTable want = modbus::ReadEntries(desired), have = modbus::ReadEntries(copy);
  bool differs = false;
  for (std::size_t i = 0; i < modbus::kSentRequests; ++i) differs = differs || !(want[i] == have[i]);
  if (differs) {
    struct Quiet : ProgressPort {
      void Progress(int) override {}
    } quiet;
    const bool sent = modbus::UploadTable(t.command(), t.clock(), t.user(), quiet, t.address(), want, &copy);
    t.state().setRecord(copy);
    if (!sent) return false;
  }
  for (std::size_t i = modbus::kSentRequests; i < want.size(); ++i)
    if (!(want[i] == have[i]))
      t.user().Message(Format(platform::Tr("第%zu行的Modbus请求只能保存在电脑上，不能下载到设备。"), i + 1), kTitleNotice,
                       Icon::Information);
  return true;
}

// The network group and the clock: last, because a new address restarts the
// card somewhere else.
bool ApplyNetwork(Target& t, const PanelValues& p) {
  const NetworkOutcome net = NetworkStep(t.panel(), p);
  if (net == NetworkOutcome::Failed) return false;
  if (net == NetworkOutcome::Done) ClockStep(t.panel());
  return true;
}

PanelValues PanelFor(const DeviceStatusRecord& desired) {
  std::vector<std::string> messages;
  PanelValues p = FilledPanel(desired, {}, FillVariant::Direct, &messages);
  p.cardIp = Ipv4FieldText(p.cardIp);
  p.serverIp = Ipv4FieldText(p.serverIp);
  return p;
}

}  // namespace

bool ApplyRecord(Target& t, const DeviceStatusRecord& card, const DeviceStatusRecord& desired) {
  t.state().setRecord(card);
  t.state().setPanelRecordFrom(t.address());
  const PanelValues p = PanelFor(desired);
  return ApplySettings(t, desired, p) && ApplyNetwork(t, p);
}

namespace {

std::optional<std::string> ReadScriptText(Target& t, int firmwareMajor) {
  ScriptTools tools{t.file(), t.clock(), t.user(), t.address(), firmwareMajor};
  if (!SwitchLogOff(tools)) return std::nullopt;
  ScriptRead read = ReadScript(tools);
  if (read.outcome == ScriptReadOutcome::NoLines) return std::string();
  if (read.outcome != ScriptReadOutcome::Read) return std::nullopt;
  return ScriptText(ProgramRows(read.split.lines));
}

std::optional<std::map<int, std::string>> ReadPrograms(Target& t) {
  auto directory = ReadProgramDirectory(t.programs());
  if (!directory) return std::nullopt;
  std::map<int, std::string> programs;
  for (int slot = 0; slot < kDirectorySlots; ++slot) {
    if (!directory->Used(slot)) continue;
    ProgramChoice choice;
    choice.slot = slot;
    choice.readBack = true;
    if (ReadBackProgram(t.programs(), choice) != ReadBackOutcome::Written) return std::nullopt;
    std::string bytes;
    if (!platform::ReadWholeFile(WorkingFilePath(t.programs().subsysDir(), slot + 1, "cmd.txt"), &bytes))
      return std::nullopt;
    programs[slot] = bytes;
  }
  return programs;
}

bool ApplyScriptAndPrograms(Target& t, const CardState& card, const Snapshot& s) {
  if (s.script && card.script != s.script) {
    ScriptTools tools{t.file(), t.clock(), t.user(), t.address(), card.record.firmwareMajor()};
    if (!SwitchLogOff(tools)) return false;
    if (WriteScript(tools, SplitCrLf(*s.script)) != ScriptWriteOutcome::Sent) return false;
  }
  for (const auto& [slot, text] : card.programs)
    if (!s.programs.count(slot) && !DeleteProgram(t.programs(), slot)) return false;
  for (const auto& [slot, text] : s.programs) {
    auto have = card.programs.find(slot);
    if (have != card.programs.end() && have->second == text) continue;
    const std::string path = WorkingFilePath(t.programs().subsysDir(), slot + 1);
    if (platform::WriteFileMakingDirs(path, text.data(), text.size()) != 1) {
      t.user().Message(Format(platform::Tr("节目%d的文件写入失败"), slot + 1), kTitleError, Icon::Error);
      return false;
    }
    // The card keeps no dwell time; the window's default goes with the upload.
    if (!UploadProgram(t.programs(), slot, kDefaultDwell)) return false;
    if (!WaitForRestart(t)) return false;
  }
  return true;
}

}  // namespace

std::optional<CardState> ReadCardState(Target& t, bool withContents) {
  auto record = ReadCard(t);
  if (!record) return std::nullopt;
  CardState state;
  state.record = *record;
  if (!withContents) return state;
  state.script = ReadScriptText(t, record->firmwareMajor());
  if (!state.script) return std::nullopt;
  auto programs = ReadPrograms(t);
  if (!programs) return std::nullopt;
  state.programs = std::move(*programs);
  return state;
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

bool ApplySnapshot(Target& t, const CardState& card, const Snapshot& s, const ApplyOptions& options) {
  const DeviceStatusRecord desired = options.withNetwork ? s.record : KeepIdentity(s.record, card.record);
  t.state().setRecord(card.record);
  t.state().setPanelRecordFrom(t.address());
  const PanelValues p = PanelFor(desired);
  return ApplySettings(t, desired, p) && ApplyScriptAndPrograms(t, card, s) && ApplyNetwork(t, p);
}

namespace {

// A link that accepts everything and only notes what would go out, when.
class PlanChannel : public Channel {
 public:
  PlanChannel(int port, platform::VirtualClock& clock, std::vector<PlannedLine>& lines)
      : port_(port), clock_(clock), lines_(lines) {}
  bool exists() const override { return true; }
  int Connect(const std::string&) override { return 0; }
  void Disconnect() override {}
  int Send(const void* data, std::size_t length) override {
    lines_.push_back({clock_.now(), port_, std::string(static_cast<const char*>(data), length)});
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
};

}  // namespace

Plan PlanSnapshot(const std::string& address, const CardState& card, const Snapshot& s, const ApplyOptions& options,
                  const std::string& workDir) {
  Plan plan;
  // Virtual time from now on: the clock line carries today's date.
  const std::int64_t start = platform::RealClock().now();
  platform::VirtualClock clock(start);
  std::mutex quiet;
  std::ostringstream discard;
  ConsoleUser user(discard, quiet, {}, true);
  LinkFactory links = [&](int port) -> std::unique_ptr<Channel> {
    return std::make_unique<PlanChannel>(port, clock, plan.lines);
  };
  Target t(links, address, clock, user, workDir);
  plan.ok = ApplySnapshot(t, card, s, options);
  plan.totalMs = clock.now() - start;
  for (auto& line : plan.lines) line.atMs -= start;
  return plan;
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
