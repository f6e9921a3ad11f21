// The checksum announcement that goes before every "set" line changing a
// record field: the card compares the announced CRC-32 with its own once the
// line has been applied.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/channel.h"
#include "link/record.h"
#include "platform/clock.h"

namespace card {

// Waits after the announcement: main window, panel driver dialog, advanced
// settings dialog; broadcast lines are only 50 ms apart.
constexpr int kMainAnnounceWaitMs = 2000;
constexpr int kDriverDialogAnnounceWaitMs = 1500;
constexpr int kAdvancedAnnounceWaitMs = 2500;
constexpr int kBroadcastGapMs = 50;

// How a line goes out: inside the exchange brackets of a link, or by the
// search handle's Send alone (broadcast lines).
enum class Framing { Exchange, Bare };

int SendFramed(Channel& ch, std::string_view line, Framing framing);

// Recomputes the record's checksum over bytes 0..255, stores it at offset
// 333, sends "set Sys_Crc %x \n" and waits waitMs (a wait that a cancel does
// not cut short; none after a failed Send). Returns Send's result.
int AnnounceChecksum(Channel& ch, platform::Clock& clock, DeviceStatusRecord& record, int waitMs,
                     Framing framing = Framing::Exchange);

// A changed field: record already holds the new value. Announces its
// checksum, then sends line. 0 only when both were sent; after a failed
// announcement the line is not sent.
int SendAnnounced(Channel& ch, platform::Clock& clock, DeviceStatusRecord& record, int waitMs,
                  std::string_view line, Framing framing = Framing::Exchange);

// One changed field of a record copy: candidate is *record with the new
// value. Announces candidate's checksum, sends line, and only when both went
// out makes candidate (with its checksum) the new *record: the copy never
// runs ahead of the card. False on a failed send.
bool SendChange(Channel& ch, platform::Clock& clock, DeviceStatusRecord* record, const DeviceStatusRecord& candidate,
                int waitMs, std::string_view line, Framing framing = Framing::Exchange);

}  // namespace card
