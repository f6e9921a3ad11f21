// The script line split over arbitrary bytes, as the card's region and as a
// file: it never reads past the bytes, a line never holds a CR LF, and the
// lines put back together are the text they came from. The card's refusal
// check and the command built from what it accepts run on the lines too, as
// the list shows them: what it accepts is the lines' own bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "storage/script.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view text = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  for (card::ScriptSource source : {card::ScriptSource::Card, card::ScriptSource::File}) {
    auto split = card::SplitScriptLines(bytes, source);
    Check(split.has_value() == (text.find("\r\n") != std::string_view::npos));
    if (!split) continue;
    for (const auto& line : split->lines) {
      Check(line.find("\r\n") == std::string::npos);
      if (source == card::ScriptSource::Card) Check(!line.empty());
    }
    std::string joined = card::ScriptText(split->lines);
    if (split->endedAtEmptyLine) joined += "\r\n";
    Check(text.substr(0, joined.size()) == joined);
    // A file keeps everything up to its last CR LF.
    if (source == card::ScriptSource::File) Check(joined.size() == text.rfind("\r\n") + 2);

    // Lines shown as edit text and accepted go back byte for byte.
    const std::vector<std::string> rows = card::ScriptEditTexts(split->lines);
    card::CardScript script = card::ScriptForCard(card::ProgramRows(rows));
    if (script.refusal.empty()) {
      Check(script.gbkLines == card::ProgramRows(split->lines));
      std::string body = card::ScriptText(script.gbkLines);
      Check(body.size() <= card::kScriptRegionBytes);
      std::string command = card::ScriptProgramCommand(body);
      Check(command.size() >= body.size() && command.compare(command.size() - body.size(), body.size(), body) == 0);
    } else {
      Check(script.gbkLines.empty());
    }
  }
  return 0;
}
