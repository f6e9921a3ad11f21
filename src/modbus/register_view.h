// The card's Modbus register map, a page of 64 registers at a time: the
// eleven ways a value can sit in the registers (one codec, decode and
// encode), and the page read, page write and single write over a link of
// the view's own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports.h"
#include "link/channel.h"
#include "platform/clock.h"
#include "platform/i18n.h"

namespace card::modbus {

constexpr int kTypeCount = 11;
enum DataType {
  kU16 = 0,
  kFloatCdab = 1,   // page bytes D C B A (the IEEE value little-endian)
  kI16 = 2,
  kFloatNegAbcd = 3,  // page bytes B A D C
  kFloatDcba = 4,   // page bytes C D A B
  kU32 = 5,         // little-endian
  kI32 = 6,
  kFloatBadc = 7,   // page bytes A B C D (big-endian)
  kU32Swapped = 8,  // first register the high half
  kI32Swapped = 9,
  kString = 10,     // one register: high byte, then low byte
};

constexpr std::size_t kPageBytes = 128;
constexpr std::uint32_t kPageRegisters = 64;
constexpr int kGridRows = 4;
constexpr int kGridColumns = 16;
constexpr int kStartAddresses = 17;
// The single write reaches registers 0..299.
constexpr int kSingleWriteRegisters = 300;
// A string in the single write: at most one page.
constexpr std::size_t kMaxStringBytes = kPageBytes;

constexpr int kLogOffPauseMs = 800;
constexpr int kReadPollMs = 100;
// A read gives the card this many silent polls before it asks again for
// what is missing, and asks at most kReadRequests times in all.
constexpr int kReadSilentPolls = 5;
constexpr int kReadRequests = 3;
constexpr int kWritePauseMs = 500;

inline constexpr const char* kMsgReadNothing = TR_NOOP("读取失败：设备没有应答，表格留空。");
inline constexpr const char* kMsgWriteNeedsRead = TR_NOOP("这一页没有完整读到，不能写入。请先“读取”。");
inline constexpr const char* kMsgNothingEdited = TR_NOOP("这一页没有修改，没有写入。");
inline constexpr const char* kMsgDropEdits = TR_NOOP("这一页有修改还没有写入，继续将放弃这些修改。是否继续？");
inline constexpr const char* kMsgSendFailed = TR_NOOP("写入失败：数据没有发送到设备。");

const std::vector<std::string>& TypeLabels();
std::vector<std::string> StartAddressItems();  // "0", "64", ... "1024"
std::string RegisterItem(int position);        // "%03d" of position + 1
inline bool IsWide(int type) {
  return type == kFloatCdab || (type >= kFloatNegAbcd && type <= kI32Swapped);
}
inline int TypeBytes(int type) { return IsWide(type) ? 4 : 2; }

// The text of one value from its 2 or 4 page bytes, as the grid shows it.
std::string DecodeValue(int type, const std::uint8_t* bytes);
// The page bytes of a value typed for type, the exact inverse of
// DecodeValue; nullopt with the reason in *error when text is not a whole
// value of the type's range. A string cell holds one register (2 bytes).
std::optional<std::string> EncodeValue(int type, std::string_view text, std::string* error);
// The bytes the single write sends: as EncodeValue, except that a string
// may take several registers (padded to a whole register, at most
// kMaxStringBytes).
std::optional<std::string> EncodeSingle(int type, std::string_view text, std::string* error);

// What a read brought: the page, and how many bytes of it from the start
// arrived. Cells past that are unknown, not zero.
struct PageImage {
  std::array<std::uint8_t, kPageBytes> bytes{};
  std::size_t valid = 0;
  bool whole() const { return valid == kPageBytes; }
};

using GridTexts = std::array<std::array<std::string, kGridColumns>, kGridRows>;
// Row r, column c of the grid: register 16r + c, or for 32-bit types the
// value at bytes 32r + 4j in column 2j and "--" in column 2j + 1. Cells
// whose bytes did not arrive are empty.
GridTexts DecodePage(int type, const PageImage& page);

struct PageWrite {
  std::array<std::uint8_t, kPageBytes> bytes{};
  int edited = 0;
  std::vector<std::string> errors;  // cells that hold no value of the type
};
// The page to write: the read image with only the cells whose text differs
// from what the read showed re-encoded in type.
PageWrite BuildPageWrite(int type, const PageImage& read, const GridTexts& shown, const GridTexts& now);

std::string ReadLine(std::uint32_t startRegister, std::size_t bytes);   // "file read_modbus 0x%x %d\n"
std::string WriteLine(std::uint32_t firstRegister, std::size_t bytes);  // "file write_modbus 0x%x %d\n"

// Opening: "set LOG 0 \n" and 800 ms, then disconnect. Nothing when the card
// cannot be reached (the read that follows says so).
void SendLogOff(Channel& link, platform::Clock& clock, const std::string& address);

enum class ReadOutcome { Whole, Short, Nothing, ConnectFailed };
struct PageRead {
  PageImage page;
  ReadOutcome outcome = ReadOutcome::Nothing;
};
// Reads the page of 64 registers from startRegister: collects the reply's
// pieces in order; after kReadSilentPolls empty polls asks again, on a new
// connection, for the missing tail from the first whole register not yet
// received; gives up after kReadRequests requests. Tells the user when the
// card cannot be reached or the page came short.
PageRead ReadPage(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                  std::uint32_t startRegister);
std::string ShortReadText(std::size_t received);

// "file write_modbus" with bytes as a second Send, then 500 ms; connects
// and disconnects. Tells the user and returns false on a failure.
bool WriteRegisters(Channel& link, platform::Clock& clock, UserPort& user, const std::string& address,
                    std::uint32_t firstRegister, const std::string& bytes);

}  // namespace card::modbus
