// GBK <-> UTF-8 at the edges. The card and the working files speak GBK; the
// tool keeps UTF-8 everywhere inside. Invalid input never fails: a byte that
// cannot be converted becomes '?'.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace platform
