#include "options.h"

#include <cstdlib>
#include <string_view>

#include "ipv4.h"

namespace sim {
namespace {

bool ToInt(const char* text, int low, int high, int* out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!*text || *end || v < low || v > high) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

std::string Usage() {
  return "usage: cardsim [--cards N] [--address A]... [--firmware X.Y.Z] [--boot-ms MS]\n"
         "               [--boot-window-ms MS] [--rs485-period-ms MS] [--recovery]\n"
         "               [--state DIR] [--wire-log FILE] [--module WIRING|none]\n"
         "  faults: [--delay-ms MS] [--drop-replies] [--split-bytes N] [--split-gap-ms MS]\n"
         "          [--short-reads N] [--short-modbus N] [--refuse-after N] [--refuse-after-ms MS]\n"
         "          [--stray-byte] [--refuse] [--no-ack] [--silent] [--no-search]\n"
         "          [--trickle-ms MS] [--repeat-search-ms MS] [--search-noise-ms MS]\n"
         "          [--freeze-after N] [--garbage-file-port]\n"
         "Cards live on loopback addresses (127.0.0.10, .11, ... unless given) and\n"
         "answer searches on UDP 4400 and commands on TCP 1001/1002 (1000 with --recovery).\n"
         "Prints \"ready\" once every socket listens.\n"
         "\n"
         "--module WxH[:scan=S][:fold-rows=K][:fold-width=F][:snake=D][:data=P][:oe=O][:chip=C]\n"
         "    puts a module wired this way on each card's first port (defaults: scan H/K,\n"
         "    fold-rows 1, fold-width W, snake, data, oe and chip 0; data and oe are the\n"
         "    polarity index the card must use, 0 \"正\" or 1 \"负\"). The card drives it by\n"
         "    its record; what a person sees on it goes to panel.pgm in the state\n"
         "    directory and to panel_lit and panel_level in status.json.\n"
         "    --module none: nothing is plugged in, the panel stays dark.\n"
         "--short-modbus N    \"file read_modbus\" answers at most N bytes\n"
         "--refuse-after N    each card refuses new connections once it has accepted N\n"
         "--refuse-after-ms MS  every card refuses new connections MS ms after the start\n"
         "--trickle-ms MS     every reply over TCP goes one byte every MS ms\n"
         "--repeat-search-ms MS  each search reply is sent again every MS ms, for good\n"
         "--search-noise-ms MS   once searched, a datagram that is no card's reply goes\n"
         "                    to the searcher every MS ms, for good\n"
         "--freeze-after N    each card acts on N command lines from its TCP ports and then on\n"
         "                    nothing more (no reply, no change, no search answer), while its\n"
         "                    ports still take connections: a card that hangs mid-way\n"
         "--garbage-file-port every reply on port 1002 (raw reads, acknowledgements) is\n"
         "                    replaced by pseudo-random bytes of the same length\n"
         "status.json ends with bytes_processed: the command bytes from the TCP ports\n"
         "that the card has acted on.\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  *o = Options{};
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    auto value = [&](const char** v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    const char* v = nullptr;
    bool ok = true;
    if (a == "--cards") ok = value(&v) && ToInt(v, 1, 200, &o->cards);
    else if (a == "--address") {
      ok = value(&v);
      auto ip = ok ? pcomm::ParseIpv4(v) : std::nullopt;
      // Cards stay on loopback: nothing a test does may reach another machine.
      ok = ip && pcomm::IsLoopback(*ip);
      if (ok) o->addresses.push_back(*ip);
    } else if (a == "--firmware") ok = value(&v) && ParseFirmware(v, &o->firmware);
    else if (a == "--boot-ms") ok = value(&v) && ToInt(v, 0, 600000, &o->bootMs);
    else if (a == "--boot-window-ms") ok = value(&v) && ToInt(v, 0, 600000, &o->bootWindowMs);
    else if (a == "--rs485-period-ms") ok = value(&v) && ToInt(v, 1, 600000, &o->rs485PeriodMs);
    else if (a == "--recovery") o->recovery = true;
    else if (a == "--state") ok = value(&v) && (o->stateDir = v, true);
    else if (a == "--wire-log") ok = value(&v) && (o->wireLog = v, true);
    else if (a == "--delay-ms") ok = value(&v) && ToInt(v, 0, 600000, &o->faults.delayMs);
    else if (a == "--drop-replies") o->faults.dropReplies = true;
    else if (a == "--split-bytes") ok = value(&v) && ToInt(v, 1, 1 << 20, &o->faults.splitBytes);
    else if (a == "--split-gap-ms") ok = value(&v) && ToInt(v, 0, 60000, &o->faults.splitGapMs);
    else if (a == "--trickle-ms") ok = value(&v) && ToInt(v, 1, 60000, &o->faults.trickleMs);
    else if (a == "--repeat-search-ms") ok = value(&v) && ToInt(v, 1, 60000, &o->faults.repeatSearchMs);
    else if (a == "--search-noise-ms") ok = value(&v) && ToInt(v, 1, 60000, &o->faults.searchNoiseMs);
    else if (a == "--short-reads") ok = value(&v) && ToInt(v, 1, 1 << 20, &o->faults.shortReads);
    else if (a == "--short-modbus") ok = value(&v) && ToInt(v, 1, 1 << 20, &o->faults.shortModbus);
    else if (a == "--refuse-after") ok = value(&v) && ToInt(v, 1, 1 << 20, &o->faults.refuseAfter);
    else if (a == "--refuse-after-ms") ok = value(&v) && ToInt(v, 1, 24 * 3600 * 1000, &o->faults.refuseAfterMs);
    else if (a == "--module") {
      std::string why;
      ok = value(&v) && ParseModule(v, &o->module, &why);
      if (!ok && !why.empty()) {
        *error = "--module: " + why;
        return false;
      }
      o->moduleGiven = true;
    }
    else if (a == "--stray-byte") o->faults.strayByte = true;
    else if (a == "--refuse") o->faults.refuse = true;
    else if (a == "--no-ack") o->faults.noAck = true;
    else if (a == "--silent") o->faults.silent = true;
    else if (a == "--no-search") o->faults.noSearch = true;
    else if (a == "--freeze-after") ok = value(&v) && ToInt(v, 1, 1 << 30, &o->faults.freezeAfter);
    else if (a == "--garbage-file-port") o->faults.garbageFilePort = true;
    else {
      *error = "unknown option " + std::string(a);
      return false;
    }
    if (!ok) {
      *error = "bad value for " + std::string(a);
      return false;
    }
  }
  if (!o->addresses.empty()) o->cards = static_cast<int>(o->addresses.size());
  for (int i = static_cast<int>(o->addresses.size()); i < o->cards; ++i)
    o->addresses.push_back(0x7F00000Au + static_cast<std::uint32_t>(i));  // 127.0.0.10 + i
  return true;
}

}  // namespace sim
