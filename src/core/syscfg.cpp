#include "core/syscfg.h"

#include "platform/ini.h"
#include "platform/workdir.h"

namespace card {
namespace {
constexpr std::size_t kDefaultCapacity = 260;
}

SysCfg SysCfg::ForTool() { return SysCfg(platform::WorkingDir() + "SysCfg.ini"); }

std::string SysCfg::read(std::string_view section, std::string_view key, std::string_view def,
                         std::size_t capacity) const {
  return platform::ReadIniKey(path_, section, key, def, capacity);
}

bool SysCfg::write(std::string_view section, std::string_view key, std::string_view value) const {
  return platform::WriteIniKey(path_, section, key, value);
}

bool SysCfg::showAdapterDialog() const {
  return platform::ParseLeadingInt(read("IsShowMulNetCard", "IsShowMulNetCard", "0", kDefaultCapacity)) == 1;
}

void SysCfg::hideAdapterDialogFromNowOn() { write("IsShowMulNetCard", "IsShowMulNetCard", "0"); }

std::string SysCfg::serverIp() const { return read("ServerIP", "ServerIP", "Error", 260); }
void SysCfg::setServerIp(std::string_view ip) { write("ServerIP", "ServerIP", ip); }

std::string SysCfg::remoteIp() const { return read("RemotIP", "RemotIP", "Error", kDefaultCapacity); }
void SysCfg::setRemoteIp(std::string_view ip) { write("RemotIP", "RemotIP", ip); }

void SysCfg::setRestoreEn(bool recovery) { write("LEDPARA", "Restore_En", recovery ? "1" : "0"); }

void SysCfg::setViewedPanelSize(int displayMode, std::string_view widthText, std::string_view heightText) {
  if (IsVerticalMode(displayMode))
    setPanelSize(heightText, widthText);
  else
    setPanelSize(widthText, heightText);
}

void SysCfg::setPanelSize(std::string_view widthText, std::string_view heightText) {
  write("LEDPARA", "WIDTH", widthText);
  write("LEDPARA", "HEIGHT", heightText);
}

void SysCfg::setProgramId(int number) { write("LEDPARA", "PROGRAMID", std::to_string(number)); }

int SysCfg::syncUpdate() const { return platform::ParseLeadingInt(read("NetSyc", "Syc_Update", "0", 10)); }
bool SysCfg::clearSyncUpdate() { return write("NetSyc", "Syc_Update", "0"); }

}  // namespace card
