#pragma once
#include "fakes/event_log.hpp"
#include "session/clock.hpp"

namespace quarn::fakes {

// Simulated time: sleeping and silent waits advance it at once, so a test of a silent tester
// costs no real time. Sleeps are logged as "sleep:<ms>".
class FakeClock : public Clock {
 public:
  explicit FakeClock(EventLog& log) : log_(log) {}
  uint64_t nowMilliseconds() override { return now; }
  void sleepMilliseconds(uint32_t milliseconds) override {
    log_.add("sleep:" + std::to_string(milliseconds));
    now += milliseconds;
  }
  void advance(uint32_t milliseconds) { now += milliseconds; }

  uint64_t now = 1000;

 private:
  EventLog& log_;
};

}  // namespace quarn::fakes
