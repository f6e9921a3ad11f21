// cardctl: the window's card operations from a terminal, for installers who
// set up many signs. Results go to stdout, progress and messages to stderr;
// the exit status is 0 only when everything asked was done.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cardctl/cardctl.h"
#include "cardctl/fields.h"
#include "core/syscfg.h"
#include "link/driver_binding.h"
#include "link/scan.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/tooldir.h"
#include "platform/version.h"

namespace {

using card::cli::Field;
using platform::Format;

constexpr const char* kVersion = platform::kToolVersion;
constexpr int kMaxJobs = 64;

bool gEnglish = false;

// The tool's own words in both languages; the operations' messages are the
// window's Chinese texts, translated here where they are common.
const std::map<std::string, std::string>& English() {
  static const std::map<std::string, std::string> en = {
      {"连接设备失败", "could not connect to the card"},
      {"错误", "error"},
      {"提示", "notice"},
      {"CRC ERROR!", "CRC ERROR!"},
      {"设备未返回参数，请检查设备后重新双击列表中设备！", "the card sent no parameters"},
      {"设备返回的参数不完整，请重新双击列表中设备读取！", "the card sent incomplete parameters"},
      {"IP修改成功,设备已重启，请重新搜卡！！！", "address changed; the card restarts at its new address"},
      {"加载pcomm.dll失败", "could not load the communication driver"},
  };
  return en;
}

std::string T(const std::string& zh, const std::string& en) { return gEnglish ? en : zh; }

// Messages from the operations, in the chosen language where known.
class TranslatingUser : public card::cli::ConsoleUser {
 public:
  using ConsoleUser::ConsoleUser;
  void Message(const std::string& text, const std::string& title, card::Icon icon) override {
    ConsoleUser::Message(Translate(text), Translate(title), icon);
  }

 private:
  static std::string Translate(const std::string& s) {
    if (!gEnglish) return s;
    auto it = English().find(s);
    return it == English().end() ? s : it->second;
  }
};

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\')
      out += std::string("\\") + static_cast<char>(c);
    else if (c < 0x20)
      out += Format("\\u%04x", c);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

struct Args {
  std::string command;
  std::vector<std::string> positional;
  bool json = false, dryRun = false, withNetwork = false, yes = false, help = false;
  std::string local, driver;
  int jobs = 16;
  std::string error;
};

Args Parse(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        a.error = Format(T("%s 后面缺少值", "%s needs a value").c_str(), arg.c_str());
        return;
      }
      *out = argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      a.help = true;
    } else if (arg == "--json") {
      a.json = true;
    } else if (arg == "--dry-run") {
      a.dryRun = true;
    } else if (arg == "--with-network") {
      a.withNetwork = true;
    } else if (arg == "--yes") {
      a.yes = true;
    } else if (arg == "--local") {
      value(&a.local);
    } else if (arg == "--driver") {
      value(&a.driver);
    } else if (arg == "--lang") {
      std::string lang;
      value(&lang);
      if (lang != "zh" && lang != "en") a.error = "--lang zh|en";
      gEnglish = lang == "en";
    } else if (arg == "--jobs") {
      std::string n;
      value(&n);
      char* end = nullptr;
      long v = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end || v < 1 || v > kMaxJobs) a.error = Format("--jobs 1..%d", kMaxJobs);
      a.jobs = static_cast<int>(v);
    } else if (arg.rfind("--", 0) == 0) {
      a.error = Format(T("未知选项 %s", "unknown option %s").c_str(), arg.c_str());
    } else if (a.command.empty()) {
      a.command = arg;
    } else {
      a.positional.push_back(arg);
    }
  }
  return a;
}

