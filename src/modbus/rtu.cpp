#include "modbus/rtu.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/crc16.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::modbus {
namespace {

unsigned At(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }
unsigned Be16(std::string_view b, std::size_t i) { return At(b, i) << 8 | At(b, i + 1); }

void PutBe16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
  s.push_back(static_cast<char>(v & 0xFF));
}

// The value part of a write frame: a coil is switched with FF00 (on) and
// 0000 (off) only; a register takes any value; the multiple writes give a count.
std::string WrittenValue(unsigned fc, unsigned value) {
  if (fc == 5) {
    if (value == 0xFF00) return platform::Tr("数值ON");
    if (value == 0x0000) return platform::Tr("数值OFF");
    return platform::Format(platform::Tr("数值%04X(无效)"), value);
  }
  return platform::Format(fc == 6 ? platform::Tr("数值%u") : platform::Tr("数量%u"), value);
}

bool PublicFunction(unsigned fc) { return (fc >= 1 && fc <= 6) || fc == 15 || fc == 16; }

}  // namespace

std::uint16_t Crc16(std::string_view bytes) { return ModbusCrc16(bytes); }

std::string WithCrc(std::string body) {
  const std::uint16_t crc = Crc16(body);
  body.push_back(static_cast<char>(crc & 0xFF));
  body.push_back(static_cast<char>(crc >> 8));
  return body;
}

bool CrcOk(std::string_view frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = Crc16(frame.substr(0, frame.size() - 2));
  return At(frame, frame.size() - 2) == (crc & 0xFFu) && At(frame, frame.size() - 1) == (crc >> 8);
}

std::string HexText(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) out += platform::Format(out.empty() ? "%02X" : " %02X", c);
  return out;
}

std::string FunctionName(int function) {
  switch (function) {
    case 1: return platform::Tr("读线圈");
    case 2: return platform::Tr("读离散输入");
    case 3: return platform::Tr("读保持寄存器");
    case 4: return platform::Tr("读输入寄存器");
    case 5: return platform::Tr("写单个线圈");
    case 6: return platform::Tr("写单个寄存器");
    case 15: return platform::Tr("写多个线圈");
    case 16: return platform::Tr("写多个寄存器");
    default: return {};
  }
}

std::string ExceptionName(int code) {
  switch (code) {
    case 1: return platform::Tr("非法功能");
    case 2: return platform::Tr("非法数据地址");
    case 3: return platform::Tr("非法数据值");
    case 4: return platform::Tr("从站设备故障");
    case 6: return platform::Tr("从站设备忙");
    default: return platform::Tr("未知异常");
  }
}

int MostItems(int function) {
  switch (function) {
    case 1: case 2: return 2000;
    case 3: case 4: return 125;
    case 15: return 1968;
    case 16: return 123;
    default: return 0;
  }
}

std::string RequestFrameText(long long slave, long long function, long long address, long long count) {
  if (function < 0 || function > 255 || !PublicFunction(static_cast<unsigned>(function))) return {};
  const int fc = static_cast<int>(function);
  // Short: the text stands in the list's frame column.
  if (slave < 0 || slave > 247) return platform::Format(platform::Tr("（从站地址%lld超出0–247，不能组帧）"), slave);
  if (address < 0 || address > 65535) return platform::Format(platform::Tr("（寄存器地址%lld超出0–65535，不能组帧）"), address);
  const int most = MostItems(fc);
  if (most > 0) {
    if (count < 1 || count > most)
      return platform::Format(platform::Tr("（功能码%d请求个数%lld超出1–%d，不能组帧）"), fc, count, most);
    if (address + count - 1 > 65535)
      return platform::Format(platform::Tr("（地址%lld起%lld个超出65535，不能组帧）"), address, count);
  }
  std::string head{static_cast<char>(slave), static_cast<char>(fc)};
  PutBe16(head, static_cast<unsigned>(address));
  if (most == 0) return HexText(head) + platform::Tr(" [数值] [CRC]");
  PutBe16(head, static_cast<unsigned>(count));
  if (fc <= 4) return HexText(WithCrc(head));
  const int bytes = fc == 15 ? static_cast<int>((count + 7) / 8) : static_cast<int>(2 * count);
  head.push_back(static_cast<char>(bytes));
  return HexText(head) + platform::Format(platform::Tr(" [%d字节数据] [CRC]"), bytes);
}

std::vector<RtuFrame> RtuFramer::Feed(std::string_view bytes, std::int64_t nowMs) {
  std::vector<RtuFrame> out;
  if (!buffer_.empty() && nowMs - lastMs_ > kGapMs) out = Flush();
  buffer_.append(bytes.data(), bytes.size());
  lastMs_ = nowMs;
  Cut(&out, false);
  return out;
}

