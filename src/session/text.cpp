#include "session/text.hpp"

#include <cstdint>

namespace quarn {
namespace {

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendUtf16(WideText& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

std::string encode(WideView text, bool escapedBytes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (escapedBytes && unit >= 0xDC80 && unit < 0xDD00) {
      out += static_cast<char>(unit - 0xDC00);
      continue;
    } else if (unit >= 0xD800 && unit < 0xE000) {
      unit = kReplacement;
    }
    appendUtf8(out, unit);
  }
  return out;
}

WideText decode(std::string_view text, bool escapeBytes) {
  WideText out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      cp = lead & 0x07u;
    } else {
      appendUtf16(out, escapeBytes ? static_cast<char32_t>(0xDC00u + lead) : kReplacement);
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; ok && k <= extra; ++k) {
      if (i + k >= text.size()) {
        ok = false;
        break;
      }
      const auto next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    const bool overlong =
        (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (!ok || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
      appendUtf16(out, escapeBytes ? static_cast<char32_t>(0xDC00u + lead) : kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

}  // namespace

std::string toUtf8(WideView text) {
  return encode(text, false);
}

WideText fromUtf8(std::string_view text) {
  return decode(text, false);
}

WideText fromPathBytes(std::string_view bytes) {
  return decode(bytes, true);
}

std::string toPathBytes(WideView path) {
  return encode(path, true);
}

}  // namespace quarn
