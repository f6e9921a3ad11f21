// What the main window owns for the whole run, as the device operations see
// it: the selected card, the WorkingRecord and the table of listed cards.
// One lock guards it all, because the UI thread and the workers share it.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>

#include "core/ports.h"
#include "link/record.h"
#include "platform/i18n.h"

namespace card {

inline constexpr const char* kMsgReadRecordAgain =
    TR_NOOP("与设备的连接曾中断，设备可能没有收到最后一项更改。请先双击设备列表中的设备重新读取参数，再打开此设置。");

// MAC texts of the listed cards, to recognise a card that answers twice.
class DeviceTable {
 public:
  static constexpr std::size_t kSlots = 50;
  void clear();
  bool contains(const std::string& mac) const;
  // Stores mac in the next free slot; false when all 50 are taken.
  bool add(const std::string& mac);
  // Puts mac in front, as the probe lists its card as the first row; false
  // when the table is full and mac is not in it.
  bool addFirst(const std::string& mac);
  std::size_t size() const { return count_; }

 private:
  std::array<std::string, kSlots> slots_;
  std::size_t count_ = 0;
};

class MainState {
 public:
  std::string selectedAddress() const;
  void setSelectedAddress(const std::string& address);
  std::string selectedSerial() const;
  void setSelectedSerial(const std::string& serial);
  std::string localAddress() const;
  void setLocalAddress(const std::string& address);
  bool cardOpened() const;
  void setCardOpened();

  // The WorkingRecord: the selected card's record.
  DeviceStatusRecord record() const;
  void setRecord(const DeviceStatusRecord& record);
  // A run that ended on a line it could not send may have taken a change
  // the card never got: the first send to a card that has gone away still
  // succeeds. Until the record is read from the card again, the copy is not
  // to be compared with; a fresh read clears the mark.
  void markRecordUnconfirmed();
  bool recordUnconfirmed() const;
  void setRecordReadFromCard(const DeviceStatusRecord& record);

  // The panel shows a record that was read from address since the panel was
  // last cleared. Only then may a submit compare against the WorkingRecord:
  // a cleared panel would otherwise read as "every field changed to 0".
  void setPanelRecordFrom(const std::string& address);
  void forgetPanelRecord();
  bool panelHoldsRecordOf(const std::string& address) const;

  // Runs f on the device table under the lock.
  template <typename F>
  auto withDeviceTable(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(devices_);
  }

 private:
  mutable std::mutex mutex_;
  std::string selectedAddress_;
  std::string selectedSerial_;
  std::string localAddress_;
  bool cardOpened_ = false;
  DeviceStatusRecord record_;
  bool recordUnconfirmed_ = false;
  std::optional<std::string> panelRecordFrom_;
  DeviceTable devices_;
};

DeviceListEntry MakeDeviceListEntry(const DeviceStatusRecord& r, int number);

}  // namespace card
