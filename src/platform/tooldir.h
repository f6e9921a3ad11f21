// Where the tool lives: ToolDir is the directory of the running executable,
// ending with a separator. Data files and sibling programs sit in subsys/.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToolDir();
std::string SubsysPath(std::string_view name);  // ToolDir + "subsys/" + name

// File name of a sibling executable on this platform ("fwloader" here,
// "fwloader.exe" on Windows).
std::string ExecutableFileName(std::string_view base);

// File name of the driver library ("pcomm.so" here, "pcomm.dll" on Windows).
std::string DriverFileName();

}  // namespace platform
