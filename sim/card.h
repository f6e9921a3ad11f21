// One virtual card: its record, flash, Modbus registers, screen and clock,
// and what it does with each command. No sockets here: the server feeds it
// commands and carries out what it asks for (replies, restarts, streaming).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card_record.h"
#include "command_stream.h"
#include "flash.h"
#include "framebuffer.h"
#include "module.h"

namespace sim {

// Registers of the Modbus map served by "file read_modbus" (the tool pages
// through 1024 + 64 of them).
constexpr std::size_t kModbusRegisters = 2048;
// The most one "file read_raw" or "file read_modbus" answers with.
constexpr std::uint32_t kMaxReadLength = 64 * 1024;
// "set local_ip" moves the card after this pause, so that the broadcast
// lines sent right behind it still reach the card at its old address.
constexpr int kMoveDelayMs = 200;

// A program command ("file cmd", header and program together) of at least
// this many bytes comes in pieces of this size to firmware above major 38:
// the card acknowledges a piece before the tool sends the next one.
constexpr std::size_t kPieceBytes = 1200;

// Acknowledgements owed for a paced "file cmd" of commandBytes bytes (header
// and program) once received of them have arrived: one after every full
// 1200-byte piece except the last, where a command of exactly 1200 bytes is
// followed by an empty last piece and so has its one piece acknowledged.
// 0 when the command does not go paced to this firmware.
int PacedAcksDue(std::size_t commandBytes, std::size_t received, int firmwareMajor);

struct CardOptions {
  Firmware firmware;
  int bootWindowMs = 5000;
  bool acknowledge = true;  // false: never acknowledge a paced piece
  std::uint32_t maxRawReply = kMaxReadLength;  // a "file read_raw" answers at most this much
  std::uint32_t maxModbusReply = kMaxReadLength;  // a "file read_modbus" answers at most this much
  // The module on the first output port; with moduleGiven and no module the
  // port is unplugged. Without moduleGiven no panel is modelled.
  bool moduleGiven = false;
  std::optional<ModuleWiring> module;
};

// What one connection has going on with the card.
struct Session {
  int port = 0;
  int rs485 = 0;  // 0 off, 1 hex view, 2 text view
  std::uint32_t rs485Tick = 0;
  int acksSent = 0;
  bool awaitingEnd = false;  // a paced program waits for "file end"
  Command program;
};

struct Counters {
  int crcChecks = 0;
  int crcMismatches = 0;
  int programsStored = 0;
  int programMismatches = 0;  // wrong length or CRC, or no "file end"
  int textsStored = 0;
  int textMismatches = 0;
  int acksSent = 0;
  int unknownLines = 0;
  int restarts = 0;
  std::int64_t bytesProcessed = 0;  // command bytes from the TCP ports the card has acted on
};

class Card {
 public:
  struct Reply {
    std::string bytes;
    bool isRecord = false;
  };

  Card(int index, std::uint32_t address, const CardOptions& options, std::string stateDir);

  int index() const { return index_; }
  std::uint32_t address() const { return address_; }
  const CardRecord& record() const { return record_; }
  const Flash& flash() const { return flash_; }
  const Framebuffer& screen() const { return screen_; }
  // What a person sees on the first module (empty without a module option).
  const PanelPicture& panel() const;
  const std::vector<std::uint16_t>& registers() const { return registers_; }
  const Counters& counters() const { return counters_; }
  std::string serial() const { return record_.name(); }

  bool up() const { return up_; }
  // "set Regonize_M" puts the card in recognition mode until it restarts.
  bool recognition() const { return recognition_; }
  void GoDown();
  // Comes up on the address its record holds; the boot window opens when the
  // factory byte is 0x80.
  void Boot(std::int64_t nowMs);
  // Cards in the window answer "query all_in_boot"; it closes by time or
  // when the factory byte is cleared.
  bool InBootWindow(std::int64_t nowMs) const;
  // When the card wants to restart ("reset", "set local_ip"); the server
  // closes its connections and brings it back after the boot delay.
  std::optional<std::int64_t> restartDue() const { return restartDue_; }
  void ClearRestart() { restartDue_.reset(); }

  std::vector<Reply> Execute(const Command& c, Session& s, std::int64_t nowMs);
  // A "set" or "reset" line that came by broadcast.
  void ExecuteBroadcast(const Command& c, std::int64_t nowMs);
  int AcksOwed(const Command& partial, std::size_t wireBytes, Session& s);
  void SessionClosed(Session& s);
  void Processed(std::size_t bytes);
  // The next block of RS-485 traffic for a streaming connection.
  std::string Rs485Block(Session& s);

  // The card's clock: the PC time it was last set to, carried forward.
  std::int64_t CardTimeSeconds(std::int64_t nowMs) const;
  std::string StatusJson(std::int64_t nowMs) const;
  // Writes what changed to the state directory (nothing without one).
  void Persist(std::int64_t nowMs);

 private:
  void ApplySet(const Command& c, Session* s, std::int64_t nowMs);
  void FinishProgram(const Command& c);
  void Draw(const Command& c);
  std::string ReadModbus(std::uint32_t start, std::uint32_t bytes) const;
  void WriteModbus(std::uint32_t start, const std::string& bytes);
  void RecordChanged();
  void ScreenChanged();
  void Load();

  int index_;
  std::uint32_t address_;
  CardOptions options_;
  std::string dir_;
  CardRecord record_;
  Flash flash_;
  Framebuffer screen_;
  std::vector<std::uint16_t> registers_;
  Counters counters_;
  std::optional<std::uint32_t> announced_;
  std::optional<std::int64_t> restartDue_;
  std::int64_t clockOffsetS_ = 0;
  std::int64_t bootWindowEnd_ = 0;
  bool up_ = false;
  bool recognition_ = false;
  int log_ = -1;
  std::string lastText_;
  mutable PanelPicture panel_;
  mutable bool panelStale_ = true;
  bool recordDirty_ = true, flashDirty_ = false, registersDirty_ = false, statusDirty_ = true, screenDirty_ = true;
};

}  // namespace sim
