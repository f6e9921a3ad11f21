#include "modbus/monitor.h"

#include <ctime>

#include "link/command_channel.h"
#include "platform/codec.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::modbus {

const std::vector<std::string>& MonitorTypeItems() {
  static const std::vector<std::string> items = {"hex", "ascii", "modbus-rtu"};
  return items;
}

std::string StartLine(int type) { return type == kMonitorAscii ? "set get485ascii 1 \n" : "set get485 1 \n"; }

namespace {

std::string TimeText(std::int64_t at) {
  const std::time_t seconds = static_cast<std::time_t>(at / 1000);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return platform::Format("%02d:%02d:%02d:%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(at % 1000));
}

}  // namespace

std::string BlockStamp(const MonitorBlock& b) { return TimeText(b.at) + platform::Format(" len=%03zu", b.bytes.size()); }

std::string HexBody(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3 + bytes.size() / 16);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
    out += (i + 1) % 32 == 0 ? "\r\n" : " ";
  }
  return out;
}

std::string AsciiBody(std::string_view bytes) {
  const std::size_t zero = bytes.find('\0');
  return platform::GbkToUtf8(bytes.substr(0, zero));
}

std::string FormatBlock(const MonitorBlock& b) {
  const std::string body = b.type == kMonitorAscii ? AsciiBody(b.bytes) : HexBody(b.bytes);
  return "\n[" + BlockStamp(b) + "]: \n" + body + "\n";
}

std::string FormatRtuBlock(const MonitorBlock& b, RtuFramer& framer) {
  std::string out = "\n[" + BlockStamp(b) + "]: \n";
  const std::vector<RtuFrame> frames = framer.Feed(b.bytes, b.at);
  for (const RtuFrame& f : frames) out += DescribeFrame(f) + "\n";
  if (framer.pending() > 0) out += platform::Format(platform::Tr("（%zu个字节等待帧的其余部分）\n"), framer.pending());
  return out;
}

std::string FormatRtuIdle(std::int64_t nowMs, RtuFramer& framer, bool ended) {
  const std::vector<RtuFrame> frames = ended ? framer.Flush() : framer.Idle(nowMs);
  if (frames.empty()) return {};
  std::string out = "\n[" + TimeText(nowMs) + platform::Tr(" 线路空闲]: \n");
  for (const RtuFrame& f : frames) out += DescribeFrame(f) + "\n";
  return out;
}

void BlockQueue::Push(MonitorBlock b) {
  std::lock_guard<std::mutex> lock(mutex_);
  blocks_.push_back(std::move(b));
  while (blocks_.size() > limit_) {
    blocks_.pop_front();
    ++dropped_;
  }
}

BlockQueue::Drained BlockQueue::Drain(std::size_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  Drained d;
  std::size_t bytes = 0;
  while (!blocks_.empty() && bytes < maxBytes) {
    bytes += blocks_.front().bytes.size();
    d.blocks.push_back(std::move(blocks_.front()));
    blocks_.pop_front();
  }
  d.dropped = dropped_;
  dropped_ = 0;
  return d;
}

std::size_t BlockQueue::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return blocks_.size();
}

MonitorEnd RunMonitor(Channel& link, platform::Clock& clock, const std::string& address, const std::atomic<int>& type,
                      BlockQueue& queue) {
  if (link.Connect(address) != 0) return MonitorEnd::ConnectFailed;
  struct Hangup {
    Channel& link;
    ~Hangup() { link.Disconnect(); }
  } hangup{link};
  if (SendLine(link, StartLine(type.load())) != 0) return MonitorEnd::LinkClosed;
  int sent = kMonitorHex;
  std::string buffer(kReceiveCapacity, '\0');
  for (;;) {
    clock.sleepMs(0);  // ends the loop once the window closes
    const int now = type.load();
    if (StartLine(now) != StartLine(sent) && SendLine(link, StartLine(now)) != 0) return MonitorEnd::LinkClosed;
    sent = now;
    std::size_t n = 0;
    int rc;
    {
      ExchangeScope exchange(link);
      rc = link.Receive(buffer.data(), buffer.size(), &n);
    }
    // A closed or broken link stays so: polling it again would only spin.
    if (rc != 0) return MonitorEnd::LinkClosed;
    if (n > 0)
      queue.Push({buffer.substr(0, n), clock.now(), now});
    else
      clock.sleepMs(kIdlePollMs);
  }
}

}  // namespace card::modbus
