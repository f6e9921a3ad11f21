// SearchTable: one UDP socket for the broadcast search.
//
// Ports: cards listen on port 4400 (the Create port). The search binds its
// socket to LocalAddress on the second port, 8800, and sends each query from
// there; a card answers to the source address and port of the datagram it
// received, so its reply comes back to this socket. Each Receive yields one
// reply datagram.
//
// When LocalAddress is a loopback address (127.x.x.x) the query goes to
// 127.255.255.255 instead of the configured broadcast address: a search made
// against virtual cards on this machine never sends anything off it.
#include "handles.h"
#include "ipv4.h"

namespace pcomm {

namespace {
constexpr std::uint32_t kLoopbackBroadcast = 0x7FFFFFFF;  // 127.255.255.255
}

int SearchHandle::Connect(const char* localAddress) {
  if (!localAddress) return kErrBadArgument;
  auto local = ParseIpv4(localAddress);
  if (!local || replyPort_ < 0 || replyPort_ > 65535) return kErrBadArgument;
  Disconnect();
  net::Socket s = net::kNoSocket;
  if (net::OpenUdp(*local, static_cast<std::uint16_t>(replyPort_), &s) != 0) return kErrSocket;
  {
    std::lock_guard<std::mutex> lock(destMutex_);
    destination_ = IsLoopback(*local) ? kLoopbackBroadcast : broadcast_;
  }
  Replace(std::make_shared<OpenSocket>(s));
  return 0;
}

int SearchHandle::Send(const void* bytes, int length) {
  if (length < 0 || (length > 0 && !bytes)) return kErrBadArgument;
  auto s = socket();
  if (!s) return kErrNotConnected;
  std::uint32_t dest;
  {
    std::lock_guard<std::mutex> lock(destMutex_);
    dest = destination_;
  }
  std::lock_guard<std::mutex> lock(s->sendMutex);
  return net::SendDatagram(s->fd, dest, static_cast<std::uint16_t>(port_), bytes,
                           static_cast<std::size_t>(length)) == 0
             ? 0
             : kErrSocket;
}

int SearchHandle::Receive(void* buffer, int capacity, int* count) {
  if (!count) return kErrBadArgument;
  *count = 0;
  if (capacity < 0 || (capacity > 0 && !buffer)) return kErrBadArgument;
  auto s = socket();
  if (!s) return kErrNotConnected;
  std::lock_guard<std::mutex> lock(s->receiveMutex);
  if (net::WaitReadable(s->fd, kDatagramWaitMs) != net::WaitResult::Ready) return 0;
  long n = net::RecvDatagram(s->fd, buffer, static_cast<std::size_t>(capacity));
  *count = n > 0 ? static_cast<int>(n) : 0;
  return 0;
}

}  // namespace pcomm
