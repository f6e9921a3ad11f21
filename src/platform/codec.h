// GBK <-> UTF-8 at the edges. The card and the working files speak GBK; the
// tool keeps UTF-8 everywhere inside. Invalid input never fails: a byte that
// cannot be converted becomes '?'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// Bytes from a card or a file as a text the user can read and edit, losing
// nothing: printable ASCII as it is, a GBK character where two bytes make
// one, every other byte as \xNN and the backslash doubled. EditTextToBytes
// of that text gives the very bytes back.
std::string BytesToEditText(std::string_view bytes);

// The bytes an edited text stands for: "\\" is one backslash, "\xNN" (two
// hex digits, either case) one byte, everything else GBK.
enum class EditTextError {
  None,
  NotGbk,     // a character GBK cannot carry
  BadEscape,  // a backslash followed by neither "\" nor "xNN"
};
std::optional<std::string> EditTextToBytes(std::string_view text, EditTextError* error = nullptr);

}  // namespace platform
