// Any file content: reading never crashes, and a key just written reads back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz-ini-" + std::to_string(::getpid()) + ".ini";
  platform::WriteFileAtomic(path, data, size);
  platform::ReadIniKey(path, "ServerIP", "ServerIP", "Error", 260);
  platform::ReadIniKey(path, "LEDPARA", "WIDTH", "", 8);
  if (!platform::WriteIniKey(path, "NetSyc", "Syc_Update", "0")) __builtin_trap();
  if (platform::ReadIniKey(path, "NetSyc", "Syc_Update", "x", 10) != "0") __builtin_trap();
  if (!platform::WriteIniKey(path, "RemotIP", "RemotIP", "10.0.0.1")) __builtin_trap();
  if (platform::ReadIniKey(path, "RemotIP", "RemotIP", "x", 260) != "10.0.0.1") __builtin_trap();
  if (platform::ReadIniKey(path, "NetSyc", "Syc_Update", "x", 10) != "0") __builtin_trap();
  std::string text(reinterpret_cast<const char*>(data), size);
  platform::ParseLeadingInt(text);
  return 0;
}
