// What the program editor reads and writes: the working file of the slot it
// was handed, as text, and the upload request it leaves for the tool.
#pragma once

#include <string>

#include "core/syscfg.h"

namespace card {

// The slot number the editor was handed ("PROGRAMID"), 0 when none.
int HandedProgramNumber(const SysCfg& cfg);

// The working file of slot number as UTF-8 (it is GBK on disk); empty when
// it does not exist.
std::string LoadProgramText(const std::string& subsysDir, int number);

// Stores utf8 as GBK in the working file of slot number, creating its
// folders; with requestUpload, then names the slot in "PROGRAMID" and sets
// "Syc_Update" to 1, so that the tool uploads this slot even when it handed
// another one since. False when the file could not be written (no request
// is left then).
bool SaveProgramText(const std::string& subsysDir, SysCfg cfg, int number, const std::string& utf8,
                     bool requestUpload);

}  // namespace card
