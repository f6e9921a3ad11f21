#include "cardctl/commands.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cardctl/cardctl.h"
#include "cardctl/fields.h"
#include "cardctl/settings_file.h"
#include "cardctl/snapshot.h"
#include "cardctl/targets.h"
#include "cardctl/workdir.h"
#include "link/scan.h"
#include "platform/files.h"
#include "platform/i18n.h"
#include "platform/text.h"

namespace card::cli {
namespace {

using json = nlohmann::ordered_json;
using platform::Format;

constexpr std::size_t kMaxJobs = 256;

std::string Dump(const json& j) { return j.dump(2, ' ', false, json::error_handler_t::replace); }

const char* StepKey(Step s) {
  switch (s) {
    case Step::Read: return "read";
    case Step::Plan: return "plan";
    case Step::Confirm: return "confirm";
    case Step::Panel: return "panel";
    case Step::Advanced: return "advanced";
    case Step::Driver: return "driver";
    case Step::Modbus: return "modbus";
    case Step::Carried: return "carried";
    case Step::Script: return "script";
    case Step::DeleteProgram: return "delete_program";
    case Step::Program: return "program";
    case Step::Network: return "network";
    case Step::Clock: return "clock";
    case Step::Verify: return "verify";
    case Step::WriteFile: return "write_file";
  }
  return "";
}

std::string Joined(const std::vector<std::string>& items, const std::string& with = ", ") {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : with) + i;
  return out;
}

std::vector<std::string> Names(const std::vector<const Field*>& fields) {
  std::vector<std::string> out;
  for (const Field* f : fields) out.push_back(f->name);
  return out;
}

// One card's outcome, for the text summary and the JSON document.
struct CardResult {
  std::string address;
  std::string serial;
  // changed, unchanged, would_change, planned, failed, refused
  std::string result;
  DeviceStatusRecord before, after;
  std::vector<const Field*> changes;
  bool scriptChanges = false;
  std::vector<int> uploads, deletes;
  std::size_t lines = 0;
  std::int64_t plannedMs = 0;
  std::optional<Failure> failure;
  std::string file;  // the backup written (backup)

  bool ok() const { return result != "failed" && result != "refused"; }

  json FailureJson() const {
    if (!failure) return nullptr;
    json f = {{"step", StepKey(failure->step)}, {"step_text", StepName(failure->step, failure->slot)},
              {"message", failure->message}, {"missing", failure->missing}};
    if (failure->slot >= 0) f["program"] = failure->slot + 1;
    return f;
  }

  json Json() const {
    json j = {{"address", address}, {"result", result}};
    if (!serial.empty()) j["serial"] = serial;
    json changed = json::object();
    for (const Field* f : changes) changed[f->name] = {{"from", f->Value(before)}, {"to", f->Value(after)}};
    j["changed"] = changed;
    j["script_changed"] = scriptChanges;
    json up = json::array(), del = json::array();
    for (int s : uploads) up.push_back(s + 1);
    for (int s : deletes) del.push_back(s + 1);
    j["programs_uploaded"] = up;
    j["programs_deleted"] = del;
    j["lines"] = lines;
    j["planned_seconds"] = static_cast<double>(plannedMs) / 1000.0;
    j["failure"] = FailureJson();
    if (!file.empty()) j["file"] = file;
    return j;
  }

  std::string Text() const {
    auto what = [&] {
      std::vector<std::string> parts;
      for (const Field* f : changes) parts.push_back(f->name + " " + f->Shown(before) + platform::Tr(" → ") + f->Shown(after));
      if (scriptChanges) parts.push_back(platform::Tr("脚本"));
      for (int s : uploads) parts.push_back(Format(platform::Tr("节目%d"), s + 1));
      for (int s : deletes) parts.push_back(Format(platform::Tr("删除节目%d"), s + 1));
      return Joined(parts);
    };
    if (result == "changed") return platform::Tr("完成：") + what();
    if (result == "unchanged") return platform::Tr("未变（已与要求一致，未发送任何命令）");
    if (result == "saved") return Format(platform::Tr("已备份到 %s"), file.c_str());
    if (result == "would_change") return platform::Tr("将修改：") + what();
    if (result == "planned") return Format(platform::Tr("计划 %zu 条命令，约 %.1f 秒"), lines,
                                           static_cast<double>(plannedMs) / 1000.0);
    std::string out = (result == "refused" ? platform::Tr("拒绝") : platform::Tr("失败")) +
                      Format(platform::Tr("（步骤：%s）："),
                             StepName(failure ? failure->step : Step::Read, failure ? failure->slot : -1).c_str()) +
                      (failure ? failure->message : std::string());
    if (failure && !failure->missing.empty())
      out += Format(platform::Tr("；未生效：%s"), Joined(failure->missing).c_str());
    return out;
  }
};

class Tool {
 public:
  Tool(const CommandLine& cl, ToolEnv& env) : cl_(cl), env_(env), json_(cl.has("--json")) {}

