// The cards a command is given: addresses, ranges (192.168.1.20-40 or
// 192.168.1.250-192.168.2.10), @FILE and - (standard input) holding more of
// them. Every address comes out in one spelling, so that the same card
// named twice, in whatever form, is found and refused.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace card::cli {

// More than this in one command is a typo in a range, not a fleet.
constexpr std::size_t kMaxTargets = 4096;

// Four decimal numbers 0..255 (at most three digits each) separated by dots.
std::optional<std::uint32_t> ParseAddress(const std::string& text);
std::string AddressString(std::uint32_t address);

struct Targets {
  std::vector<std::string> addresses;  // dotted, canonical, in the order given
  std::string error;                   // in the chosen language; empty when fine
};

// readFile reads @FILE (and "-" as standard input) whole; false when it cannot.
Targets ExpandTargets(const std::vector<std::string>& args,
                      const std::function<bool(const std::string& path, std::string* text)>& readFile);

}  // namespace card::cli
