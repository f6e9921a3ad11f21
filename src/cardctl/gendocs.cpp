// Writes cardctl's man page and bash completion, both made from the option
// table the parser uses: gendocs MANPAGE COMPLETION. Run by the build.
#include <cstdio>
#include <string>

#include "cardctl/options.h"
#include "platform/files.h"
#include "platform/version.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cardctl_gendocs MANPAGE COMPLETION\n");
    return 2;
  }
  const std::string man = card::cli::ManPage(platform::kToolVersion);
  const std::string completion = card::cli::BashCompletion();
  if (platform::WriteFileMakingDirs(argv[1], man.data(), man.size()) != 1 ||
      platform::WriteFileMakingDirs(argv[2], completion.data(), completion.size()) != 1) {
    std::fprintf(stderr, "cardctl_gendocs: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
