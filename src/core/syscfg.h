// SysCfg.ini: the tool's only settings file and the mailbox between the tool
// and its sibling programs. Every key is read and written through here, with
// the default and the read capacity it has always had. Nothing is cached: each
// call reads or writes the whole file.
#pragma once

#include <string>
#include <string_view>

namespace card {

class SysCfg {
 public:
  explicit SysCfg(std::string path) : path_(std::move(path)) {}
  // SysCfg.ini in the working folder of the running installation
  // (platform/workdir.h): the build tree's subsys/ or the user's own folder.
  static SysCfg ForTool();

  const std::string& path() const { return path_; }

  // [IsShowMulNetCard] IsShowMulNetCard, default "0": 1 shows the adapter dialog.
  bool showAdapterDialog() const;
  void hideAdapterDialogFromNowOn();  // stores "0"

  // [ServerIP] ServerIP, default "Error", read into 260 bytes: LocalAddress.
  std::string serverIp() const;
  void setServerIp(std::string_view ip);

  // [RemotIP] RemotIP, default "Error": the selected card's address.
  std::string remoteIp() const;
  void setRemoteIp(std::string_view ip);

  // [LEDPARA] Restore_En: "1" when the card was found in its recovery state.
  void setRestoreEn(bool recovery);

  // [LEDPARA] WIDTH / HEIGHT as the viewer sees the panel: in the vertical
  // display modes (bit 1 of the mode index) the height text goes under WIDTH.
  void setViewedPanelSize(int displayMode, std::string_view widthText, std::string_view heightText);
  // [LEDPARA] WIDTH / HEIGHT as they stand, whatever the display mode.
  void setPanelSize(std::string_view widthText, std::string_view heightText);

  // [LEDPARA] PROGRAMID: the current program's number, 1-based.
  void setProgramId(int number);

  // [NetSyc] Syc_Update, default "0", read into 10 bytes: non-zero asks for an upload.
  int syncUpdate() const;
  bool clearSyncUpdate();  // stores "0"; false when it could not

  // The raw key access the typed calls use.
  std::string read(std::string_view section, std::string_view key, std::string_view def,
                   std::size_t capacity) const;
  bool write(std::string_view section, std::string_view key, std::string_view value) const;

 private:
  std::string path_;
};

// Bit 1 of the display-mode index marks the vertical modes (indexes 2, 3, 6, 7).
inline bool IsVerticalMode(int displayMode) { return displayMode >= 0 && (displayMode & 2) != 0; }

}  // namespace card