std::string Usage(const std::string& command) {
  const std::map<std::string, std::pair<std::string, std::string>> help = {
      {"search",
       {"cardctl search [--local 本机IP] [--json]\n  广播搜索局域网中的控制卡，每张卡一行：IP、序列号、MAC、固件版本、屏幕尺寸。",
        "cardctl search [--local ADDR] [--json]\n  Broadcast search; one line per card: address, serial, MAC, firmware, screen size."}},
      {"show",
       {"cardctl show 控制卡IP [--json]\n  读取控制卡参数，按名称列出每一项及其取值。",
        "cardctl show ADDR [--json]\n  Reads the card's record and prints every field by name with its value."}},
      {"set",
       {"cardctl set 控制卡IP 名称=值 ...\n  按提交规则修改参数（每项先发校验码，再发命令）；名称见 cardctl show。\n  列表项可写序号或文字；超出范围的值在发送前就被拒绝。",
        "cardctl set ADDR NAME=VALUE...\n  Changes fields through the submit rules (checksum announcement, line, pause each);\n  names as cardctl show prints them; list fields take a position or the item text."}},
      {"backup",
       {"cardctl backup 控制卡IP 文件\n  把参数（含Modbus请求表）、脚本和节目存入一个备份文件。",
        "cardctl backup ADDR FILE\n  Saves the record (with its Modbus table), the script and the program slots to one file."}},
      {"restore",
       {"cardctl restore 文件 控制卡IP [--dry-run] [--with-network] [--yes]\n  读取控制卡，只发送与备份不同的项。--dry-run 只列出将发送的命令和所需时间。\n  不加 --with-network 时不改卡的IP、MAC、设备名和网卡设置。",
        "cardctl restore FILE ADDR [--dry-run] [--with-network] [--yes]\n  Reads the card and sends only what differs. --dry-run prints the plan and sends nothing.\n  Without --with-network the card's address, MAC, name and network settings stay."}},
      {"clone",
       {"cardctl clone 文件 控制卡IP... [--jobs N] [--with-network] [--yes]\n  同时恢复到多张卡（每张卡一条连接，最多N张同时进行），最后列出成功和失败。",
        "cardctl clone FILE ADDR... [--jobs N] [--with-network] [--yes]\n  Restores to many cards at once, one link per card, at most N at a time; prints a summary."}},
  };
  auto it = help.find(command);
  if (it != help.end()) return (gEnglish ? it->second.second : it->second.first) + "\n";
  std::string all = T("cardctl 命令 [选项]   (--lang en 英文, --help 帮助)\n\n",
                      "cardctl COMMAND [OPTIONS]   (--lang en, --help)\n\n");
  for (const auto& [name, text] : help) all += (gEnglish ? text.second : text.first) + "\n\n";
  return all;
}

// A private folder for one card's working files; gone at the end.
class WorkDir {
 public:
  WorkDir() {
    char tmpl[] = "/tmp/cardctl-XXXXXX";
    path_ = ::mkdtemp(tmpl) ? tmpl : "";
  }
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string Sub(const std::string& name) const {
    std::string p = path_ + "/" + name;
    ::mkdir(p.c_str(), 0700);
    return p;
  }
  bool ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

class Tool {
 public:
  Tool(const Args& a, std::shared_ptr<card::DriverLibrary> driver)
      : args_(a),
        driver_(std::move(driver)),
        base_(platform::ClockScaleFromEnvironment(1.0)),
        makeLink_([d = driver_](int port) { return d->CreateLink(port); }) {}

  int Run() {
    const std::string& c = args_.command;
    if (c == "search") return Search();
    if (c == "show") return Show();
    if (c == "set") return Set();
    if (c == "backup") return Backup();
    if (c == "restore") return Restore();
    if (c == "clone") return Clone();
    std::cerr << Format(T("未知命令 %s\n", "unknown command %s\n").c_str(), c.c_str()) << Usage({});
    return 2;
  }

 private:
  bool Need(std::size_t n, std::size_t max = 0) {
    if (args_.positional.size() >= n && (max == 0 || args_.positional.size() <= max)) return true;
    std::cerr << Usage(args_.command);
    return false;
  }
  std::unique_ptr<TranslatingUser> UserFor(const std::string& address) {
    return std::make_unique<TranslatingUser>(std::cerr, errLock_, "[" + address + "] ", args_.yes);
  }

