#include "platform/win32/win32_clock.hpp"

#include <windows.h>

namespace quarn::win32 {

uint64_t Win32Clock::nowMilliseconds() {
  return GetTickCount64();
}

// The performance counter is monotonic and its frequency fixed at boot (documented since Windows
// XP); the product is split so that it cannot overflow in the machine's uptime.
uint64_t Win32Clock::nowMicroseconds() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !QueryPerformanceCounter(&counter)) {
    return nowMilliseconds() * 1000u;
  }
  const uint64_t ticks = static_cast<uint64_t>(counter.QuadPart);
  const uint64_t perSecond = static_cast<uint64_t>(frequency.QuadPart);
  return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

void Win32Clock::sleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace quarn::win32