  int Run() {
    const std::string& c = cl_.command;
    if (c == "search") return Search();
    if (c == "show") return Show();
    if (c == "diff") return Diff();
    if (c == "set") return Set();
    if (c == "apply") return Apply();
    if (c == "backup") return Backup();
    if (c == "restore") return Restore();
    if (c == "clone") return Clone();
    return kExitRefused;
  }

 private:
  // Output

  void Say(const std::string& text) {
    std::lock_guard<std::mutex> lock(errLock_);
    env_.err << text << "\n";
    env_.err.flush();
  }
  int Refuse(const std::string& why) {
    Say(why);
    if (json_) Print({{"command", cl_.command}, {"ok", false}, {"error", why}, {"cards", json::array()}});
    return kExitRefused;
  }
  void Print(const json& j) { env_.out << Dump(j) << "\n"; }
  bool Arguments(std::size_t min, std::size_t max) {
    if (cl_.positional.size() >= min && (max == 0 || cl_.positional.size() <= max)) return true;
    Say(HelpText(cl_.command));
    return false;
  }
  std::unique_ptr<ConsoleUser> UserFor(const std::string& address) {
    return std::make_unique<ConsoleUser>(env_.err, errLock_, "[" + address + "] ");
  }
  std::string Work(const std::string& name) {
    const std::string dir = env_.work->Sub(name);
    return dir;
  }

  // A question for the person running cardctl: --yes answers it, or the
  // terminal when there is one; otherwise the answer is no.
  bool Confirm(const std::string& prefix, const std::string& question) {
    std::lock_guard<std::mutex> lock(errLock_);
    env_.err << prefix << platform::Tr(question);
    if (cl_.has("--yes")) {
      env_.err << platform::Tr(" —— 是 (--yes)\n");
      return true;
    }
    if (!env_.interactive) {
      env_.err << platform::Tr(" —— 否（加 --yes 确认）\n");
      return false;
    }
    env_.err << " [y/N] ";
    env_.err.flush();
    std::string answer;
    std::getline(env_.in, answer);
    return answer == "y" || answer == "Y" || answer == "yes" || answer == platform::Tr("是");
  }

  std::string TargetAddress(const std::string& text, std::string* error) {
    auto a = ParseAddress(text);
    if (!a) {
      *error = Format(platform::Tr("\"%s\" 不是控制卡IP"), text.c_str());
      return {};
    }
    return AddressString(*a);
  }

  Targets ExpandAll(const std::vector<std::string>& args) {
    return ExpandTargets(args, [&](const std::string& path, std::string* text) {
      if (path == "-") {
        std::ostringstream s;
        s << env_.in.rdbuf();
        *text = s.str();
        return !env_.in.bad();
      }
      return platform::FileExists(path) && platform::ReadWholeFile(path, text, 1 << 20);
    });
  }

  // search

