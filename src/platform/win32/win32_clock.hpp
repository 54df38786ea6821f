#pragma once
#include "session/clock.hpp"

namespace quarn::win32 {

class Win32Clock : public Clock {
 public:
  uint64_t nowMilliseconds() override;
  uint64_t nowMicroseconds() override;
  void sleepMilliseconds(uint32_t milliseconds) override;
};

}  // namespace quarn::win32
