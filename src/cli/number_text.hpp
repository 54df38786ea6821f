#pragma once
// Numbers as the command line prints them.
#include <cstdint>
#include <string>

namespace quarn::cli {

// Eight lower-case hexadecimal digits, as metadata.json writes a CRC-32.
std::string hex32(uint32_t value);

// The shortest text that reads back as the same single-precision value ("3.8", not
// "3.79999995"): a version is kept as a float, but people wrote it as a short decimal.
std::string shortestText(float value);

// The double nearest that shortest text, so a JSON writer prints 3.8 for the float 3.8f.
double shortestDouble(float value);

}  // namespace quarn::cli
