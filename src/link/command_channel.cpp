#include "link/command_channel.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace card {

int SendLine(Channel& ch, std::string_view text) {
  ch.BeginExchange();
  int r = ch.Send(text);
  ch.EndExchange();
  return r;
}

Reply Exchange(Channel& ch, platform::Clock& clock, std::string_view text, int pauseMs, void* buffer,
               std::size_t capacity) {
  std::memset(buffer, 0, capacity);
  Reply reply;
  ch.BeginExchange();
  ch.Send(text);
  clock.sleepMs(pauseMs);
  reply.result = ch.Receive(buffer, capacity, &reply.count);
  ch.EndExchange();
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

FileSink::FileSink(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}

FileSink::~FileSink() { Close(); }

bool FileSink::Append(const std::uint8_t* data, std::size_t length) {
  return file_ && std::fwrite(data, 1, length, file_) == length;
}

bool FileSink::Close() {
  if (!file_) return true;
  bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  return ok;
}

ChunkedResult ReadRawChunked(Channel& ch, platform::Clock& clock, std::uint32_t start, std::uint32_t total,
                             ByteSink& sink, const ProgressFn& progress) {
  ChunkedResult result;
  std::vector<std::uint8_t> buffer(kChunkSize);
  int emptyInARow = 0;
  std::uint32_t done = 0;
  for (;;) {
    ch.BeginExchange();
    if (ch.Send(ReadRawLine(start + done, kChunkSize)) != 0) {
      ch.EndExchange();
      result.status = ChunkedStatus::SendFailed;
      break;
    }
    clock.sleepMs(kChunkPauseMs);
    std::size_t count = 0;
    std::fill(buffer.begin(), buffer.end(), 0);
    int r = ch.Receive(buffer.data(), buffer.size(), &count);
    ch.EndExchange();
    if (r != 0) {
      result.status = ChunkedStatus::ReceiveFailed;
      break;
    }
    if (count == 0) {
      if (++emptyInARow >= kMaxEmptyChunkReplies) {
        result.status = ChunkedStatus::NoReply;
        break;
      }
      continue;
    }
    emptyInARow = 0;
    std::size_t take = std::min<std::size_t>(count, total - done);
    if (!sink.Append(buffer.data(), take)) {
      result.status = ChunkedStatus::SinkFailed;
      break;
    }
    done += static_cast<std::uint32_t>(take);
    result.received = done;
    if (done >= total) {
      if (progress) progress(100);
      if (!sink.Close()) {
        result.status = ChunkedStatus::SinkFailed;
        return result;
      }
      clock.sleepMs(kChunkPauseMs);
      result.status = ChunkedStatus::Complete;
      return result;
    }
    if (progress) progress(static_cast<int>(static_cast<std::uint64_t>(done) * 100 / total));
  }
  sink.Close();
  return result;
}

int SendWithPayload(Channel& ch, std::string_view header, std::string_view payload) {
  std::string text;
  text.reserve(header.size() + payload.size());
  text.append(header);
  text.append(payload);
  return SendLine(ch, text);
}

bool ShouldSendPaced(std::size_t commandLength, int firmwareMajor) {
  return commandLength >= kPacedPieceSize && firmwareMajor > 38;
}

namespace {

bool WaitForAcknowledgement(Channel& ch, platform::Clock& clock) {
  char ack[10];
  for (int poll = 0; poll < kMaxAckPolls; ++poll) {
    clock.sleepMs(kAckPollMs);
    std::size_t count = 0;
    ch.BeginExchange();
    ch.Receive(ack, sizeof ack, &count);
    ch.EndExchange();
    if (count > 0) return true;
  }
  return false;
}

}  // namespace

PacedStatus SendPaced(Channel& ch, platform::Clock& clock, std::string_view text) {
  std::size_t first = std::min(text.size(), kPacedPieceSize);
  ch.BeginExchange();
  ch.Send(text.substr(0, first));
  ch.EndExchange();
  std::size_t offset = first;
  for (;;) {
    if (!WaitForAcknowledgement(ch, clock)) return PacedStatus::NoAcknowledgement;
    ch.BeginExchange();
    std::size_t remaining = text.size() - offset;
    if (remaining > kPacedPieceSize) {
      ch.Send(text.substr(offset, kPacedPieceSize));
      ch.EndExchange();
      offset += kPacedPieceSize;
      continue;
    }
    // The last piece; for a command of exactly 1200 bytes it is empty.
    ch.Send(text.substr(offset));
    ch.EndExchange();
    break;
  }
  clock.sleepMs(2000);
  SendLine(ch, std::string_view("file end", 8));
  return PacedStatus::Sent;
}

}  // namespace card
