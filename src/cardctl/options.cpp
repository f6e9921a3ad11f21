#include "cardctl/options.h"

#include <algorithm>

#include "cardctl/fields.h"
#include "cardctl/texts.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using platform::Format;

constexpr const char* kAddressesZh =
    "控制卡IP 可写为地址、末段范围（192.168.1.20-40）、完整范围（192.168.1.250-192.168.2.10）、"
    "@文件（每行一个地址或范围，# 后为注释）或 -（从标准输入读取，同 @文件 的格式）。同一张卡不能出现两次。";
constexpr const char* kAddressesEn =
    "ADDR is an address, a range of its last number (192.168.1.20-40) or of whole addresses "
    "(192.168.1.250-192.168.2.10), @FILE (one address or range a line, # starts a comment) or - "
    "(the same read from standard input). No card may be named twice.";

}  // namespace

const std::vector<OptionDef>& Options() {
  static const std::vector<OptionDef> options = {
      {"--lang", "LANG", "输出语言：zh（中文，默认）或 en（英文）", "language of every message: zh (Chinese, the default) or en",
       {"zh", "en"}},
      {"--driver", "PATH", "使用指定的通信驱动库（默认 subsys/pcomm.so）",
       "the communication driver library to load (default: subsys/pcomm.so beside cardctl)", {}},
      {"--json", "", "结果以 JSON 输出到标准输出（每张卡一个对象，值带类型）",
       "print the result as one JSON document on standard output (one object per card, typed values)", {}},
      {"--help", "", "显示帮助", "show the help", {}},
      {"--local", "ADDR", "从本机的这个地址搜索（默认：每块网卡的每个地址）",
       "search from this local address only (default: every address of every network adapter)", {}},
      {"--dry-run", "", "只列出将要发送的每条命令和发送时间，不发送",
       "print every line that would be sent and when, and send nothing", {}},
      {"--check", "", "只报告每张卡将要修改的设置，不发送", "report what would change on each card, and send nothing", {}},
      {"--with-network", "", "同时恢复（或比较）IP、地址方式、网卡设置、MAC和设备名；克隆时只能用于一张卡",
       "also restore (or compare) the address, addressing, network settings, MAC and name; a clone takes it for one "
       "card only",
       {}},
      {"--yes", "", "对所有询问回答“是”（不加时回答“否”，且在发送任何命令之前停止）",
       "answer yes to every question (without it the answer is no, and the card is left before any line is sent)", {}},
      {"--programs", "MODE", "keep（默认）保留目标卡上备份中没有的节目；replace 删除它们",
       "keep (the default) leaves program slots the backup does not hold; replace deletes them", {"keep", "replace"}},
      {"--jobs", "N", "同时处理的卡数（默认为卡的数量，最多256）",
       "how many cards are worked on at once (default: all of them, at most 256)", {}},
  };
  return options;
}

const std::vector<std::string>& GlobalOptions() {
  static const std::vector<std::string> global = {"--lang", "--driver", "--json", "--help"};
  return global;
}

