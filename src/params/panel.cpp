#include "params/panel.h"

#include "link/command_channel.h"
#include "params/discovery.h"
#include "params/network.h"
#include "params/panel_lists.h"
#include "platform/i18n.h"
#include "platform/ini.h"
#include "platform/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

// A stored value that is no position of the list leaves it without a selection.
int ListIndex(int value, int count) { return value >= 0 && value < count ? value : -1; }

}  // namespace

std::string Ipv4FieldText(const std::string& shown) { return shown.empty() ? "0.0.0.0" : shown; }

bool ConnectSelectedCard(PanelContext& ctx, Channel& ch) {
  if (ch.Connect(ctx.state.selectedAddress()) == 0) return true;
  ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
  return false;
}

bool ApplyField(PanelContext& ctx, DeviceStatusRecord* record, const DeviceStatusRecord& candidate,
                const std::string& line) {
  if (!SendChange(ctx.command, ctx.clock, record, candidate, kMainAnnounceWaitMs, line)) {
    ctx.state.markRecordUnconfirmed();
    ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  ctx.state.setRecord(*record);
  return true;
}

PanelValues FilledPanel(const DeviceStatusRecord& r, PanelValues v, FillVariant variant,
                        std::vector<std::string>* messages) {
  const bool direct = variant == FillVariant::Direct;
  v.widthText = std::to_string(r.u16(rec::kWidth));
  v.heightText = std::to_string(r.u16(rec::kHeight));
  v.cardPortText = std::to_string(r.u16(rec::kCardPort));
  v.cardIp = Ipv4Text(r, rec::kCardAddress);
  v.serverIp = Ipv4Text(r, rec::kServerAddress);
  v.serverPort = std::to_string(r.u16(rec::kServerPort));
  if (direct) {
    v.program = 0;
    v.dwell = kDefaultDwell;
  }
  v.internalCode = Format("%x_%x_%x_%x_%x_%x_%x_%x", r.u16(119), r.u16(121), r.u16(123), r.u16(125),
                          r.u16(127), r.u16(129), r.u16(131), r.u16(133));

  const std::uint16_t code = r.u16(rec::kCodeWord);
  v.target = (code & 0x0100) ? 0 : 1;
  v.oe = (code & 0x10) ? 0 : 1;
  v.data = (code & 0x01) ? 0 : 1;
  if (PolarityFromFields(r)) {
    v.oe = ListIndex(r.u8(rec::kOePolarity), 2);
    v.data = ListIndex(r.u8(rec::kDataPolarity), 2);
  }
  if (r.u8(rec::kRs485Mode) <= 101) v.rs485 = ListIndex(r.u8(rec::kRs485Mode), static_cast<int>(Rs485ModeItems().size()));
  if (auto fixed = TargetForFixedCode(code)) v.target = *fixed;

  const int mode = r.u8(rec::kDisplayMode);
  const int refresh = r.u8(rec::kRefreshRate);
  const int brightness = r.u8(rec::kBrightness);
  if (direct) {
    if (mode <= kMaxDisplayMode)
      v.mode = mode;
    else
      messages->push_back(Format(Tr("模式异常 %x"), mode));
    if (refresh < 100)
      v.refresh = ListIndex(refresh, kRefreshItems);
    else
      messages->push_back(Format(Tr("频率 异常 %x"), refresh));
    if (brightness < 100)
      v.brightness = ListIndex(brightness, kBrightnessItems);
    else
      messages->push_back(Format(Tr("亮度 异常 %x"), brightness));
  } else {
    v.refresh = ListIndex(refresh, kRefreshItems);
    v.brightness = ListIndex(brightness, kBrightnessItems);
  }

  v.modbus = ListIndex(r.u16(rec::kModbusAddress), kModbusItems);
  v.devNo = ListIndex(r.u8(rec::kDevelopmentNo), static_cast<int>(DevelopmentItems().size()));
  v.service = ListIndex(r.u8(rec::kServiceType), static_cast<int>(ServiceTypeItems().size()));
  v.baud = ListIndex(BaudIndexForRate(r.u16(rec::kBaudRate)), static_cast<int>(BaudRateItems().size()));

  v.autoIp = r.u8(rec::kIpMode) != 1;
  v.serverEnable = r.u8(rec::kServerEnable) != 0;
  v.doubleSided = r.u8(rec::kDoubleSided) != 0;
  v.lock = r.u8(rec::kLock) != 0;
  return v;
}

void FillParameterPanel(PanelContext& ctx, const DeviceStatusRecord& r, FillVariant variant) {
  ctx.state.setRecordReadFromCard(r);
  std::vector<std::string> messages;
  PanelValues v = FilledPanel(r, ctx.panel.Read(), variant, &messages);
  ctx.panel.Write(v);
  ctx.state.setPanelRecordFrom(ctx.state.selectedAddress());
  for (const std::string& m : messages) ctx.user.Message(m);
  if (variant == FillVariant::Direct) ctx.cfg.setViewedPanelSize(r.u8(rec::kDisplayMode), v.widthText, v.heightText);
}

PanelValues ClearedPanel(PanelValues v) {
  for (std::string* text : {&v.widthText, &v.heightText, &v.cardIp, &v.serverIp, &v.serverPort, &v.cardPortText,
                            &v.internalCode})
    text->clear();
  for (int* list : {&v.oe, &v.data, &v.target, &v.mode, &v.refresh, &v.brightness, &v.modbus, &v.rs485, &v.baud,
                    &v.devNo, &v.service, &v.program, &v.dwell})
    *list = -1;
  v.autoIp = v.serverEnable = v.doubleSided = v.lock = false;
  return v;
}

void ClearParameterPanel(PanelContext& ctx) {
  ctx.state.forgetPanelRecord();
  ctx.panel.Write(ClearedPanel(ctx.panel.Read()));
  ctx.command.Disconnect();
}

int SubmitParameters(PanelContext& ctx, const PanelValues& p) {
  if (ctx.state.selectedAddress().empty()) {
    ctx.user.Message(kMsgSelectCardFirst, kTitleError, Icon::Error);
    return -1;
  }
  Channel& ch = ctx.command;
  if (!ConnectSelectedCard(ctx, ch)) return -1;
  const int width = platform::ParseLeadingInt(p.widthText);
  const int height = platform::ParseLeadingInt(p.heightText);
  DeviceStatusRecord r = ctx.state.record();

  // Each step builds the record with its new value and applies it only when
  // the line went out; the first failure ends the submit.
  bool ok = true;
  auto apply = [&](const DeviceStatusRecord& candidate, const std::string& line) {
    if (ok) ok = ApplyField(ctx, &r, candidate, line);
  };
  auto u8Step = [&](int value, std::size_t offset, const char* format) {
    if (!ok || value < 0 || value == r.u8(offset)) return;
    DeviceStatusRecord c = r;
    c.setU8(offset, static_cast<std::uint8_t>(value));
    apply(c, Format(format, value));
  };

  // A locked card would drop the edits of this very submit: unlock first.
  if (!p.lock && r.u8(rec::kLock) != 0) apply(WithLock(r, false), LockLine(false));
  if (auto code = CodeWordFor(p.target, p.oe, p.data); ok && code && *code != r.u16(rec::kCodeWord)) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kCodeWord, *code);
    apply(c, Format("set chrct machine %x \n", *code));
  }
  if (ok && p.mode >= 0 && p.mode != r.u8(rec::kDisplayMode)) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kWidthCopy, r.u16(rec::kWidth));
    c.setU8(rec::kDisplayMode, static_cast<std::uint8_t>(p.mode));
    apply(c, Format("set hard %d %d %d\n", c.u16(rec::kWidthCopy), 0, p.mode));
  }
  if (ok) ctx.cfg.setViewedPanelSize(r.u8(rec::kDisplayMode), p.widthText, p.heightText);
  if (ok && (width != r.u16(rec::kWidth) || height != r.u16(rec::kHeight))) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kWidth, static_cast<std::uint16_t>(width));
    c.setU16(rec::kHeight, static_cast<std::uint16_t>(height));
    apply(c, Format("set soft %d %d \n", width, height));
  }
  u8Step(p.oe, rec::kOePolarity, "set LED_OEP %d \n");
  u8Step(p.data, rec::kDataPolarity, "set LED_DATP %d \n");
  u8Step(p.refresh, rec::kRefreshRate, "set pl %d \n");
  if (ok && p.modbus >= 0 && p.modbus != r.u16(rec::kModbusAddress)) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kModbusAddress, static_cast<std::uint16_t>(p.modbus));
    apply(c, Format("set modbus_dev_addr %d \n", p.modbus));
  }
  u8Step(p.rs485, rec::kRs485Mode, "set Modebus_Master %d \n");
  u8Step(p.devNo, rec::kDevelopmentNo, "set _315MHZ %d \n");
  u8Step(p.service, rec::kServiceType, "set SEVER_M %d \n");
  // 115200 does not fit the 16-bit field, so it never compares equal and is
  // sent with every submit.
  if (auto baud = BaudFor(p.baud); ok && baud && baud->rate != r.u16(rec::kBaudRate)) {
    DeviceStatusRecord c = r;
    c.setU16(rec::kBaudRate, static_cast<std::uint16_t>(baud->rate & 0xFFFF));
    apply(c, baud->line);
  }
  if (ok && p.brightness >= 0 && p.brightness != r.u8(rec::kBrightness)) {
    u8Step(p.brightness, rec::kBrightness, "set ld %d \n");
    if (ok) ctx.clock.sleepMs(200);
  }
  if (!ok) {
    ch.Disconnect();
    return -1;
  }
  ctx.clock.sleepMs(500);
  ch.Disconnect();
  return 0;
}

