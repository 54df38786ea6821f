#pragma once
// The serial port as the link needs it. The protocol code never learns whether a COM port, a
// tty or a test script is behind it.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "session/text.hpp"

namespace quarn {

struct LineSettings {
  uint32_t baudRate = 256000;
  uint8_t dataBits = 8;
  bool parity = false;
  uint8_t stopBits = 1;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;  // closes the port; nothing is flushed or purged first

  // Reads the driver's current port state; false when it cannot be read.
  virtual bool readPortState() = 0;
  // Applies these settings on top of the state read, every other field left as the driver had it.
  virtual bool applyLineSettings(const LineSettings& settings) = 0;
  // Makes reads return at once with what is queued; writes get no time-out.
  virtual bool applyNonBlockingTimeouts() = 0;

  virtual void write(std::span<const uint8_t> bytes) = 0;
  // Bytes waiting in the input queue; nullopt when the port no longer answers.
  virtual std::optional<uint32_t> queuedInputBytes() = 0;
  // Reads at most destination.size() queued bytes without blocking; gives the count read.
  virtual uint32_t read(std::span<uint8_t> destination) = 0;
  // Blocks for at most maxMilliseconds while fewer than wanted bytes are queued (queuedNow were,
  // at the last look), returning early once more input may be there. Bytes the port takes in
  // while it waits count as queued for queuedInputBytes and read, in their order.
  virtual void waitForInput(uint32_t queuedNow, uint32_t wanted, uint32_t maxMilliseconds) = 0;
};

// Why an opening failed, as the opener tells it.
struct OpenFailure {
  // The system's own error number: errno on POSIX, the Win32 error (GetLastError) on Windows;
  // 0 when there was none (the opening succeeded, or failed for a reason of our own).
  uint32_t osError = 0;
  // The port is not there yet but may be in a moment: a device that is re-enumerating has no
  // node or COM name yet, or one that is still root-only, busy or half present. The second
  // opening asks again while this holds; any other failure is final at once.
  bool notThereYet = false;
};

class PortOpener {
 public:
  virtual ~PortOpener() = default;
  // Opens the device path for exclusive reading and writing; nullptr when it cannot be opened.
  virtual std::unique_ptr<SerialPort> openPort(WideView devicePath) = 0;
  // Why the last openPort gave nullptr (after a success: nothing).
  virtual OpenFailure lastOpenFailure() const { return {}; }
};

}  // namespace quarn