const std::vector<CommandDef>& Commands() {
  static const std::vector<CommandDef> commands = {
      {"search", "", "", "广播搜索局域网中的控制卡", "find the cards on the LAN by broadcast",
       "每张卡一行：IP、序列号、MAC、固件版本、屏幕尺寸。",
       "One line per card: address, serial, MAC, firmware version and screen size.",
       {"--local"}, {}},
      {"show", "控制卡IP|备份文件", "ADDR|FILE", "按名称列出每一项设置", "print every setting by name",
       "给出控制卡IP时读取控制卡；给出备份文件时离线读取，不连接控制卡。输出包括参数校验状态（checksum）。",
       "From a card, or offline from a backup file. The output includes the state of the record's own checksum.",
       {}, {Arg::Source}},
      {"diff", "来源 来源", "SOURCE SOURCE", "比较设置、脚本和节目", "compare settings, script and programs",
       "每个来源是控制卡IP或备份文件。逐项列出不同的设置（名称和两边的值）、脚本和节目。"
       "IP、地址方式、网卡设置、MAC和设备名只在 --with-network 时比较。退出码：0 相同，1 不同，2 无法比较。",
       "Each source is a card's address or a backup file. Prints each setting that differs (its name and both "
       "values), and whether the script and each program differ. The address, addressing, network settings, MAC and "
       "name are compared only with --with-network. Exit status: 0 equal, 1 different, 2 when a source cannot be "
       "read.",
       {"--with-network"}, {Arg::Source, Arg::Source}},
      {"set", "控制卡IP 名称=值...", "ADDR NAME=VALUE...", "修改控制卡的设置", "change settings of a card",
       "按软件的提交规则修改（每项先发校验码，再发命令）；名称见 cardctl show。列表项可写选项文字、英文名、"
       "选项上显示的数字（scan=4 即 1/4）或 #序号（从0起）；含义不明确的值被拒绝。任何值无效时什么也不发送（退出码2）。"
       "发送后读回控制卡核对，未生效的项会被列出（退出码1）。",
       "Changes go out by the window's submit rules (a checksum announcement, then the line); the names are those "
       "cardctl show prints. A list takes its item's text, its English name, the number the item shows (scan=4 is "
       "1/4) or #POSITION (from 0); a value that could mean two items is refused. Nothing is sent unless every value "
       "is good (exit 2). After sending the card is read back; settings it does not hold are named (exit 1).",
       {"--dry-run"}, {Arg::Address, Arg::Assignments}},
      {"apply", "设置文件 控制卡IP...", "SETTINGS ADDR...", "把设置文件应用到多张卡", "apply a settings file to many cards",
       "设置文件是 JSON 对象（{\"brightness\": 25, \"auto_ip\": false}）或 INI 形式（每行 名称 = 值，# 或 ; 开头的行为注释），"
       "只写要设置的项。先读取每张卡、列出将修改的项，确认后（--yes）只发送不同的项，再读回核对。"
       "没有不同的卡不发送任何命令，结果为 unchanged。--check 只报告。",
       "The settings file is a JSON object ({\"brightness\": 25, \"auto_ip\": false}) or INI lines (NAME = VALUE; lines "
       "starting with # or ; are comments) holding only the settings to make. Every card is read and what would "
       "change is listed; once confirmed (--yes) only what differs is sent, and each card is read back. A card that "
       "already holds the settings gets no line at all (unchanged). --check only reports.",
       {"--check", "--yes", "--jobs"}, {Arg::File, Arg::Addresses}},
      {"backup", "控制卡IP 文件|-", "ADDR FILE|-", "把设置、脚本和节目备份到一个文件",
       "save a card's settings, script and programs to one file",
       "文件为 - 时写到标准输出。参数自身校验失败（固件17及以上），或脚本、节目目录读不完整时不备份（退出码1）。"
       "文件是符号链接时写入它指向的文件。",
       "FILE - writes to standard output. A record that fails its own checksum (firmware 17 and later), or a script "
       "or program directory that cannot be read whole, is not backed up (exit 1). A symbolic link is written "
       "through, the link stays.",
       {}, {Arg::Address, Arg::FileOrDash}},
      {"restore", "备份文件 控制卡IP", "FILE ADDR", "把备份恢复到一张卡", "restore a backup onto a card",
       "读取控制卡，只发送与备份不同的项（参数、高级设置、更多目标设置、Modbus请求、脚本、节目，最后是网络设置），"
       "然后读回核对。所有询问在发送第一条命令之前决定。--with-network 用于另一台设备（序列号不同）时先询问。",
       "Reads the card and sends only what differs from the backup (panel, advanced settings, panel driver, Modbus "
       "requests, script, programs, the network group last), then reads the card back and compares. Every question "
       "is decided before the first line goes out. --with-network onto a card with another serial asks first.",
       {"--dry-run", "--with-network", "--yes", "--programs"}, {Arg::File, Arg::Address}},
      {"clone", "备份文件 控制卡IP...", "FILE ADDR...", "把备份同时恢复到多张卡", "restore a backup onto many cards at once",
       "每张卡一条连接，同时处理 --jobs 张；一张卡失败不影响其他卡。每张卡完成时一行进度，最后列出每张卡的结果和失败的步骤。",
       "One link per card, --jobs of them at a time; one card failing never stops the others. A line as each card "
       "finishes, then each card's result and, for a failed one, the step it reached.",
       {"--jobs", "--with-network", "--yes", "--programs", "--dry-run"}, {Arg::File, Arg::Addresses}},
      {"help", "[命令]", "[COMMAND]", "显示命令的帮助", "show the help of a command", "", "", {}, {Arg::Command}},
  };
  return commands;
}

const OptionDef* FindOption(const std::string& name) {
  for (const OptionDef& o : Options())
    if (o.name == name) return &o;
  return nullptr;
}

