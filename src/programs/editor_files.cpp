#include "programs/editor_files.h"

#include "platform/codec.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "programs/program_files.h"

namespace card {

int HandedProgramNumber(const SysCfg& cfg) {
  const int number = platform::ParseLeadingInt(cfg.read("LEDPARA", "PROGRAMID", "0", 10));
  return number >= 1 && number <= kProgramSlots ? number : 0;
}

std::string LoadProgramText(const std::string& subsysDir, int number) {
  std::string bytes;
  if (!platform::ReadWholeFile(WorkingFilePath(subsysDir, number), &bytes)) return {};
  return platform::GbkToUtf8(bytes);
}

bool SaveProgramText(const std::string& subsysDir, SysCfg cfg, int number, const std::string& utf8,
                     bool requestUpload) {
  if (number < 1 || number > kProgramSlots) return false;
  const std::string gbk = platform::Utf8ToGbk(utf8);
  if (platform::WriteFileMakingDirs(WorkingFilePath(subsysDir, number), gbk.data(), gbk.size()) != 1) return false;
  if (!requestUpload) return true;
  // The slot first: the tool reads it once it sees the request.
  cfg.setProgramId(number);
  return cfg.write("NetSyc", "Syc_Update", "1");
}

}  // namespace card
