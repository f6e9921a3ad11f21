// The little JSON the virtual card writes: wire-log lines and status files.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// A JSON string literal (with its quotes). Bytes outside printable ASCII are
// written as \u00XX, so binary payloads and GBK text survive as escapes.
std::string JsonString(std::string_view bytes);

}  // namespace sim
