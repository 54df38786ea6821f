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

// What is queued before a message goes out can only be an answer to something sent earlier
// whose wait has already ended (a reply later than its bound, a second answer to a resent
// message): read behind the new message it would pass for that message's reply. So it goes,
// in the driver and in the adapter alike. The look costs one status request; the discard itself
// is made only when something is there, which on a working line is almost never.
void sendMessage(UpdateSession& session, std::span<const uint8_t> message) {
  SerialPort& port = *session.port;
  if (const std::optional<uint32_t> queued = port.queuedInputBytes(); queued && *queued > 0) {
    port.discardInput();
  }
  const size_t length = std::min(message.size(), transmitBuffer.size());
  std::copy_n(message.begin(), length, transmitBuffer.begin());
  port.write(std::span<const uint8_t>(transmitBuffer.data(), length));
  session.receivedCount = 0;
}

namespace {

uint32_t waitForReply(UpdateSession& session, Clock& clock, StatusOutlets* outlets,
                      const ReplyWait& wait, bool& noted) {
  const uint32_t leading = std::min<uint32_t>(wait.leading, receiveBufferSize);
  session.receivedCount = 0;
  if (leading >= wait.minimumLength && leading > 0) return session.receivedCount = leading;
  SerialPort& port = *session.port;
  for (;;) {
    const std::optional<uint32_t> queued = port.queuedInputBytes();
    if (!queued) return 0;
    if (leading + *queued >= wait.minimumLength && *queued > 0) {
      // Bytes beyond the receive buffer stay queued and count towards the next wait.
      const uint32_t take = std::min<uint32_t>(*queued, receiveBufferSize - leading);
      const uint32_t read =
          port.read(std::span<uint8_t>(session.receiveBuffer.data() + leading, take));
      // Nothing read (a port that failed between the two looks) is nothing read.
      session.receivedCount = read > 0 ? leading + read : 0;
      return session.receivedCount;
    }
    const uint64_t now = clock.nowMilliseconds();
    if (now >= wait.deadline) return 0;
    uint64_t until = wait.deadline;
    if (outlets && wait.noteAt && !noted) {
      if (now >= *wait.noteAt) {
        outlets->reportSlowReply(true);
        noted = true;
      } else {
        until = std::min(until, *wait.noteAt);
      }
    }
    const uint32_t missing = wait.minimumLength - leading;
    port.waitForInput(*queued, missing, static_cast<uint32_t>(until - now));
  }
}

}  // namespace

uint32_t awaitReply(UpdateSession& session, Clock& clock, StatusOutlets* outlets,
                    const ReplyWait& wait) {
  bool noted = false;
  const uint32_t count = waitForReply(session, clock, outlets, wait, noted);
  if (noted) outlets->reportSlowReply(false);
  return count;
}

uint32_t awaitReply(UpdateSession& session, Clock& clock, uint32_t minimumLength,
                    uint32_t boundMs) {
  const ReplyWait wait{minimumLength, clock.nowMilliseconds() + boundMs, std::nullopt, 0};
  return awaitReply(session, clock, nullptr, wait);
}

}  // namespace quarn