  int Search() {
    if (!Arguments(0, 0)) return kExitRefused;
    std::vector<std::string> locals;
    if (cl_.has("--local")) {
      std::string error;
      locals.push_back(TargetAddress(cl_.get("--local"), &error));
      if (!error.empty()) return Refuse(error);
    } else {
      // The adapters the window lists, each address of each.
      std::vector<platform::Adapter> adapters;
      if (env_.adapters && env_.adapters->List(&adapters))
        for (const auto& a : adapters)
          for (const auto& ip : a.ipv4)
            if (ip != "0.0.0.0" && std::find(locals.begin(), locals.end(), ip) == locals.end()) locals.push_back(ip);
      if (locals.empty()) {
        Say(platform::Tr("本机没有带IP地址的网卡，无法搜索（可用 --local 指定本机IP）"));
        if (json_) Print({{"command", "search"}, {"ok", false}, {"cards", json::array()}});
        return kExitFailed;
      }
    }
    std::vector<DeviceStatusRecord> found;
    std::vector<std::string> failed;
    bool flooded = false;
    int drained = 0, rejected = 0;
    for (const std::string& local : locals) {
      auto search = env_.search();
      if (!search || !search->exists() || search->Connect(local) != 0) {
        failed.push_back(local);
        continue;
      }
      const ScanResult scan = ScanCards(*search, *env_.clock, kSearchQuery, [&](const DeviceStatusRecord& r) {
        const std::string mac = MacText(r);
        if (std::none_of(found.begin(), found.end(), [&](const DeviceStatusRecord& f) { return MacText(f) == mac; }))
          found.push_back(r);
      });
      search->Disconnect();
      flooded = flooded || scan.flooded;
      drained += scan.drained;
      rejected += scan.rejected;
    }
    for (const auto& local : failed)
      Say(Format(platform::Tr("无法在本机地址 %s 上搜索"), local.c_str()));
    // Cards may have answered unheard: the list is not all there is.
    if (flooded)
      Say(Format(platform::Tr("网络上的数据过多，设备的应答可能被淹没：搜索前丢弃 %d 个数据报，拒收 %d 个非设备应答"),
                 drained, rejected));
    const bool ok = failed.size() < locals.size() && !flooded;
    if (json_) {
      json cards = json::array();
      for (const auto& r : found)
        cards.push_back({{"address", AddressText(r)},
                         {"serial", SerialText(r)},
                         {"mac", MacText(r)},
                         {"firmware", FirmwareText(r)},
                         {"width", r.u16(rec::kWidth)},
                         {"height", r.u16(rec::kHeight)},
                         {"auto_ip", r.u8(rec::kIpMode) != 1}});
      Print({{"command", "search"},
             {"ok", ok},
             {"searched_from", locals},
             {"cards", cards},
             {"flooded", flooded},
             {"drained", drained},
             {"rejected", rejected}});
    } else {
      for (const auto& r : found)
        env_.out << AddressText(r) << "  " << SerialText(r) << "  " << MacText(r) << "  " << FirmwareText(r) << "  "
                 << r.u16(rec::kWidth) << "x" << r.u16(rec::kHeight) << "\n";
      Say(Format(platform::Tr("找到 %zu 张控制卡"), found.size()));
    }
    return ok ? kExitOk : kExitFailed;
  }

  // A card or a backup file, read for show and diff.
  struct Source {
    std::string name;
    bool file = false;
    CardState state;
    Snapshot snapshot;
  };

  // exit status, or 0 with *out filled
  int Load(const std::string& arg, bool contents, Source* out) {
    out->name = arg;
    if (auto a = ParseAddress(arg); a && !platform::FileExists(arg)) {
      const std::string address = AddressString(*a);
      auto user = UserFor(address);
      Target t(env_.links, address, *env_.clock, *user, Work("read-" + address));
      t.Enter(Step::Read);
      auto state = ReadCardState(t, contents ? ReadWhat::Contents : ReadWhat::Record);
      if (!state) {
        Say(Format("[%s] %s", address.c_str(), t.failureRef().message.c_str()));
        return kExitFailed;
      }
      out->state = *state;
      return kExitOk;
    }
    SnapshotRead read = ReadSnapshot(arg);
    if (!read.ok()) {
      Say(Format(platform::Tr("备份文件 %s 不能使用：%s"), arg.c_str(), SnapshotErrorText(read).c_str()));
      return kExitRefused;
    }
    out->file = true;
    out->snapshot = read.snapshot;
    out->state.record = read.snapshot.record;
    out->state.script = read.snapshot.script;
    out->state.programs = read.snapshot.programs;
    out->state.contentsRead = true;
    return kExitOk;
  }

  // show

  json FieldsJson(const DeviceStatusRecord& r) {
    json fields = json::object();
    for (const Field& f : Fields()) fields[f.name] = f.Value(r);
    return fields;
  }
  void PrintFields(const DeviceStatusRecord& r) {
    for (const Field& f : Fields())
      env_.out << f.name << " = " << f.Shown(r) << "    # " << f.Label() << " (" << GroupName(f.group)
               << (f.set ? "" : platform::Tr(", 只读")) << ")\n";
  }

  // A lone argument that names a file, or that is no card (an address, a
  // range, @FILE or -), is a backup to read offline.
  static bool IsBackupFile(const std::string& arg) {
    if (arg == "-" || arg.rfind('@', 0) == 0) return false;
    if (platform::FileExists(arg)) return true;
    return !ExpandTargets({arg}, [](const std::string&, std::string*) { return false; }).error.empty();
  }