const CommandDef* FindCommand(const std::string& name) {
  for (const CommandDef& c : Commands())
    if (c.name == name) return &c;
  return nullptr;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  // The language first, so that every refusal is in it.
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == "--lang") SetEnglish(args[i + 1] == "en");
  for (const std::string& a : args)
    if (a.rfind("--lang=", 0) == 0) SetEnglish(a.substr(7) == "en");

  auto refuse = [&](const std::string& why) {
    if (cl.error.empty()) cl.error = why;
  };
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyPositional || a == "-" || a.empty() || a[0] != '-') {
      (cl.command.empty() ? cl.command : cl.positional.emplace_back()) = a;
      continue;
    }
    if (a == "--") {
      onlyPositional = true;
      continue;
    }
    if (a == "-h") {
      cl.help = true;
      continue;
    }
    if (a == "--version") {
      cl.version = true;
      continue;
    }
    std::string name = a, value;
    const std::size_t eq = a.find('=');
    const bool inlineValue = eq != std::string::npos && a.rfind("--", 0) == 0;
    if (inlineValue) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    }
    const OptionDef* def = FindOption(name);
    if (!def) {
      refuse(Format(Tr("未知选项 %s", "unknown option %s").c_str(), a.c_str()));
      continue;
    }
    if (def->value.empty()) {
      if (inlineValue) refuse(Format(Tr("%s 不带值", "%s takes no value").c_str(), name.c_str()));
    } else if (!inlineValue) {
      if (i + 1 >= args.size()) {
        refuse(Format(Tr("%s 后面缺少值", "%s needs a value").c_str(), name.c_str()));
        continue;
      }
      value = args[++i];
    }
    if (!def->choices.empty() && std::find(def->choices.begin(), def->choices.end(), value) == def->choices.end()) {
      std::string choices;
      for (const auto& c : def->choices) choices += (choices.empty() ? "" : "|") + c;
      refuse(Format(Tr("%s 的值只能是 %s", "%s takes %s").c_str(), name.c_str(), choices.c_str()));
    }
    if (cl.options.count(name) && cl.options[name] != value)
      refuse(Format(Tr("%s 给了两个不同的值", "%s is given two different values").c_str(), name.c_str()));
    if (name == "--help") cl.help = true;
    cl.options[name] = value;
  }
  if (cl.command.empty()) return cl;
  const CommandDef* command = FindCommand(cl.command);
  if (!command) {
    refuse(Format(Tr("未知命令 %s", "unknown command %s").c_str(), cl.command.c_str()));
    return cl;
  }
  for (const auto& [name, value] : cl.options) {
    const auto& global = GlobalOptions();
    if (std::find(global.begin(), global.end(), name) != global.end()) continue;
    if (std::find(command->options.begin(), command->options.end(), name) == command->options.end())
      refuse(Format(Tr("选项 %s 不适用于 %s 命令（cardctl help %s 列出它的选项）",
                       "option %s does not apply to %s (cardctl help %s lists its options)")
                        .c_str(),
                    name.c_str(), cl.command.c_str(), cl.command.c_str()));
  }
  if (cl.has("--jobs")) {
    const std::string& n = cl.options["--jobs"];
    const bool digits = !n.empty() && n.size() <= 3 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits || std::stoi(n) < 1 || std::stoi(n) > 256) refuse(Tr("--jobs 的值是 1 到 256", "--jobs takes 1 to 256"));
  }
  return cl;
}

namespace {

std::string Synopsis(const CommandDef& c, bool english) {
  std::string line = "cardctl " + c.name;
  const std::string& args = english ? c.argsEn : c.argsZh;
  if (!args.empty()) line += " " + args;
  for (const std::string& name : c.options) {
    const OptionDef* o = FindOption(name);
    line += " [" + o->name + (o->value.empty() ? "" : " " + o->value) + "]";
  }
  return c.name == "help" ? line : line + " [--json]";
}

std::string OptionLines(const std::vector<std::string>& names, bool english) {
  std::string out;
  for (const std::string& name : names) {
    const OptionDef* o = FindOption(name);
    std::string head = o->name + (o->value.empty() ? "" : " " + o->value);
    if (head.size() < 20) head.resize(20, ' ');
    out += "  " + head + "  " + (english ? o->en : o->zh) + "\n";
  }
  return out;
}

bool TakesAddresses(const CommandDef& c) {
  return std::find(c.args.begin(), c.args.end(), Arg::Addresses) != c.args.end();
}

}  // namespace

