#include "platform/codec.h"

#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

// Length of the UTF-8 sequence at p (1 when it is broken), so that one
// character GBK cannot carry becomes one '?', not one per byte.
std::size_t Utf8SequenceLength(const char* p, std::size_t left) {
  unsigned char c = static_cast<unsigned char>(p[0]);
  std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (n > left) return 1;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
  return n;
}

std::string Convert(const char* to, const char* from, std::string_view in) {
  const bool fromUtf8 = std::string_view(from) == "UTF-8";
  std::string out;
  if (in.empty()) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Without a converter keep the ASCII and mark everything else.
    for (char c : in) out += (static_cast<unsigned char>(c) < 0x80) ? c : '?';
    return out;
  }
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char buf[1024];
  while (srcLeft > 0) {
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, sizeof buf - dstLeft);
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ: an invalid sequence; EINVAL: a sequence cut off at the end.
    out += '?';
    std::size_t skip = fromUtf8 && errno == EILSEQ ? Utf8SequenceLength(src, srcLeft) : 1;
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buf;
  std::size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, sizeof buf - dstLeft);
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk); }
std::string Utf8ToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8); }

std::string BytesToEditText(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < bytes.size()) {
      const auto d = static_cast<unsigned char>(bytes[i + 1]);
      if (d >= 0x40 && d <= 0xFE && d != 0x7F) {
        // Only a pair that converts both ways is shown as its character;
        // anything else would not type back to the same bytes.
        const std::string_view pair = bytes.substr(i, 2);
        const std::string text = GbkToUtf8(pair);
        if (Utf8ToGbk(text) == pair) {
          out += text;
          i += 2;
          continue;
        }
      }
    }
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
    ++i;
  }
  return out;
}

namespace {

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> EditTextToBytes(std::string_view text, EditTextError* error) {
  auto fail = [&](EditTextError e) -> std::optional<std::string> {
    if (error) *error = e;
    return std::nullopt;
  };
  std::string out;
  std::string_view run;  // plain text since the last escape
  auto flush = [&] {
    if (run.empty()) return true;
    const std::string gbk = Utf8ToGbk(run);
    if (GbkToUtf8(gbk) != run) return false;
    out += gbk;
    return true;
  };
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') continue;
    run = text.substr(runStart, i - runStart);
    if (!flush()) return fail(EditTextError::NotGbk);
    if (i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      i += 1;
    } else if (i + 3 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && HexDigit(text[i + 2]) >= 0 &&
               HexDigit(text[i + 3]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
      i += 3;
    } else {
      return fail(EditTextError::BadEscape);
    }
    runStart = i + 1;
  }
  run = text.substr(runStart);
  if (!flush()) return fail(EditTextError::NotGbk);
  if (error) *error = EditTextError::None;
  return out;
}

}  // namespace platform
