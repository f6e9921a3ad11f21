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

Reply Exchange(Channel& ch, platform::Clock& clock, std::string_view text, int pauseMs, void* buffer,
               std::size_t capacity) {
  std::memset(buffer, 0, capacity);
  Reply reply;
  ExchangeScope exchange(ch);
  reply.result = ch.Send(text);
  if (reply.result != 0) return reply;
  clock.sleepMs(pauseMs);
  reply.result = ch.Receive(buffer, capacity, &reply.count);
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

ChunkedResult ReadRawChunked(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                             ByteSink& sink, const ProgressFn& progress) {
  ChunkedResult result;
  std::vector<std::uint8_t> buffer(kChunkSize);
  int emptyInARow = 0;
  std::uint32_t done = 0;
  auto finish = [&](ChunkedStatus status) {
    result.status = status;
    if (!sink.Close() && status == ChunkedStatus::Complete) result.status = ChunkedStatus::SinkFailed;
    return result;
  };
  while (done < total) {
    std::size_t count = 0;
    {
      ExchangeScope exchange(ch);
      if (ch.Send(ReadRawLine(start + done, kChunkSize)) != 0) return finish(ChunkedStatus::SendFailed);
      clock.sleepMs(kChunkPauseMs);
      std::fill(buffer.begin(), buffer.end(), 0);
      if (ch.Receive(buffer.data(), buffer.size(), &count) != 0) return finish(ChunkedStatus::ReceiveFailed);
    }
    if (count == 0) {
      if (++emptyInARow >= kMaxEmptyChunkReplies) return finish(ChunkedStatus::NoReply);
      continue;
    }
    emptyInARow = 0;
    std::size_t take = std::min<std::size_t>(count, total - done);
    if (!sink.Append(buffer.data(), take)) return finish(ChunkedStatus::SinkFailed);
    done += static_cast<std::uint32_t>(take);
    result.received = done;
    if (progress) progress(done >= total ? 100 : static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total));
  }
  if (progress && total == 0) progress(100);
  finish(ChunkedStatus::Complete);
  if (result.status == ChunkedStatus::Complete) clock.sleepMs(kChunkPauseMs);
  return result;
}

bool ShouldSendPaced(std::size_t commandLength, int firmwareMajor) {
  return commandLength >= kPacedPieceSize && PacesUploads(firmwareMajor);
}

namespace {

PacedStatus WaitForAcknowledgement(Channel& ch, platform::Clock& clock) {
  char ack[10];
  for (int poll = 0; poll < kMaxAckPolls; ++poll) {
    clock.sleepMs(kAckPollMs);
    std::size_t count = 0;
    ExchangeScope exchange(ch);
    if (ch.Receive(ack, sizeof ack, &count) != 0) return PacedStatus::ReceiveFailed;
    if (count > 0) return PacedStatus::Sent;
  }
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
