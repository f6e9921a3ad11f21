// The few socket calls the driver makes, behind one small interface so that
// a Winsock port replaces socket_posix.cpp and nothing else. Every socket is
// non-blocking; waiting is done with the Wait* calls and a bound.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pcomm::net {

using Socket = int;
constexpr Socket kNoSocket = -1;

enum class WaitResult { Ready, Timeout, Error };

// Connects to address:port (host byte order) within timeoutMs. 0 on success,
// non-zero when refused, unreachable, or not connected in time.
int OpenTcp(std::uint32_t address, std::uint16_t port, int timeoutMs, Socket* out);

// A UDP socket bound to address:port with SO_REUSEADDR and SO_BROADCAST.
int OpenUdp(std::uint32_t address, std::uint16_t port, Socket* out);

WaitResult WaitReadable(Socket s, int timeoutMs);
WaitResult WaitWritable(Socket s, int timeoutMs);

// Result of RecvSome: bytes read (> 0), or one of these.
constexpr long kNothingYet = 0;
constexpr long kPeerClosed = -1;
constexpr long kSocketError = -2;
long RecvSome(Socket s, void* buffer, std::size_t capacity);

// Bytes accepted by the kernel now (0 when its buffer is full), or -1 on error.
long SendSome(Socket s, const void* bytes, std::size_t length);

// One datagram; 0 when sent whole.
int SendDatagram(Socket s, std::uint32_t address, std::uint16_t port, const void* bytes, std::size_t length);
// One datagram cut to capacity; its length, or -1 when none is waiting.
long RecvDatagram(Socket s, void* buffer, std::size_t capacity);

// Wakes every thread waiting on s; the descriptor stays valid until Close.
void Shutdown(Socket s);
void Close(Socket s);

}  // namespace pcomm::net
