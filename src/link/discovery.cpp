#include "link/discovery.h"

#include <array>
#include <optional>
#include <vector>

#include "link/command_channel.h"
#include "params/panel.h"
#include "platform/codec.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "platform/tooldir.h"

namespace card {
namespace {

using platform::Format;

// Ends the exchange on every path out of a scope.
class ExchangeScope {
 public:
  explicit ExchangeScope(Channel& ch) : ch_(ch) { ch_.BeginExchange(); }
  ~ExchangeScope() { ch_.EndExchange(); }
  ExchangeScope(const ExchangeScope&) = delete;
  ExchangeScope& operator=(const ExchangeScope&) = delete;

 private:
  Channel& ch_;
};

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
// and waits for one to answer the boot query.
void WaitForBootingCard(MainContext& ctx, Channel& s) {
  DeviceStatusRecord r = ctx.state.record();
  r.setU8(rec::kFactoryByte, 0x80);
  AnnounceChecksum(*ctx.command, ctx.clock, r, kMainAnnounceWaitMs);
  ctx.state.setRecord(r);
  s.Send(Format("set S_Foctory 0x%02x \n", r.u8(rec::kFactoryByte)));
  ctx.clock.sleepMs(50);
  s.Send(std::string_view("reset \n"));
  ctx.clock.sleepMs(1);
  std::vector<std::uint8_t> buf(kSearchReceiveCapacity);
  for (int i = 0; i < kBootQueryAttempts; ++i) {
    s.Send(std::string_view("query all_in_boot\n"));
    ctx.clock.sleepMs(1);
    std::size_t count = 0;
    s.Receive(buf.data(), 2, &count);
    if (count > 1) {
      s.Receive(buf.data(), buf.size(), &count);
      ctx.clock.sleepMs(500);
      return;
    }
  }
}

}  // namespace

void SearchDevices(MainContext& ctx) {
  BusyScope busy(ctx.busy);
  ctx.state.withDeviceTable([](DeviceTable& t) { t.clear(); });
  ctx.list.ClearRows();
  if (!ctx.search || !ctx.search->exists()) {
    ctx.user.Message(kMsgNoSearchHandle, kTitleError, Icon::Error);
    return;
  }
  Channel& s = *ctx.search;
  const bool broadcast = ctx.panel.Read().broadcast;
  int dropped = 0;
  {
    ExchangeScope exchange(s);
    std::string query = "query all_in_strut \n";
    if (broadcast) {
      WaitForBootingCard(ctx, s);
      query = "query all_in_boot\n";
    }
    if (s.Send(query) != 0) return;
    ctx.clock.sleepMs(50);
    ctx.clock.sleepMs(300);

    int bound = kInitialReceiveBound;
    std::vector<std::uint8_t> buf(4096, 0);
    std::size_t count = 0;
    if (s.Receive(buf.data(), kSearchReceiveCapacity, &count) != 0) return;
    for (int replies = 0;;) {
      if (count > 0) {
        DeviceStatusRecord r = CopyRecord(buf.data(), count, 0);
        if (CheckRecord(r)) {
          const std::string mac = MacText(r);
          // 0: listed already; >0: the new row's number; -1: the table is full.
          int row = ctx.state.withDeviceTable([&](DeviceTable& t) {
            if (t.contains(mac)) return 0;
            return t.add(mac) ? static_cast<int>(t.size()) : -1;
          });
          if (row > 0) {
            ctx.list.AppendRow(MakeDeviceListEntry(r, row));
            ctx.state.setSelectedAddress(AddressText(r));
            ++bound;
          } else if (row < 0) {
            ++dropped;
          }
        }
      }
      if (++replies >= bound) break;
      std::fill(buf.begin(), buf.end(), 0);
      if (s.Receive(buf.data(), kSearchReceiveCapacity, &count) != 0) break;
    }
  }
  if (dropped > 0) ctx.user.Message(kMsgTooManyCards, kTitleNotice, Icon::Information);
}

void SearchBody(MainContext& ctx) {
  ClearParameterPanel(ctx);
  SearchDevices(ctx);
  ctx.runOnWorker([&ctx] { OpenCard(ctx); });
}

void CheckSubnet(MainContext& ctx) {
  BusyScope busy(ctx.busy);
  if (ctx.state.cardOpened()) return;
  const auto local = FirstThreeNumbers(ctx.state.localAddress());
  const auto card = FirstThreeNumbers(ctx.state.selectedAddress());
  if (local[0] == card[0] && local[1] == card[1]) {
    ctx.state.setCardOpened();
    if (ctx.startSyncTimer) ctx.startSyncTimer();
  } else {
    ctx.user.Message(Format("不在同一网段！请修改电脑IP为%d.%d.%d.X后重启软件", card[0], card[1], card[2]),
                     kTitleError, Icon::Error);
  }
}

namespace {

void ReadDirect(MainContext& ctx) {
  {
    BusyScope busy(ctx.busy);
    Channel& ch = *ctx.command;
    if (ConnectSelectedCard(ctx, ch)) {
      std::vector<std::uint8_t> buf(8192);
      std::size_t last = 0;
      for (int attempt = 0; attempt < 2; ++attempt) {
        Reply reply = Exchange(ch, ctx.clock, "query all_in_struct_tcp \n", 500, buf.data(), buf.size());
        last = reply.count;
        if (auto at = LocateRecord(buf.data(), reply.count)) {
          DeviceStatusRecord r = CopyRecord(buf.data(), reply.count, *at);
          ctx.state.setRecord(r);
          if (!VerifyChecksum(r)) ctx.user.Message(kMsgCrcError);
        }
      }
      if (last > 0) FillParameterPanel(ctx, FillVariant::Direct);
      ctx.clock.sleepMs(500);
      ch.Disconnect();
    }
  }
  ctx.busy.EnableCardAddressField();
}

void ReadByBroadcast(MainContext& ctx) {
  BusyScope busy(ctx.busy);
  if (!ctx.search || !ctx.search->exists()) return;
  Channel& s = *ctx.search;
  // The card compares the serial with its own bytes, which are GBK.
  const std::string serial = platform::Utf8ToGbk(ctx.state.selectedSerial());
  const std::string query = Format("query all_in_strut %s \n", serial.c_str());
  std::vector<std::uint8_t> buf(4096);
  std::optional<DeviceStatusRecord> answer;
  for (int i = 0; i < 3; ++i) {
    ExchangeScope exchange(s);
    s.Send(query);
    ctx.clock.sleepMs(1000);
    std::fill(buf.begin(), buf.end(), 0);
    std::size_t count = 0;
    s.Receive(buf.data(), buf.size(), &count);
    // A datagram left over from an earlier search may still be waiting: only
    // the record with the asked serial is the answer.
    DeviceStatusRecord r = CopyRecord(buf.data(), count, 0);
    if (count > 0 && r.serialBytes() == serial) answer = r;
  }
  if (answer) {
    ctx.state.setRecord(*answer);
    FillParameterPanel(ctx, FillVariant::Broadcast);
  }
}

}  // namespace

void ReadRecord(MainContext& ctx) {
  if (ctx.panel.Read().broadcast)
    ReadByBroadcast(ctx);
  else
    ReadDirect(ctx);
}

void ProbeCard(MainContext& ctx) {
  ctx.cfg.setRestoreEn(false);
  BusyScope busy(ctx.busy);
  const std::string address = ctx.state.selectedAddress();
  if (ctx.command->Connect(address) != 0) {
    if (ctx.recovery->Connect(address) != 0) {
      ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
      return;
    }
    ctx.recovery->Disconnect();
    ctx.user.Message(kMsgRecovery, kTitleError, Icon::Error);
    ctx.cfg.setRestoreEn(true);
    ctx.cfg.setRemoteIp(address);
    const std::string loader = platform::ExecutableFileName("fwloader");
    if (!ctx.processes.IsRunning(loader)) {
      ClearParameterPanel(ctx);
      ctx.processes.Start(ctx.subsysDir + loader);
    }
    return;
  }
  const DeviceStatusRecord r = ctx.state.record();
  if (CheckRecord(r)) {
    const std::string mac = MacText(r);
    bool added = ctx.state.withDeviceTable([&](DeviceTable& t) { return !t.contains(mac) && t.addFirst(mac); });
    if (added) ctx.list.InsertFirstRow(MakeDeviceListEntry(r, 1));
  }
  ctx.command->Disconnect();
}

void OpenCard(MainContext& ctx) {
  ClearParameterPanel(ctx);
  // Without a selected card every step below could only fail, and the
  // subnet check would compare against an empty address.
  if (ctx.state.selectedAddress().empty()) {
    ctx.user.Message(kMsgNoCardFound, kTitleError, Icon::Error);
    return;
  }
  ctx.clock.sleepMs(100);
  CheckSubnet(ctx);
  ctx.clock.sleepMs(100);
  ReadRecord(ctx);
  ctx.clock.sleepMs(100);
  ProbeCard(ctx);
}

}  // namespace card
