#include "params/panel_driver.h"

#include <array>

#include "link/announce.h"
#include "params/panel_lists.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

constexpr int kSizeItems = 18;
constexpr std::array<int, 10> kScanValues = {1, 2, 4, 8, 10, 13, 16, 20, 32, 64};
constexpr std::array<int, 6> kFoldWidthValues = {4, 8, 16, 32, 64, 128};
constexpr std::array<int, 4> kFoldRowsValues = {1, 2, 4, 8};
constexpr int kChipItems = 24;
constexpr int kConversionItems = 5;
// What the lists show for a module that was never set.
constexpr int kUnsetWidthShows = 64;
constexpr int kUnsetHeightShows = 32;
constexpr int kUnsetScanShows = 32;
constexpr int kUnsetFoldWidthShows = 32;
constexpr std::uint8_t kDriverConstantValue = 16;

std::vector<std::string> Steps(int count, int step) {
  std::vector<std::string> items;
  for (int i = 0; i < count; ++i) items.push_back(Format("%02d", i * step));
  return items;
}

template <std::size_t N>
int PositionOf(const std::array<int, N>& values, int value) {
  for (std::size_t i = 0; i < N; ++i)
    if (values[i] == value) return static_cast<int>(i);
  return -1;
}

// A module size in dots as its list position: only whole steps that the list
// holds have one.
int SizePosition(int dots, int step, int unsetShows) {
  if (dots == 0) dots = unsetShows;
  if (dots % step != 0 || dots / step >= kSizeItems) return -1;
  return dots / step;
}

int Index(int value, int count) { return value >= 0 && value < count ? value : -1; }

}  // namespace

std::vector<std::string> ModuleWidthItems() { return Steps(kSizeItems, 8); }
std::vector<std::string> ModuleHeightItems() { return Steps(kSizeItems, 4); }
std::vector<std::string> ScanItems() {
  return {"1/1", "1/2", "1/4", "1/8", "1/10", "1/13", "1/16", "1/20", "1/32", "1/64"};
}
std::vector<std::string> RowScanChipItems() {
  return {TR_NOOP("常规138"), TR_NOOP("无行扫描芯片"), "SM5266", "RUL5158", "SM5366",     "ICN2013", "ICN2018", "LS9735",
          "LS9736",  "LS9739",       "TC6960", "TC6990",  "TC7261",     "DP32019", "DP32020", "MBI5981",
          "MB5988",  "CFD2138SPC",   "D7266",  "GM5018",  "HX6158H",    "RT5990",  "TA6018",  "VOD5958"};
}
std::vector<std::string> FoldWidthItems() {
  return {TR_NOOP("4折宽点数"), TR_NOOP("8折宽点数"), TR_NOOP("16折宽点数"), TR_NOOP("32折宽点数"), TR_NOOP("64折宽点数"), TR_NOOP("128折宽点数")};
}
std::vector<std::string> UFoldItems() { return {TR_NOOP("非U型折"), TR_NOOP("U型折")}; }
std::vector<std::string> DzFoldItems() { return {TR_NOOP("无"), TR_NOOP("4折"), TR_NOOP("8折"), TR_NOOP("16折"), TR_NOOP("32折"), TR_NOOP("64折")}; }
std::vector<std::string> SnakeItems() { return {TR_NOOP("S型"), TR_NOOP("反S型")}; }
std::vector<std::string> FoldRowsItems() { return {TR_NOOP("无折线"), TR_NOOP("2行折"), TR_NOOP("4行折"), TR_NOOP("8行折")}; }
std::vector<std::string> ConversionItems() { return {"0", "64", "128", "256", "512"}; }

int ScanItemOf(int rowGroups) { return PositionOf(kScanValues, rowGroups); }
int FoldWidthItemOf(int dots) { return PositionOf(kFoldWidthValues, dots); }
int FoldRowsOfItem(int item) {
  return item >= 0 && item < static_cast<int>(kFoldRowsValues.size()) ? kFoldRowsValues[static_cast<std::size_t>(item)]
                                                                      : -1;
}

