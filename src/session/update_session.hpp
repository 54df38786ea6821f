#pragma once
// The record of one update session. It lives on the worker thread exactly as long as the
// session; every resource it holds is released at the session's common end.
#include <array>
#include <cstdint>
#include <memory>

#include "bootloader/device_id.hpp"
#include "link/device_list.hpp"
#include "link/serial_port.hpp"
#include "package/firmware_metadata.hpp"
#include "session/text.hpp"

namespace quarn {

inline constexpr size_t receiveBufferSize = 256;

struct UpdateSession {
  std::unique_ptr<DeviceList> deviceList;
  int32_t matchCount = 0;
  WideText devicePath;
  // What the bus told of the tester that discovery counted (or of the port named with --port):
  // its USB location lets the second opening find it again under another name.
  UsbIdentity testerIdentity;
  std::unique_ptr<SerialPort> port;

  uint32_t imageLength = 0;
  uint32_t imageBytesRead = 0;
  uint32_t imageCrc = 0;
  MetadataTree metadataTree;
  FirmwareMetadata metadata;

  DeviceId deviceId{};

  std::array<uint8_t, receiveBufferSize> receiveBuffer{};
  uint32_t receivedCount = 0;  // valid bytes of receiveBuffer since the last read
};

}  // namespace quarn
