#include "core/main_state.h"

#include <algorithm>

#include "platform/i18n.h"
#include "platform/text.h"

namespace card {

void DeviceTable::clear() {
  for (auto& s : slots_) s.clear();
  count_ = 0;
}

bool DeviceTable::contains(const std::string& mac) const {
  return std::find(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(count_), mac) !=
         slots_.begin() + static_cast<std::ptrdiff_t>(count_);
}

bool DeviceTable::add(const std::string& mac) {
  if (count_ >= kSlots) return false;
  slots_[count_++] = mac;
  return true;
}

bool DeviceTable::addFirst(const std::string& mac) {
  if (contains(mac)) return true;
  if (count_ >= kSlots) return false;
  std::move_backward(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(count_),
                     slots_.begin() + static_cast<std::ptrdiff_t>(count_) + 1);
  slots_[0] = mac;
  ++count_;
  return true;
}

std::string MainState::selectedAddress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return selectedAddress_;
}
void MainState::setSelectedAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  selectedAddress_ = address;
}
std::string MainState::selectedSerial() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return selectedSerial_;
}
void MainState::setSelectedSerial(const std::string& serial) {
  std::lock_guard<std::mutex> lock(mutex_);
  selectedSerial_ = serial;
}
std::string MainState::localAddress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return localAddress_;
}
void MainState::setLocalAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  localAddress_ = address;
}
bool MainState::cardOpened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cardOpened_;
}
void MainState::setCardOpened() {
  std::lock_guard<std::mutex> lock(mutex_);
  cardOpened_ = true;
}
DeviceStatusRecord MainState::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}
void MainState::setRecord(const DeviceStatusRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_ = record;
}
void MainState::markRecordUnconfirmed() {
  std::lock_guard<std::mutex> lock(mutex_);
  recordUnconfirmed_ = true;
}
bool MainState::recordUnconfirmed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return recordUnconfirmed_;
}
void MainState::setRecordReadFromCard(const DeviceStatusRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  record_ = record;
  recordUnconfirmed_ = false;
}
void MainState::setPanelRecordFrom(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  panelRecordFrom_ = address;
}
void MainState::forgetPanelRecord() {
  std::lock_guard<std::mutex> lock(mutex_);
  panelRecordFrom_.reset();
}
bool MainState::panelHoldsRecordOf(const std::string& address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return panelRecordFrom_ && !address.empty() && *panelRecordFrom_ == address;
}

DeviceListEntry MakeDeviceListEntry(const DeviceStatusRecord& r, int number) {
  DeviceListEntry e;
  e.number = platform::Format(" %d", number);
  e.serial = SerialText(r);
  e.address = AddressText(r);
  e.autoIp = r.u8(rec::kIpMode) == 1 ? platform::Tr("否") : platform::Tr("是");
  e.status = platform::Tr("正常");
  e.mac = MacText(r);
  e.firmware = FirmwareText(r);
  e.platform = r.u16(rec::kPlatformStatus) == 0x55 ? platform::Tr("已连接") : platform::Tr("未连接");
  return e;
}

}  // namespace card
