#include "params/discovery.h"

#include <array>
#include <optional>
#include <vector>

#include "link/command_channel.h"
#include "platform/codec.h"
#include "platform/i18n.h"
#include "platform/ini.h"
#include "platform/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

// The first three dot-separated numbers; a missing one counts as 0.
std::array<int, 3> FirstThreeNumbers(const std::string& dotted) {
  std::array<int, 3> out{};
  std::size_t pos = 0;
  for (int i = 0; i < 3 && pos <= dotted.size(); ++i) {
    std::size_t dot = dotted.find('.', pos);
    out[static_cast<std::size_t>(i)] = platform::ParseLeadingInt(dotted.substr(pos, dot - pos));
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  return out;
}

// With "广播" ticked the search first puts the cards into their boot state
// and waits for one to answer the boot query. Every line goes by broadcast,
// the checksum announcement too: no card is connected at this point.
void WaitForBootingCard(Channel& s, platform::Clock& clock, MainState& state) {
  DeviceStatusRecord r = state.record();
  r.setU8(rec::kFactoryByte, 0x80);
  AnnounceChecksum(s, clock, r, kBroadcastGapMs, Framing::Bare);
  state.setRecord(r);
  s.Send(Format("set S_Foctory 0x%02x \n", r.u8(rec::kFactoryByte)));
  clock.sleepMs(50);
  s.Send(std::string_view("reset \n"));
  clock.sleepMs(1);
  std::vector<std::uint8_t> buf(kSearchReceiveCapacity);
  ExchangeScope exchange(s);
  for (int i = 0; i < kBootQueryAttempts; ++i) {
    s.Send(std::string_view(kBootQuery));
    clock.sleepMs(1);
    std::size_t count = 0;
    s.Receive(buf.data(), 2, &count);
    if (count > 1) {
      s.Receive(buf.data(), buf.size(), &count);
      clock.sleepMs(500);
      return;
    }
  }
}

}  // namespace

void ConnectSearch(Channel* search, const std::string& localAddress) {
  if (search && search->exists()) search->Connect(localAddress);
}

ScanResult SearchDevices(Channel* search, platform::Clock& clock, UserPort& user, DeviceListPort& list,
                         MainState& state, bool broadcast) {
  state.withDeviceTable([](DeviceTable& t) { t.clear(); });
  list.ClearRows();
  if (!search || !search->exists()) {
    user.Message(kMsgNoSearchHandle, kTitleError, Icon::Error);
    return {};
  }
  if (broadcast) WaitForBootingCard(*search, clock, state);
  int dropped = 0;
  const ScanResult scan = ScanCards(*search, clock, broadcast ? kBootQuery : kSearchQuery, [&](const DeviceStatusRecord& r) {
    const std::string mac = MacText(r);
    const int row = state.withDeviceTable([&](DeviceTable& t) { return t.add(mac) ? static_cast<int>(t.size()) : -1; });
    if (row < 0) {
      ++dropped;
      return;
    }
    list.AppendRow(MakeDeviceListEntry(r, row));
    state.setSelectedAddress(AddressText(r));
    state.setSelectedSerial(SerialText(r));
  });
  if (dropped > 0) user.Message(kMsgTooManyCards, kTitleNotice, Icon::Information);
  // The query never left: the adapter address in SysCfg.ini is not usable here.
  if (scan.sendFailed)
    user.Message(Format(Tr(kMsgSearchFailedFormat), state.localAddress().c_str()), kTitleError, Icon::Error);
  if (scan.flooded) user.Message(kMsgSearchFlooded, kTitleError, Icon::Error);
  return scan;
}

void CheckSubnet(MainState& state, UserPort& user, const std::function<void()>& onFirstOpen) {
  if (state.cardOpened()) return;
  const auto local = FirstThreeNumbers(state.localAddress());
  const auto card = FirstThreeNumbers(state.selectedAddress());
  if (local[0] == card[0] && local[1] == card[1]) {
    state.setCardOpened();
    if (onFirstOpen) onFirstOpen();
  } else {
    user.Message(Format(Tr("不在同一网段！请修改电脑IP为%d.%d.%d.X后重启软件"), card[0], card[1], card[2]), kTitleError,
                 Icon::Error);
  }
}

std::optional<DeviceStatusRecord> ReadCardRecord(PanelContext& ctx,
                                                const std::function<void(const DeviceStatusRecord&)>& onRead) {
  Channel& ch = ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return std::nullopt;
  std::vector<std::uint8_t> buf(kDirectReadCapacity);
  std::optional<DeviceStatusRecord> found;
  bool anyBytes = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Reply reply = Exchange(ch, ctx.clock, "query all_in_struct_tcp \n", 500, buf.data(), buf.size());
    anyBytes = anyBytes || reply.count > 0;
    auto at = LocateRecord(buf.data(), reply.count);
    // A record cut short would read its missing bytes as zeros, and the
    // dialogs would write those back: only a whole record is taken.
    if (!at || reply.count - *at < rec::kSize) continue;
    DeviceStatusRecord r = CopyRecord(buf.data(), reply.count, *at);
    if (!VerifyChecksum(r)) ctx.user.Message(kMsgCrcError);
    found = r;
  }
  if (found) {
    if (onRead) onRead(*found);
  } else {
    ctx.user.Message(anyBytes ? kMsgShortRecord : kMsgNoRecord, kTitleError, Icon::Error);
  }
  ctx.clock.sleepMs(500);
  ch.Disconnect();
  return found;
}

