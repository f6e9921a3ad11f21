// Literal test vectors for the card's record and command lines, written by
// hand from the protocol description and never computed by the code under
// test. Both the tool and the virtual card are checked against them, so a
// wrong offset in one of them cannot hide behind the same mistake in the
// other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace vectors {

constexpr std::size_t kRecordSize = 908;

// One field of the record: its first element's offset, the width of one
// element in bytes, how many elements, and the value of the first element
// in the golden record below (little-endian).
struct Field {
  const char* name;
  std::size_t offset;
  int width;
  int count;
  std::uint32_t golden;
};

inline constexpr Field kFields[] = {
    {"code word", 0, 2, 1, 0x8111},
    {"width", 2, 2, 1, 320},
    {"height", 4, 2, 1, 160},
    {"blue switch", 8, 1, 1, 85},
    {"script start", 9, 1, 1, 0},
    {"width copy", 10, 2, 1, 288},
    {"driver constant", 12, 1, 1, 16},
    {"display mode", 13, 1, 1, 2},
    {"double-sided", 14, 1, 1, 1},
    {"development number", 15, 1, 1, 3},
    {"factory byte", 16, 1, 1, 7},
    {"X split line", 19, 1, 1, 4},
    {"Y split line", 20, 1, 1, 5},
    {"U-shaped fold", 21, 1, 1, 1},
    {"row/column conversion", 22, 1, 1, 2},
    {"DZ fold", 23, 1, 1, 3},
    {"data polarity", 24, 1, 1, 1},
    {"OE polarity", 25, 1, 1, 0},
    {"baud rate", 26, 2, 1, 9600},
    {"platform status", 28, 2, 1, 0x55},
    {"refresh rate", 30, 1, 1, 10},
    {"lock", 34, 1, 1, 1},
    {"snake direction", 35, 1, 1, 1},
    {"brightness", 36, 1, 1, 15},
    {"Modbus address", 37, 2, 1, 0x0105},
    {"MAC", 79, 2, 6, 0x0002},
    {"internal code", 119, 2, 8, 0x1234},
    {"RS-485 heartbeat flag", 121, 2, 1, 85},
    {"RS-485 heartbeat interval", 123, 2, 1, 30},
    {"server heartbeat flag", 125, 2, 1, 85},
    {"server heartbeat interval", 127, 2, 1, 3000},
    {"Modbus storage", 133, 2, 1, 85},
    {"start-up delay flag", 135, 2, 1, 85},
    {"start-up delay", 137, 2, 1, 12},
    {"counter direction", 139, 2, 1, 1},
    {"counter start values", 141, 2, 5, 100},
    {"daily restart", 153, 2, 1, 85},
    {"restart hour", 155, 2, 1, 23},
    {"restart minute", 157, 2, 1, 59},
    {"restart second", 159, 2, 1, 58},
    {"firmware version", 193, 2, 3, 39},
    {"RS-485 mode", 199, 1, 1, 1},
    {"module width", 200, 1, 1, 32},
    {"service type", 201, 1, 1, 3},
    {"module height", 202, 1, 1, 16},
    {"server connection", 203, 1, 1, 1},
    {"scan", 204, 1, 1, 4},
    {"fold width", 205, 1, 1, 8},
    {"row-scan chip", 206, 1, 1, 5},
    {"IP mode", 207, 1, 1, 1},
    {"card role", 209, 1, 1, 2},
    {"fold rows", 210, 1, 1, 4},
    {"serial number", 211, 1, 40, '2'},
    {"card address", 251, 1, 4, 127},
    {"fixed network settings", 255, 1, 1, 85},
    {"subnet mask", 256, 1, 4, 255},
    {"gateway", 260, 1, 4, 127},
    {"DNS server", 264, 1, 4, 8},
    {"card port", 278, 2, 1, 1001},
    {"server address", 292, 1, 4, 10},
    {"stop bits", 296, 1, 1, 2},
    {"parity", 297, 1, 1, 1},
    {"data bits", 298, 1, 1, 1},
    {"voice switch", 299, 1, 1, 85},
    {"server port", 317, 2, 1, 8080},
    {"checksum", 333, 4, 1, 0x76A186A9},
    {"Modbus request table", 338, 19, 30, 3},
};

inline constexpr const Field& FieldNamed(std::string_view name) {
  for (const Field& f : kFields)
    if (name == f.name) return f;
  throw "no such field";  // a misspelt name fails the test that asks for it
}

