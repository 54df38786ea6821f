#pragma once
#include <cstdint>

namespace quarn {

// Time as the session needs it: a monotonic reading for wait bounds, and sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t nowMilliseconds() = 0;
  // The same reading, finer, for a trace's timestamps; a clock that cannot tell better gives
  // its milliseconds.
  virtual uint64_t nowMicroseconds() { return nowMilliseconds() * 1000u; }
  virtual void sleepMilliseconds(uint32_t milliseconds) = 0;
};

}  // namespace quarn
