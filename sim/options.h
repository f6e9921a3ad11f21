// cardsim's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card_record.h"
#include "module.h"

namespace sim {

// Faults a test can ask for; they apply to every card of the process.
struct Faults {
  int delayMs = 0;         // --delay-ms N: every reply leaves N ms late
  bool dropReplies = false;  // --drop-replies: commands act, replies never leave
  int splitBytes = 0;      // --split-bytes N: replies go in N-byte segments ...
  int splitGapMs = 0;      // --split-gap-ms G: ... G ms apart
  int trickleMs = 0;       // --trickle-ms N: replies go one byte every N ms
  int shortReads = 0;      // --short-reads N: "file read_raw" answers at most N bytes
  int shortModbus = 0;     // --short-modbus N: "file read_modbus" answers at most N bytes
  int refuseAfter = 0;     // --refuse-after N: a card refuses connections once it has accepted N
  int refuseAfterMs = 0;   // --refuse-after-ms MS: every card refuses connections MS ms after the start
  bool strayByte = false;  // --stray-byte: one byte before every record sent over TCP
  bool refuse = false;     // --refuse: no TCP port listens
  bool noAck = false;      // --no-ack: paced pieces are never acknowledged
  bool silent = false;     // --silent: connections are accepted and never answered
  bool noSearch = false;   // --no-search: search queries go unanswered (a card behind a router)
  int repeatSearchMs = 0;  // --repeat-search-ms N: a search reply is sent again every N ms, for good
  int searchNoiseMs = 0;   // --search-noise-ms N: once searched, a datagram that is no reply every N ms
  int freezeAfter = 0;     // --freeze-after N: a card acts on N command lines, then on nothing (connections still accepted)
  bool garbageFilePort = false;  // --garbage-file-port: every reply on port 1002 is noise of the same length
};

struct Options {
  int cards = 1;
  std::vector<std::uint32_t> addresses;  // --address A, repeated; else 127.0.0.10, .11, ...
  Firmware firmware;
  int bootMs = 1500;
  int bootWindowMs = 5000;
  int rs485PeriodMs = 500;
  bool recovery = false;
  std::string stateDir;
  std::string wireLog;
  bool moduleGiven = false;             // --module
  std::optional<ModuleWiring> module;   // empty with --module none
  Faults faults;
};

// False with a message in *error on a bad command line.
bool ParseOptions(int argc, char** argv, Options* out, std::string* error);
std::string Usage();

}  // namespace sim
