// A scripted stand-in for one driver handle: records every call with the
// virtual time at which it happened and serves replies from a queue.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "link/channel.h"
#include "platform/clock.h"

namespace testing_support {

// Pauses shortened as CARD_CLOCK_SCALE=0.05 shortens them; time is virtual
// (a FakeChannel's receive cost stands for the driver's waits).
class ShortenedClock : public platform::VirtualClock {
 public:
  void sleepMs(int ms) override { advance(static_cast<std::int64_t>(ms * scale())); }
  double scale() const override { return 0.05; }
};

struct ChannelEvent {
  enum Kind { Connect, Disconnect, Send, Receive, Begin, End };
  Kind kind;
  std::int64_t at;     // virtual time of the call
  std::string bytes;   // Send: what was sent; Receive: what was served; Connect: the address
};

class FakeChannel : public card::Channel {
 public:
  enum State { Disconnected, AlreadyConnected };
  explicit FakeChannel(platform::VirtualClock* clock, bool exists = true, State state = Disconnected)
      : clock_(clock), exists_(exists), connected_(state == AlreadyConnected) {}

  // Results of the next Connect calls; 0 once the queue is empty.
  void queueConnectResult(int result);
  // The next Receive delivers these bytes (cut to capacity; the rest stays
  // queued for the following Receive, as a byte stream would).
  void queueReply(const std::string& bytes);
  // Bytes that arrive once the virtual clock reaches at: until then a
  // Receive finds nothing of them, nor of anything queued after them.
  void queueReplyAt(std::int64_t at, const std::string& bytes);
  // The next Receive fails with result.
  void queueReceiveFailure(int result = -1);
  // Every Receive takes ms of virtual time, as the driver's wait for a
  // first byte does.
  void setReceiveCostMs(int ms) { receiveCostMs_ = ms; }
  // Called for every Send, with the bytes sent; may queue replies.
  void onSend(std::function<void(const std::string&)> handler);
  // Send fails from the nth Send on (0-based), for tests of failed sends. A
  // Send on a handle that is not connected fails as well.
  void failSendsFrom(int nth) { failSendsFrom_ = nth; }
  // Datagram mode: each queued reply is one datagram, cut to capacity and
  // never continued in the next Receive.
  void setDatagrams(bool on) { datagrams_ = on; }

  std::vector<ChannelEvent> events() const;
  std::vector<std::string> sent() const;          // bytes of each Send, in order
  std::vector<std::int64_t> sendTimes() const;    // virtual time of each Send
  bool connected() const;
  int connectCount() const;
  int receiveCount() const;
  void clearEvents();

  bool exists() const override { return exists_; }
  int Connect(const std::string& address) override;
  void Disconnect() override;
  int Send(const void* data, std::size_t length) override;
  int Receive(void* buffer, std::size_t capacity, std::size_t* count) override;
  void BeginExchange() override;
  void EndExchange() override;
  using card::Channel::Send;

 private:
  struct Scripted {
    int result;
    std::string bytes;
    std::int64_t due = 0;
  };
  void record(ChannelEvent::Kind kind, std::string bytes);

  platform::VirtualClock* clock_;
  bool exists_;
  mutable std::mutex mutex_;
  std::deque<int> connectResults_;
  std::deque<Scripted> replies_;
  std::function<void(const std::string&)> onSend_;
  std::vector<ChannelEvent> events_;
  bool connected_;
  bool datagrams_ = false;
  int sends_ = 0;
  int failSendsFrom_ = -1;
  int receiveCostMs_ = 0;
};

}  // namespace testing_support
