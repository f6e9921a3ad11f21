// The "节目" group: reading a slot back into its working file, handing the
// file to the program editor, uploading it, deleting a slot, formatting the
// card's program storage, importing and exporting working files. Every
// operation runs on a worker; file choices are made by the window, which
// passes the chosen paths.
#pragma once

#include <optional>
#include <string>

#include "core/main_state.h"
#include "core/ports.h"
#include "core/siblings.h"
#include "core/syscfg.h"
#include "link/channel.h"
#include "platform/clock.h"
#include "platform/i18n.h"
#include "programs/program_files.h"

namespace card {

inline constexpr const char* kMsgNoProgramSelected = TR_NOOP("请先在“当前节目”中选择一个节目！");
inline constexpr const char* kMsgProgramFileMissing = TR_NOOP("节目%d的文件不存在，请先编辑节目或打开文件！");
inline constexpr const char* kMsgDirectoryMissing = TR_NOOP("设备未返回节目目录，请检查设备后重试！");
inline constexpr const char* kMsgDirectoryShort = TR_NOOP("设备返回的节目目录不完整，请重试！");
inline constexpr const char* kMsgDirectoryCorrupt = TR_NOOP("设备返回的节目目录有误，未回读节目！");
inline constexpr const char* kMsgProgramTooLong = TR_NOOP("节目长度超过回读缓冲区（40960字节），未回读节目！");
inline constexpr const char* kMsgProgramMissing = TR_NOOP("设备未返回节目内容，请检查设备后重试！");
inline constexpr const char* kMsgProgramShort = TR_NOOP("设备返回的节目不完整，请重试！");
inline constexpr const char* kMsgWorkingFileFailed = TR_NOOP("写入节目文件失败：%s");
inline constexpr const char* kMsgUploadNoAck = TR_NOOP("控制卡未应答，节目更新失败！");
inline constexpr const char* kMsgUploadSendFailed = TR_NOOP("节目发送失败，请检查连接后重试！");
inline constexpr const char* kMsgResetAfterUploadFailed = TR_NOOP("节目已发送，但控制卡复位失败，请重启设备！");
inline constexpr const char* kMsgDeleted = TR_NOOP("成功删除节目%d");
inline constexpr const char* kMsgDeleteFailed = TR_NOOP("删除节目失败，请检查连接后重试！");
inline constexpr const char* kMsgFormatQuestion = TR_NOOP("格式化将删除控制卡中的全部节目，确定要格式化吗？");
inline constexpr const char* kMsgFormatFailed = TR_NOOP("格式化失败，请检查连接后重试！");
inline constexpr const char* kMsgImportFailed = TR_NOOP("复制节目文件失败：%s");
inline constexpr const char* kMsgExportFailed = TR_NOOP("保存文件失败：%s");
inline constexpr const char* kMsgEditorOnOtherSlot = TR_NOOP("节目编辑器正在编辑节目%d，请在编辑器中保存并关闭后，再编辑节目%d！");
inline constexpr const char* kMsgSyncResetFailed =
    TR_NOOP("无法清除SysCfg.ini中节目编辑器的更新请求（Syc_Update），编辑器的更新请求暂不执行，请检查该文件是否可写！");

// Pauses the card needs.
constexpr int kDirectoryPauseMs = 300;
constexpr int kProgramPauseMs = 1000;
constexpr int kBeforeResetMs = 300;
constexpr int kAfterResetMs = 3000;
constexpr int kAfterFormatMs = 1000;
// The directory and a program are read by the link's rules for reads in
// requests (ReadRawInRequests): a reply ends when the asked bytes are in or
// once it stopped coming, what came short is asked for again from its first
// missing byte, and the read ends at its deadline.
constexpr int kFormatReplyCapacity = 100;

// The program editors and what the editor poll reads.
inline constexpr const char* kProgramEditor = "progedit";

// What the operations work with: the window's file link (port 1002) and
// command link (port 1001), the clock, the user, the shared state, SysCfg.ini
// and the sibling programs (whose folder holds the working files).
struct ProgramContext {
  Channel& file;
  Channel& command;
  platform::Clock& clock;
  UserPort& user;
  MainState& state;
  SysCfg cfg;
  Siblings& siblings;

