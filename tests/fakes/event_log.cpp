#include "fakes/event_log.hpp"

#include <algorithm>
#include <cstdio>

namespace quarn::fakes {

bool EventLog::contains(const std::string& event) const {
  return indexOf(event) >= 0;
}

long EventLog::indexOf(const std::string& event) const {
  const auto it = std::find(events.begin(), events.end(), event);
  return it == events.end() ? -1 : static_cast<long>(it - events.begin());
}

long EventLog::count(const std::string& prefix) const {
  return std::count_if(events.begin(), events.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

std::string hex(std::span<const uint8_t> bytes) {
  std::string out;
  char digits[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    if (i) out += ' ';
    out += digits;
  }
  return out;
}

}  // namespace quarn::fakes