  int Show() {
    if (!Arguments(1, 0)) return kExitRefused;
    if (cl_.positional.size() == 1 && IsBackupFile(cl_.positional[0])) return ShowFile(cl_.positional[0]);
    const Targets targets = ExpandAll(cl_.positional);
    if (!targets.error.empty()) return Refuse(targets.error);
    const std::vector<CardResult> results = ForEachCard(targets.addresses, [&](const std::string& address) {
      CardResult res;
      res.address = address;
      auto user = UserFor(address);
      Target t(env_.links, address, *env_.clock, *user, Work("read-" + address));
      t.Enter(Step::Read);
      auto state = ReadCardState(t, ReadWhat::Record);
      if (!state) {
        res.result = "failed";
        res.failure = t.failureRef();
        Say(Format("[%s] %s", address.c_str(), res.failure->message.c_str()));
        return res;
      }
      res.result = "read";
      res.before = state->record;
      return res;
    }, false);
    const bool ok = std::all_of(results.begin(), results.end(), [](const CardResult& r) { return r.ok(); });
    if (json_) {
      json cards = json::array();
      for (const auto& r : results) {
        json card = {{"source", "card"}, {"address", r.address}, {"result", r.result}};
        if (r.ok())
          card["fields"] = FieldsJson(r.before);
        else
          card["failure"] = r.FailureJson();
        cards.push_back(card);
      }
      Print({{"command", "show"}, {"ok", ok}, {"cards", cards}});
    } else {
      bool first = true;
      for (const auto& r : results) {
        if (!r.ok()) continue;
        // Several cards: each block under its address.
        if (results.size() > 1) env_.out << (first ? "" : "\n") << "# " << r.address << "\n";
        first = false;
        PrintFields(r.before);
      }
    }
    return ok ? kExitOk : kExitFailed;
  }

  int ShowFile(const std::string& path) {
    Source s;
    if (int status = Load(path, false, &s); status != kExitOk) {
      if (json_) Print({{"command", "show"}, {"ok", false}, {"cards", json::array()}});
      return status;
    }
    const DeviceStatusRecord& r = s.state.record;
    if (json_) {
      json card = {{"source", "file"}, {"address", s.snapshot.address}, {"result", "read"}, {"fields", FieldsJson(r)}};
      card["file"] = s.name;
      card["tool"] = s.snapshot.toolVersion;
      card["script"] = s.snapshot.script ? json(*s.snapshot.script) : json(nullptr);
      json programs = json::array();
      for (const auto& [slot, text] : s.snapshot.programs) programs.push_back(slot + 1);
      card["programs"] = programs;
      Print({{"command", "show"}, {"ok", true}, {"cards", {card}}});
      return kExitOk;
    }
    env_.out << Format(platform::Tr("# 备份文件 %s：来自 %s（%s），cardctl %s\n"),
                       s.name.c_str(), s.snapshot.address.c_str(), s.snapshot.serial.c_str(),
                       s.snapshot.toolVersion.c_str());
    PrintFields(r);
    std::vector<std::string> slots;
    for (const auto& [slot, text] : s.snapshot.programs) slots.push_back(std::to_string(slot + 1));
    env_.out << (s.snapshot.script
                     ? Format(platform::Tr("# 脚本：%zu 字节\n"), s.snapshot.script->size())
                     : platform::Tr("# 脚本：未备份（此固件不能读取）\n"))
             << Format(platform::Tr("# 节目：%s\n"), slots.empty() ? "-" : Joined(slots).c_str());
    return kExitOk;
  }

  // diff

  int Diff() {
    if (!Arguments(2, 2)) return kExitRefused;
    Source a, b;
    int status = Load(cl_.positional[0], true, &a);
    if (status == kExitOk) status = Load(cl_.positional[1], true, &b);
    if (status != kExitOk) {
      if (json_) Print({{"command", "diff"}, {"ok", false}});
      return kExitRefused;
    }
    const bool withNetwork = cl_.has("--with-network");
    const auto fields = DifferingFields(a.state.record, b.state.record,
                                        [&](const Field& f) { return RestoreCompares(f, withNetwork); });
    json jfields = json::object();
    std::string text;
    for (const Field* f : fields) {
      jfields[f->name] = {{"a", f->Value(a.state.record)}, {"b", f->Value(b.state.record)}};
      text += f->name + " = " + f->Shown(a.state.record) + " | " + f->Shown(b.state.record) + "    # " + f->Label() + "\n";
    }
    json jscript = nullptr;
    bool scriptDiffers = false;
    if (a.state.script && b.state.script) {
      scriptDiffers = *a.state.script != *b.state.script;
      if (scriptDiffers) {
        jscript = {{"a", *a.state.script}, {"b", *b.state.script}};
        text += Format(platform::Tr("script = 不同（%zu 字节 | %zu 字节）\n"),
                       a.state.script->size(), b.state.script->size());
      }
    } else if (a.state.script || b.state.script) {
      text += platform::Tr("# 脚本：一方无法读取，未比较\n");
    }
    json jprograms = json::array();
    std::set<int> slots;
    for (const auto& [slot, t] : a.state.programs) slots.insert(slot);
    for (const auto& [slot, t] : b.state.programs) slots.insert(slot);
    for (int slot : slots) {
      auto pa = a.state.programs.find(slot), pb = b.state.programs.find(slot);
      const bool inA = pa != a.state.programs.end(), inB = pb != b.state.programs.end();
      if (inA && inB && pa->second == pb->second) continue;
      jprograms.push_back({{"program", slot + 1}, {"a", inA}, {"b", inB}});
      auto side = [&](bool in, const std::map<int, std::string>::const_iterator& p) {
        return in ? Format(platform::Tr("%zu 字节"), p->second.size()) : platform::Tr("无");
      };
      text += Format("program%d = %s | %s\n", slot + 1, side(inA, pa).c_str(), side(inB, pb).c_str());
    }
    const bool equal = fields.empty() && !scriptDiffers && jprograms.empty();
    if (json_) {
      Print({{"command", "diff"}, {"ok", true}, {"equal", equal}, {"a", a.name}, {"b", b.name}, {"fields", jfields},
             {"script", jscript}, {"programs", jprograms}});
    } else {
      env_.out << text;
      Say(equal ? platform::Tr("相同") : platform::Tr("不同"));
    }
    return equal ? kExitOk : kExitFailed;
  }

