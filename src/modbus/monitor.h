// The RS-485 run monitor: the card forwards what passes on its RS-485 port
// over a link of the monitor's own; a worker receives the blocks into a
// bounded queue, and the window formats them as hex, as text, or cut into
// Modbus RTU frames.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "link/channel.h"
#include "modbus/rtu.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card::modbus {

enum MonitorType { kMonitorHex = 0, kMonitorAscii = 1, kMonitorRtu = 2 };
const std::vector<std::string>& MonitorTypeItems();  // "hex", "ascii", "modbus-rtu"
// The line that asks the card for its stream: frames are read from the hex stream.
std::string StartLine(int type);

constexpr std::size_t kReceiveCapacity = 4096;
// A pause after an empty receive, so an idle link costs no CPU.
constexpr int kIdlePollMs = 10;
// Blocks waiting for the window; beyond this the oldest are dropped.
constexpr std::size_t kQueueBlocks = 256;
// Lines the log keeps; older ones are dropped from its top.
constexpr int kLogLines = 5000;
constexpr int kDrainIntervalMs = 100;
// The text one tick of the window adds to its log, at least one block's: a
// burst is shown over a few ticks instead of holding the window in one.
constexpr std::size_t kDrainTextPerTick = 16 * 1024;
constexpr int kDrainTimePerTickMs = 20;

inline constexpr const char* kMsgMonitorLinkClosed = TR_NOOP("—— 与设备的连接已断开，监视已停止 ——");
inline constexpr const char* kMsgMonitorNoConnect = TR_NOOP("—— 连接设备失败，没有开始监视 ——");

struct MonitorBlock {
  std::string bytes;
  std::int64_t at = 0;  // ms since the epoch, when it arrived
  int type = kMonitorAscii;
};

// "hh:mm:ss:mmm len=nnn" in local time.
std::string BlockStamp(const MonitorBlock& b);
// Each byte "%02X ", every 32nd "%02X\r\n".
std::string HexBody(std::string_view bytes);
// The bytes as GBK text, up to the first zero byte.
std::string AsciiBody(std::string_view bytes);
// "\n[<stamp>]: \n<body>\n" with the hex or the text body.
std::string FormatBlock(const MonitorBlock& b);
// The stamp, then one line per frame the block completes.
std::string FormatRtuBlock(const MonitorBlock& b, RtuFramer& framer);
// What a quiet line settles: the frames the framer was still waiting on,
// under "[hh:mm:ss:mmm 线路空闲]"; empty when there is nothing to settle.
// ended: the stream is over (the link closed), so nothing is waited for.
std::string FormatRtuIdle(std::int64_t nowMs, RtuFramer& framer, bool ended = false);

class BlockQueue {
 public:
  explicit BlockQueue(std::size_t limit = kQueueBlocks) : limit_(limit) {}
  void Push(MonitorBlock b);
  struct Drained {
    std::vector<MonitorBlock> blocks;
    std::size_t dropped = 0;  // blocks lost to the bound since the last drain
  };
  // Blocks from the oldest on, until they hold maxBytes or more (always at
  // least one block when there is one); the rest stays queued.
  Drained Drain(std::size_t maxBytes = SIZE_MAX);
  std::size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::deque<MonitorBlock> blocks_;
  std::size_t limit_;
  std::size_t dropped_ = 0;
};

enum class MonitorEnd { ConnectFailed, LinkClosed };

// Connects, sends the start line of the selected type, then receives blocks
// into queue until the link closes or fails, or the clock is cancelled
// (which throws platform::OperationAborted out of it). The loop starts out
// taking "hex" as the type the card was asked for, as the card's own tool
// does, so on a window that opens on "ascii" its start line goes out a
// second time with the first turn; cards are used to that. A change of type
// sends the new type's start line. Disconnects on every way out.
MonitorEnd RunMonitor(Channel& link, platform::Clock& clock, const std::string& address, const std::atomic<int>& type,
                      BlockQueue& queue);

}  // namespace card::modbus
