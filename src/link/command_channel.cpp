#include "link/command_channel.h"

#include <algorithm>
#include <cstring>

#include "link/record.h"
#include "platform/text.h"

namespace card {

int SendLine(Channel& ch, std::string_view text) {
  ExchangeScope exchange(ch);
  return ch.Send(text);
}

int ReceiveAfterPause(Channel& ch, platform::Clock& clock, std::int64_t sentAt, int pauseMs, void* buffer,
                      std::size_t capacity, std::size_t* count) {
  *count = 0;
  int result = ch.Receive(buffer, capacity, count);
  const std::int64_t window = platform::AnswerWindowMs(clock, pauseMs);
  while (result == 0 && *count == 0 && clock.now() - sentAt < window) {
    clock.sleepMs(kReplyPollMs);
    result = ch.Receive(buffer, capacity, count);
  }
  return result;
}

Reply Exchange(Channel& ch, platform::Clock& clock, std::string_view text, int pauseMs, void* buffer,
               std::size_t capacity) {
  std::memset(buffer, 0, capacity);
  Reply reply;
  ExchangeScope exchange(ch);
  const std::int64_t sentAt = clock.now();
  reply.result = ch.Send(text);
  if (reply.result != 0) return reply;
  clock.sleepMs(pauseMs);
  reply.result = ReceiveAfterPause(ch, clock, sentAt, pauseMs, buffer, capacity, &reply.count);
  return reply;
}

std::string ReadRawLine(std::uint32_t address, int length) {
  return platform::Format("file read_raw 0x%x %d\n", address, length);
}

Reply ReadRaw(Channel& ch, platform::Clock& clock, std::uint32_t address, int length, int pauseMs,
              void* buffer, std::size_t capacity) {
  return Exchange(ch, clock, ReadRawLine(address, length), pauseMs, buffer, capacity);
}

bool MemorySink::Append(const std::uint8_t* data, std::size_t length) {
  std::size_t room = limit_ - std::min(limit_, bytes_.size());
  bytes_.insert(bytes_.end(), data, data + std::min(room, length));
  return true;
}

namespace {

enum class ReplyEnd {
  Whole,          // the asked length is in
  Short,          // fewer bytes, then the link stayed quiet
  Nothing,        // not one byte within the wait
  Overrun,        // asked for nothing, bytes came
  StillArriving,  // bytes were still coming in when the wait ended
  ReceiveFailed,
};

// Receives the reply to a request for asked bytes (after its pause) into
// bytes, waiting at most waitMs.
ReplyEnd ReceiveReply(Channel& ch, platform::Clock& clock, std::size_t asked, int waitMs,
                      std::vector<std::uint8_t>* bytes) {
  // Never more than asked: a receive that may take more waits on for it
  // (the driver collects while bytes keep coming), which would cost every
  // whole reply that wait. Asked for nothing, any byte is a surplus.
  const std::size_t room = std::max<std::size_t>(asked, 1);
  bytes->assign(room, 0);
  std::size_t got = 0;
  const std::int64_t begin = clock.now();
  std::int64_t lastBytes = begin;
  auto end = [&](ReplyEnd e) {
    bytes->resize(std::min(got, asked));
    return e;
  };
  for (;;) {
    std::size_t count = 0;
    if (ch.Receive(bytes->data() + got, room - got, &count) != 0) return end(ReplyEnd::ReceiveFailed);
    const std::int64_t now = clock.now();
    if (count > 0) {
      got += count;
      lastBytes = now;
      if (got > asked) return end(ReplyEnd::Overrun);
      if (got == asked) return end(ReplyEnd::Whole);
    } else if (got > 0 && now - lastBytes >= kReplyQuietMs) {
      return end(ReplyEnd::Short);
    }
    if (now - begin >= waitMs) return end(got == 0 ? ReplyEnd::Nothing : ReplyEnd::StillArriving);
    if (count == 0) clock.sleepMs(kReplyPollMs);
  }
}

}  // namespace

ChunkedResult ReadRawInRequests(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                                ByteSink& sink, const RawReadPlan& plan, const ProgressFn& progress) {
  ChunkedResult result;
  auto finish = [&](ChunkedStatus status) {
    result.status = status;
    if (!sink.Close() && status == ChunkedStatus::Complete) result.status = ChunkedStatus::SinkFailed;
    return result;
  };
  std::vector<std::uint8_t> reply;
  std::uint32_t done = 0;
  std::int64_t waited = 0;  // beyond the pauses
  bool irregular = false;   // a reply came short
  while (done < total) {
    const std::int64_t allowed = kReadMarginMs + static_cast<std::int64_t>(done / kChunkSize) * kReadAllowanceMs;
    if (waited >= allowed) return finish(ChunkedStatus::TimedOut);
    const std::uint32_t asked = std::max<std::uint32_t>(1, plan.ask ? plan.ask(done) : kChunkSize);
    ReplyEnd end;
    {
      ExchangeScope exchange(ch);
      if (ch.Send(ReadRawLine(start + done, static_cast<int>(asked))) != 0) return finish(ChunkedStatus::SendFailed);
      clock.sleepMs(plan.pauseMs);
      const std::int64_t before = clock.now();
      end = ReceiveReply(ch, clock, asked, static_cast<int>(allowed - waited), &reply);
      waited += clock.now() - before;
    }
    switch (end) {
      case ReplyEnd::ReceiveFailed: return finish(ChunkedStatus::ReceiveFailed);
      case ReplyEnd::Overrun: return finish(ChunkedStatus::Unplaceable);
      // The read's deadline passed while a reply was awaited. A request is
      // never sent again for a reply that did not come: a late answer to the
      // first would stand as the start of the second's.
      case ReplyEnd::Nothing:
      case ReplyEnd::StillArriving: return finish(ChunkedStatus::TimedOut);
      case ReplyEnd::Short: irregular = true; break;
      case ReplyEnd::Whole: break;
    }
    const std::size_t take = std::min<std::size_t>(reply.size(), total - done);
    if (!sink.Append(reply.data(), take)) return finish(ChunkedStatus::SinkFailed);
    done += static_cast<std::uint32_t>(take);
    result.received = done;
    if (progress) progress(done >= total ? 100 : static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total));
  }
  if (progress && total == 0) progress(100);
  if (plan.pauseAtEnd) clock.sleepMs(plan.pauseMs);
  // Nothing may follow the last reply. After a short reply, a late rest
  // could still be on its way: it is waited for as long as a reply may
  // pause.
  {
    ExchangeScope exchange(ch);
    const ReplyEnd after = ReceiveReply(ch, clock, 0, irregular ? kReplyQuietMs : 0, &reply);
    if (after == ReplyEnd::ReceiveFailed) return finish(ChunkedStatus::ReceiveFailed);
    if (after == ReplyEnd::Overrun) return finish(ChunkedStatus::Unplaceable);
  }
  return finish(ChunkedStatus::Complete);
}