  std::string subsysDir() const { return siblings.subsysDir(); }
};

// What the program group showed when the button was pressed. slot is the
// index of "当前节目" (-1 without a selection), dwell that of "停留时长".
struct ProgramChoice {
  int slot = -1;
  int dwell = -1;
  bool readBack = true;
  std::string cardIp;      // "控制卡IP" as shown
  std::string widthText;   // "像素宽点数"
  std::string heightText;  // "像素高点数"
};

enum class ReadBackOutcome {
  Skipped,   // "是否回读" not ticked
  Written,   // the working file holds what the card has (empty when the slot is empty)
  LeftAsIs,  // a slot without a directory entry (7 and 8): the file stays
  Failed,    // told the user; the working file is untouched
};

// Reads the slot's program from the card into its working file (first half
// of "编辑"). The file is written only from a whole directory and a whole
// program.
ReadBackOutcome ReadBackProgram(ProgramContext& ctx, const ProgramChoice& choice);

// The card's program directory over the file link (connected for it); which
// slots hold a program. nullopt after telling the user why not.
std::optional<ProgramDirectory> ReadProgramDirectory(ProgramContext& ctx);

// Hands the slot to the program editor: "RemotIP" and "PROGRAMID", then
// starts progedit when it is not running. With cardCheck, refuses while no
// card was opened. A running editor keeps the slot it has: another slot is
// refused with a word, never switched under it. False when it told the
// user why it stopped.
bool EditProgram(ProgramContext& ctx, const ProgramChoice& choice, bool cardCheck);

// The worker body of "编辑": read back, then the hand-over; a missing card
// or slot is said once.
void EditBody(ProgramContext& ctx, const ProgramChoice& choice);

// "更新" and the editor's request: sends the slot's working file to the
// card, paced for cards that pace uploads, then restarts the card. The
// restart goes only after a whole upload. True when it went out.
bool UploadProgram(ProgramContext& ctx, int slot, int dwell);

// "删除": "file cmdremove %d\n" on the command link, which it connects.
bool DeleteProgram(ProgramContext& ctx, int slot);

// "格式化": asks first, then "file cmdformat \n" on the file link.
bool FormatPrograms(ProgramContext& ctx);

// "打开文件" after the choice: copies source over the slot's working file
// (creating its folder). A file whose text "更新" would refuse, or that is
// longer than an upload ever reads, is refused before it is read whole and
// the working file stays. The editor hand-over follows in ImportBody.
bool ImportProgramFile(ProgramContext& ctx, int slot, const std::string& source);
// The worker body of "打开文件": the copy when a file was chosen, then the
// hand-over without the card check.
void ImportBody(ProgramContext& ctx, const ProgramChoice& choice, const std::optional<std::string>& source);

// "另存文件" after the choice: the slot's program text, as "更新" would send
// it, written to target.
bool ExportProgramFile(ProgramContext& ctx, int slot, const std::string& target);

// The slot the editor was handed ("PROGRAMID", 1..8) as an index; fallback
// when the key holds no slot number.
int EditorSlot(const SysCfg& cfg, int fallback);

// The editor's upload request ("Syc_Update") as the window's poll takes it:
// the key is reset first, so that a request runs once, and the upload goes
// to the slot the editor names. A key that cannot be reset is not taken (it
// would upload and restart the card on every tick); the user is told once,
// and again only after a reset has worked in between.
class EditorRequests {
 public:
  // The slot index to upload, or nullopt when there is nothing to take.
  std::optional<int> Take(SysCfg& cfg, int fallbackSlot, UserPort& user);

 private:
  bool told_ = false;
};

}  // namespace card
