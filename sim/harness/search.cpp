#include "search.h"

#include <algorithm>
#include <cstring>

namespace harness {

SearchResult Search(card::Channel& search, platform::Clock& clock, const std::string& query) {
  SearchResult result;
  search.BeginExchange();
  if (search.Send(query) != 0) {
    search.EndExchange();
    result.failed = true;
    return result;
  }
  clock.sleepMs(50);
  clock.sleepMs(300);
  int bound = 10;
  std::vector<std::string> macs;
  char buffer[4096];
  for (;;) {
    std::memset(buffer, 0, sizeof buffer);
    std::size_t count = 0;
    ++result.receives;
    if (search.Receive(buffer, 500, &count) != 0) {
      result.failed = true;
      break;
    }
    if (count > 0) {
      ++result.replies;
      auto record = card::CopyRecord(reinterpret_cast<const std::uint8_t*>(buffer), sizeof buffer, 0);
      std::string mac = card::MacText(record);
      if (card::CheckRecord(record) && std::find(macs.begin(), macs.end(), mac) == macs.end()) {
        macs.push_back(mac);
        result.cards.push_back(record);
        ++bound;
      }
    }
    if (result.receives >= bound) break;
  }
  search.EndExchange();
  return result;
}

}  // namespace harness
