#include "cli/number_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quarn::cli {

std::string hex32(uint32_t value) {
  std::array<char, 16> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value, 16);
  (void)error;  // 16 characters hold any 32-bit value
  const std::string digits(text.data(), end);
  return std::string(8 - digits.size(), '0') + digits;
}

std::string hex16(uint16_t value) {
  return hex32(value).substr(4);
}

std::string deviceIdText(const DeviceId& id) {
  std::string text;
  for (const uint32_t word : id) {
    for (int byte = 0; byte < 4; ++byte) {
      text += hex32((word >> (8 * byte)) & 0xFFu).substr(6);
    }
  }
  return text;
}

// The civil date of a day count, the proleptic Gregorian calendar's 400-year cycle walked as
// in the well-known days-to-civil algorithm: no time-zone database and no C library call whose
// range or thread-safety differs between the systems.
std::string utcIsoTime(int64_t millisecondsSinceEpoch) {
  constexpr int64_t msPerDay = 86'400'000;
  int64_t days = millisecondsSinceEpoch / msPerDay;
  int64_t msOfDay = millisecondsSinceEpoch % msPerDay;
  if (msOfDay < 0) {
    msOfDay += msPerDay;
    --days;
  }
  const int64_t z = days + 719'468;
  const int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const int64_t dayOfEra = z - era * 146'097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  std::array<char, 40> text{};
  const int length =
      std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                    static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                    static_cast<int>(msOfDay / 3'600'000), static_cast<int>(msOfDay / 60'000 % 60),
                    static_cast<int>(msOfDay / 1000 % 60), static_cast<int>(msOfDay % 1000));
  return std::string(text.data(), length > 0 ? static_cast<size_t>(length) : 0);
}

std::string shortestText(float value) {
  std::array<char, 64> text{};
  const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return "?";
  return std::string(text.data(), end);
}

double shortestDouble(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  return std::strtod(shortestText(value).c_str(), nullptr);
}

}  // namespace quarn::cli
