#include "core/siblings.h"

#include "platform/text.h"
#include "platform/tooldir.h"

namespace card {

bool Siblings::IsRunning(const std::string& program) {
  return processes_.IsRunning(platform::ExecutableFileName(program));
}

SiblingStart Siblings::StartIfNotRunning(const std::string& program) {
  const std::string exe = platform::ExecutableFileName(program);
  if (processes_.IsRunning(exe)) return SiblingStart::AlreadyRunning;
  return processes_.Start(programDir_ + exe) ? SiblingStart::Started : SiblingStart::Failed;
}

std::string SiblingStartFailedText(const std::string& program) {
  return platform::Format("无法启动%s，请确认软件目录subsys中有该程序！",
                          platform::ExecutableFileName(program).c_str());
}

}  // namespace card
