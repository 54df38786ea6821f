#pragma once
// One ordered record of everything the fakes saw, so a test can check what came before what
// ("box:..." before "close", "write:..." before "sleep:3000").
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "session/text.hpp"

namespace quarn::fakes {

struct EventLog {
  std::vector<std::string> events;

  void add(std::string event) { events.push_back(std::move(event)); }
  bool contains(const std::string& event) const;
  // Position of the first event equal to this one, or -1.
  long indexOf(const std::string& event) const;
  long count(const std::string& prefix) const;
};

std::string hex(std::span<const uint8_t> bytes);

}  // namespace quarn::fakes
