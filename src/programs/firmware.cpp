#include "programs/firmware.h"

#include "link/command_channel.h"
#include "platform/text.h"

namespace card {
namespace {

// The user port of the record read that opens the upgrade: passes every
// message on and remembers whether the read told the user anything, so a
// failed read is said once, by the read or else by the upgrade.
class NoticingUser : public UserPort {
 public:
  explicit NoticingUser(UserPort& user) : user_(user) {}
  void Message(const std::string& text, const std::string& title, Icon icon) override {
    told_ = true;
    user_.Message(text, title, icon);
  }
  bool Ask(const std::string& text, const std::string& title) override { return user_.Ask(text, title); }
  std::optional<int> Choose(const std::string& text, const std::string& title, const std::vector<std::string>& items,
                            int initial) override {
    return user_.Choose(text, title, items, initial);
  }
  bool told() const { return told_; }

 private:
  UserPort& user_;
  bool told_ = false;
};

// Starts the loader unless it runs; the panel is cleared before a start.
bool HandToLoader(PanelContext& ctx, Siblings& siblings) {
  if (siblings.IsRunning(kFirmwareLoader)) return true;
  ClearParameterPanel(ctx);
  if (siblings.StartIfNotRunning(kFirmwareLoader) == SiblingStart::Failed) {
    ctx.user.Message(SiblingStartFailedText(kFirmwareLoader), kTitleError, Icon::Error);
    return false;
  }
  return true;
}

}  // namespace

AccessPath ClassifyPassword(std::string_view typed) {
  const std::string_view head = typed.substr(0, 3);
  if (head == kAdminPassword) return AccessPath::Upgrade;
  if (head == kLoaderOnlyCode) return AccessPath::LoaderOnly;
  return AccessPath::Wrong;
}

bool FirmwareUpgrade(PanelContext& ctx, OpenContext& open) {
  if (!ctx.state.cardOpened()) {
    ctx.user.Message(kMsgNotConnected, kTitleError, Icon::Error);
    return false;
  }
  // The flag goes into the record as the card has it now. A card that
  // cannot be reached or read has been named by the read already.
  NoticingUser readUser(ctx.user);
  PanelContext readCtx{ctx.command, ctx.clock, readUser, ctx.panel, ctx.state, ctx.cfg};
  if (!ReadRecord(readCtx, open)) {
    if (!readUser.told()) ctx.user.Message(kMsgUpgradeNotStarted, kTitleError, Icon::Error);
    return false;
  }
  Channel& link = ctx.command;
  if (!ConnectSelectedCard(ctx, link)) return false;
  DeviceStatusRecord record = ctx.state.record();
  DeviceStatusRecord flagged = record;
  flagged.setU8(rec::kFactoryByte, kFactoryFlag);
  // ApplyField announces, sends and says "连接设备失败" when a line fails.
  if (!ApplyField(ctx, &record, flagged, platform::Format("set S_Foctory 0x%02x \n", kFactoryFlag))) {
    link.Disconnect();
    return false;
  }
  // The card holds the flag until it restarts: a cancel (quitting the tool)
  // must not fall between the two.
  ctx.clock.holdMs(kAfterFactoryFlagMs);
  if (SendLine(link, kUpgradeResetLine) != 0) {
    link.Disconnect();
    ctx.user.Message(kMsgConnectFailed, kTitleError, Icon::Error);
    return false;
  }
  ctx.clock.sleepMs(kAfterUpgradeResetMs);
  ClearParameterPanel(ctx);
  ctx.cfg.setRemoteIp(ctx.state.selectedAddress());
  ctx.cfg.setRestoreEn(false);
  return HandToLoader(ctx, open.siblings);
}

bool LoaderOnly(PanelContext& ctx, Siblings& siblings) {
  ctx.cfg.setRestoreEn(false);
  return HandToLoader(ctx, siblings);
}

}  // namespace card
