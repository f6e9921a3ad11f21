#include "programs/program_slots.h"

#include <utility>
#include <vector>

#include "link/command_channel.h"
#include "platform/files.h"
#include "platform/i18n.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "programs/editor_files.h"

namespace card {
namespace {

using platform::Format;
using platform::Tr;

bool ValidSlot(int slot) { return slot >= 0 && slot < kProgramSlots; }

// Disconnects a link the operation connected, on every path out of it (a
// cancel of the clock too).
class Connection {
 public:
  explicit Connection(Channel& ch) : ch_(ch) {}
  ~Connection() { Close(); }
  bool Open(ProgramContext& ctx) {
    const std::string address = ctx.state.selectedAddress();
    open_ = !address.empty() && ch_.Connect(address) == 0;
    if (!open_) ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return open_;
  }
  void Close() {
    if (open_) ch_.Disconnect();
    open_ = false;
  }

 private:
  Channel& ch_;
  bool open_ = false;
};

bool RequireCard(ProgramContext& ctx) {
  if (ctx.state.cardOpened()) return true;
  ctx.user.Message(kMsgNotConnected, kTitleError, Icon::Error);
  return false;
}

bool RequireSlot(ProgramContext& ctx, int slot) {
  if (ValidSlot(slot)) return true;
  ctx.user.Message(kMsgNoProgramSelected, kTitleNotice, Icon::Warning);
  return false;
}

// A running editor edits the slot it was handed and saves into it; handing
// it another slot would only change what its save uploads.
bool RequireEditorFree(ProgramContext& ctx, int slot) {
  const int handed = HandedProgramNumber(ctx.cfg);
  if (handed == 0 || handed == slot + 1 || !ctx.siblings.IsRunning(kProgramEditor)) return true;
  ctx.user.Message(Format(Tr(kMsgEditorOnOtherSlot), handed, slot + 1), kTitleNotice, Icon::Warning);
  return false;
}

// The directory block; nullopt after telling the user what went wrong. A
// block that came short is asked for again from its first missing byte.
std::optional<ProgramDirectory> ReadDirectory(ProgramContext& ctx) {
  RawReadPlan plan;
  plan.pauseMs = kDirectoryPauseMs;
  plan.ask = [](std::uint32_t done) { return static_cast<std::uint32_t>(kProgramDirectorySize) - done; };
  plan.pauseAtEnd = false;
  MemorySink block(kProgramDirectorySize);
  const ChunkedResult read = ReadRawInRequests(ctx.file, ctx.clock, kProgramDirectoryAddress,
                                               static_cast<std::uint32_t>(kProgramDirectorySize), block, plan);
  switch (read.status) {
    case ChunkedStatus::Complete: return ProgramDirectory::Decode(block.bytes().data(), block.bytes().size());
    case ChunkedStatus::SendFailed: ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error); break;
    // More than the block: what the card sent cannot be the directory alone.
    case ChunkedStatus::Unplaceable: ctx.user.Message(kMsgDirectoryCorrupt, kTitleError, Icon::Error); break;
    default:
      ctx.user.Message(read.received == 0 ? kMsgDirectoryMissing : kMsgDirectoryShort, kTitleError, Icon::Error);
      break;
  }
  return std::nullopt;
}

// The program of a used entry, length bytes of it; nullopt after telling the
// user. Each request asks up to the rounded end of the program.
std::optional<std::string> ReadProgram(ProgramContext& ctx, const DirectoryEntry& e) {
  const std::uint32_t length = static_cast<std::uint32_t>(e.length);
  const std::uint32_t rounded = RoundUpTo128(length);
  RawReadPlan plan;
  plan.pauseMs = kProgramPauseMs;
  plan.ask = [rounded](std::uint32_t done) { return rounded - done; };
  plan.pauseAtEnd = false;
  MemorySink program(length);
  const ChunkedResult read = ReadRawInRequests(ctx.file, ctx.clock, e.address, length, program, plan);
  switch (read.status) {
    case ChunkedStatus::Complete:
      return std::string(reinterpret_cast<const char*>(program.bytes().data()), program.bytes().size());
    case ChunkedStatus::SendFailed: ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error); break;
    case ChunkedStatus::ReceiveFailed: ctx.user.Message(kMsgProgramMissing, kTitleError, Icon::Error); break;
    default:
      ctx.user.Message(read.received == 0 ? kMsgProgramMissing : kMsgProgramShort, kTitleError, Icon::Error);
      break;
  }
  return std::nullopt;
}

bool WriteWorkingFile(ProgramContext& ctx, const std::string& path, const std::string& bytes) {
  if (platform::WriteFileMakingDirs(path, bytes.data(), bytes.size()) == 1) return true;
  ctx.user.Message(Format(Tr(kMsgWorkingFileFailed), path.c_str()), kTitleError, Icon::Error);
  return false;
}

