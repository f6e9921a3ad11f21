// LinkTable: one TCP connection to a card's address on the port given at
// Create (1001 commands, 1002 files, 1000 recovery firmware).
#include <chrono>

#include "handles.h"
#include "ipv4.h"

namespace pcomm {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

int LinkHandle::Connect(const char* address) {
  if (!address) return kErrBadArgument;
  auto ip = ParseIpv4(address);
  if (!ip || port_ <= 0 || port_ > 65535) return kErrBadArgument;
  // Connecting again replaces the old connection, as a reconnect would.
  Disconnect();
  net::Socket s = net::kNoSocket;
  if (net::OpenTcp(*ip, static_cast<std::uint16_t>(port_), kConnectTimeoutMs, &s) != 0) return kErrSocket;
  Replace(std::make_shared<OpenSocket>(s));
  return 0;
}

int LinkHandle::Send(const void* bytes, int length) {
  if (length < 0 || (length > 0 && !bytes)) return kErrBadArgument;
  if (length == 0) return 0;
  auto s = socket();
  if (!s) return kErrNotConnected;
  std::lock_guard<std::mutex> lock(s->sendMutex);
  const auto* p = static_cast<const char*>(bytes);
  std::size_t left = static_cast<std::size_t>(length);
  while (left > 0) {
    long n = net::SendSome(s->fd, p, left);
    if (n < 0) return kErrSocket;
    if (n == 0) {
      // The card is not reading; give it a bounded while to make room.
      if (net::WaitWritable(s->fd, kSendStallMs) != net::WaitResult::Ready) return kErrSocket;
      continue;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

int LinkHandle::Receive(void* buffer, int capacity, int* count) {
  if (!count) return kErrBadArgument;
  *count = 0;
  if (capacity < 0 || (capacity > 0 && !buffer)) return kErrBadArgument;
  auto s = socket();
  if (!s) return kErrNotConnected;
  std::lock_guard<std::mutex> lock(s->receiveMutex);
  if (s->peerClosed) return kErrClosed;
  if (capacity == 0) return 0;

  const auto deadline = Clock::now() + std::chrono::milliseconds(kReceiveBoundMs);
  if (net::WaitReadable(s->fd, kFirstByteWaitMs) != net::WaitResult::Ready) return 0;

  auto* out = static_cast<char*>(buffer);
  int got = 0;
  for (;;) {
    long n = net::RecvSome(s->fd, out + got, static_cast<std::size_t>(capacity - got));
    if (n > 0) {
      got += static_cast<int>(n);
      if (got == capacity) break;
    } else if (n == net::kPeerClosed) {
      s->peerClosed = true;
      // The bytes that came before the close are delivered now; the next
      // Receive reports the close.
      if (got == 0) return kErrClosed;
      break;
    } else if (n == net::kSocketError) {
      if (got == 0) return kErrSocket;
      break;
    }
    // More of a reply still coming in is collected while it keeps flowing.
    int wait = std::min(kSettleGapMs, MsLeft(deadline));
    if (wait == 0 || net::WaitReadable(s->fd, wait) != net::WaitResult::Ready) break;
  }
  *count = got;
  return 0;
}

}  // namespace pcomm
