// One driver handle as the operations see it: connect, send, receive and the
// exchange brackets. The real one sits on a driver table (driver_binding.h);
// tests use a fake that records every call with its virtual time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace card {

class Channel {
 public:
  virtual ~Channel() = default;

  // False when the handle could not be created (a handle of 0).
  virtual bool exists() const = 0;
  // 0 = connected. A link takes the card's IPv4 text, a search channel the
  // local adapter's address.
  virtual int Connect(const std::string& address) = 0;
  virtual void Disconnect() = 0;
  // 0 = sent.
  virtual int Send(const void* data, std::size_t length) = 0;
  int Send(std::string_view bytes) { return Send(bytes.data(), bytes.size()); }
  // 0 = ok; copies at most capacity bytes that have arrived and sets *count
  // (0 if none). Returns within a short time even when nothing arrived.
  virtual int Receive(void* buffer, std::size_t capacity, std::size_t* count) = 0;
  virtual void BeginExchange() = 0;
  virtual void EndExchange() = 0;
};

}  // namespace card
