// The broadcast search as the tool performs it, for tests and benchmarks:
// send the query, pause 50 + 300 ms, then Receive (capacity 500) until the
// receive bound is reached: 10, raised by one for every new card. Every
// Receive counts toward the bound, empty or not.
#pragma once

#include <string>
#include <vector>

#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"

namespace harness {

struct SearchResult {
  std::vector<card::DeviceStatusRecord> cards;  // distinct MACs, in arrival order
  int replies = 0;     // non-empty datagrams, duplicates included
  int receives = 0;
  bool failed = false;  // Send or Receive failed
};

SearchResult Search(card::Channel& search, platform::Clock& clock, const std::string& query = "query all_in_strut \n");

}  // namespace harness
