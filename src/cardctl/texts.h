// cardctl speaks Chinese, or English with --lang en. Its own texts are
// written as pairs where they are used (Tr("中文", "English")); the messages
// of the window's operations, which reach cardctl in Chinese, are turned into
// English here, placeholders and all.
#pragma once

#include <string>

namespace card::cli {

// Chosen once at the start, before any thread runs.
void SetEnglish(bool english);
bool English();

// zh, or en under --lang en.
std::string Tr(const char* zh, const char* en);

// A message or title of the window's operations in the chosen language:
// itself in Chinese; in English the known texts and formats translated
// (their numbers and names carried over), anything else as it stands.
std::string TrOperation(const std::string& text);

}  // namespace card::cli
