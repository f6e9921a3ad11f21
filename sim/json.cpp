#include "json.h"

#include "platform/text.h"

namespace sim {

std::string JsonString(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) out += platform::Format("\\u%04x", c);
        else out.push_back(static_cast<char>(c));
    }
  }
  out += "\"";
  return out;
}

}  // namespace sim
