#include "socket_posix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace pcomm::net {
namespace {

sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

WaitResult WaitFor(Socket s, short events, int timeoutMs) {
  pollfd p{s, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return WaitResult::Error;
    if (r == 0) return WaitResult::Timeout;
    // A hang-up or error counts as ready: the next read or write reports it.
    return WaitResult::Ready;
  }
}

}  // namespace

int OpenTcp(std::uint32_t address, std::uint16_t port, int timeoutMs, Socket* out) {
  *out = kNoSocket;
  Socket s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return errno ? errno : -1;
  int one = 1;
  // Command lines are small and answered at once; do not hold them back.
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in sa = Endpoint(address, port);
  int r = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  if (r != 0 && errno != EINPROGRESS) {
    int e = errno;
    ::close(s);
    return e ? e : -1;
  }
  if (r != 0) {
    if (WaitFor(s, POLLOUT, timeoutMs) != WaitResult::Ready) {
      ::close(s);
      return ETIMEDOUT;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      ::close(s);
      return err ? err : -1;
    }
  }
  *out = s;
  return 0;
}

int OpenUdp(std::uint32_t address, std::uint16_t port, Socket* out) {
  *out = kNoSocket;
  Socket s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return errno ? errno : -1;
  // No SO_REUSEADDR: with it another local program could bind the same
  // port and take the cards' replies.
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  // Fifty cards answer one search within a few milliseconds; keep room for all.
  int room = 512 * 1024;
  ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  sockaddr_in sa = Endpoint(address, port);
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    int e = errno;
    ::close(s);
    return e ? e : -1;
  }
  *out = s;
  return 0;
}

WaitResult WaitReadable(Socket s, int timeoutMs) { return WaitFor(s, POLLIN, timeoutMs); }
WaitResult WaitWritable(Socket s, int timeoutMs) { return WaitFor(s, POLLOUT, timeoutMs); }

long RecvSome(Socket s, void* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t n = ::recv(s, buffer, capacity, MSG_DONTWAIT);
    if (n > 0) return static_cast<long>(n);
    if (n == 0) return capacity == 0 ? kNothingYet : kPeerClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
    return kSocketError;
  }
}

long SendSome(Socket s, const void* bytes, std::size_t length) {
  for (;;) {
    ssize_t n = ::send(s, bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

int SendDatagram(Socket s, std::uint32_t address, std::uint16_t port, const void* bytes, std::size_t length) {
  sockaddr_in sa = Endpoint(address, port);
  for (;;) {
    ssize_t n = ::sendto(s, bytes, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n >= 0) return static_cast<std::size_t>(n) == length ? 0 : -1;
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(s, POLLOUT, 100) == WaitResult::Ready) continue;
    return errno ? errno : -1;
  }
}

long RecvDatagram(Socket s, void* buffer, std::size_t capacity) {
  for (;;) {
    // Without MSG_TRUNC the kernel cuts the datagram to capacity and drops the rest.
    ssize_t n = ::recv(s, buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    return -1;
  }
}

void Shutdown(Socket s) {
  if (s != kNoSocket) ::shutdown(s, SHUT_RDWR);
}

void Close(Socket s) {
  if (s != kNoSocket) ::close(s);
}

}  // namespace pcomm::net
