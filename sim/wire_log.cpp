#include "wire_log.h"

#include "json.h"
#include "platform/text.h"

namespace sim {

std::string AddressText(std::uint32_t a) {
  return platform::Format("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

WireLog::WireLog(const std::string& path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

WireLog::~WireLog() {
  if (file_) std::fclose(file_);
}

void WireLog::Received(std::int64_t t, const std::string& card, int port, std::string_view bytes,
                       const std::string& from) {
  if (!file_) return;
  std::string line = platform::Format("{\"t\":%lld,\"card\":%s,\"port\":%d,", static_cast<long long>(t),
                                      JsonString(card).c_str(), port);
  if (!from.empty()) line += "\"from\":" + JsonString(from) + ",";
  line += "\"rx\":" + JsonString(bytes) + "}\n";
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

void WireLog::Event(std::int64_t t, const std::string& card, int port, std::string_view what) {
  if (!file_) return;
  std::fprintf(file_, "{\"t\":%lld,\"card\":%s,\"port\":%d,\"event\":%s}\n", static_cast<long long>(t),
               JsonString(card).c_str(), port, JsonString(what).c_str());
  std::fflush(file_);
}

}  // namespace sim
