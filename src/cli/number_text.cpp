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
