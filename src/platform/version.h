// The tool's version, set once in the top CMakeLists.txt (project VERSION):
// the window title, the about box, cardctl --version, backups and packages
// all show this one.
#pragma once

#ifndef CARD_VERSION
#error "CARD_VERSION comes from the build (project VERSION in CMakeLists.txt)"
#endif

namespace platform {

inline constexpr const char* kToolVersion = CARD_VERSION;

}  // namespace platform
