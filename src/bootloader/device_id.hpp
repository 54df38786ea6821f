#pragma once
#include <array>
#include <cstdint>

namespace quarn {

// The tester's 96-bit device ID: three words, little-endian on the wire.
using DeviceId = std::array<uint32_t, 3>;

}  // namespace quarn
