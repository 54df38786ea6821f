#pragma once
#include <cstdint>

namespace quarn {

// Time as the session needs it: a monotonic reading for wait bounds, and sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t nowMilliseconds() = 0;
  virtual void sleepMilliseconds(uint32_t milliseconds) = 0;
};

}  // namespace quarn
