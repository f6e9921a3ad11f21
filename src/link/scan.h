// The broadcast scan: one query to every card on the segment and the replies
// that come back, one datagram each. The window's search, cardctl's search,
// the end-to-end tests and the benchmark all run this one loop.
#pragma once

#include <functional>
#include <string>

#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"

namespace card {

inline constexpr const char* kSearchQuery = "query all_in_strut \n";
inline constexpr const char* kBootQuery = "query all_in_boot\n";

constexpr int kSearchReceiveCapacity = 500;
// Receives before the scan ends when no card answers. A card's first reply
// allows one more, and so does its first repeat; further repeats and
// datagrams that are no card reply allow none and use none up.
constexpr int kInitialReceiveBound = 10;
// Datagrams left from an earlier search are read and thrown away before the
// query, at most this many and for at most this long. Traffic that outlasts
// the drain is a flood: the cards' replies would drown in it.
constexpr int kMaxDrainedDatagrams = 4096;
constexpr int kMaxDrainMs = 1000;
// The replies are read for at most this long after the query's pause.
constexpr int kSearchWindowMs = 2000;

struct ScanResult {
  int cards = 0;      // distinct cards (by MAC) handed to onCard
  int replies = 0;    // valid replies, repeats included
  int rejected = 0;   // datagrams that were no valid card reply
  int receives = 0;   // receives that counted toward the bound
  int drained = 0;    // stale datagrams thrown away before the query
  bool sendFailed = false;
  bool receiveFailed = false;
  // Traffic kept coming: it outlasted the drain (the query was not sent) or
  // the reply window. Cards' replies may have been hidden in it.
  bool flooded = false;
};

// Drains stale datagrams, sends query (inside one exchange), pauses 50 +
// 300 ms and reads replies until the receive bound or the reply window is
// reached. onCard gets each card the first time it answers, in arrival
// order; replies that are no card (IsCardReply) are counted and dropped.
ScanResult ScanCards(Channel& search, platform::Clock& clock, const std::string& query,
                     const std::function<void(const DeviceStatusRecord&)>& onCard);

}  // namespace card