std::vector<RtuFrame> RtuFramer::Flush() {
  std::vector<RtuFrame> out;
  Cut(&out, true);
  return out;
}

std::vector<RtuFrame> RtuFramer::Idle(std::int64_t nowMs) {
  if (buffer_.empty() || nowMs - lastMs_ <= kGapMs) return {};
  return Flush();
}

void RtuFramer::Reset() {
  buffer_.clear();
  awaiting_ = false;
  noiseChecked_ = 0;
}

RtuFramer::Readings RtuFramer::ReadingsAt(std::string_view b) const {
  // 0 stands for a length whose byte has not arrived yet. No allocation:
  // this runs for every offset the framer looks at.
  Readings out;
  auto add = [&out](RtuFrame::Kind kind, std::size_t length) {
    // A byte count that makes a frame longer than any is no reading at all.
    if (length <= kMaxFrame) out.items[out.count++] = {kind, length};
  };
  const unsigned fc = At(b, 1);
  if (fc & 0x80) {
    if (PublicFunction(fc & 0x7F)) add(RtuFrame::Exception, 5);
    return out;
  }
  if (!PublicFunction(fc)) return out;
  // A byte count carries at least one item, registers two bytes each; its
  // reading is left out when it cannot be one.
  auto counted = [&](std::size_t at, std::size_t fixed) -> std::optional<std::size_t> {
    if (b.size() <= at) return 0;
    const unsigned n = At(b, at);
    const bool registers = fc == 3 || fc == 4 || fc == 16;
    if (n == 0 || (registers && n % 2)) return std::nullopt;
    return fixed + n;
  };
  std::optional<std::size_t> request, response;
  switch (fc) {
    case 1: case 2: case 3: case 4:
      request = 8;
      response = counted(2, 5);
      break;
    case 5: case 6:
      // A write is answered with its own echo: the same frame either way.
      request = response = 8;
      break;
    default:  // 15, 16
      request = counted(6, 9);
      response = 8;
  }
  const bool responseFirst =
      awaiting_ && static_cast<int>(At(b, 0)) == awaitSlave_ && static_cast<int>(fc) == awaitFunction_;
  if (!responseFirst && request) add(RtuFrame::Request, *request);
  if (response) add(RtuFrame::Response, *response);
  if (responseFirst && request) add(RtuFrame::Request, *request);
  return out;
}

RtuFramer::Verdict RtuFramer::Judge(std::size_t k, bool final, Reading* good) const {
  const std::string_view rest = std::string_view(buffer_).substr(k, kMaxFrame);
  // Every reading is at most kMaxFrame long: with that much in hand, more
  // bytes change nothing.
  const bool more = !final && rest.size() < kMaxFrame;
  if (rest.size() < 2) return more ? Verdict::Pending : Verdict::Bad;
  const Readings readings = ReadingsAt(rest);
  for (std::size_t i = 0; i < readings.count; ++i) {
    const Reading& r = readings.items[i];
    if (r.length == 0 || r.length > rest.size()) {
      // A likelier reading still needs bytes: wait for it before a less
      // likely one is taken.
      if (more) return Verdict::Pending;
      continue;
    }
    if (CrcOk(rest.substr(0, r.length))) {
      *good = r;
      return Verdict::Good;
    }
  }
  return Verdict::Bad;
}

void RtuFramer::Emit(std::vector<RtuFrame>* out, RtuFrame::Kind kind, std::size_t length, bool crcOk) {
  RtuFrame f;
  f.kind = kind;
  f.bytes = buffer_.substr(0, length);
  f.crcOk = crcOk;
  buffer_.erase(0, length);
  noiseChecked_ = 0;
  if (kind == RtuFrame::Request) {
    f.previousUnanswered = awaiting_;
    awaiting_ = true;
    awaitSlave_ = static_cast<int>(At(f.bytes, 0));
    awaitFunction_ = static_cast<int>(At(f.bytes, 1));
  } else if (kind == RtuFrame::Response || kind == RtuFrame::Exception) {
    f.answersRequest = awaiting_ && static_cast<int>(At(f.bytes, 0)) == awaitSlave_ &&
                       static_cast<int>(At(f.bytes, 1) & 0x7F) == awaitFunction_;
    if (f.answersRequest) awaiting_ = false;
  }
  out->push_back(std::move(f));
}