// The slot's working file as "更新" sends it; nullopt after telling the user.
std::optional<std::string> ProgramTextOf(ProgramContext& ctx, int slot) {
  const std::string path = WorkingFilePath(ctx.subsysDir(), slot + 1);
  std::string bytes;
  if (!platform::FileExists(path) || !platform::ReadWholeFile(path, &bytes, kProgramFileReadLimit)) {
    ctx.user.Message(Format(Tr(kMsgProgramFileMissing), slot + 1), kTitleError, Icon::Error);
    return std::nullopt;
  }
  ProgramText text = PrepareProgramText(bytes);
  if (text.tooLong) {
    ctx.user.Message(kMsgStorageLimited, kTitleNotice, Icon::Error);
    return std::nullopt;
  }
  return std::move(text.text);
}

}  // namespace

ReadBackOutcome ReadBackProgram(ProgramContext& ctx, const ProgramChoice& choice) {
  if (!choice.readBack) return ReadBackOutcome::Skipped;
  if (!RequireCard(ctx) || !RequireSlot(ctx, choice.slot)) return ReadBackOutcome::Failed;
  // Slots 7 and 8 have no directory entry: the card cannot say what they
  // hold, so their working file is kept rather than emptied.
  if (choice.slot >= kDirectorySlots) return ReadBackOutcome::LeftAsIs;
  Connection connection(ctx.file);
  if (!connection.Open(ctx)) return ReadBackOutcome::Failed;
  std::optional<ProgramDirectory> directory = ReadDirectory(ctx);
  if (!directory) return ReadBackOutcome::Failed;
  std::string program;
  if (std::optional<DirectoryEntry> entry = directory->Used(choice.slot)) {
    switch (CheckEntry(*entry)) {
      case EntryCheck::TooLong:
        ctx.user.Message(kMsgProgramTooLong, kTitleError, Icon::Error);
        return ReadBackOutcome::Failed;
      case EntryCheck::Corrupt:
        ctx.user.Message(kMsgDirectoryCorrupt, kTitleError, Icon::Error);
        return ReadBackOutcome::Failed;
      case EntryCheck::Ok:
        break;
    }
    std::optional<std::string> read = ReadProgram(ctx, *entry);
    if (!read) return ReadBackOutcome::Failed;
    program = std::move(*read);
  }
  connection.Close();
  // An empty slot leaves an empty working file: the editor starts afresh.
  const std::string path = WorkingFilePath(ctx.subsysDir(), choice.slot + 1, "cmd.txt");
  return WriteWorkingFile(ctx, path, program) ? ReadBackOutcome::Written : ReadBackOutcome::Failed;
}

std::optional<ProgramDirectory> ReadProgramDirectory(ProgramContext& ctx) {
  Connection connection(ctx.file);
  if (!connection.Open(ctx)) return std::nullopt;
  return ReadDirectory(ctx);
}

bool EditProgram(ProgramContext& ctx, const ProgramChoice& choice, bool cardCheck) {
  if (cardCheck && !RequireCard(ctx)) return false;
  if (!RequireSlot(ctx, choice.slot) || !RequireEditorFree(ctx, choice.slot)) return false;
  ctx.cfg.setRemoteIp(choice.cardIp);
  ctx.cfg.setProgramId(choice.slot + 1);
  if (ctx.siblings.StartIfNotRunning(kProgramEditor) == SiblingStart::Failed) {
    ctx.user.Message(SiblingStartFailedText(kProgramEditor), kTitleError, Icon::Error);
    return false;
  }
  return true;
}

void EditBody(ProgramContext& ctx, const ProgramChoice& choice) {
  if (!RequireCard(ctx) || !RequireSlot(ctx, choice.slot) || !RequireEditorFree(ctx, choice.slot)) return;
  ReadBackProgram(ctx, choice);
  EditProgram(ctx, choice, true);
}

bool UploadProgram(ProgramContext& ctx, int slot, int dwell) {
  if (!RequireCard(ctx) || !RequireSlot(ctx, slot)) return false;
  // A missing file is said before the card is touched: an empty program
  // would wipe the slot.
  if (!platform::FileExists(WorkingFilePath(ctx.subsysDir(), slot + 1))) {
    ctx.user.Message(Format(Tr(kMsgProgramFileMissing), slot + 1), kTitleError, Icon::Error);
    return false;
  }
  Connection connection(ctx.file);
  if (!connection.Open(ctx)) return false;
  std::optional<std::string> text = ProgramTextOf(ctx, slot);
  if (!text) return false;
  const std::string command = UploadCommand(slot, *text, dwell);
  Channel& link = ctx.file;
  if (ShouldSendPaced(command.size(), ctx.state.record().firmwareMajor())) {
    const PacedStatus status = SendPaced(link, ctx.clock, command);
    if (status != PacedStatus::Sent) {
      // Without the whole program the card must not restart into it.
      ctx.user.Message(status == PacedStatus::NoAcknowledgement ? kMsgUploadNoAck : kMsgUploadSendFailed, kTitleError,
                       Icon::Error);
      return false;
    }
  } else if (SendLine(link, command) != 0) {
    ctx.user.Message(kMsgUploadSendFailed, kTitleError, Icon::Error);
    return false;
  }
  ctx.clock.sleepMs(kBeforeResetMs);
  {
    ExchangeScope exchange(link);
    if (link.Send(std::string_view("reset \n")) != 0) {
      ctx.user.Message(kMsgResetAfterUploadFailed, kTitleError, Icon::Error);
      return false;
    }
    ctx.clock.sleepMs(kAfterResetMs);
  }
  return true;
}

