#include "link/serial_link.hpp"

#include <algorithm>
#include <array>
#include <type_traits>

#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn {
namespace {

// Every message leaves from this one buffer; one session at a time uses it.
std::array<uint8_t, transmitBufferSize> transmitBuffer{};
// A session may still be writing from it while the program ends.
static_assert(std::is_trivially_destructible_v<decltype(transmitBuffer)>);

}  // namespace

bool openTesterPort(UpdateSession& session, SessionPlatform& platform) {
  session.port = platform.ports.openPort(session.devicePath);
  if (session.port) return true;
  addStatusLineF(platform.outlets, messages::failedToOpen, {session.devicePath});
  return false;
}

bool reopenTesterPort(UpdateSession& session, SessionPlatform& platform) {
  Clock& clock = platform.clock;
  const uint64_t deadline = clock.nowMilliseconds() + reopenBoundMs;
  platform.outlets.reportReconnecting();
  WideText path;
  for (;;) {
    path = platform.devices.currentDevicePath(session.devicePath, session.testerIdentity);
    session.port = platform.ports.openPort(path);
    if (session.port) {
      platform.outlets.reportReconnected(path);
      return true;
    }
    if (!platform.ports.lastOpenFailure().notThereYet) break;
    const uint64_t now = clock.nowMilliseconds();
    if (now >= deadline) break;
    clock.sleepMilliseconds(
        static_cast<uint32_t>(std::min<uint64_t>(reopenRetryIntervalMs, deadline - now)));
  }
  addStatusLineF(platform.outlets, messages::failedToOpen, {path});
  return false;
}

void configurePort(SerialPort& port, StatusOutlets& outlets) {
  if (!port.readPortState()) {
    addStatusLineF(outlets, messages::portStateReadError);
    return;
  }
  if (!port.applyLineSettings(LineSettings{})) {
    addStatusLineF(outlets, messages::portStateSetError);
    return;
  }
  if (!port.applyNonBlockingTimeouts()) addStatusLineF(outlets, messages::portTimeoutsError);
}

void sendMessage(UpdateSession& session, std::span<const uint8_t> message) {
  const size_t length = std::min(message.size(), transmitBuffer.size());
  std::copy_n(message.begin(), length, transmitBuffer.begin());
  session.port->write(std::span<const uint8_t>(transmitBuffer.data(), length));
  session.receivedCount = 0;
}

uint32_t awaitReply(UpdateSession& session, Clock& clock, uint32_t minimumLength,
                    uint32_t boundMs) {
  session.receivedCount = 0;
  SerialPort& port = *session.port;
  const uint64_t deadline = clock.nowMilliseconds() + boundMs;
  for (;;) {
    const std::optional<uint32_t> queued = port.queuedInputBytes();
    if (!queued) return 0;
    if (*queued >= minimumLength && *queued > 0) {
      // Bytes beyond the receive buffer stay queued and count towards the next wait.
      const uint32_t take = std::min<uint32_t>(*queued, receiveBufferSize);
      session.receivedCount = port.read(std::span<uint8_t>(session.receiveBuffer.data(), take));
      return session.receivedCount;
    }
    const uint64_t now = clock.nowMilliseconds();
    if (now >= deadline) return 0;
    port.waitForInput(*queued, minimumLength, static_cast<uint32_t>(deadline - now));
  }
}

}  // namespace quarn