  // The progress of one card's run on standard error.
  StepHook Progress(const std::string& address) {
    return [this, address](Step step, int slot, std::int64_t plannedMs) {
      if (step == Step::Verify)
        Say(Format("[%s] %s", address.c_str(), StepName(step, slot).c_str()));
      else
        Say(Format(platform::Tr("[%s] %s（约 %.1f 秒）"), address.c_str(),
                   StepName(step, slot).c_str(), static_cast<double>(plannedMs) / 1000.0));
    };
  }

  void PrintPlan(const std::string& address, const Plan& plan) {
    std::lock_guard<std::mutex> lock(errLock_);
    if (!json_) {
      if (cl_.command == "clone") env_.out << "# " << address << "\n";
      for (const auto& line : plan.lines)
        env_.out << Format("%8.1fs  %d  ", static_cast<double>(line.atMs) / 1000.0, line.port) << Printable(line.bytes)
                 << "\n";
      env_.out << Format(platform::Tr("共 %zu 条命令，约 %.1f 秒\n"), plan.lines.size(),
                         static_cast<double>(plan.totalMs) / 1000.0);
    }
  }

  struct RunOptions {
    bool dryRun = false, check = false, confirmed = false;
  };

  // One card from its reading to its read-back. desired builds what the card
  // should hold from what it holds (nullopt with *refusal when it cannot).
  CardResult RunCard(const std::string& address, bool contents,
                     const std::function<std::optional<Desired>(const CardState&, std::string* refusal,
                                                               std::vector<std::string>* questions)>& desire,
                     const RunOptions& options) {
    CardResult res;
    res.address = address;
    // A card's files go as its run ends, not all at once at the end of a fleet.
    struct Tidy {
      std::string card, plan;
      ~Tidy() {
        RemoveTree(card.c_str());
        RemoveTree(plan.c_str());
      }
    } tidy{Work("card-" + address), env_.work->path() + "/plan-" + address};
    auto user = UserFor(address);
    Target t(env_.links, address, *env_.clock, *user, tidy.card);
    auto fail = [&](const std::string& result) {
      res.result = result;
      res.failure = t.failureRef();
      return res;
    };
    t.Enter(Step::Read);
    auto card = ReadCardState(t, contents ? ReadWhat::Contents : ReadWhat::Record);
    if (!card) return fail("failed");
    res.before = card->record;
    res.serial = SerialText(card->record);
    t.Enter(Step::Plan);
    std::string refusal;
    std::vector<std::string> questions;
    auto desired = desire(*card, &refusal, &questions);
    if (!desired) {
      t.Fail(refusal);
      return fail("refused");
    }
    res.after = desired->record;
    const Plan plan = MakePlan(address, *card, *desired, tidy.plan);
    res.changes = plan.changes;
    res.scriptChanges = plan.scriptChanges;
    res.uploads = plan.uploads;
    res.deletes = plan.deletes;
    res.lines = plan.lines.size();
    res.plannedMs = plan.totalMs;
    if (!plan.ok) {
      t.Fail(platform::Tr("无法执行：") + platform::Tr(plan.failure));
      return fail("refused");
    }
    if (!plan.notCarried.empty()) {
      t.Fail(Format(platform::Tr("没有命令能把这些设置写到控制卡上：%s（控制卡会与要求不同，因此什么也不发送）"),
                    Joined(Names(plan.notCarried)).c_str()));
      return fail("refused");
    }
    // Every question before the first line: ours, then the operations'.
    questions.insert(questions.end(), plan.questions.begin(), plan.questions.end());
    if (options.dryRun) {
      PrintPlan(address, plan);
      for (const auto& q : questions)
        Say(Format(platform::Tr("[%s] 实际运行时会询问：%s%s"), address.c_str(),
                   platform::Tr(q).c_str(),
                   cl_.has("--yes") ? platform::Tr("（--yes：是）")
                                    : platform::Tr("（未加 --yes：否，实际运行将不发送任何命令）")));
      res.result = "planned";
      if (!questions.empty() && !cl_.has("--yes")) {
        t.Enter(Step::Confirm);
        t.Fail(platform::Tr("需要 --yes 确认"));
        return fail("refused");
      }
      return res;
    }
    if (plan.empty()) {
      res.result = "unchanged";
      return res;
    }
    if (options.check) {
      res.result = "would_change";
      return res;
    }
    t.Enter(Step::Confirm);
    for (const auto& q : questions)
      if (!Confirm("[" + address + "] ", q)) {
        t.Fail(Format(platform::Tr("未确认（%s），未发送任何命令"), platform::Tr(q).c_str()));
        return fail("refused");
      }
    Say(Format(platform::Tr("[%s] 共 %zu 条命令，约 %.1f 秒"), address.c_str(),
               plan.lines.size(), static_cast<double>(plan.totalMs) / 1000.0));
    if (!Execute(t, *card, *desired, plan, Progress(address))) return fail("failed");
    res.result = "changed";
    return res;
  }

