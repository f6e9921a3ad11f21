// Stand-ins for the main window's ports: they record what operations show and
// do, with the virtual time at which it happened.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/ports.h"
#include "params/panel.h"
#include "params/panel_values.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace testing_support {

struct ShownMessage {
  std::string text;
  std::string title;
  card::Icon icon;
  std::int64_t at;
};

class FakeUser : public card::UserPort {
 public:
  explicit FakeUser(platform::VirtualClock* clock) : clock_(clock) {}
  void Message(const std::string& text, const std::string& title, card::Icon icon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, title, icon, clock_->now()});
  }
  std::vector<ShownMessage> shown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : shown()) out.push_back(m.text);
    return out;
  }

 private:
  platform::VirtualClock* clock_;
  mutable std::mutex mutex_;
  std::vector<ShownMessage> shown_;
};

// Tracks the busy pattern; a LeaveBusy without EnterBusy is recorded too.
class FakeBusy : public card::BusyPort {
 public:
  void EnterBusy() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++enters;
    busy = true;
  }
  void LeaveBusy() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++leaves;
    busy = false;
  }
  void EnableCardAddressField() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++addressFieldEnabled;
  }
  bool isBusy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return busy;
  }
  int enters = 0;
  int leaves = 0;
  int addressFieldEnabled = 0;

 private:
  mutable std::mutex mutex_;
  bool busy = false;
};

class FakeList : public card::DeviceListPort {
 public:
  void ClearRows() override {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.clear();
  }
  void AppendRow(const card::DeviceListEntry& e) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.push_back(e);
  }
  void InsertFirstRow(const card::DeviceListEntry& e) override {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.insert(rows_.begin(), e);
  }
  std::vector<card::DeviceListEntry> rows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<card::DeviceListEntry> rows_;
};

// Holds the panel values; an empty IPv4 field reads "0.0.0.0", as the widget does.
class FakePanel : public card::PanelPort {
 public:
  card::PanelValues Read() override {
    std::lock_guard<std::mutex> lock(mutex_);
    card::PanelValues v = values;
    v.cardIp = card::Ipv4FieldText(v.cardIp);
    v.serverIp = card::Ipv4FieldText(v.serverIp);
    return v;
  }
  void Write(const card::PanelValues& v) override {
    std::lock_guard<std::mutex> lock(mutex_);
    values = v;
    ++writes;
  }
  card::PanelValues values;
  int writes = 0;

 private:
  std::mutex mutex_;
};

class FakeProcesses : public platform::ProcessPort {
 public:
  bool IsRunning(std::string_view name) override {
    for (const auto& r : running)
      if (r.size() == name.size() &&
          std::equal(r.begin(), r.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        return true;
    return false;
  }
  bool Start(const std::string& path) override {
    started.push_back(path);
    return true;
  }
  std::vector<std::string> running;
  std::vector<std::string> started;
};

}  // namespace testing_support
