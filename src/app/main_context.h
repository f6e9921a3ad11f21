// What the main window owns for the whole run, as the device operations see
// it: the driver handles, the ports to the window, SysCfg.ini and the shared
// state. Operations started from the window's buttons take a MainContext.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <string>

#include "app/ports.h"
#include "app/syscfg.h"
#include "link/channel.h"
#include "link/record.h"
#include "params/panel_values.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace card {

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

// The main window's state, shared by the UI thread and the workers; every
// access takes the lock.
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
  DeviceTable devices_;
};

struct MainContext {
  MainContext(platform::Clock& c, UserPort& u, BusyPort& b, DeviceListPort& l, PanelPort& p,
              platform::ProcessPort& procs, SysCfg config)
      : clock(c), user(u), busy(b), list(l), panel(p), processes(procs), cfg(std::move(config)) {}

  // Driver handles; the search handle may not exist.
  Channel* search = nullptr;
  Channel* command = nullptr;   // port 1001
  Channel* file = nullptr;      // port 1002
  Channel* recovery = nullptr;  // port 1000

  platform::Clock& clock;
  UserPort& user;
  BusyPort& busy;
  DeviceListPort& list;
  PanelPort& panel;
  platform::ProcessPort& processes;
  SysCfg cfg;
  // Directory of the sibling programs (ToolDir/subsys/).
  std::string subsysDir;

  MainState state;

  // Starts the window's 100 ms timer (the program-editor poll).
  std::function<void()> startSyncTimer;
  // Starts body on a worker thread of its own (RunOnWorker).
  std::function<void(std::function<void()>)> runOnWorker;
};

// EnterBusy on construction, LeaveBusy when the scope ends, on every path.
class BusyScope {
 public:
  explicit BusyScope(BusyPort& busy) : busy_(busy) { busy_.EnterBusy(); }
  ~BusyScope() { busy_.LeaveBusy(); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  BusyPort& busy_;
};

DeviceListEntry MakeDeviceListEntry(const DeviceStatusRecord& r, int number);

// Connects ch to the selected card; on failure tells the user "连接设备失败"
// and returns false.
bool ConnectSelectedCard(MainContext& ctx, Channel& ch);

}  // namespace card