  // Cards in parallel, --jobs at a time (all of them unless told).
  std::vector<CardResult> ForEachCard(const std::vector<std::string>& cards,
                                      const std::function<CardResult(const std::string&)>& one, bool announce) {
    std::vector<CardResult> results(cards.size());
    std::atomic<std::size_t> next{0}, finished{0};
    auto worker = [&] {
      for (std::size_t i; (i = next++) < cards.size();) {
        results[i] = one(cards[i]);
        if (announce)
          Say(Format("[%zu/%zu] %s: %s", ++finished, cards.size(), cards[i].c_str(), results[i].Text().c_str()));
      }
    };
    // Each job is a mostly sleeping thread and its links: all cards at once, up to 256.
    const std::size_t jobs = std::min<std::size_t>(cl_.has("--jobs") ? std::stoul(cl_.get("--jobs")) : kMaxJobs, cards.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < jobs; ++i) threads.emplace_back(worker);
    worker();
    for (auto& th : threads) th.join();
    return results;
  }

  int Report(const std::vector<CardResult>& results, bool summary) {
    int failed = 0, refused = 0, unchanged = 0;
    for (const auto& r : results) {
      failed += r.result == "failed";
      refused += r.result == "refused";
      unchanged += r.result == "unchanged";
    }
    if (json_) {
      json cards = json::array();
      for (const auto& r : results) cards.push_back(r.Json());
      Print({{"command", cl_.command},
             {"ok", failed == 0 && refused == 0},
             {"cards", cards},
             {"summary",
              {{"cards", results.size()}, {"failed", failed}, {"refused", refused}, {"unchanged", unchanged}}}});
    } else {
      for (const auto& r : results) env_.out << r.address << "  " << r.Text() << "\n";
      if (summary)
        env_.out << Format(platform::Tr("共 %zu 张：成功 %zu 张（其中未变 %d 张），失败 %d 张，拒绝 %d 张\n"),
                           results.size(), results.size() - failed - refused, unchanged, failed, refused);
    }
    if (failed > 0) return kExitFailed;
    if (refused == 0) return kExitOk;
    // One card refused for what was asked of it (a value, a file, a setting
    // no line carries) is a refused request: nothing was sent. A question
    // left unanswered, or refusals among other cards, is work not done.
    const bool unconfirmed = std::any_of(results.begin(), results.end(), [](const CardResult& r) {
      return r.result == "refused" && r.failure && r.failure->step == Step::Confirm;
    });
    return results.size() == 1 && !unconfirmed ? kExitRefused : kExitFailed;
  }

  // set

  int Set() {
    if (!Arguments(2, 0)) return kExitRefused;
    std::string error;
    const std::string address = TargetAddress(cl_.positional[0], &error);
    if (!error.empty()) return Refuse(error);
    std::vector<std::string> assignments(cl_.positional.begin() + 1, cl_.positional.end());
    // Names are checked before the card is even read; values need its record.
    for (const auto& a : assignments) {
      if (a.find('=') == std::string::npos || a[0] == '=')
        return Refuse(Format(platform::Tr("\"%s\" 不是 名称=值 的形式"), a.c_str()));
      card::DeviceStatusRecord probe;
      const std::string name = a.substr(0, a.find('='));
      const Field* f = FindField(name);
      if (!f || !f->set) return Refuse(*ApplyValue(&probe, name, ""));
    }
    RunOptions options;
    options.dryRun = cl_.has("--dry-run");
    CardResult r = RunCard(address, false,
                           [&](const CardState& card, std::string* refusal, std::vector<std::string>*) -> std::optional<Desired> {
                             Desired d;
                             d.record = card.record;
                             std::vector<std::string> errors;
                             for (const auto& a : assignments)
                               if (auto e = ApplyAssignment(&d.record, a)) errors.push_back(*e);
                             if (!errors.empty()) {
                               *refusal = Joined(errors, "\n");
                               return std::nullopt;
                             }
                             return d;
                           },
                           options);
    if (json_ && r.failure) Say(r.failure->message);
    return Report({r}, false);
  }

