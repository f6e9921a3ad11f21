// cardctl's commands: what each does with its arguments, what it prints on
// standard output (text, or one JSON document with --json) and on standard
// error (progress, the operations' messages), and its exit status.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "cardctl/options.h"
#include "link/link_factory.h"
#include "platform/adapters.h"
#include "platform/clock.h"

namespace card::cli {

class WorkFolder;

struct ToolEnv {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool interactive = false;  // questions may be asked on the terminal
  LinkFactory links = {};
  std::function<std::unique_ptr<Channel>()> search = {};
  platform::AdapterSource* adapters = nullptr;
  platform::Clock* clock = nullptr;
  const WorkFolder* work = nullptr;
  std::string version = {};
};

// Runs cl.command; returns the exit status.
int RunCommand(const CommandLine& cl, ToolEnv& env);

}  // namespace card::cli
