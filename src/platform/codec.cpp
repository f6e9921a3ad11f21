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

}  // namespace platform
