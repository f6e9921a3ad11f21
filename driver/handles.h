// The driver's handles: a LinkTable handle is one TCP connection to a card,
// a SearchTable handle one UDP socket for the broadcast search. Handles are
// independent of each other and may be used from several threads; the only
// state shared between them is the handle table.
//
// Bounds (all stated here so callers can rely on them):
//  - Connect gives up after kConnectTimeoutMs.
//  - Receive on a link waits at most kFirstByteWaitMs for the first byte.
//    Once bytes arrive it keeps collecting while more follow within
//    kSettleGapMs of each other, so a record the card sent in several TCP
//    segments comes back whole; the whole call never takes longer than
//    kReceiveBoundMs.
//  - Receive on a search handle waits at most kDatagramWaitMs for a datagram.
//  - Send waits at most kSendStallMs for room in the socket buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "exchange_gate.h"
#include "socket_posix.h"

namespace pcomm {

constexpr int kConnectTimeoutMs = 1000;
constexpr int kFirstByteWaitMs = 20;
constexpr int kSettleGapMs = 5;
constexpr int kReceiveBoundMs = 45;
constexpr int kDatagramWaitMs = 20;
constexpr int kSendStallMs = 2000;

// Results other than 0.
constexpr int kErrBadHandle = -1;
constexpr int kErrBadArgument = -2;
constexpr int kErrNotConnected = -3;
constexpr int kErrClosed = -4;
constexpr int kErrSocket = -5;

// One open socket. Kept by shared pointer so that a Disconnect from another
// thread never closes a descriptor that a Send or Receive is still using.
struct OpenSocket {
  explicit OpenSocket(net::Socket s) : fd(s) {}
  ~OpenSocket() { net::Close(fd); }
  net::Socket fd;
  std::mutex sendMutex;
  std::mutex receiveMutex;
  bool peerClosed = false;  // guarded by receiveMutex
};

class Handle {
 public:
  virtual ~Handle() = default;
  virtual int Connect(const char* address) = 0;
  virtual void Disconnect();
  virtual int Send(const void* bytes, int length) = 0;
  virtual int Receive(void* buffer, int capacity, int* count) = 0;
  ExchangeGate& gate() { return gate_; }

 protected:
  std::shared_ptr<OpenSocket> socket();
  // Puts s in place of the current socket; the old one is shut down.
  void Replace(std::shared_ptr<OpenSocket> s);

 private:
  std::mutex mutex_;
  std::shared_ptr<OpenSocket> socket_;
  ExchangeGate gate_;
};

class LinkHandle : public Handle {
 public:
  explicit LinkHandle(int port) : port_(port) {}
  int Connect(const char* address) override;
  int Send(const void* bytes, int length) override;
  int Receive(void* buffer, int capacity, int* count) override;

 private:
  int port_;
};

class SearchHandle : public Handle {
 public:
  SearchHandle(int port, int replyPort, std::uint32_t broadcast)
      : port_(port), replyPort_(replyPort), broadcast_(broadcast) {}
  int Connect(const char* localAddress) override;
  int Send(const void* bytes, int length) override;
  int Receive(void* buffer, int capacity, int* count) override;

 private:
  int port_;
  int replyPort_;
  std::uint32_t broadcast_;
  std::mutex destMutex_;
  std::uint32_t destination_ = 0;
};

// The handle table: ids are never 0 and never reused within a process.
std::uint32_t AddHandle(std::shared_ptr<Handle> h);
std::shared_ptr<Handle> FindHandle(std::uint32_t id);
std::shared_ptr<Handle> RemoveHandle(std::uint32_t id);

}  // namespace pcomm
