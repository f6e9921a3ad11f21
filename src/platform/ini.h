// INI files with the semantics of the Windows private-profile calls: every call
// reads the whole file, section and key names match without regard to case,
// and a write keeps every other line exactly as it was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Returns the value of key in section, or def when the file, the section or
// the key is missing. Like the Windows call, the result is cut to
// capacity - 1 characters (a capacity of 0 or 1 gives an empty text).
std::string ReadIniKey(const std::string& path, std::string_view section, std::string_view key,
                       std::string_view def, std::size_t capacity);

// Stores value under section/key, adding the key, the section or the file as
// needed. The file is rewritten whole through a temporary file and a rename.
// A value is one line: it is cut at its first line break. Returns false when the
// file cannot be written (read-only file, missing or read-only directory).
bool WriteIniKey(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

// Decimal-prefix conversion as atoi does it: leading blanks skipped, an
// optional sign, then digits up to the first other character. No digits give 0;
// values beyond the int range saturate.
int ParseLeadingInt(std::string_view text);

}  // namespace platform