void SubmitAll(PanelContext& ctx) {
  // A cleared panel, or one whose read brought no record, would send zeros
  // for every field: size 0 x 0 and address 0.0.0.0.
  if (!ctx.state.panelHoldsRecordOf(ctx.state.selectedAddress())) {
    ctx.user.Message(kMsgSelectCardFirst, kTitleError, Icon::Error);
    return;
  }
  const PanelValues p = ctx.panel.Read();
  const int width = platform::ParseLeadingInt(p.widthText);
  const int height = platform::ParseLeadingInt(p.heightText);
  if (width > kMaxPanelWidth || height > kMaxPanelHeight) {
    ctx.user.Message(kMsgSizeTooLarge);
    return;
  }
  // A negative size would go to the card as it stands.
  if (width < 0 || height < 0) {
    ctx.user.Message(kMsgSizeNegative);
    return;
  }
  // After a run that lost the link the copy may hold a change the card
  // never got: the card's own record is what the panel is compared with.
  if (ctx.state.recordUnconfirmed() &&
      !ReadCardRecord(ctx, [&](const DeviceStatusRecord& r) { ctx.state.setRecordReadFromCard(r); }))
    return;
  if (SubmitParameters(ctx, p) != 0) return;
  // After a new address the card restarts elsewhere: the clock would only
  // fail to connect to the old address.
  const NetworkOutcome net = NetworkStep(ctx, p);
  if (net == NetworkOutcome::Done) ClockStep(ctx);
}

}  // namespace card