  int Search() {
    std::string local = args_.local;
    if (local.empty()) local = card::SysCfg::ForTool().serverIp();
    auto search = driver_->CreateSearch();
    if (!search || !search->exists() || search->Connect(local) != 0) {
      std::cerr << Format(T("无法在本机地址 %s 上搜索（用 --local 指定本机IP）\n",
                            "cannot search from local address %s (use --local)\n").c_str(),
                          local.c_str());
      return 1;
    }
    std::vector<card::DeviceStatusRecord> found;
    const card::ScanResult scan = card::ScanCards(*search, base_, card::kSearchQuery,
                                                  [&](const card::DeviceStatusRecord& r) { found.push_back(r); });
    if (args_.json) {
      std::cout << "[";
      for (std::size_t i = 0; i < found.size(); ++i) {
        const auto& r = found[i];
        std::cout << (i ? ",\n " : "") << "{\"address\":" << Json(card::AddressText(r))
                  << ",\"serial\":" << Json(card::SerialText(r)) << ",\"mac\":" << Json(card::MacText(r))
                  << ",\"firmware\":" << Json(card::FirmwareText(r)) << ",\"width\":" << r.u16(card::rec::kWidth)
                  << ",\"height\":" << r.u16(card::rec::kHeight) << "}";
      }
      std::cout << "]\n";
    } else {
      for (const auto& r : found)
        std::cout << card::AddressText(r) << "  " << card::SerialText(r) << "  " << card::MacText(r) << "  "
                  << card::FirmwareText(r) << "  " << r.u16(card::rec::kWidth) << "x" << r.u16(card::rec::kHeight)
                  << "\n";
      std::cerr << Format(T("找到 %zu 张控制卡\n", "%zu card(s) found\n").c_str(), found.size());
    }
    // Cards may have answered unheard: the list is not all there is.
    if (scan.flooded) {
      std::cerr << Format(T("网络上的数据过多，设备的应答可能被淹没：搜索前丢弃 %d 个数据报，拒收 %d 个非设备应答\n",
                            "too much traffic on the network may have hidden the cards' replies: %d datagrams "
                            "drained before the query, %d that were no card's reply rejected\n").c_str(),
                          scan.drained, scan.rejected);
      return 1;
    }
    return 0;
  }

  int Show() {
    if (!Need(1, 1)) return 2;
    const std::string address = args_.positional[0];
    auto user = UserFor(address);
    card::cli::Target t(makeLink_, address, base_, *user, work_.Sub("show"));
    auto record = card::cli::ReadCard(t);
    if (!record) return 1;
    const auto& fields = card::cli::Fields();
    if (args_.json) {
      std::cout << "{";
      for (std::size_t i = 0; i < fields.size(); ++i)
        std::cout << (i ? ",\n " : "") << Json(fields[i].name) << ":" << Json(fields[i].show(*record));
      std::cout << "}\n";
    } else {
      for (const Field& f : fields)
        std::cout << f.name << " = " << f.show(*record) << "    # " << f.label << " ("
                  << card::cli::GroupName(f.group) << (f.set ? "" : T(", 只读", ", read-only")) << ")\n";
    }
    return 0;
  }

  int Set() {
    if (!Need(2)) return 2;
    const std::string address = args_.positional[0];
    auto user = UserFor(address);
    card::cli::Target t(makeLink_, address, base_, *user, work_.Sub("set"));
    auto card = card::cli::ReadCard(t);
    if (!card) return 1;
    card::DeviceStatusRecord desired = *card;
    bool refused = false;
    for (std::size_t i = 1; i < args_.positional.size(); ++i)
      if (auto error = card::cli::ApplyAssignment(&desired, args_.positional[i])) {
        std::cerr << *error << "\n";
        refused = true;
      }
    // Nothing goes out unless every value is good.
    if (refused) return 2;
    if (!card::cli::ApplyRecord(t, *card, desired)) return 1;
    std::cerr << T("参数已发送\n", "settings sent\n");
    return 0;
  }

  int Backup() {
    if (!Need(2, 2)) return 2;
    const std::string address = args_.positional[0], file = args_.positional[1];
    auto user = UserFor(address);
    card::cli::Target t(makeLink_, address, base_, *user, work_.Sub("backup"));
    auto state = card::cli::ReadCardState(t, true);
    if (!state) return 1;
    if (!card::WriteSnapshot(file, card::cli::SnapshotOf(*state, address, kVersion))) {
      std::cerr << Format(T("无法写入文件 %s\n", "cannot write %s\n").c_str(), file.c_str());
      return 1;
    }
    std::cerr << Format(T("已备份到 %s：参数、脚本和 %zu 个节目\n", "saved to %s: record, script and %zu program(s)\n").c_str(),
                        file.c_str(), state->programs.size());
    return 0;
  }

  std::optional<card::Snapshot> Load(const std::string& file) {
    auto read = card::ReadSnapshot(file);
    if (read.ok()) return read.snapshot;
    const char* why = "";
    switch (read.error) {
      case card::SnapshotError::NotASnapshot: why = gEnglish ? "not a backup file" : "不是备份文件"; break;
      case card::SnapshotError::UnknownLayout: why = gEnglish ? "made from another record layout" : "参数格式不同"; break;
      case card::SnapshotError::BadChecksum: why = gEnglish ? "a part fails its checksum" : "校验失败"; break;
      case card::SnapshotError::BadPart:
      case card::SnapshotError::Truncated: why = gEnglish ? "damaged" : "文件已损坏"; break;
      case card::SnapshotError::None: break;
    }
    std::cerr << Format(T("备份文件 %s 不能使用：%s %s\n", "backup %s refused: %s %s\n").c_str(), file.c_str(), why,
                        read.detail.c_str());
    return std::nullopt;
  }

