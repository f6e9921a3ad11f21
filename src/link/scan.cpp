#include "link/scan.h"

#include <algorithm>
#include <map>
#include <vector>

#include "link/command_channel.h"

namespace card {
namespace {

// Reads and drops whatever datagrams wait on the search handle; false when
// they kept coming past the drain's bounds.
bool Drain(Channel& search, platform::Clock& clock, ScanResult* result) {
  std::vector<std::uint8_t> buf(kSearchReceiveCapacity);
  const std::int64_t since = clock.now();
  for (;;) {
    std::size_t count = 0;
    if (search.Receive(buf.data(), buf.size(), &count) != 0 || count == 0) return true;
    if (++result->drained >= kMaxDrainedDatagrams || clock.now() - since >= kMaxDrainMs) return false;
  }
}

}  // namespace

ScanResult ScanCards(Channel& search, platform::Clock& clock, const std::string& query,
                     const std::function<void(const DeviceStatusRecord&)>& onCard) {
  ScanResult result;
  ExchangeScope exchange(search);
  if (!Drain(search, clock, &result)) {
    result.flooded = true;
    return result;
  }
  const std::int64_t sentAt = clock.now();
  if (search.Send(query) != 0) {
    result.sendFailed = true;
    return result;
  }
  clock.sleepMs(50);
  clock.sleepMs(300);
  // On a shortened clock the cards still get the pause's answer window:
  // until then a receive that finds nothing does not count.
  const std::int64_t answerBy = sentAt + platform::AnswerWindowMs(clock, 350);
  const std::int64_t windowStart = clock.now();
  int bound = kInitialReceiveBound;
  std::map<std::string, int> answers;  // by MAC: how many replies came
  std::vector<std::uint8_t> buf(4096);
  while (result.receives < bound) {
    if (clock.now() - windowStart >= kSearchWindowMs) {
      result.flooded = true;
      break;
    }
    std::fill(buf.begin(), buf.end(), 0);
    std::size_t count = 0;
    if (search.Receive(buf.data(), kSearchReceiveCapacity, &count) != 0) {
      result.receiveFailed = true;
      break;
    }
    if (count > 0 && !IsCardReply(buf.data(), count)) {
      ++result.rejected;
      continue;
    }
    if (count == 0 && clock.now() < answerBy) {
      clock.sleepMs(kReplyPollMs);
      continue;
    }
    ++result.receives;
    if (count == 0) continue;
    ++result.replies;
    const DeviceStatusRecord r = CopyRecord(buf.data(), count, 0);
    const int heard = ++answers[MacText(r)];
    if (heard <= 2) ++bound;
    if (heard == 1) {
      ++result.cards;
      if (onCard) onCard(r);
    }
  }
  return result;
}

}  // namespace card
