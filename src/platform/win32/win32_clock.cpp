#include "platform/win32/win32_clock.hpp"

#include <windows.h>

namespace quarn::win32 {

uint64_t Win32Clock::nowMilliseconds() {
  return GetTickCount64();
}

void Win32Clock::sleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace quarn::win32
