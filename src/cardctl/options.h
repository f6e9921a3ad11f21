// cardctl's commands and options, in one table: the parser, --help,
// `help COMMAND`, the man page and the bash completion are all made from it,
// so none of them can name an option another does not know.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace card::cli {

// What a positional argument is, for the help and the completion.
enum class Arg { Address, Addresses, File, FileOrDash, Source, Assignments, Command };

struct OptionDef {
  std::string name;    // "--jobs"
  std::string value;   // "N"; empty for a switch
  std::string zh, en;  // what it does
  std::vector<std::string> choices;  // the values it takes, when there are few
};

struct CommandDef {
  std::string name;
  std::string argsZh, argsEn;        // "文件 控制卡IP..." / "FILE ADDR..."
  std::string summaryZh, summaryEn;  // one line
  std::string detailZh, detailEn;    // the rest of its help
  std::vector<std::string> options;  // its own options (the global ones come on top)
  std::vector<Arg> args;
};

const std::vector<OptionDef>& Options();
// Taken by every command: --lang, --driver, --json, --help.
const std::vector<std::string>& GlobalOptions();
const std::vector<CommandDef>& Commands();
const OptionDef* FindOption(const std::string& name);
const CommandDef* FindCommand(const std::string& name);

// The exit statuses, as the help and the man page state them.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

struct CommandLine {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // given options and their values ("" for a switch)
  bool version = false;
  bool help = false;
  std::string error;  // why the line is refused (exit 2)

  bool has(const std::string& option) const { return options.count(option) > 0; }
  std::string get(const std::string& option, const std::string& fallback = {}) const {
    auto it = options.find(option);
    return it == options.end() ? fallback : it->second;
  }
};

// Each command takes its own options and the global ones; any other option,
// a missing value or a value outside its choices is an error. The language
// (--lang) is applied while parsing, so the error is in it.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The help of one command, or of all when command is empty, in the chosen language.
std::string HelpText(const std::string& command);
std::string ManPage(const std::string& version);
std::string BashCompletion();

}  // namespace card::cli