std::string HelpText(const std::string& command) {
  const bool en = English();
  if (const CommandDef* c = FindCommand(command)) {
    std::string out = Synopsis(*c, en) + "\n  " + (en ? c->summaryEn : c->summaryZh) + "\n";
    const std::string& detail = en ? c->detailEn : c->detailZh;
    if (!detail.empty()) out += "\n" + detail + "\n";
    if (TakesAddresses(*c)) out += "\n" + std::string(en ? kAddressesEn : kAddressesZh) + "\n";
    if (!c->options.empty()) out += "\n" + OptionLines(c->options, en);
    out += "\n" + std::string(en ? "Options of every command:\n" : "所有命令都可用的选项：\n") + OptionLines(GlobalOptions(), en);
    return out;
  }
  std::string out = en ? "cardctl COMMAND [OPTIONS]: the window's card operations from a terminal\n\n"
                       : "cardctl 命令 [选项]：在终端中完成软件界面的控制卡操作\n\n";
  for (const CommandDef& c : Commands()) {
    std::string head = c.name;
    head.resize(10, ' ');
    out += "  " + head + (en ? c.summaryEn : c.summaryZh) + "\n";
  }
  out += "\n" + OptionLines(GlobalOptions(), en);
  out += en ? "  --version             print the version\n" : "  --version             显示版本\n";
  out += en ? "\ncardctl help COMMAND explains a command. Exit status: 0 everything asked was done, 1 a card or file "
              "failed, 2 a refused command line, value or file (nothing sent).\n"
            : "\ncardctl help 命令 显示该命令的说明。退出码：0 全部完成，1 有控制卡或文件失败，"
              "2 命令行、值或文件被拒绝（未发送任何命令）。\n";
  return out;
}

namespace {

// troff text: a leading dot or quote would be read as a request, a
// backslash as an escape.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

}  // namespace

std::string ManPage(const std::string& version) {
  std::string m;
  m += ".TH CARDCTL 1 \"\" \"cardctl " + version + "\" \"User Commands\"\n";
  m += ".SH NAME\ncardctl \\- set up networked LED controller cards from a terminal\n";
  m += ".SH SYNOPSIS\n.nf\n";
  for (const CommandDef& c : Commands()) m += Roff(Synopsis(c, true)) + "\n";
  m += "cardctl \\-\\-version\n.fi\n";
  m += ".SH DESCRIPTION\n" +
       Roff("cardctl runs the card operations of the CardSetup window without a window: search, show, compare, "
            "change, back up and restore cards, one or many at a time. Results go to standard output, progress and "
            "the operations' messages to standard error. Messages are in Chinese, or English with --lang en.") +
       "\n";
  m += ".SH COMMANDS\n";
  for (const CommandDef& c : Commands()) {
    m += ".TP\n.B " + Roff(c.name + (c.argsEn.empty() ? "" : " " + c.argsEn)) + "\n" + Roff(c.summaryEn) + ".\n";
    if (!c.detailEn.empty()) m += Roff(c.detailEn) + "\n";
    for (const std::string& name : c.options) {
      const OptionDef* o = FindOption(name);
      m += ".RS\n.TP\n.B " + Roff(o->name) + (o->value.empty() ? "" : " \\fI" + Roff(o->value) + "\\fR") + "\n" +
           Roff(o->en) + "\n.RE\n";
    }
  }
  m += ".SH OPTIONS\n";
  for (const std::string& name : GlobalOptions()) {
    const OptionDef* o = FindOption(name);
    m += ".TP\n.B " + Roff(o->name) + (o->value.empty() ? "" : " \\fI" + Roff(o->value) + "\\fR") + "\n" + Roff(o->en) + "\n";
  }
  m += ".TP\n.B \\-\\-version\nprint the version\n";
  m += ".SH ADDRESSES\n" + Roff(kAddressesEn) + "\n";
  m += ".SH SETTINGS\n" +
       Roff("The names show prints, set and apply take. A list takes its item's text, its English name, the number "
            "the item shows, or #POSITION.") +
       "\n";
  for (const Field& f : Fields()) {
    m += ".TP\n.B " + Roff(f.name) + "\n" + Roff(f.labelEn) + " (" + Roff(f.label) + ")" +
         (f.set ? "" : ", read-only") + "\n";
  }
  m += ".SH EXIT STATUS\n.TP\n0\neverything asked was done (diff: the sources are equal)\n"
       ".TP\n1\na card or file failed (diff: the sources differ); the summary names the step each card reached\n"
       ".TP\n2\nthe command line, a value or a file was refused; nothing was sent\n";
  m += ".SH ENVIRONMENT\n.TP\n.B TMPDIR\n" +
       Roff("where cardctl keeps its private working folder (program texts while they go to or come from a card); "
            "it is removed at the end, on every signal that ends cardctl, and left-overs of a killed cardctl at the "
            "next start.") +
       "\n.TP\n.B CARD_CLOCK_SCALE\n" +
       Roff("shortens every pause in proportion (0 < s <= 1), for tests against virtual cards only.") + "\n";
  m += ".SH EXAMPLES\n.nf\n" +
       Roff("cardctl search\n"
            "cardctl show 192.168.1.20\n"
            "cardctl set 192.168.1.20 brightness=25 scan=1/8\n"
            "cardctl backup 192.168.1.20 sign.snap\n"
            "cardctl diff sign.snap 192.168.1.21\n"
            "cardctl clone sign.snap 192.168.1.21-40 --yes\n"
            "cardctl apply site.json @cards.txt --check --json\n") +
       ".fi\n";
  return m;
}

