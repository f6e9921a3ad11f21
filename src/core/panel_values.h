// The parameter panel of the main window as plain values: what the widgets
// show, read and written as one struct. A list without a selection is -1.
#pragma once

#include <string>

namespace card {

struct PanelValues {
  // "屏参数设置"
  std::string widthText;   // "像素宽点数"
  std::string heightText;  // "像素高点数"
  int oe = -1;             // "OE信号"
  int data = -1;           // "数据高低"
  int target = -1;         // "显示目标"
  int mode = -1;           // "显示模式"
  int refresh = -1;        // "刷屏率"
  int brightness = -1;     // "亮度"
  int modbus = -1;         // "ModBus地址"
  int rs485 = -1;          // "485模式"
  int baud = -1;           // "波特率"
  int devNo = -1;          // "开发编号"

  // "IP设置". An IPv4 field without text reads "0.0.0.0".
  bool autoIp = false;        // "自动获取IP"
  bool serverEnable = false;  // "是否连接服务器"
  std::string cardIp;         // "控制卡IP"
  std::string serverIp;       // "服务器IP"
  std::string serverPort;     // "服务器端口"
  int service = -1;           // " 服务类型"

  bool doubleSided = false;  // "双面"
  bool lock = false;         // "锁定"
  bool broadcast = false;    // "广播"

  // "节目"
  int program = -1;  // "当前节目"
  int dwell = -1;    // "停留时长"
  bool readBack = true;  // "是否回读"

  // Never shown: the card port and the internal code.
  std::string cardPortText;
  std::string internalCode;

  bool operator==(const PanelValues&) const = default;
};

// The panel as the operations reach it; the Qt implementation reads and
// writes the widgets on the UI thread.
class PanelPort {
 public:
  virtual ~PanelPort() = default;
  virtual PanelValues Read() = 0;
  virtual void Write(const PanelValues& values) = 0;
  // Enables "控制卡IP" again after a direct read.
  virtual void EnableCardAddressField() {}
};

}  // namespace card