namespace {

bool ReadDirect(PanelContext& ctx) {
  const bool read = ReadCardRecord(ctx, [&](const DeviceStatusRecord& r) {
                      FillParameterPanel(ctx, r, FillVariant::Direct);
                    }).has_value();
  ctx.panel.EnableCardAddressField();
  return read;
}

bool ReadByBroadcast(PanelContext& ctx, Channel* search) {
  if (!search || !search->exists()) return false;
  Channel& s = *search;
  // The card compares the serial with its own bytes, which are GBK.
  const std::string serial = platform::Utf8ToGbk(ctx.state.selectedSerial());
  const std::string query = Format("query all_in_strut %s \n", serial.c_str());
  std::vector<std::uint8_t> buf(kBroadcastReadCapacity);
  std::optional<DeviceStatusRecord> answer;
  bool shortAnswer = false;
  for (int i = 0; i < 3; ++i) {
    ExchangeScope exchange(s);
    const std::int64_t sentAt = ctx.clock.now();
    s.Send(query);
    ctx.clock.sleepMs(1000);
    std::fill(buf.begin(), buf.end(), 0);
    std::size_t count = 0;
    ReceiveAfterPause(s, ctx.clock, sentAt, 1000, buf.data(), buf.size(), &count);
    // A datagram left over from an earlier search may still be waiting: only
    // the record with the asked serial is the answer.
    DeviceStatusRecord r = CopyRecord(buf.data(), count, 0);
    if (count == 0 || !CheckRecord(r) || r.serialBytes() != serial) continue;
    if (count < rec::kSize)
      shortAnswer = true;
    else
      answer = r;
  }
  if (answer)
    FillParameterPanel(ctx, *answer, FillVariant::Broadcast);
  else
    ctx.user.Message(shortAnswer ? kMsgShortRecord : kMsgNoBroadcastAnswer, kTitleError, Icon::Error);
  return answer.has_value();
}

}  // namespace

bool ReadRecord(PanelContext& ctx, OpenContext& open) {
  if (ctx.panel.Read().broadcast) return ReadByBroadcast(ctx, open.search);
  return ReadDirect(ctx);
}

void ProbeCard(PanelContext& ctx, OpenContext& open) {
  ctx.cfg.setRestoreEn(false);
  const std::string address = ctx.state.selectedAddress();
  if (ctx.command.Connect(address) != 0) {
    if (open.recovery.Connect(address) != 0) {
      ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
      return;
    }
    open.recovery.Disconnect();
    ctx.user.Message(kMsgRecovery, kTitleError, Icon::Error);
    ctx.cfg.setRestoreEn(true);
    ctx.cfg.setRemoteIp(address);
    if (!open.siblings.IsRunning("fwloader")) {
      ClearParameterPanel(ctx);
      if (open.siblings.StartIfNotRunning("fwloader") == SiblingStart::Failed)
        ctx.user.Message(SiblingStartFailedText("fwloader"), kTitleError, Icon::Error);
    }
    return;
  }
  // Only a record read from this very card may list it.
  const DeviceStatusRecord r = ctx.state.record();
  if (ctx.state.panelHoldsRecordOf(address) && CheckRecord(r)) {
    const std::string mac = MacText(r);
    // 1: listed now; 0: listed already; -1: the list is full.
    const int added = ctx.state.withDeviceTable([&](DeviceTable& t) {
      if (t.contains(mac)) return 0;
      return t.addFirst(mac) ? 1 : -1;
    });
    if (added > 0) open.list.InsertFirstRow(MakeDeviceListEntry(r, 1));
    if (added < 0) ctx.user.Message(kMsgTooManyCards, kTitleNotice, Icon::Information);
  }
  ctx.command.Disconnect();
}

void OpenCard(PanelContext& ctx, OpenContext& open) {
  ClearParameterPanel(ctx);
  // Without a selected card every step below could only fail, and the
  // subnet check would compare against an empty address.
  if (ctx.state.selectedAddress().empty()) {
    ctx.user.Message(kMsgNoCardFound, kTitleError, Icon::Error);
    return;
  }
  ctx.clock.sleepMs(100);
  CheckSubnet(ctx.state, ctx.user, open.onFirstOpen);
  ctx.clock.sleepMs(100);
  ReadRecord(ctx, open);
  ctx.clock.sleepMs(100);
  ProbeCard(ctx, open);
}

void SearchBody(PanelContext& ctx, OpenContext& open, bool broadcast) {
  ctx.state.setSelectedAddress("");
  ClearParameterPanel(ctx);
  const ScanResult scan = SearchDevices(open.search, ctx.clock, ctx.user, open.list, ctx.state, broadcast);
  // The user was told that traffic hid the cards; "no card found" would say less.
  if (scan.flooded && ctx.state.selectedAddress().empty()) return;
  OpenCard(ctx, open);
}

}  // namespace card
