#include "modbus/rtu.h"

#include <algorithm>
#include <optional>

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

struct Candidate {
  RtuFrame::Kind kind;
  std::size_t length;  // 0 while the byte that gives it has not arrived
};

// The frames that could start at b[0], most likely first.
std::vector<Candidate> Candidates(std::string_view b, bool responseFirst) {
  std::vector<Candidate> request, response;
  if (b.size() < 2) return {};
  const unsigned fc = At(b, 1);
  if (fc & 0x80) return {{RtuFrame::Exception, 5}};
  switch (fc) {
    case 1: case 2: case 3: case 4:
      request.push_back({RtuFrame::Request, 8});
      response.push_back({RtuFrame::Response, b.size() >= 3 ? 5 + At(b, 2) : 0});
      break;
    case 5: case 6:
      // A write is answered with its own echo: the same frame either way.
      request.push_back({RtuFrame::Request, 8});
      response.push_back({RtuFrame::Response, 8});
      break;
    case 15: case 16:
      request.push_back({RtuFrame::Request, b.size() >= 7 ? 9 + At(b, 6) : 0});
      response.push_back({RtuFrame::Response, 8});
      break;
    default:
      return {};
  }
  std::vector<Candidate> out = responseFirst ? response : request;
  const auto& second = responseFirst ? request : response;
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

bool Complete(const Candidate& c, std::size_t available) { return c.length != 0 && c.length <= available; }

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

std::string RequestFrameText(int slave, int function, int address, int count) {
  std::string head{static_cast<char>(slave & 0xFF), static_cast<char>(function & 0xFF)};
  PutBe16(head, static_cast<unsigned>(address));
  switch (function) {
    case 1: case 2: case 3: case 4:
      PutBe16(head, static_cast<unsigned>(count));
      return HexText(WithCrc(head));
    case 5: case 6:
      return HexText(head) + platform::Tr(" [数值] [CRC]");
    case 15: case 16: {
      PutBe16(head, static_cast<unsigned>(count));
      const int bytes = function == 15 ? (count + 7) / 8 : 2 * count;
      head.push_back(static_cast<char>(bytes & 0xFF));
      return HexText(head) + platform::Format(platform::Tr(" [%d字节数据] [CRC]"), bytes);
    }
    default:
      return {};
  }
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

void RtuFramer::Reset() {
  buffer_.clear();
  awaiting_ = false;
}

void RtuFramer::Emit(std::vector<RtuFrame>* out, RtuFrame::Kind kind, std::size_t length, bool crcOk) {
  RtuFrame f;
  f.kind = kind;
  f.bytes = buffer_.substr(0, length);
  f.crcOk = crcOk;
  buffer_.erase(0, length);
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
  auto responseFirst = [this](std::string_view b) {
    return awaiting_ && b.size() >= 2 && static_cast<int>(At(b, 0)) == awaitSlave_ &&
           static_cast<int>(At(b, 1) & 0x7F) == awaitFunction_;
  };
  // The first offset in [from, limit) where a whole frame with a good CRC
  // starts: what lies before it belongs to no frame.
  auto nextGoodFrame = [&](std::size_t from, std::size_t limit) -> std::optional<std::size_t> {
    for (std::size_t k = from; k < std::min(limit, buffer_.size()); ++k) {
      std::string_view rest = std::string_view(buffer_).substr(k);
      for (const Candidate& c : Candidates(rest, responseFirst(rest)))
        if (Complete(c, rest.size()) && CrcOk(rest.substr(0, c.length))) return k;
    }
    return std::nullopt;
  };

  while (!buffer_.empty()) {
    const std::vector<Candidate> cands = Candidates(buffer_, responseFirst(buffer_));
    bool done = false;
    for (const Candidate& c : cands) {
      if (Complete(c, buffer_.size()) && CrcOk(std::string_view(buffer_).substr(0, c.length))) {
        Emit(out, c.kind, c.length, true);
        done = true;
        break;
      }
    }
    if (done) continue;
    const bool allComplete =
        !cands.empty() && std::all_of(cands.begin(), cands.end(), [&](const Candidate& c) { return Complete(c, buffer_.size()); });
    if (allComplete) {
      // No reading fits its CRC: either bytes before a frame, or a frame
      // damaged on the line.
      if (auto k = nextGoodFrame(1, cands.front().length)) {
        Emit(out, RtuFrame::Unknown, *k, false);
      } else {
        Emit(out, cands.front().kind, cands.front().length, false);
      }
      continue;
    }
    // Some reading still needs bytes. Unless a good frame further on shows
    // that the start is noise, wait for them.
    if (auto k = nextGoodFrame(1, buffer_.size())) {
      Emit(out, RtuFrame::Unknown, *k, false);
      continue;
    }
    if (final) {
      Emit(out, RtuFrame::Unknown, buffer_.size(), false);
    } else if (buffer_.size() >= kMaxFrame) {
      // Longer than any frame: the first byte starts none.
      Emit(out, RtuFrame::Unknown, 1, false);
      continue;
    }
    break;
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
      if (b.size() >= 6) {
        if (fc == 5 || fc == 6)
          what += platform::Format(platform::Tr(" 地址%u 数值%u"), Be16(b, 2), Be16(b, 4));
        else
          what += platform::Format(platform::Tr(" 地址%u 数量%u"), Be16(b, 2), Be16(b, 4));
      }
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
        what += platform::Format(fc == 5 || fc == 6 ? platform::Tr(" 地址%u 数值%u") : platform::Tr(" 地址%u 数量%u"), Be16(b, 2), Be16(b, 4));
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