PanelDriverValues PanelDriverFromRecord(const DeviceStatusRecord& r) {
  PanelDriverValues v;
  v.width = SizePosition(r.u8(rec::kModuleWidth), 8, kUnsetWidthShows);
  v.height = SizePosition(r.u8(rec::kModuleHeight), 4, kUnsetHeightShows);
  const int scan = r.u8(rec::kScan);
  v.scan = PositionOf(kScanValues, scan == 0 ? kUnsetScanShows : scan);
  v.chip = Index(r.u8(rec::kRowScanChip), kChipItems);
  const int foldWidth = r.u8(rec::kFoldWidth);
  v.foldWidth = PositionOf(kFoldWidthValues, foldWidth == 0 ? kUnsetFoldWidthShows : foldWidth);
  v.uFold = r.u8(rec::kUFold) == 1 ? 1 : 0;
  v.dzFold = 0;
  v.snake = r.u8(rec::kSnakeDirection) & 1;
  // Cards that kept the list position instead of the row count (0, 3) still
  // show an item; any other count without an item shows none.
  const int rows = r.u8(rec::kFoldRows);
  v.foldRows = PositionOf(kFoldRowsValues, rows);
  if (v.foldRows < 0) v.foldRows = Index(rows, static_cast<int>(kFoldRowsValues.size()));
  v.conversion = Index(r.u8(rec::kRowColConversion), kConversionItems);
  return v;
}

DeviceStatusRecord WithPanelDriver(DeviceStatusRecord r, const PanelDriverValues& v) {
  auto store = [&r](std::size_t offset, int value) {
    if (value >= 0 && value <= 0xFF) r.setU8(offset, static_cast<std::uint8_t>(value));
  };
  auto pick = [](const auto& values, int position) {
    return position >= 0 && position < static_cast<int>(values.size()) ? values[static_cast<std::size_t>(position)]
                                                                       : -1;
  };
  store(rec::kModuleWidth, Index(v.width, kSizeItems) >= 0 ? v.width * 8 : -1);
  store(rec::kModuleHeight, Index(v.height, kSizeItems) >= 0 ? v.height * 4 : -1);
  r.setU8(rec::kDriverConstant, kDriverConstantValue);
  store(rec::kFoldWidth, pick(kFoldWidthValues, v.foldWidth));
  store(rec::kScan, pick(kScanValues, v.scan));
  store(rec::kFoldRows, pick(kFoldRowsValues, v.foldRows));
  store(rec::kSnakeDirection, Index(v.snake, 2));
  store(rec::kRowScanChip, Index(v.chip, kChipItems));
  store(rec::kRowColConversion, Index(v.conversion, kConversionItems));
  store(rec::kUFold, Index(v.uFold, 2));
  return r;
}

std::string LedParaLine(const DeviceStatusRecord& r) {
  return Format("set ledpara  %d %d %d %d %d %d %d %d %d %d %d %d %d \n", r.u8(rec::kModuleWidth),
                r.u8(rec::kModuleHeight), r.u8(rec::kDriverConstant), r.u8(rec::kFoldWidth), r.u8(rec::kFoldRows),
                r.u8(rec::kScan), r.u8(rec::kSnakeDirection), r.u8(rec::kRowColConversion), r.u8(rec::kUFold),
                r.u8(rec::kRowScanChip), r.u8(rec::kDzFold), r.u8(rec::kOePolarity), r.u8(rec::kDataPolarity));
}

bool SaveLedPara(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                 DeviceStatusRecord* copy, const PanelDriverValues& values) {
  if (link.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  // Closed on every path, also when a cancel ends the pause below.
  struct Disconnect {
    Channel& link;
    ~Disconnect() { link.Disconnect(); }
  } disconnect{link};
  const DeviceStatusRecord candidate = WithPanelDriver(*copy, values);
  if (!SendChange(link, clock, copy, candidate, kDriverDialogAnnounceWaitMs, LedParaLine(candidate))) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  clock.sleepMs(kLedParaSettleMs);
  return true;
}

PanelValues PanelAfterPanelDriver(PanelValues panel, const DeviceStatusRecord& r) {
  panel.widthText = std::to_string(r.u16(rec::kWidth));
  panel.heightText = std::to_string(r.u16(rec::kHeight));
  const int polarityItems = static_cast<int>(PolarityItems().size());
  panel.data = Index(r.u8(rec::kDataPolarity), polarityItems);
  panel.oe = Index(r.u8(rec::kOePolarity), polarityItems);
  panel.brightness = Index(r.u8(rec::kBrightness), kBrightnessItems);
  return panel;
}

}  // namespace card
