#include "support/fake_channel.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

void FakeChannel::queueConnectResult(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectResults_.push_back(result);
}

void FakeChannel::queueReply(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back({0, bytes});
}

void FakeChannel::queueReplyAt(std::int64_t at, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back({0, bytes, at});
}

void FakeChannel::queueReceiveFailure(int result) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back({result, {}});
}

void FakeChannel::onSend(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  onSend_ = std::move(handler);
}

void FakeChannel::record(ChannelEvent::Kind kind, std::string bytes) {
  events_.push_back({kind, clock_ ? clock_->now() : 0, std::move(bytes)});
}

std::vector<ChannelEvent> FakeChannel::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<std::string> FakeChannel::sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& e : events_)
    if (e.kind == ChannelEvent::Send) out.push_back(e.bytes);
  return out;
}

std::vector<std::int64_t> FakeChannel::sendTimes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::int64_t> out;
  for (const auto& e : events_)
    if (e.kind == ChannelEvent::Send) out.push_back(e.at);
  return out;
}

bool FakeChannel::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

int FakeChannel::connectCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                        [](const ChannelEvent& e) { return e.kind == ChannelEvent::Connect; }));
}

int FakeChannel::receiveCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(events_.begin(), events_.end(),
                                        [](const ChannelEvent& e) { return e.kind == ChannelEvent::Receive; }));
}

void FakeChannel::clearEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.clear();
}

int FakeChannel::Connect(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  record(ChannelEvent::Connect, address);
  int r = 0;
  if (!connectResults_.empty()) {
    r = connectResults_.front();
    connectResults_.pop_front();
  }
  connected_ = r == 0;
  return r;
}

void FakeChannel::Disconnect() {
  std::lock_guard<std::mutex> lock(mutex_);
  record(ChannelEvent::Disconnect, {});
  connected_ = false;
}

int FakeChannel::Send(const void* data, std::size_t length) {
  std::function<void(const std::string&)> handler;
  std::string bytes(static_cast<const char*>(data), length);
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record(ChannelEvent::Send, bytes);
    // Like the real driver, a handle that is not connected cannot send.
    if (!connected_ || (failSendsFrom_ >= 0 && sends_ >= failSendsFrom_)) result = -1;
    ++sends_;
    handler = onSend_;
  }
  if (handler && result == 0) handler(bytes);
  return result;
}

int FakeChannel::Receive(void* buffer, std::size_t capacity, std::size_t* count) {
  std::lock_guard<std::mutex> lock(mutex_);
  *count = 0;
  if (clock_ && receiveCostMs_ > 0) clock_->advance(receiveCostMs_);
  if (replies_.empty() || (clock_ && replies_.front().due > clock_->now())) {
    record(ChannelEvent::Receive, {});
    return 0;
  }
  Scripted& next = replies_.front();
  if (next.result != 0) {
    int r = next.result;
    replies_.pop_front();
    record(ChannelEvent::Receive, {});
    return r;
  }
  std::size_t n = std::min(capacity, next.bytes.size());
  std::memcpy(buffer, next.bytes.data(), n);
  *count = n;
  record(ChannelEvent::Receive, next.bytes.substr(0, n));
  if (datagrams_ || n == next.bytes.size())
    replies_.pop_front();
  else
    next.bytes.erase(0, n);
  return 0;
}

void FakeChannel::BeginExchange() {
  std::lock_guard<std::mutex> lock(mutex_);
  record(ChannelEvent::Begin, {});
}

void FakeChannel::EndExchange() {
  std::lock_guard<std::mutex> lock(mutex_);
  record(ChannelEvent::End, {});
}

}  // namespace testing_support