// Offsets inside one 19-byte Modbus request.
struct RequestField {
  const char* name;
  std::size_t offset;
  int width;
};
inline constexpr RequestField kRequestFields[] = {
    {"function code", 0, 1}, {"slave address", 1, 1},    {"register address", 2, 2}, {"request count", 4, 1},
    {"divisor", 5, 2},       {"multiplier", 7, 2},       {"master storage", 9, 1},   {"calibration plus", 10, 2},
    {"calibration minus", 12, 2}, {"delay", 14, 1},      {"upper limit", 15, 2},     {"lower limit", 17, 2},
};

constexpr const char* kGoldenSerial = "202381500000000000000001";

// The golden record, byte by byte. Unlisted bytes are zero.
inline std::array<std::uint8_t, kRecordSize> GoldenRecord() {
  std::array<std::uint8_t, kRecordSize> r{};
  auto put = [&r](std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) r.at(at++) = static_cast<std::uint8_t>(b);
  };
  put(0, {0x11, 0x81});               // code word 0x8111: "1-- 常规P10", both polarities "1-- 正"
  put(2, {0x40, 0x01, 0xA0, 0x00});   // 320 x 160
  put(8, {0x55, 0x00});               // blue disabled, script off
  put(10, {0x20, 0x01});              // width copy 288
  put(12, {0x10, 0x02, 0x01, 0x03, 0x07});  // driver constant 16, mode 2, double-sided, dev 3, factory 7
  put(19, {0x04, 0x05, 0x01, 0x02, 0x03, 0x01, 0x00});  // split lines, U fold, conversion, DZ, data 1, OE 0
  put(26, {0x80, 0x25, 0x55, 0x00});  // 9600 bit/s, on the cloud platform
  put(30, {0x0A});                    // refresh 10
  put(34, {0x01, 0x01, 0x0F, 0x05, 0x01});  // locked, snake 1, brightness 15, Modbus address 0x0105
  put(79, {0x02, 0x00, 0x4B, 0x00, 0x58, 0x00, 0x10, 0x00, 0x20, 0x00, 0xFF, 0x01});  // MAC, last word 0x1FF
  put(119, {0x34, 0x12, 0x55, 0x00, 0x1E, 0x00, 0x55, 0x00, 0xB8, 0x0B,  // code 0x1234, RS-485 beat 85/30, server 85/3000
            0x0B, 0x0A, 0x0D, 0x0C, 0x55, 0x00, 0x55, 0x00, 0x0C, 0x00, 0x01, 0x00});  // 0xA0B, 0xC0D, storage, delay 85/12, down
  put(141, {0x64, 0x00, 0xC8, 0x00, 0x2C, 0x01, 0x90, 0x01, 0xF3, 0x01});  // 100, 200, 300, 400, 499
  put(153, {0x55, 0x00, 0x17, 0x00, 0x3B, 0x00, 0x3A, 0x00});  // daily restart at 23:59:58
  put(193, {0x27, 0x00, 0x02, 0x00, 0x01, 0x00});  // firmware 39.2.1
  put(199, {0x01, 0x20, 0x03, 0x10, 0x01, 0x04, 0x08, 0x05, 0x01});  // RS-485 mode 1, module 32 x 16, scan 4, fold 8, chip 5
  put(209, {0x02, 0x04});             // card role 2, fold rows 4
  put(211, {'2', '0', '2', '3', '8', '1', '5', '0', '0', '0', '0', '0',
            '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '1'});
  put(251, {127, 0, 0, 10, 85, 255, 255, 255, 0, 127, 0, 0, 1, 8, 8, 4, 4});  // address, fixed, mask, gateway, DNS
  put(278, {0xE9, 0x03});             // card port 1001
  put(292, {10, 1, 2, 30, 0x02, 0x01, 0x01, 0x55});  // server address, stop 2, parity 1, data 1, voice on
  put(317, {0x90, 0x1F});             // server port 8080
  put(333, {0xA9, 0x86, 0xA1, 0x76});  // CRC-32 of bytes 0..255
  // Request 0: fc 3, slave 1, register 258, 2 registers, divisor 10,
  // multiplier 1, master storage 9, calibration +1/-2, 20 ms, limits 1000/-100.
  put(338, {3, 1, 0x02, 0x01, 2, 10, 0, 1, 0, 9, 1, 0, 2, 0, 20, 0xE8, 0x03, 0x9C, 0xFF});
  // Requests 1..29 empty, as the tool writes them: fc 38, divisor, multiplier and delay 1.
  for (std::size_t i = 1; i < 30; ++i) put(338 + 19 * i, {38, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  return r;
}

// What a "set" line does to the golden record: the field at offset, width
// bytes wide, holds value afterwards. Every value differs from the golden one.
struct SetEffect {
  const char* line;
  std::size_t offset;
  int width;
  std::uint32_t value;
};

inline constexpr SetEffect kSetEffects[] = {
    {"set chrct machine 88ff \n", 0, 2, 0x88FF},
    {"set hard 320 0 6\n", 10, 2, 320},
    {"set hard 320 0 6\n", 13, 1, 6},
    {"set soft 256 64 \n", 2, 2, 256},
    {"set soft 256 64 \n", 4, 2, 64},
    {"set LED_OEP 1 \n", 25, 1, 1},
    {"set LED_DATP 0 \n", 24, 1, 0},
    {"set pl 3 \n", 30, 1, 3},
    {"set modbus_dev_addr 254 \n", 37, 2, 254},
    {"set Modebus_Master 2 \n", 199, 1, 2},
    {"set _315MHZ 32 \n", 15, 1, 32},
    {"set SEVER_M 5 \n", 201, 1, 5},
    {"set baud 115200 8 0 1 \n", 26, 2, 115200 & 0xFFFF},
    {"set ld 19 \n", 36, 1, 19},
    {"set ld 2\n set soft  32 16  \n", 36, 1, 2},
    {"set ld 2\n set soft  32 16  \n", 2, 2, 32},
    {"set ld 2\n set soft  32 16  \n", 4, 2, 16},
    {"set dhcp_diable 0 \n", 207, 1, 0},
    {"set sever_enable 0 \n", 203, 1, 0},
    {"set T_Face 0 \n", 14, 1, 0},
    {"set local_ip 10 1 2 30 \n", 251, 1, 10},
    {"set local_ip 10 1 2 30 \n", 254, 1, 30},
    {"set server_ip 10 1 2 31 \n", 295, 1, 31},
    {"set server_port 70000 \n", 317, 2, 70000 & 0xFFFF},
    {"set local_ip_user  0  \n", 255, 1, 0},
    {"set local_ip_sn  255 255 0 0 \n", 258, 1, 0},
    {"set local_ip_gw  10 11 12 13 \n", 263, 1, 13},
    {"set local_ip_dns  1 0 0 9 \n", 267, 1, 9},
    {"set Mac  a0 a1 a2 a3 a4 a5    \n", 79, 2, 0xA0},
    {"set Mac  a0 a1 a2 a3 a4 a5    \n", 89, 2, 0xA5},
    {"set SN  202399998888777766665555    \n", 215, 1, '9'},
    {"set safedate 2  499  \n", 145, 2, 499},
    {"set safedi 0  \n", 139, 2, 0},
    {"set reset_Enable  85 6 30 0  \n", 155, 2, 6},
    {"set reset_Enable  85 6 30 0  \n", 159, 2, 0},
    {"set N_M_Enable  85 1200   \n", 127, 2, 1200},
    {"set uart1  0  2 1  \n", 298, 1, 0},
    {"set uart1  0  2 1  \n", 297, 1, 2},
    {"set uart1  0  2 1  \n", 296, 1, 1},
    {"set RS_M_Enable  85 10   \n", 123, 2, 10},
    {"set NET_W_Enable  85 7   \n", 137, 2, 7},
    {"set Load_M_Enable  0    \n", 133, 2, 0},
    {"set RoleMorS  1 \n", 209, 1, 1},
    {"set xyilne  3 4\n", 19, 1, 3},
    {"set xyilne  3 4\n", 20, 1, 4},
    {"set Script_Enable  85    \n", 9, 1, 85},
    {"set Blue_Disable  0    \n", 8, 1, 0},
    {"set SFE_Disable  0    \n", 299, 1, 0},
    // The thirteen panel driver values in their order on the line.
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 200, 1, 64},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 202, 1, 32},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 205, 1, 16},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 210, 1, 2},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 204, 1, 8},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 35, 1, 0},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 22, 1, 1},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 21, 1, 0},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 206, 1, 2},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 23, 1, 7},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 25, 1, 1},
    {"set ledpara  64 32 16 16 2 8 0 1 0 2 7 1 0 \n", 24, 1, 0},
    {"set S_Foctory 0x80 \n", 16, 1, 0x80},
    {"set Store_lock off \n  ", 34, 1, 0},
    // Request 3: i, fc, slave, register, count, divisor, cal+, cal-, master, multiplier, delay, upper, lower.
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 0, 1, 3},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 2, 2, 300},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 5, 2, 10},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 7, 2, 5},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 9, 1, 9},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 12, 2, 2},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 14, 1, 40},
    {"set C_DD 3 3 7 300 2 10 1 2 9 5 40 900 -50\n", 338 + 3 * 19 + 17, 2, 0xFFCE},
};

