// The LED module on the card's first output port, and what a person in front
// of it sees.
//
// A module is a grid of dots driven by shift registers. Its rows are
// multiplexed over `scan` address lines: in a band of scan x foldRows rows,
// address a lights rows a, a + scan, a + 2 scan, ... The dots of those
// foldRows rows come from one data chain per address, which runs along a row
// for `foldWidth` dots, then turns to the next of its rows (top down, or
// bottom up for the reversed snake), and so on across the module. A module
// taller than one band has one data line per band.
//
// The card drives its port the same way, but by the parameters of its record
// (screen and module size, scan, fold rows and width, snake, polarities,
// chip). The module interprets the stream by its real wiring:
//  - a chain longer than what the card shifts per address shows the shifted
//    data again (the data repeats down the chain);
//  - the module decodes only as many address lines as it has row groups, so
//    card addresses beyond them alias onto its rows (lit if any alias is lit),
//    and rows whose address the card never drives stay dark;
//  - a data polarity other than the module's inverts every dot;
//  - an OE polarity other than the module's inverts the brightness scale;
//  - a row-scan chip other than the module's shows nothing at all.
// U-shaped and DZ folds and row/column conversion are not modelled.
//
// The module shown is the first one of the chain, at the top right of the
// screen: the recognition wizard's observation area. It holds the bits the
// card shifted last, which belong to the right-most module of the card's
// top module row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card_record.h"
#include "framebuffer.h"

namespace sim {

// How a module is really wired. Polarities are the index the card's record
// must hold for the module to show the picture as drawn: 0 "正", 1 "负".
struct ModuleWiring {
  int width = 32;
  int height = 16;
  int scan = 16;
  int foldRows = 1;
  int foldWidth = 32;
  int snake = 0;
  int dataLevel = 0;
  int oeLevel = 0;
  int chip = 0;
};

// "WxH:scan=S:fold-rows=k:fold-width=F:snake=d:data=p:oe=o:chip=c" (keys in
// any order, all optional: scan defaults to the height, fold rows to 1, fold
// width to the width, the rest to 0), or "none" for an unplugged port, which
// leaves *out empty. False with a message on anything else.
bool ParseModule(const std::string& text, std::optional<ModuleWiring>* out, std::string* error);

// How the card drives its port, read from its record.
struct Drive {
  int screenWidth = 0;
  int screenHeight = 0;
  int moduleWidth = 0;
  int moduleHeight = 0;
  int scan = 1;
  int foldRows = 1;
  int foldWidth = 1;
  int snake = 0;
  int dataLevel = 0;
  int oeLevel = 0;
  int chip = 0;
  int brightness = 0;
};
Drive DriveFromRecord(const CardRecord& r);

// Grey level of a lit dot: the card's brightness 0..39 scaled to 1..255,
// or the complement when the OE polarity is wrong.
int DotLevel(int brightness, bool oeMatches);

struct PanelPicture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> grey;
  int Lit() const;    // dots that are not dark
  int Level() const;  // grey of the brightest dot, 0 when all are dark
  std::string Pgm() const;  // binary PGM (P5)
};

// What the first module shows of screen (the card's framebuffer) driven by
// drive. Without a module the picture has the card's module size and stays
// dark.
PanelPicture ShowOnModule(const Framebuffer& screen, const Drive& drive, const std::optional<ModuleWiring>& module);

// One address's data chain over a module `width` dots wide: chain position
// q and the dot it lands on (column, and which of the foldRows rows).
struct Chain {
  int width;
  int foldRows;
  int foldWidth;
  int snake;
  int length() const { return width * foldRows; }
  // False when q falls beside the module (a fold width that does not divide
  // the width).
  bool Dot(int q, int* column, int* row) const;
  // -1 when the chain does not reach the dot.
  int Position(int column, int row) const;
};

}  // namespace sim
