// Any datagrams answering a search: the list never holds more than 50 rows,
// never the same MAC twice, and never a row that no valid reply described.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "platform/crc32.h"
#include "params/discovery.h"
#include "support/fake_channel.h"
#include "support/fake_ports.h"

namespace {

std::uint16_t U16(const std::string& d, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(d[at]) | static_cast<std::uint8_t>(d[at + 1]) << 8);
}

// Written out here rather than taken from the tool: the bytes a datagram must
// hold before it may describe a card.
bool Valid(const std::string& d) {
  if (d.size() < 337) return false;
  if ((U16(d, 0) & 0xF000) != 0x8000) return false;
  if (U16(d, 193) >= 17) {
    std::uint32_t stored = 0;
    std::memcpy(&stored, d.data() + 333, 4);
    if (card::Crc32(d.data(), 256) != stored) return false;
  }
  for (std::size_t i = 211; i < 251 && d[i] != '\0'; ++i)
    if (static_cast<unsigned char>(d[i]) <= 0x20 || d[i] == 0x7F) return false;
  return true;
}

std::string Mac(const std::string& d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", U16(d, 79), U16(d, 81), U16(d, 83), U16(d, 85),
                U16(d, 87), U16(d, 89));
  return buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::VirtualClock clock;
  testing_support::FakeChannel search(&clock, true, testing_support::FakeChannel::AlreadyConnected);
  testing_support::FakeUser user(&clock);
  testing_support::FakeList list;
  card::MainState state;
  search.setDatagrams(true);
  // Datagrams: a two-byte length, then that many bytes; they arrive after
  // the query, so none is drained as stale.
  std::vector<std::string> datagrams;
  std::set<std::string> validMacs;
  std::size_t pos = 0;
  while (pos + 2 <= size) {
    std::size_t n = (data[pos] | (data[pos + 1] << 8)) % 1200;
    pos += 2;
    n = std::min(n, size - pos);
    std::string d(reinterpret_cast<const char*>(data + pos), n);
    pos += n;
    // What the search reads of it: 500 bytes at most.
    if (Valid(d.substr(0, 500))) validMacs.insert(Mac(d));
    datagrams.push_back(d);
  }
  search.onSend([&](const std::string&) {
    for (const auto& d : datagrams) search.queueReply(d);
  });
  card::SearchDevices(&search, clock, user, list, state, false);
  auto rows = list.rows();
  if (rows.size() > card::DeviceTable::kSlots) __builtin_trap();
  std::set<std::string> macs;
  for (const auto& r : rows) {
    if (!macs.insert(r.mac).second) __builtin_trap();
    if (!validMacs.count(r.mac)) __builtin_trap();
  }
  return 0;
}