std::string BashCompletion() {
  std::string commands, cases;
  for (const CommandDef& c : Commands()) {
    commands += (commands.empty() ? "" : " ") + c.name;
    std::string options;
    for (const std::string& o : c.options) options += " " + o;
    for (const std::string& o : GlobalOptions()) options += " " + o;
    cases += "    " + c.name + ") opts=\"" + options.substr(1) + "\"";
    const bool assignments = std::find(c.args.begin(), c.args.end(), Arg::Assignments) != c.args.end();
    const bool files = std::find_if(c.args.begin(), c.args.end(), [](Arg a) {
                         return a == Arg::File || a == Arg::FileOrDash || a == Arg::Source;
                       }) != c.args.end();
    if (assignments) cases += "; words=\"$fields\"";
    if (c.name == "help") cases += "; words=\"$commands\"";
    if (files) cases += "; files=1";
    cases += " ;;\n";
  }
  std::string valued, choices;
  for (const OptionDef& o : Options()) {
    if (o.value.empty()) continue;
    valued += (valued.empty() ? "" : "|") + o.name;
    std::string list;
    for (const auto& c : o.choices) list += (list.empty() ? "" : " ") + c;
    if (o.name == "--driver") choices += "    --driver) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
    else if (!list.empty()) choices += "    " + o.name + ") COMPREPLY=($(compgen -W \"" + list + "\" -- \"$cur\")); return ;;\n";
  }
  std::string fields;
  for (const Field& f : Fields())
    if (f.set) fields += (fields.empty() ? "" : " ") + f.name + "=";
  std::string s;
  s += "# bash completion for cardctl (generated from its option table)\n";
  s += "_cardctl() {\n";
  s += "  local cur prev cmd i opts words files\n";
  s += "  COMPREPLY=()\n  cur=\"${COMP_WORDS[COMP_CWORD]}\"\n  prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n";
  s += "  local commands=\"" + commands + "\"\n";
  s += "  local fields=\"" + fields + "\"\n";
  s += "  case \"$prev\" in\n" + choices + "    " + valued + ") return ;;\n  esac\n";
  s += "  cmd=\"\"\n  for ((i = 1; i < COMP_CWORD; i++)); do\n";
  s += "    case \"${COMP_WORDS[i]}\" in\n      " + valued + ") ((i++)) ;;\n      -*) ;;\n";
  s += "      *) cmd=\"${COMP_WORDS[i]}\"; break ;;\n    esac\n  done\n";
  s += "  if [[ -z \"$cmd\" ]]; then\n";
  s += "    COMPREPLY=($(compgen -W \"$commands --help --version --lang --driver --json\" -- \"$cur\"))\n    return\n  fi\n";
  s += "  opts=\"\"; words=\"\"; files=0\n";
  s += "  case \"$cmd\" in\n" + cases + "  esac\n";
  s += "  if [[ \"$cur\" == -* ]]; then\n    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n    return\n  fi\n";
  s += "  compopt -o nospace 2>/dev/null\n";
  s += "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n";
  s += "  if [[ $files -eq 1 ]]; then COMPREPLY+=($(compgen -f -- \"$cur\")); fi\n";
  s += "  if [[ ${#COMPREPLY[@]} -eq 1 && \"${COMPREPLY[0]}\" != *= ]]; then compopt +o nospace 2>/dev/null; fi\n";
  s += "}\n";
  s += "complete -F _cardctl cardctl\n";
  return s;
}

}  // namespace card::cli
