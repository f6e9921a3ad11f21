#include "link/announce.h"

#include "link/command_channel.h"
#include "platform/text.h"

namespace card {

int SendFramed(Channel& ch, std::string_view line, Framing framing) {
  return framing == Framing::Exchange ? SendLine(ch, line) : ch.Send(line);
}

int AnnounceChecksum(Channel& ch, platform::Clock& clock, DeviceStatusRecord& record, int waitMs,
                     Framing framing) {
  const std::uint32_t crc = record.updateChecksum();
  const int sent = SendFramed(ch, platform::Format("set Sys_Crc %x \n", crc), framing);
  // The card now waits for the line this checksum announces: a cancel must
  // not fall between the two.
  if (sent == 0) clock.holdMs(waitMs);
  return sent;
}

int SendAnnounced(Channel& ch, platform::Clock& clock, DeviceStatusRecord& record, int waitMs,
                  std::string_view line, Framing framing) {
  if (int r = AnnounceChecksum(ch, clock, record, waitMs, framing); r != 0) return r;
  return SendFramed(ch, line, framing);
}

bool SendChange(Channel& ch, platform::Clock& clock, DeviceStatusRecord* record, const DeviceStatusRecord& candidate,
                int waitMs, std::string_view line, Framing framing) {
  DeviceStatusRecord next = candidate;
  if (SendAnnounced(ch, clock, next, waitMs, line, framing) != 0) return false;
  *record = next;
  return true;
}

}  // namespace card
