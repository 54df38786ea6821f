#pragma once
// Numbers as the command line prints them.
#include <cstdint>
#include <string>

#include "bootloader/device_id.hpp"

namespace quarn::cli {

// Eight lower-case hexadecimal digits, as metadata.json writes a CRC-32.
std::string hex32(uint32_t value);

// Four lower-case hexadecimal digits, as a USB vendor or product ID is written ("1209").
std::string hex16(uint16_t value);

// The tester's device ID as 24 lower-case hexadecimal digits, its twelve bytes in the order they
// came on the wire (each word little-endian).
std::string deviceIdText(const DeviceId& id);

// A moment as UTC in ISO 8601 with milliseconds, "2026-12-11T14:05:09.042Z", from milliseconds
// since 1970-01-01T00:00:00Z (the Unix epoch, as both systems' clocks give it).
std::string utcIsoTime(int64_t millisecondsSinceEpoch);

// The shortest text that reads back as the same single-precision value ("3.8", not
// "3.79999995"): a version is kept as a float, but people wrote it as a short decimal.
std::string shortestText(float value);

// The double nearest that shortest text, so a JSON writer prints 3.8 for the float 3.8f.
double shortestDouble(float value);

}  // namespace quarn::cli
