#pragma once
// The core keeps its texts as UTF-16 in char16_t; on Windows wchar_t is the same 16-bit unit, so
// the adapters hand the core's texts to the W functions without converting them.
#include <cstddef>
#include <string>

#include "session/text.hpp"

namespace quarn::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take 16-bit wchar_t");

inline const wchar_t* wideChars(const WideText& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A text that the platform wrote into a fixed buffer, up to its first NUL but never past the
// buffer's end: a value that fills the whole buffer without a terminator is cut, not overrun.
inline WideText textFromBuffer(const wchar_t* buffer, size_t capacity) {
  const auto* units = reinterpret_cast<const char16_t*>(buffer);
  size_t length = 0;
  while (length < capacity && units[length] != u'\0') ++length;
  return WideText(units, length);
}

}  // namespace quarn::win32
