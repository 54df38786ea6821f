#pragma once
#include "session/clock.hpp"

namespace quarn::win32 {

class Win32Clock : public Clock {
 public:
  uint64_t nowMilliseconds() override;
  void sleepMilliseconds(uint32_t milliseconds) override;
};

// Raises the system timer resolution to 1 ms for as long as it lives.
//
// The reply wait polls the port with Sleep(1). At the default resolution Windows wakes a sleeper
// only every 15.6 ms, so each acknowledged block would cost a whole tick: an image of 65,536
// blocks would take about 17 minutes instead of under 3. The program holds one scope for the
// length of each update session, so the finer (and more power-hungry) timer is only asked for
// while a transfer may run.
class TimerResolutionScope {
 public:
  TimerResolutionScope();
  ~TimerResolutionScope();
  TimerResolutionScope(const TimerResolutionScope&) = delete;
  TimerResolutionScope& operator=(const TimerResolutionScope&) = delete;

 private:
  bool raised_;
};

}  // namespace quarn::win32