ChunkedResult ReadRawChunked(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                             ByteSink& sink, const ProgressFn& progress) {
  return ReadRawInRequests(ch, clock, start, total, sink, RawReadPlan{}, progress);
}

bool ShouldSendPaced(std::size_t commandLength, int firmwareMajor) {
  return commandLength >= kPacedPieceSize && PacesUploads(firmwareMajor);
}

namespace {

// Polls every 500 ms for up to 10 s (on a shortened clock, for as long as
// a loaded machine may need: AnswerWindowMs).
PacedStatus WaitForAcknowledgement(Channel& ch, platform::Clock& clock) {
  char ack[10];
  const std::int64_t since = clock.now();
  const std::int64_t window = platform::AnswerWindowMs(clock, kMaxAckPolls * kAckPollMs);
  do {
    clock.sleepMs(kAckPollMs);
    std::size_t count = 0;
    ExchangeScope exchange(ch);
    if (ch.Receive(ack, sizeof ack, &count) != 0) return PacedStatus::ReceiveFailed;
    if (count > 0) return PacedStatus::Sent;
  } while (clock.now() - since < window);
  return PacedStatus::NoAcknowledgement;
}

}  // namespace

PacedStatus SendPaced(Channel& ch, platform::Clock& clock, std::string_view text) {
  std::size_t offset = std::min(text.size(), kPacedPieceSize);
  if (SendLine(ch, text.substr(0, offset)) != 0) return PacedStatus::SendFailed;
  // Every piece after the first waits for the card's acknowledgement; the
  // last one goes even when it is empty (a command of exactly 1200 bytes).
  for (;;) {
    if (PacedStatus ack = WaitForAcknowledgement(ch, clock); ack != PacedStatus::Sent) return ack;
    const std::size_t piece = std::min(text.size() - offset, kPacedPieceSize);
    const bool last = text.size() - offset <= kPacedPieceSize;
    if (SendLine(ch, text.substr(offset, piece)) != 0) return PacedStatus::SendFailed;
    offset += piece;
    if (last) break;
  }
  clock.sleepMs(2000);
  if (SendLine(ch, std::string_view("file end", 8)) != 0) return PacedStatus::SendFailed;
  return PacedStatus::Sent;
}

}  // namespace card
