// Where the tool, its sibling programs and cardctl keep their working files:
// SysCfg.ini, the program working files below ledsys/, PlC1MEM.datr and
// logs/. Everyone asks here, so the siblings the tool starts find the same
// SysCfg.ini the tool wrote.
//
// A build tree is its own installation: the working folder is its subsys/.
// An installed copy (one that carries a defaults/ folder beside the
// executable, or whose subsys/ may not be written) keeps them in the user's
// own folder, $XDG_DATA_HOME/cardsetup/ (~/.local/share/cardsetup/ by
// default), made on first use from the installed defaults. Nothing is then
// ever written inside the installation, not even when root runs it.
#pragma once

#include <string>

namespace platform {

// The user's folders as the environment gives them ("" when unset).
struct UserDirs {
  std::string xdgDataHome;
  std::string home;
};
UserDirs UserDirsFromEnvironment();

// $XDG_DATA_HOME/cardsetup/ when that is an absolute path, otherwise
// $HOME/.local/share/cardsetup/ (the home from the password database when
// HOME is unset). "" when no home can be found.
std::string PerUserFolder(const UserDirs& dirs);

enum class WorkingFolderProblem {
  None,
  NoHome,         // neither XDG_DATA_HOME, HOME nor the password database names a home
  CannotCreate,   // the folder (or one of ledsys/CMDn, logs/) cannot be made
  NotWritable,    // it exists but this user may not write it
  CannotCopy,     // a default file could not be copied in
};

struct WorkingFolder {
  std::string path;      // ends with '/'
  bool perUser = false;  // the user's own folder rather than installDir/subsys/
  WorkingFolderProblem problem = WorkingFolderProblem::None;
  std::string problemPath;  // the folder or file the problem is about
  bool ready() const { return problem == WorkingFolderProblem::None; }
};

// Decides the working folder of the installation in installDir (ending with
// '/') without touching the disk.
WorkingFolder ChooseWorkingFolder(const std::string& installDir, const UserDirs& dirs);

// Decides it and, for a per-user folder, makes it ready: creates it and copies
// what is missing of the installed defaults (SysCfg.ini, PlC1MEM.datr and
// the ledsys/ tree, from installDir/defaults/, or from installDir/subsys/
// where there is no defaults/ folder), then makes ledsys/CMD1 ... CMD8 and
// logs/. A file the user already has is never replaced.
WorkingFolder PrepareWorkingFolder(const std::string& installDir, const UserDirs& dirs);

// The working folder of this process (InstallDir() and the environment),
// decided and made ready on the first call.
const WorkingFolder& TheWorkingFolder();
// TheWorkingFolder().path: where SysCfg.ini and the working files are.
std::string WorkingDir();

// Where the file dialogs for the user's own files (dumps, scripts, table
// copies) open: the tool's folder in a build tree, the working folder of an
// installed copy.
std::string UserFilesDir();

}  // namespace platform