// Lines quoted whole, with their exact lengths where the lengths are given.
namespace line {
constexpr std::string_view kQueryTcp = "query all_in_struct_tcp \n";
constexpr std::string_view kSearch = "query all_in_strut \n";
constexpr std::string_view kBootQuery = "query all_in_boot\n";
constexpr std::string_view kReset = "reset \n";             // 7 bytes
constexpr std::string_view kResetForUpgrade = "reset \n ";  // 8 bytes
constexpr std::string_view kFileEnd = "file end";           // 8 bytes, no line end
constexpr std::string_view kDhcpOn = "set dhcp_diable 0 \n";  // 19 bytes
constexpr std::string_view kProgramDirectory = "file read_raw 0x600000 296\n";
constexpr std::string_view kScriptRead = "file read_raw 0x6f0000 4096\n";
constexpr std::string_view kPictureLast = "file read_raw 0x7ee000 4096\n";  // 0x75f000 + 143 x 4096
// The program abc in slot 0 with a 4 s dwell: 28 bytes.
constexpr std::string_view kProgramAbc = "file cmd 0 3 352441c2 4 \nabc";
constexpr std::string_view kTextAbc = "file data 5 3 352441c2 5 \nabc";
constexpr std::string_view kModbusPage64 = "file read_modbus 0x40 128\n";
constexpr std::string_view kModbusWrite = "file write_modbus 0x9 4\n";
constexpr std::string_view kModbusWriteBytes{"\x00\x00\x3f\xc0", 4};
constexpr std::string_view kRs485Hex = "set get485 1 \n";
constexpr std::string_view kRs485Text = "set get485ascii 1 \n";
// Recognition patterns.
constexpr std::string_view kRecognition = "set Regonize_M \n";
constexpr std::string_view kClear = "led clearall\n";
constexpr std::string_view kPoint = "led clearall\n  led p 6 0 0\n";
constexpr std::string_view kSquare = "led clearall\n  led r 6 1 1 14 14 \n";
}  // namespace line

