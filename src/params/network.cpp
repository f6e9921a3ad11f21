#include "params/network.h"

#include <ctime>

#include "link/command_channel.h"
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

std::string LockLine(bool on) { return on ? "set Store_lock on \n  " : "set Store_lock off \n  "; }

DeviceStatusRecord WithLock(DeviceStatusRecord r, bool on) {
  r.setU8(rec::kLock, on ? 1 : 0);
  return r;
}

NetworkOutcome NetworkStep(PanelContext& ctx, const PanelValues& p) {
  Channel& ch = ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return NetworkOutcome::Failed;
  const std::string cardIp = BlankSeparated(p.cardIp);
  const std::string serverIp = BlankSeparated(p.serverIp);
  DeviceStatusRecord r = ctx.state.record();

  bool ok = true;
  auto apply = [&](const DeviceStatusRecord& candidate, const std::string& line) {
    if (ok) ok = ApplyField(ctx, &r, candidate, line);
  };
  auto flagStep = [&](int value, std::size_t offset, const char* format) {
    if (!ok || value == r.u8(offset)) return;
    DeviceStatusRecord c = r;
    c.setU8(offset, static_cast<std::uint8_t>(value));
    apply(c, Format(format, value));
  };

  flagStep(p.autoIp ? 0 : 1, rec::kIpMode, "set dhcp_diable %d \n");
  flagStep(p.serverEnable ? 1 : 0, rec::kServerEnable, "set sever_enable %d \n");
  flagStep(p.doubleSided ? 1 : 0, rec::kDoubleSided, "set T_Face %d \n");
  if (ok && serverIp != RecordAddressBlank(r, rec::kServerAddress)) {
    DeviceStatusRecord c = r;
    StoreBlankAddress(c, rec::kServerAddress, serverIp);
    apply(c, Format("set server_ip %s \n", serverIp.c_str()));
  }
  const int port = platform::ParseLeadingInt(p.serverPort);
  if (ok && port != r.u16(rec::kServerPort)) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kServerPort, static_cast<std::uint16_t>(port & 0xFFFF));
    apply(c, Format("set server_port %d \n", c.u16(rec::kServerPort)));
  }
  // The lock goes on after every other line of the submit ("off" went before
  // them); cards before 17 cannot switch it on at all.
  if (ok && p.lock && r.u8(rec::kLock) == 0 && LockCanBeSwitchedOn(r)) apply(WithLock(r, true), LockLine(true));
  // The new card address goes last: the card restarts on it and would miss
  // any line sent after it.
  NetworkOutcome outcome = ok ? NetworkOutcome::Done : NetworkOutcome::Failed;
  if (ok && cardIp != RecordAddressBlank(r, rec::kCardAddress)) {
    DeviceStatusRecord c = r;
    StoreBlankAddress(c, rec::kCardAddress, cardIp);
    apply(c, Format("set local_ip %s \n", cardIp.c_str()));
    if (ok) {
      ctx.clock.sleepMs(1000);
      ClearParameterPanel(ctx);
      ctx.user.Message(kMsgReaddressed, {}, Icon::Information);
      outcome = NetworkOutcome::Readdressed;
    } else {
      outcome = NetworkOutcome::Failed;
    }
  }
  if (outcome == NetworkOutcome::Failed) {
    ch.Disconnect();
    return outcome;
  }
  // The address as typed: after a new address the panel is already empty.
  ctx.cfg.setRemoteIp(p.cardIp);
  ctx.clock.sleepMs(500);
  ch.Disconnect();
  return outcome;
}

void ClockStep(PanelContext& ctx) {
  Channel& ch = ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return;
  std::time_t seconds = static_cast<std::time_t>(ctx.clock.now() / 1000);
  std::tm t{};
  localtime_r(&seconds, &t);
  if (SendLine(ch, Format("set time %d %d %d %d %d %d %d %d \n  ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                          t.tm_hour, t.tm_min, t.tm_sec, t.tm_wday, 0)) != 0) {
    ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    ch.Disconnect();
    return;
  }
  ctx.clock.sleepMs(500);
  ch.Disconnect();
}

namespace {

void RestartDirect(PanelContext& ctx) {
  Channel& ch = ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return;
  int sent = 0;
  {
    ExchangeScope exchange(ch);
    sent = ch.Send(std::string_view("reset \n"));
    ctx.clock.sleepMs(500);
  }
  if (sent != 0) {
    ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    ch.Disconnect();
    return;
  }
  ctx.user.Message(kMsgResetDone, kTitleSuccess, Icon::Information);
  ClearParameterPanel(ctx);
  ctx.clock.sleepMs(1000);
  ClearParameterPanel(ctx);
}

// Broadcast lines go out with the search handle's Send alone: no exchange
// brackets, no message, nothing read back.
void RestartByBroadcast(PanelContext& ctx, Channel& s, const PanelValues& p) {
  DeviceStatusRecord r = ctx.state.record();
  auto announce = [&] {
    AnnounceChecksum(s, ctx.clock, r, kBroadcastGapMs, Framing::Bare);
    ctx.state.setRecord(r);
  };
  if (p.autoIp) {
    r.setU8(rec::kIpMode, 0);
    announce();
    s.Send(std::string_view("set dhcp_diable 0 \n"));
    ctx.clock.sleepMs(kBroadcastGapMs);
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
  ctx.clock.sleepMs(kBroadcastGapMs);
  s.Send(std::string_view("set dhcp_diable 1 \n"));
  ctx.clock.sleepMs(kBroadcastGapMs);
  s.Send(std::string_view("reset \n"));
}

}  // namespace

void RestartCard(PanelContext& ctx, Channel* search) {
  const PanelValues p = ctx.panel.Read();
  if (p.broadcast && search && search->exists())
    RestartByBroadcast(ctx, *search, p);
  else
    RestartDirect(ctx);
}

bool SyncRequestPending(const MainState& state, const SysCfg& cfg) {
  return state.cardOpened() && cfg.syncUpdate() != 0;
}

}  // namespace card