  // One card: read it, then restore (or only plan).
  bool RestoreOne(const card::Snapshot& s, const std::string& address, card::cli::ConsoleUser& user,
                  const std::string& dir) {
    card::cli::Target t(makeLink_, address, base_, user, dir);
    const bool contents = s.script.has_value() || !s.programs.empty();
    auto state = card::cli::ReadCardState(t, contents);
    if (!state) return false;
    card::cli::ApplyOptions options;
    options.withNetwork = args_.withNetwork;
    if (args_.dryRun) {
      auto plan = card::cli::PlanSnapshot(address, *state, s, options, dir + "/plan");
      std::lock_guard<std::mutex> lock(errLock_);
      for (const auto& line : plan.lines)
        std::cout << Format("%8.1fs  %d  ", static_cast<double>(line.atMs) / 1000.0, line.port)
                  << card::cli::Printable(line.bytes) << "\n";
      std::cout << Format(T("共 %zu 条命令，约 %.1f 秒\n", "%zu line(s), about %.1f s\n").c_str(), plan.lines.size(),
                          static_cast<double>(plan.totalMs) / 1000.0);
      return plan.ok;
    }
    return card::cli::ApplySnapshot(t, *state, s, options);
  }

  int Restore() {
    if (!Need(2, 2)) return 2;
    auto s = Load(args_.positional[0]);
    if (!s) return 2;
    const std::string address = args_.positional[1];
    auto user = UserFor(address);
    ::mkdir((work_.Sub("restore") + "/plan").c_str(), 0700);
    if (!RestoreOne(*s, address, *user, work_.Sub("restore"))) return 1;
    if (!args_.dryRun) std::cerr << T("恢复完成\n", "restored\n");
    return 0;
  }

  int Clone() {
    if (!Need(2)) return 2;
    auto s = Load(args_.positional[0]);
    if (!s) return 2;
    const std::vector<std::string> cards(args_.positional.begin() + 1, args_.positional.end());
    std::vector<std::string> results(cards.size());
    // One byte per card: the cards' threads write their own entries at once.
    std::vector<char> ok(cards.size(), 0);
    std::atomic<std::size_t> next{0}, finished{0};
    auto worker = [&] {
      for (std::size_t i; (i = next++) < cards.size();) {
        auto user = UserFor(cards[i]);
        const std::string dir = work_.Sub(Format("clone%zu", i));
        ::mkdir((dir + "/plan").c_str(), 0700);
        ok[i] = RestoreOne(*s, cards[i], *user, dir);
        results[i] = ok[i] ? T("完成", "done") : (T("失败：", "failed: ") + user->lastError());
        std::lock_guard<std::mutex> lock(errLock_);
        std::cerr << Format("[%zu/%zu] %s: %s\n", ++finished, cards.size(), cards[i].c_str(), results[i].c_str());
      }
    };
    std::vector<std::thread> threads;
    const int n = std::min<int>(args_.jobs, static_cast<int>(cards.size()));
    for (int i = 0; i < n; ++i) threads.emplace_back(worker);
    for (auto& th : threads) th.join();
    int failed = 0;
    for (std::size_t i = 0; i < cards.size(); ++i) {
      std::cout << cards[i] << "  " << results[i] << "\n";
      failed += ok[i] ? 0 : 1;
    }
    std::cout << Format(T("完成 %zu 张，失败 %d 张\n", "%zu done, %d failed\n").c_str(), cards.size() - failed, failed);
    return failed == 0 ? 0 : 1;
  }

  Args args_;
  std::shared_ptr<card::DriverLibrary> driver_;
  platform::ScaledClock base_;
  card::LinkFactory makeLink_;
  WorkDir work_;
  std::mutex errLock_;
};

}  // namespace

int main(int argc, char** argv) {
  Args args = Parse(argc, argv);
  if (!args.error.empty()) {
    std::cerr << args.error << "\n";
    return 2;
  }
  if (args.help || args.command.empty()) {
    std::cout << Usage(args.command);
    return args.help ? 0 : 2;
  }
  auto driver = args.driver.empty() ? card::DriverLibrary::LoadFromToolDir() : card::DriverLibrary::Load(args.driver);
  if (!driver) {
    std::cerr << T("加载pcomm.dll失败", "could not load the communication driver") << "\n";
    return 1;
  }
  return Tool(args, driver).Run();
}