constexpr std::uint32_t kCrcOfAbc = 0x352441C2;

// Paced uploads: a program command of bytes to a card of firmware major
// goes in 1200-byte pieces, acknowledged after every piece but the last.
struct Paced {
  std::size_t bytes;
  int major;
  int acks;  // 0: sent whole
};
inline constexpr Paced kPaced[] = {
    {1199, 39, 0}, {1200, 38, 0}, {1200, 39, 1}, {2400, 39, 1}, {2500, 39, 2}, {3600, 40, 2}, {34000, 39, 28},
};

// The card's flash map.
namespace flash {
constexpr std::uint32_t kSize = 0x800000;
constexpr std::uint32_t kSystem = 0x000000, kSystemSize = 0x020000;
constexpr std::uint32_t kPictures = 0x75F000, kPicturesSize = 0x090000;
constexpr std::uint32_t kPrograms = 0x600000, kProgramsSize = 0x0D0000;
constexpr std::uint32_t kScript = 0x6F0000, kScriptSize = 0x001000;
constexpr std::uint32_t kDirectorySize = 296;
// Directory entry of slot i (0..5): in use, address, length, all u32.
constexpr std::uint32_t DirInUse(int i) { return 12 + 48 * static_cast<std::uint32_t>(i); }
constexpr std::uint32_t DirAddress(int i) { return 44 + 48 * static_cast<std::uint32_t>(i); }
constexpr std::uint32_t DirLength(int i) { return 48 + 48 * static_cast<std::uint32_t>(i); }
}  // namespace flash

}  // namespace vectors
