// Any catalogue file: loading never reads outside it, and whatever it takes
// answers a lookup of each of its own texts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/i18n.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Catalogue catalogue;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (catalogue.Load(bytes)) {
    catalogue.Find("确定");
    catalogue.Find(bytes.substr(0, 16));
  } else if (catalogue.size() != 0) {
    __builtin_trap();  // a refused file leaves nothing behind
  }
  return 0;
}