  // apply

  int Apply() {
    if (!Arguments(2, 0)) return kExitRefused;
    std::string text;
    const std::string& file = cl_.positional[0];
    if (file == "-") {
      std::ostringstream s;
      s << env_.in.rdbuf();
      text = s.str();
    } else if (!platform::FileExists(file) || !platform::ReadWholeFile(file, &text, 1 << 20)) {
      return Refuse(Format(platform::Tr("设置文件 %s 不存在或无法读取"),
                           file.c_str()));
    }
    const SettingsFile settings = ParseSettingsFile(text);
    if (!settings.error.empty()) return Refuse(settings.error);
    const Targets targets = ExpandAll({cl_.positional.begin() + 1, cl_.positional.end()});
    if (!targets.error.empty()) return Refuse(targets.error);
    if (file == "-" && std::count(cl_.positional.begin() + 1, cl_.positional.end(), "-"))
      return Refuse(platform::Tr("标准输入只能用一次"));

    auto desire = [&](const CardState& card, std::string* refusal, std::vector<std::string>*) -> std::optional<Desired> {
      Desired d;
      d.record = card.record;
      std::vector<std::string> errors;
      for (const auto& [name, value] : settings.values)
        if (auto e = ApplyValue(&d.record, name, value)) errors.push_back(*e);
      if (!errors.empty()) {
        *refusal = Joined(errors, "; ");
        return std::nullopt;
      }
      return d;
    };
    // Plan every card, then one confirmation, then send.
    RunOptions plan;
    plan.check = true;
    std::vector<CardResult> planned = ForEachCard(targets.addresses, [&](const std::string& a) {
      return RunCard(a, false, desire, plan);
    }, false);
    std::vector<std::string> changing;
    for (const auto& r : planned)
      if (r.result == "would_change") {
        changing.push_back(r.address);
        Say(Format("[%s] %s", r.address.c_str(), r.Text().c_str()));
      }
    if (cl_.has("--check") || changing.empty()) return Report(planned, true);
    if (!Confirm("", Format(platform::Tr("将修改 %zu 张控制卡的设置（见上），确定发送吗？"),
                            changing.size()))) {
      for (auto& r : planned)
        if (r.result == "would_change") {
          r.result = "refused";
          r.failure = Failure{Step::Confirm, -1, platform::Tr("未确认，未发送任何命令"), {}};
        }
      Report(planned, true);
      return kExitFailed;
    }
    std::vector<CardResult> done = ForEachCard(changing, [&](const std::string& a) {
      return RunCard(a, false, desire, {});
    }, true);
    for (auto& r : planned)
      for (auto& d : done)
        if (r.address == d.address) r = d;
    return Report(planned, true);
  }

  // backup

  // Several cards (or a folder as the last argument): each card's backup is
  // FOLDER/ADDRESS.snap, the cards read --jobs at a time.
  int Backup() {
    if (!Arguments(2, 0)) return kExitRefused;
    const std::string dest = cl_.positional.back();
    const Targets targets = ExpandAll({cl_.positional.begin(), cl_.positional.end() - 1});
    if (!targets.error.empty()) return Refuse(targets.error);
    const bool toStdout = dest == "-";
    const bool folder = !toStdout && platform::DirectoryExists(dest);
    if (!folder && targets.addresses.size() > 1)
      return Refuse(Format(platform::Tr("备份多张卡时最后一个参数必须是已有的文件夹：%s 不是"),
                           dest.c_str()));
    if (toStdout && json_) return Refuse(platform::Tr("备份写到标准输出时不能同时用 --json"));
    const bool several = targets.addresses.size() > 1;
    const auto results = ForEachCard(targets.addresses, [&](const std::string& address) {
      return BackupOne(address, folder ? dest + "/" + address + ".snap" : dest);
    }, several);
    if (toStdout) return results[0].ok() ? kExitOk : kExitFailed;
    return Report(results, several);
  }

