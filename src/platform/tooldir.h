// Where the tool lives: ToolDir is the directory of the running executable,
// ending with a separator. Data files and sibling programs sit in subsys/.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToolDir();
// The installation's top folder: ToolDir, or its parent for the sibling
// programs, which live in subsys/ below it.
std::string InstallDir();
std::string InstallDirOf(const std::string& toolDir);
std::string SubsysPath(std::string_view name);  // InstallDir + "subsys/" + name

// File name of a sibling executable on this platform ("fwloader" here,
// "fwloader.exe" on Windows).
std::string ExecutableFileName(std::string_view base);

// File name of the driver library ("pcomm.so" here, "pcomm.dll" on Windows).
std::string DriverFileName();

}  // namespace platform
