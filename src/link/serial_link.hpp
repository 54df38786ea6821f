#pragma once
#include <cstdint>
#include <span>

#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

// How long one reply wait lasts before the attempt counts as unanswered. The bootloader answers
// a request within a few milliseconds (a USB frame and its own handling); 2.5 s leaves room for
// a loaded host and a slow USB hub, and a silent tester still ends a session, 3000 ms pause and
// four block sendings included, well within 15 s.
inline constexpr uint32_t replyWaitBoundMs = 2500;
// The completion reply comes only after the tester has checked the whole image and updated its
// second controller (G0), which takes seconds on real hardware: a 2.5 s bound there would turn
// a successful update into a session without a verdict. A minute covers the slowest G0 update
// we expect; a tester that never answers then ends the session without a line after it.
inline constexpr uint32_t completionWaitBoundMs = 60000;
inline constexpr size_t transmitBufferSize = 256;
// How long the second opening waits for the tester to come back as its bootloader, counted from
// the end of the 3000 ms restart pause. The assumption: a tester that is not back and openable
// 10 s after the pause will not come back. Peers wait as long (arduino-cli polls the ports for
// up to 10 s after a reset, picotool about 6 s, dfu-util 5 s); a real host needs up to about a
// second for the node and its udev permissions, and Windows may take several seconds to install
// a device instance it has not seen before.
inline constexpr uint32_t reopenBoundMs = 10000;
// The pause between two tries of the second opening (50-100 ms): short against the second a new
// node may stay root-only, long enough not to busy the host.
inline constexpr uint32_t reopenRetryIntervalMs = 75;

// Opens session.devicePath into session.port; on failure adds "Failed to open %s\n".
bool openTesterPort(UpdateSession& session, SessionPlatform& platform);
// The second opening, after the restart: opens the tester wherever the device catalog now finds
// it for session.devicePath and session.testerIdentity (on most platforms the same path), asking
// again every reopenRetryIntervalMs while the opener says the port is not there yet, for up to
// reopenBoundMs. On failure adds "Failed to open %s\n" with the path last tried.
bool reopenTesterPort(UpdateSession& session, SessionPlatform& platform);
// Applies 256000 8N1 and non-blocking reads; failures add their line and are otherwise ignored.
void configurePort(SerialPort& port, StatusOutlets& outlets);
// Writes the message from the program-wide transmit buffer in one write.
void sendMessage(UpdateSession& session, std::span<const uint8_t> message);
// Waits until at least minimumLength bytes are queued, then reads what is queued (at most 256)
// into session.receiveBuffer. Gives the count read; 0 when boundMs pass first or the port fails.
uint32_t awaitReply(UpdateSession& session, Clock& clock, uint32_t minimumLength,
                    uint32_t boundMs = replyWaitBoundMs);

}  // namespace quarn