  CardResult BackupOne(const std::string& address, const std::string& file) {
    const bool toStdout = file == "-";
    auto user = UserFor(address);
    Target t(env_.links, address, *env_.clock, *user, Work("backup-" + address));
    CardResult res;
    res.address = address;
    auto finish = [&](bool ok) {
      res.result = ok ? "saved" : "failed";
      if (!ok) res.failure = t.failureRef();
      if (!ok) Say(Format("[%s] %s", address.c_str(), res.failure->message.c_str()));
      return res;
    };
    t.Enter(Step::Read);
    auto state = ReadCardState(t, ReadWhat::Contents);
    if (!state) return finish(false);
    res.serial = SerialText(state->record);
    if (ChecksumOf(state->record) == ChecksumState::Bad) {
      t.Fail(platform::Tr("控制卡的参数没有通过自身的校验（CRC ERROR!），读到的参数不可信，不备份"));
      return finish(false);
    }
    if (!state->script)
      Say(Format(platform::Tr("[%s] 此固件（%s）不能读取脚本，备份中不含脚本"),
                 address.c_str(), FirmwareText(state->record).c_str()));
    const std::string bytes = EncodeSnapshot(SnapshotOf(*state, address, env_.version));
    t.Enter(Step::WriteFile);
    if (toStdout) {
      env_.out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      env_.out.flush();
      if (!env_.out.good()) {
        t.Fail(platform::Tr("无法写到标准输出"));
        return finish(false);
      }
    } else {
      SignalHold hold;
      if (!platform::WriteFileAtomic(file, bytes.data(), bytes.size())) {
        t.Fail(Format(platform::Tr("无法写入文件 %s"), file.c_str()));
        return finish(false);
      }
      res.file = file;
    }
    Say(Format(platform::Tr("[%s] 已备份到 %s：参数、%s和 %zu 个节目"),
               address.c_str(), toStdout ? platform::Tr("标准输出") : file.c_str(),
               state->script ? platform::Tr("脚本") : platform::Tr("（无脚本）"),
               state->programs.size()));
    return finish(true);
  }

  // restore and clone

  std::optional<Snapshot> LoadBackup(const std::string& file, int* status) {
    SnapshotRead read = ReadSnapshot(file);
    if (read.ok()) return read.snapshot;
    *status = Refuse(Format(platform::Tr("备份文件 %s 不能使用：%s"), file.c_str(),
                            SnapshotErrorText(read).c_str()));
    return std::nullopt;
  }

  CardResult RestoreOne(const Snapshot& s, const std::string& address) {
    const bool withNetwork = cl_.has("--with-network");
    const bool replace = cl_.get("--programs", "keep") == "replace";
    const bool contents = s.script.has_value() || !s.programs.empty() || replace;
    RunOptions options;
    options.dryRun = cl_.has("--dry-run");
    return RunCard(
        address, contents,
        [&](const CardState& card, std::string*, std::vector<std::string>* questions) -> std::optional<Desired> {
          if (withNetwork && SerialText(card.record) != s.serial)
            questions->push_back(Format(platform::Tr("这张卡的序列号 %s 与备份的 %s 不同；--with-network 会把备份中的IP %s、MAC和设备名写到这张卡上。确定吗？"),
                                        SerialText(card.record).c_str(), s.serial.c_str(),
                                        Ipv4Text(s.record, rec::kCardAddress).c_str()));
          return DesiredFrom(s, card.record, withNetwork, replace);
        },
        options);
  }

  int Restore() {
    if (!Arguments(2, 2)) return kExitRefused;
    int status = kExitRefused;
    auto s = LoadBackup(cl_.positional[0], &status);
    if (!s) return status;
    std::string error;
    const std::string address = TargetAddress(cl_.positional[1], &error);
    if (!error.empty()) return Refuse(error);
    CardResult r = RestoreOne(*s, address);
    if (json_ && r.failure) Say(r.failure->message);
    return Report({r}, false);
  }

  int Clone() {
    if (!Arguments(2, 0)) return kExitRefused;
    int status = kExitRefused;
    auto s = LoadBackup(cl_.positional[0], &status);
    if (!s) return status;
    const Targets targets = ExpandAll({cl_.positional.begin() + 1, cl_.positional.end()});
    if (!targets.error.empty()) return Refuse(targets.error);
    // One backup's address, MAC and name on several cards would make them one card on the network.
    if (cl_.has("--with-network") && targets.addresses.size() > 1)
      return Refuse(platform::Tr("--with-network 会让每张卡得到相同的IP、MAC和设备名，克隆时只能用于一张卡"));
    return Report(ForEachCard(targets.addresses, [&](const std::string& a) { return RestoreOne(*s, a); }, true), true);
  }

  const CommandLine& cl_;
  ToolEnv& env_;
  bool json_;
  std::mutex errLock_;
};

}  // namespace

int RunCommand(const CommandLine& cl, ToolEnv& env) { return Tool(cl, env).Run(); }

}  // namespace card::cli
