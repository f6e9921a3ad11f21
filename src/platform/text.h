// printf-style formatting into a std::string: every command line is built
// with a format and sent exactly as formatted.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace platform
