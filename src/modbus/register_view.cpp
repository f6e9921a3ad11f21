#include "modbus/register_view.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "link/command_channel.h"
#include "modbus/master_table.h"
#include "platform/codec.h"
#include "platform/text.h"

namespace card::modbus {
namespace {

// Where the bytes of a 32-bit value lie in the page: entry k is the byte of
// the value (0 = most significant, 3 = least) at page position k.
const int* Layout(int type) {
  static const int kLittle[4] = {3, 2, 1, 0};     // D C B A
  static const int kWordSwap[4] = {1, 0, 3, 2};   // B A D C
  static const int kByteSwap[4] = {2, 3, 0, 1};   // C D A B
  static const int kBig[4] = {0, 1, 2, 3};        // A B C D
  switch (type) {
    case kFloatCdab: case kU32: case kI32: return kLittle;
    case kFloatNegAbcd: case kU32Swapped: case kI32Swapped: return kWordSwap;
    case kFloatDcba: return kByteSwap;
    default: return kBig;  // kFloatBadc
  }
}

std::uint32_t Gather(int type, const std::uint8_t* b) {
  const int* at = Layout(type);
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(b[k]) << (8 * (3 - at[k]));
  return v;
}

std::string Scatter(int type, std::uint32_t v) {
  const int* at = Layout(type);
  std::string out(4, '\0');
  for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((v >> (8 * (3 - at[k]))) & 0xFF);
  return out;
}

bool IsFloat(int type) {
  return type == kFloatCdab || type == kFloatNegAbcd || type == kFloatDcba || type == kFloatBadc;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

// Register text is the codec's edit text: every register value has a text
// that types back to it.
std::optional<std::string> ParseBytes(std::string_view text, std::string* error) {
  platform::EditTextError why = platform::EditTextError::None;
  std::optional<std::string> bytes = platform::EditTextToBytes(text, &why);
  if (why == platform::EditTextError::NotGbk)
    *error = "“" + std::string(text) + "”含有不能用GBK表示的字符";
  else if (why == platform::EditTextError::BadEscape)
    *error = "“" + std::string(text) + "”中的“\\”后应为“\\”或“xNN”（两位十六进制）";
  return bytes;
}

std::optional<std::uint32_t> ParseInteger(int type, std::string_view text, std::string* error) {
  long long low = 0, high = 0;
  switch (type) {
    case kU16: high = 65535; break;
    case kI16: low = -32768; high = 32767; break;
    case kU32: case kU32Swapped: high = 4294967295LL; break;
    default: low = -2147483648LL; high = 2147483647LL; break;  // the signed 32-bit types
  }
  auto v = ParseWhole(text, low, high);
  if (!v) {
    *error = platform::Format("“%s”不是%lld到%lld之间的整数", Trim(text).c_str(), low, high);
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(*v) & 0xFFFFFFFFu);
}

std::optional<std::uint32_t> ParseFloatBits(std::string_view text, std::string* error) {
  const std::string t = Trim(text);
  char* end = nullptr;
  const double d = std::strtod(t.c_str(), &end);
  if (t.empty() || *end != '\0' || !std::isfinite(d) || std::fabs(d) > FLT_MAX) {
    *error = "“" + t + "”不是单精度浮点数";
    return std::nullopt;
  }
  const float f = static_cast<float>(d);
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

}  // namespace

const std::vector<std::string>& TypeLabels() {
  static const std::vector<std::string> labels = {
      "无符号16位整数", "单精度浮点CDAB", "有符号16位整数", "负单精度ABCD",       "浮点数DCBA",          "无符号32位整数",
      "有符号32位整数", "浮点数BADC",     "无符号32位整数 反序", "有符号32位整数 反序", "字符串"};
  return labels;
}

std::vector<std::string> StartAddressItems() {
  std::vector<std::string> items;
  for (int i = 0; i < kStartAddresses; ++i) items.push_back(std::to_string(64 * i));
  return items;
}

std::string RegisterItem(int position) { return platform::Format("%03d", position + 1); }

std::string DecodeValue(int type, const std::uint8_t* b) {
  if (type == kString) {
    const char high = static_cast<char>(b[1]), low = static_cast<char>(b[0]);
    if (high == 0 && low == 0) return {};
    return platform::BytesToEditText(low == 0 ? std::string(1, high) : std::string{high, low});
  }
  if (!IsWide(type)) {
    const auto v = static_cast<std::uint16_t>(b[0] | b[1] << 8);
    return type == kI16 ? std::to_string(static_cast<std::int16_t>(v)) : std::to_string(v);
  }
  const std::uint32_t v = Gather(type, b);
  if (IsFloat(type)) {
    float f;
    std::memcpy(&f, &v, 4);
    return platform::Format("%5.3f", static_cast<double>(f));
  }
  if (type == kI32 || type == kI32Swapped) return std::to_string(static_cast<std::int32_t>(v));
  return std::to_string(v);
}

std::optional<std::string> EncodeValue(int type, std::string_view text, std::string* error) {
  if (type == kString) {
    auto bytes = ParseBytes(text, error);
    if (!bytes) return std::nullopt;
    if (bytes->size() > 2) {
      *error = "“" + std::string(text) + "”超过一个寄存器（2个字节）";
      return std::nullopt;
    }
    bytes->resize(2, '\0');
    return std::string{(*bytes)[1], (*bytes)[0]};  // low byte first
  }
  if (Trim(text).empty()) {
    *error = "没有填写数值";
    return std::nullopt;
  }
  std::optional<std::uint32_t> v = IsFloat(type) ? ParseFloatBits(text, error) : ParseInteger(type, text, error);
  if (!v) return std::nullopt;
  if (!IsWide(type)) return std::string{static_cast<char>(*v & 0xFF), static_cast<char>((*v >> 8) & 0xFF)};
  return Scatter(type, *v);
}

std::optional<std::string> EncodeSingle(int type, std::string_view text, std::string* error) {
  if (type != kString) return EncodeValue(type, text, error);
  auto bytes = ParseBytes(text, error);
  if (!bytes) return std::nullopt;
  if (bytes->empty()) {
    *error = "没有填写字符串";
    return std::nullopt;
  }
  if (bytes->size() > kMaxStringBytes) {
    *error = platform::Format("字符串有%zu个字节，一次最多写%zu个", bytes->size(), kMaxStringBytes);
    return std::nullopt;
  }
  // An odd last character gets a zero partner: it fills a register of its own.
  if (bytes->size() % 2) bytes->push_back('\0');
  std::string out;
  for (std::size_t i = 0; i < bytes->size(); i += 2) {
    out.push_back((*bytes)[i + 1]);
    out.push_back((*bytes)[i]);
  }
  return out;
}

GridTexts DecodePage(int type, const PageImage& page) {
  GridTexts grid;
  const std::size_t width = static_cast<std::size_t>(TypeBytes(type));
  for (int r = 0; r < kGridRows; ++r) {
    for (int c = 0; c < kGridColumns; ++c) {
      if (IsWide(type) && c % 2) {
        grid[r][c] = "--";
        continue;
      }
      const std::size_t at = 32 * static_cast<std::size_t>(r) + (IsWide(type) ? 4 * (c / 2) : 2 * c);
      if (at + width <= page.valid) grid[r][c] = DecodeValue(type, page.bytes.data() + at);
    }
  }
  return grid;
}

PageWrite BuildPageWrite(int type, const PageImage& read, const GridTexts& shown, const GridTexts& now) {
  PageWrite out;
  out.bytes = read.bytes;
  for (int r = 0; r < kGridRows; ++r) {
    for (int c = 0; c < kGridColumns; ++c) {
      if (now[r][c] == shown[r][c]) continue;
      if (IsWide(type) && c % 2) {
        out.errors.push_back(platform::Format("第%d行第%d列：这一格属于左边的32位数值，不能单独修改", r + 1, c + 1));
        continue;
      }
      std::string error;
      auto bytes = EncodeValue(type, now[r][c], &error);
      if (!bytes) {
        out.errors.push_back(platform::Format("第%d行第%d列：", r + 1, c + 1) + error);
        continue;
      }
      const std::size_t at = 32 * static_cast<std::size_t>(r) + (IsWide(type) ? 4 * (c / 2) : 2 * c);
      std::memcpy(out.bytes.data() + at, bytes->data(), bytes->size());
      ++out.edited;
    }
  }
  return out;
}

std::string ReadLine(std::uint32_t startRegister, std::size_t bytes) {
  return platform::Format("file read_modbus 0x%x %zu\n", startRegister, bytes);
}

std::string WriteLine(std::uint32_t firstRegister, std::size_t bytes) {
  return platform::Format("file write_modbus 0x%x %zu\n", firstRegister, bytes);
}

namespace {
struct Hangup {
  Channel& link;
  ~Hangup() { link.Disconnect(); }
};
}  // namespace

void SendLogOff(Channel& link, platform::Clock& clock, const std::string& address) {
  if (link.Connect(address) != 0) return;
  Hangup hangup{link};
  SendLine(link, "set LOG 0 \n");
  clock.sleepMs(kLogOffPauseMs);
}

std::string ShortReadText(std::size_t received) {
  return platform::Format("读取不完整：只收到%zu个字节（一页128个），没有收到的单元格留空。", received);
}

PageRead ReadPage(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                  std::uint32_t startRegister) {
  PageRead out;
  if (link.Connect(address) != 0) {
    out.outcome = ReadOutcome::ConnectFailed;
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return out;
  }
  Hangup hangup{link};
  std::size_t have = 0;
  for (int request = 0; request < kReadRequests && have < kPageBytes; ++request) {
    if (request > 0) {
      // A new connection: a late piece of the answer given up on must not
      // land where the tail goes.
      link.Disconnect();
      if (link.Connect(address) != 0) break;
    }
    // The tail starts at a whole register.
    have &= ~static_cast<std::size_t>(1);
    {
      ExchangeScope exchange(link);
      if (link.Send(ReadLine(startRegister + static_cast<std::uint32_t>(have / 2), kPageBytes - have)) != 0) continue;
    }
    for (int silent = 0; silent < kReadSilentPolls && have < kPageBytes;) {
      clock.sleepMs(kReadPollMs);
      std::size_t n = 0;
      int rc;
      {
        ExchangeScope exchange(link);
        rc = link.Receive(out.page.bytes.data() + have, kPageBytes - have, &n);
      }
      if (rc != 0) break;
      if (n == 0) {
        ++silent;
        continue;
      }
      silent = 0;
      have += n;
    }
  }
  out.page.valid = have;
  if (have == kPageBytes) {
    out.outcome = ReadOutcome::Whole;
  } else if (have == 0) {
    out.outcome = ReadOutcome::Nothing;
    user.Message(kMsgReadNothing, kTitleError, Icon::Warning);
  } else {
    out.outcome = ReadOutcome::Short;
    user.Message(ShortReadText(have), kTitleNotice, Icon::Warning);
  }
  return out;
}

bool WriteRegisters(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                    std::uint32_t firstRegister, const std::string& bytes) {
  if (link.Connect(address) != 0) {
    user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  Hangup hangup{link};
  bool sent;
  {
    ExchangeScope exchange(link);
    sent = link.Send(WriteLine(firstRegister, bytes.size())) == 0 && link.Send(bytes) == 0;
  }
  if (!sent) {
    user.Message(kMsgSendFailed, kTitleError, Icon::Error);
    return false;
  }
  clock.sleepMs(kWritePauseMs);
  return true;
}

}  // namespace card::modbus
