#include "link/scan.h"

#include <algorithm>
#include <set>
#include <vector>

#include "link/command_channel.h"

namespace card {

int DrainDatagrams(Channel& search) {
  std::vector<std::uint8_t> buf(kSearchReceiveCapacity);
  int drained = 0;
  for (; drained < kMaxDrainedDatagrams; ++drained) {
    std::size_t count = 0;
    if (search.Receive(buf.data(), buf.size(), &count) != 0 || count == 0) break;
  }
  return drained;
}

ScanResult ScanCards(Channel& search, platform::Clock& clock, const std::string& query,
                     const std::function<void(const DeviceStatusRecord&)>& onCard) {
  ScanResult result;
  ExchangeScope exchange(search);
  result.drained = DrainDatagrams(search);
  if (search.Send(query) != 0) {
    result.sendFailed = true;
    return result;
  }
  clock.sleepMs(50);
  clock.sleepMs(300);
  int bound = kInitialReceiveBound;
  std::set<std::string> seen;
  std::vector<std::uint8_t> buf(4096);
  while (result.receives < bound) {
    std::fill(buf.begin(), buf.end(), 0);
    std::size_t count = 0;
    ++result.receives;
    if (search.Receive(buf.data(), kSearchReceiveCapacity, &count) != 0) {
      result.receiveFailed = true;
      break;
    }
    if (count == 0) continue;
    if (!IsCardReply(buf.data(), count)) {
      ++result.rejected;
      continue;
    }
    ++result.replies;
    ++bound;
    const DeviceStatusRecord r = CopyRecord(buf.data(), count, 0);
    if (seen.insert(MacText(r)).second) {
      ++result.cards;
      if (onCard) onCard(r);
    }
  }
  return result;
}

}  // namespace card