bool DeleteProgram(ProgramContext& ctx, int slot) {
  if (!RequireCard(ctx) || !RequireSlot(ctx, slot)) return false;
  Connection connection(ctx.command);
  if (!connection.Open(ctx)) return false;
  const bool sent = SendLine(ctx.command, Format("file cmdremove %d\n", slot)) == 0;
  connection.Close();
  if (!sent) {
    ctx.user.Message(kMsgDeleteFailed, kTitleError, Icon::Error);
    return false;
  }
  ctx.user.Message(Format(Tr(kMsgDeleted), slot + 1), kTitleNotice, Icon::Information);
  return true;
}

bool FormatPrograms(ProgramContext& ctx) {
  if (!RequireCard(ctx)) return false;
  if (!ctx.user.Ask(kMsgFormatQuestion, kTitleNotice)) return false;
  Connection connection(ctx.file);
  if (!connection.Open(ctx)) return false;
  {
    ExchangeScope exchange(ctx.file);
    if (ctx.file.Send(std::string_view("file cmdformat \n")) != 0) {
      ctx.user.Message(kMsgFormatFailed, kTitleError, Icon::Error);
      return false;
    }
    char reply[kFormatReplyCapacity] = {};
    std::size_t count = 0;
    ctx.file.Receive(reply, sizeof reply, &count);
  }
  ctx.clock.sleepMs(kAfterFormatMs);
  return true;
}

bool ImportProgramFile(ProgramContext& ctx, int slot, const std::string& source) {
  if (!RequireSlot(ctx, slot)) return false;
  std::string bytes;
  // No more than an upload looks at, and one byte to tell a longer file: a
  // file the slot cannot hold is refused before it is read whole.
  if (!platform::ReadWholeFile(source, &bytes, kProgramFileReadLimit + 1)) {
    ctx.user.Message(Format(Tr(kMsgImportFailed), source.c_str()), kTitleError, Icon::Error);
    return false;
  }
  if (bytes.size() > kProgramFileReadLimit || PrepareProgramText(bytes).tooLong) {
    ctx.user.Message(kMsgStorageLimited, kTitleNotice, Icon::Error);
    return false;
  }
  const std::string target = WorkingFilePath(ctx.subsysDir(), slot + 1);
  if (platform::WriteFileMakingDirs(target, bytes.data(), bytes.size()) != 1) {
    ctx.user.Message(Format(Tr(kMsgImportFailed), target.c_str()), kTitleError, Icon::Error);
    return false;
  }
  return true;
}

void ImportBody(ProgramContext& ctx, const ProgramChoice& choice, const std::optional<std::string>& source) {
  if (!RequireSlot(ctx, choice.slot)) return;
  ctx.cfg.setPanelSize(choice.widthText, choice.heightText);
  if (source) ImportProgramFile(ctx, choice.slot, *source);
  EditProgram(ctx, choice, false);
}

bool ExportProgramFile(ProgramContext& ctx, int slot, const std::string& target) {
  if (!RequireSlot(ctx, slot)) return false;
  std::optional<std::string> text = ProgramTextOf(ctx, slot);
  if (!text) return false;
  if (!platform::WriteFileAtomic(target, text->data(), text->size())) {
    ctx.user.Message(Format(Tr(kMsgExportFailed), target.c_str()), kTitleError, Icon::Error);
    return false;
  }
  return true;
}

int EditorSlot(const SysCfg& cfg, int fallback) {
  const int number = HandedProgramNumber(cfg);
  return number > 0 ? number - 1 : fallback;
}

std::optional<int> EditorRequests::Take(SysCfg& cfg, int fallbackSlot, UserPort& user) {
  if (cfg.syncUpdate() == 0) return std::nullopt;
  if (!cfg.clearSyncUpdate()) {
    // Told before the box is shown: the poll keeps asking meanwhile.
    if (!std::exchange(told_, true)) user.Message(kMsgSyncResetFailed, kTitleError, Icon::Error);
    return std::nullopt;
  }
  told_ = false;
  return EditorSlot(cfg, fallbackSlot);
}

}  // namespace card
