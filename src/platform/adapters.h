// The PC's network adapters: description, hardware address and IPv4
// addresses, in the order the operating system reports them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Adapter {
  std::string description;
  std::array<std::uint8_t, 6> mac{};
  std::vector<std::string> ipv4;  // "0.0.0.0" when the adapter has none
};

class AdapterSource {
 public:
  virtual ~AdapterSource() = default;
  // False when the table could not be read.
  virtual bool List(std::vector<Adapter>* out) = 0;
};

class SystemAdapters : public AdapterSource {
 public:
  bool List(std::vector<Adapter>* out) override;
};

}  // namespace platform
