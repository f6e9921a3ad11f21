// Any bytes through the GBK and UTF-8 converters.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string utf8 = platform::GbkToUtf8(in);
  std::string gbk = platform::Utf8ToGbk(in);
  if (utf8.size() > size * 3 + 3 || gbk.size() > size * 2 + 2) __builtin_trap();
  // Whatever GBK gave, its UTF-8 form converts back to the same bytes when
  // nothing in it was replaced.
  if (utf8.find('?') == std::string::npos && in.find('?') == std::string::npos && platform::Utf8ToGbk(utf8) != in)
    __builtin_trap();
  return 0;
}
