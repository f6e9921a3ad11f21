// Stand-ins for the window's ports: they record what operations show and do,
// with the virtual time at which it happened.
#pragma once

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "core/panel_values.h"
#include "core/ports.h"
#include "params/panel.h"
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
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shown_.push_back({text, title, icon, clock_->now()});
      hook = onMessage_;
    }
    if (hook) hook(text);
  }
  // Questions are answered from the queue, then with defaultAnswer.
  bool Ask(const std::string& text, const std::string& title) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, title, card::Icon::Question, clock_->now()});
    if (answers_.empty()) return defaultAnswer;
    bool a = answers_.front();
    answers_.pop_front();
    return a;
  }
  void queueAnswer(bool yes) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(yes);
  }
  // Choices are answered from their queue; an empty queue cancels.
  std::optional<int> Choose(const std::string& text, const std::string& title, const std::vector<std::string>&,
                            int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, title, card::Icon::Question, clock_->now()});
    if (choices_.empty()) return std::nullopt;
    auto c = choices_.front();
    choices_.pop_front();
    return c;
  }
  void queueChoice(std::optional<int> choice) {
    std::lock_guard<std::mutex> lock(mutex_);
    choices_.push_back(choice);
  }
  // Called after every message, on the operation's thread (to cancel it, say).
  void onMessage(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onMessage_ = std::move(hook);
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
  bool defaultAnswer = false;

 private:
  platform::VirtualClock* clock_;
  mutable std::mutex mutex_;
  std::vector<ShownMessage> shown_;
  std::deque<bool> answers_;
  std::deque<std::optional<int>> choices_;
  std::function<void(const std::string&)> onMessage_;
};

// Records progress positions and status lines.
class FakeProgress : public card::ProgressPort {
 public:
  void Progress(int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    percents.push_back(percent);
  }
  void Status(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses.push_back(text);
  }
  std::vector<int> percents;
  std::vector<std::string> statuses;

 private:
  std::mutex mutex_;
};

// File choices answered from queues; an empty queue is a cancelled dialog.
class FakeFiles : public card::FilePort {
 public:
  std::optional<std::string> OpenFile(const card::FileRequest& r) override { return Take(r, &opens); }
  std::optional<std::string> SaveFile(const card::FileRequest& r) override { return Take(r, &saves); }
  std::deque<std::optional<std::string>> opens, saves;
  std::vector<card::FileRequest> requests;

 private:
  std::optional<std::string> Take(const card::FileRequest& r, std::deque<std::optional<std::string>>* q) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests.push_back(r);
    if (q->empty()) return std::nullopt;
    auto path = q->front();
    q->pop_front();
    return path;
  }
  std::mutex mutex_;
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
  void EnableCardAddressField() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++addressFieldEnabled;
  }
  card::PanelValues values;
  int writes = 0;
  int addressFieldEnabled = 0;

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
    return startSucceeds;
  }
  std::vector<std::string> running;
  std::vector<std::string> started;
  bool startSucceeds = true;
};

}  // namespace testing_support
