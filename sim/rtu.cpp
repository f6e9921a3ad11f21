#include "rtu.h"

#include "platform/crc16.h"
#include "platform/text.h"

namespace sim {
namespace {

void PutU16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
  s.push_back(static_cast<char>(v & 0xFF));
}

struct Request {
  unsigned slave, fc, reg, count, master;
};

RtuExchange Build(const Request& q, const std::vector<std::uint16_t>& registers, std::uint32_t tick) {
  auto value = [&](unsigned k) -> unsigned {
    if (registers.empty()) return (tick + k) & 0xFFFF;
    return (registers[(q.master + k) % registers.size()] + tick % 10) & 0xFFFF;
  };
  std::string req{static_cast<char>(q.slave), static_cast<char>(q.fc)};
  std::string rsp = req;
  unsigned count = q.count == 0 ? 1 : (q.count > 120 ? 120 : q.count);
  switch (q.fc) {
    case 1:
    case 2: {
      PutU16(req, q.reg);
      PutU16(req, count);
      unsigned bytes = (count + 7) / 8;
      rsp.push_back(static_cast<char>(bytes));
      for (unsigned i = 0; i < bytes; ++i) rsp.push_back(static_cast<char>(value(i) & 0xFF));
      break;
    }
    case 5:
    case 6:
      PutU16(req, q.reg);
      PutU16(req, q.fc == 5 ? 0xFF00 : value(0));
      rsp = req;  // a write is answered with its own echo
      break;
    case 16: {
      PutU16(req, q.reg);
      PutU16(req, count);
      req.push_back(static_cast<char>(2 * count));
      for (unsigned i = 0; i < count; ++i) PutU16(req, value(i));
      PutU16(rsp, q.reg);
      PutU16(rsp, count);
      break;
    }
    default: {  // 3 and 4: read registers
      PutU16(req, q.reg);
      PutU16(req, count);
      rsp.push_back(static_cast<char>(2 * count));
      for (unsigned i = 0; i < count; ++i) PutU16(rsp, value(i));
    }
  }
  return {WithCrc(req), WithCrc(rsp)};
}

std::string HexBytes(std::string_view s) {
  std::string out;
  for (unsigned char c : s) out += platform::Format(out.empty() ? "%02X" : " %02X", c);
  return out;
}

}  // namespace

std::uint16_t ModbusCrc16(std::string_view bytes) { return card::ModbusCrc16(bytes); }

std::string WithCrc(std::string body) {
  std::uint16_t crc = ModbusCrc16(body);
  body.push_back(static_cast<char>(crc & 0xFF));
  body.push_back(static_cast<char>(crc >> 8));
  return body;
}

std::vector<RtuExchange> MasterTraffic(const CardRecord& r, const std::vector<std::uint16_t>& registers,
                                       std::uint32_t tick) {
  std::vector<RtuExchange> out;
  for (std::size_t i = 0; i < field::kRequestCount; ++i) {
    std::size_t e = field::kRequests + i * field::kRequestSize;
    unsigned fc = r.u8(e + request::kFunction);
    if (!((fc >= 1 && fc <= 6) || fc == 16)) continue;
    out.push_back(Build({r.u8(e + request::kSlave), fc, r.u16(e + request::kRegister), r.u8(e + request::kCount),
                         r.u8(e + request::kMasterSlot)},
                        registers, tick));
  }
  if (out.empty()) out.push_back(Build({1, 3, 0, 2, 0}, registers, tick));
  return out;
}

std::string TextView(const RtuExchange& e) {
  return "TX: " + HexBytes(e.request) + "\r\nRX: " + HexBytes(e.response) + "\r\n";
}

}  // namespace sim
