#pragma once
#include <cstdint>
#include <span>

#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

// How long one reply wait lasts before the attempt counts as unanswered. A silent tester then
// ends a session, 3000 ms pause and four block sendings included, well within 15 s.
inline constexpr uint32_t replyWaitBoundMs = 2500;
inline constexpr size_t transmitBufferSize = 256;

// Opens session.devicePath into session.port; on failure adds "Failed to open %s\n".
bool openTesterPort(UpdateSession& session, SessionPlatform& platform);
// Applies 256000 8N1 and non-blocking reads; failures add their line and are otherwise ignored.
void configurePort(SerialPort& port, StatusOutlets& outlets);
// Writes the message from the program-wide transmit buffer in one write.
void sendMessage(UpdateSession& session, std::span<const uint8_t> message);
// Waits until at least minimumLength bytes are queued, then reads what is queued (at most 256)
// into session.receiveBuffer. Gives the count read; 0 on time-out or when the port fails.
uint32_t awaitReply(UpdateSession& session, Clock& clock, uint32_t minimumLength);

}  // namespace quarn
