#include "params/network.h"

#include <ctime>

#include "link/command_channel.h"
#include "params/panel.h"
#include "platform/ini.h"
#include "platform/text.h"

namespace card {

using platform::Format;

std::string BlankSeparated(std::string_view dotted) {
  std::string out(dotted);
  for (char& c : out)
    if (c == '.') c = ' ';
  return out;
}

std::string RecordAddressBlank(const DeviceStatusRecord& r, std::size_t off) {
  return Format("%d %d %d %d", r.u8(off), r.u8(off + 1), r.u8(off + 2), r.u8(off + 3));
}

void StoreBlankAddress(DeviceStatusRecord& r, std::size_t off, std::string_view blank) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    while (pos < blank.size() && blank[pos] == ' ') ++pos;
    std::size_t end = blank.find(' ', pos);
    if (end == std::string_view::npos) end = blank.size();
    int value = pos < blank.size() ? platform::ParseLeadingInt(blank.substr(pos, end - pos)) : 0;
    r.setU8(off + i, static_cast<std::uint8_t>(value & 0xFF));
    pos = end;
  }
}

NetworkOutcome NetworkStep(MainContext& ctx) {
  BusyScope busy(ctx.busy);
  Channel& ch = *ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return NetworkOutcome::NotConnected;
  const PanelValues p = ctx.panel.Read();
  const std::string cardIp = BlankSeparated(p.cardIp);
  const std::string serverIp = BlankSeparated(p.serverIp);
  DeviceStatusRecord r = ctx.state.record();

  auto send = [&](const std::string& line) { SendChangedField(ctx, ch, r, line); };
  auto flagStep = [&](int value, std::size_t offset, const char* format) {
    if (value == r.u8(offset)) return;
    r.setU8(offset, static_cast<std::uint8_t>(value));
    send(Format(format, value));
  };

  flagStep(p.autoIp ? 0 : 1, rec::kIpMode, "set dhcp_diable %d \n");
  flagStep(p.serverEnable ? 1 : 0, rec::kServerEnable, "set sever_enable %d \n");
  flagStep(p.doubleSided ? 1 : 0, rec::kDoubleSided, "set T_Face %d \n");
  // The lock can only be switched on from record version 17; older cards
  // only know "off".
  const int lock = p.lock ? 1 : 0;
  if (lock != r.u8(rec::kLock) && (lock == 0 || r.firmwareMajor() >= rec::kChecksumFromMajor)) {
    r.setU8(rec::kLock, static_cast<std::uint8_t>(lock));
    send(lock ? "set Store_lock on \n  " : "set Store_lock off \n  ");
  }
  if (serverIp != RecordAddressBlank(r, rec::kServerAddress)) {
    StoreBlankAddress(r, rec::kServerAddress, serverIp);
    send(Format("set server_ip %s \n", serverIp.c_str()));
  }
  const int port = platform::ParseLeadingInt(p.serverPort);
  if (port != r.u16(rec::kServerPort)) {
    r.setU16(rec::kServerPort, static_cast<std::uint16_t>(port & 0xFFFF));
    send(Format("set server_port %d \n", r.u16(rec::kServerPort)));
  }
  // The new card address goes last: the card restarts on it and would miss
  // any line sent after it.
  NetworkOutcome outcome = NetworkOutcome::Done;
  if (cardIp != RecordAddressBlank(r, rec::kCardAddress)) {
    StoreBlankAddress(r, rec::kCardAddress, cardIp);
    send(Format("set local_ip %s \n", cardIp.c_str()));
    ctx.clock.sleepMs(1000);
    ClearParameterPanel(ctx);
    ctx.user.Message(kMsgReaddressed, {}, Icon::Information);
    outcome = NetworkOutcome::Readdressed;
  }
  // The address as typed: after a new address the panel is already empty.
  ctx.cfg.setRemoteIp(p.cardIp);
  ctx.clock.sleepMs(500);
  ch.Disconnect();
  return outcome;
}

void ClockStep(MainContext& ctx) {
  Channel& ch = *ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) {
    ctx.busy.LeaveBusy();
    return;
  }
  BusyScope busy(ctx.busy);
  std::time_t seconds = static_cast<std::time_t>(ctx.clock.now() / 1000);
  std::tm t{};
  localtime_r(&seconds, &t);
  SendLine(ch, Format("set time %d %d %d %d %d %d %d %d \n  ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec, t.tm_wday, 0));
  ctx.clock.sleepMs(500);
  ch.Disconnect();
}

namespace {

void RestartDirect(MainContext& ctx) {
  BusyScope busy(ctx.busy);
  Channel& ch = *ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return;
  ch.BeginExchange();
  ch.Send(std::string_view("reset \n"));
  ctx.clock.sleepMs(500);
  ch.EndExchange();
  ctx.user.Message(kMsgResetDone, kTitleSuccess, Icon::Information);
  ClearParameterPanel(ctx);
  ctx.clock.sleepMs(1000);
  ClearParameterPanel(ctx);
}

// Broadcast lines go out with the search handle's Send alone: no exchange
// brackets, no message, nothing read back.
void RestartByBroadcast(MainContext& ctx, const PanelValues& p) {
  Channel& s = *ctx.search;
  DeviceStatusRecord r = ctx.state.record();
  auto announce = [&] {
    std::uint32_t crc = r.updateChecksum();
    ctx.state.setRecord(r);
    s.Send(Format("set Sys_Crc %x \n", crc));
    ctx.clock.sleepMs(50);
  };
  if (p.autoIp) {
    r.setU8(rec::kIpMode, 0);
    announce();
    s.Send(std::string_view("set dhcp_diable 0 \n"));
    ctx.clock.sleepMs(50);
    s.Send(std::string_view("reset \n"));
    return;
  }
  if (p.cardIp.empty() || p.cardIp[0] == '0') {
    s.Send(std::string_view("reset \n"));
    return;
  }
  const std::string blank = BlankSeparated(p.cardIp);
  StoreBlankAddress(r, rec::kCardAddress, blank);
  r.setU8(rec::kIpMode, 1);
  announce();
  s.Send(Format("set local_ip %s \n", blank.c_str()));
  ctx.clock.sleepMs(50);
  s.Send(std::string_view("set dhcp_diable 1 \n"));
  ctx.clock.sleepMs(50);
  s.Send(std::string_view("reset \n"));
}

}  // namespace

void RestartCard(MainContext& ctx) {
  const PanelValues p = ctx.panel.Read();
  if (p.broadcast && ctx.search && ctx.search->exists())
    RestartByBroadcast(ctx, p);
  else
    RestartDirect(ctx);
}

void SyncRequestPoll(MainContext& ctx, const std::function<void()>& startUpload) {
  if (!ctx.state.cardOpened()) return;
  if (ctx.cfg.syncUpdate() == 0) return;
  ctx.cfg.clearSyncUpdate();
  if (startUpload) startUpload();
}

}  // namespace card