void RtuFramer::Cut(std::vector<RtuFrame>* out, bool final) {
  while (!buffer_.empty()) {
    Reading good{};
    const Verdict first = Judge(0, final, &good);
    if (first == Verdict::Good) {
      Emit(out, good.kind, good.length, true);
      continue;
    }
    if (first == Verdict::Pending) return;
    // No frame starts at the first byte. A damaged frame is the reading
    // most likely here, unless a frame starts inside its length: those
    // bytes are noise in front of it. A frame inside that may still be
    // completing decides it once it has.
    const std::string_view head = std::string_view(buffer_).substr(0, kMaxFrame);
    std::optional<Reading> damaged;
    if (head.size() >= 2 && At(head, 0) <= 247) {
      const Readings readings = ReadingsAt(head);
      for (std::size_t i = 0; i < readings.count && !damaged; ++i)
        if (readings.items[i].length != 0 && readings.items[i].length <= head.size()) damaged = readings.items[i];
    }
    if (damaged) {
      const std::size_t length = damaged->length;
      std::size_t k = 1;
      Verdict v = Verdict::Bad;
      for (; k < length; ++k)
        if ((v = Judge(k, final, &good)) != Verdict::Bad) break;
      if (v == Verdict::Pending) return;
      if (v == Verdict::Good)
        Emit(out, RtuFrame::Unknown, k, false);
      else
        Emit(out, damaged->kind, length, false);
      continue;
    }
    // Plain noise, one piece up to the next frame: a byte that may still
    // start one holds the piece back, so where it ends does not depend on
    // how the reads were cut.
    // Offsets found starting no frame stay so: a piece held back is not
    // looked at again from its start when the next bytes come.
    std::size_t k = std::max<std::size_t>(1, noiseChecked_);
    Verdict v = Verdict::Bad;
    while (k < buffer_.size() && k < kMaxUnknownRun && (v = Judge(k, final, &good)) == Verdict::Bad) ++k;
    if (v == Verdict::Pending && k < kMaxUnknownRun) {
      noiseChecked_ = k;
      return;
    }
    Emit(out, RtuFrame::Unknown, k, false);
  }
}

std::string DescribeFrame(const RtuFrame& f) {
  const std::string_view b = f.bytes;
  std::string what;
  auto name = [](unsigned fc) {
    std::string n = FunctionName(static_cast<int>(fc));
    return platform::Format(platform::Tr("功能码%02X"), fc) + (n.empty() ? "" : "(" + n + ")");
  };
  const unsigned slave = b.size() > 0 ? At(b, 0) : 0, fc = b.size() > 1 ? At(b, 1) : 0;
  switch (f.kind) {
    case RtuFrame::Request:
      what = platform::Format(platform::Tr("→ 请求 从站%u "), slave) + name(fc);
      if (b.size() >= 6) what += platform::Format(platform::Tr(" 地址%u "), Be16(b, 2)) + WrittenValue(fc, Be16(b, 4));
      if (f.previousUnanswered) what += platform::Tr(" (上一请求无应答)");
      break;
    case RtuFrame::Response:
      what = platform::Format(platform::Tr("← 应答 从站%u "), slave) + name(fc);
      if ((fc == 3 || fc == 4) && b.size() >= 5) {
        const unsigned n = At(b, 2);
        what += platform::Format(platform::Tr(" %u字节"), n);
        std::string values;
        for (unsigned i = 0; i + 1 < n && 3 + i + 1 < b.size() - 2; i += 2) {
          if (i / 2 == 16) {
            values += " …";
            break;
          }
          values += platform::Format(" %u", Be16(b, 3 + i));
        }
        if (!values.empty()) what += platform::Tr(" 数值") + values;
      } else if ((fc == 1 || fc == 2) && b.size() >= 5) {
        what += platform::Format(platform::Tr(" %u字节"), At(b, 2));
      } else if (b.size() >= 6) {
        what += platform::Format(platform::Tr(" 地址%u "), Be16(b, 2)) + WrittenValue(fc, Be16(b, 4));
      }
      if (!f.answersRequest) what += platform::Tr(" (无对应请求)");
      break;
    case RtuFrame::Exception: {
      const unsigned code = b.size() > 2 ? At(b, 2) : 0;
      what = platform::Format(platform::Tr("← 异常应答 从站%u "), slave) + name(fc & 0x7F) +
             platform::Format(platform::Tr(" 异常码%u("), code) + ExceptionName(static_cast<int>(code)) + ")";
      if (!f.answersRequest) what += platform::Tr(" (无对应请求)");
      break;
    }
    case RtuFrame::Unknown:
      return HexText(b) + platform::Tr("  ? 无法识别的字节");
  }
  return HexText(b) + "  " + what + (f.crcOk ? platform::Tr("  CRC正确") : platform::Tr("  CRC错误"));
}

}  // namespace card::modbus
