#include "platform/win32/win32_clock.hpp"

#include <windows.h>
// windows.h first: the multimedia timer header builds on its types.
#include <timeapi.h>

namespace quarn::win32 {

uint64_t Win32Clock::nowMilliseconds() {
  return GetTickCount64();
}

void Win32Clock::sleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

TimerResolutionScope::TimerResolutionScope() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

// Every raise is paired with exactly one release; a refused raise is not released.
TimerResolutionScope::~TimerResolutionScope() {
  if (raised_) timeEndPeriod(1);
}

}  // namespace quarn::win32
