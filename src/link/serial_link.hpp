#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

// How long each step waits for its reply before the attempt counts as unanswered. A slow tester
// is not a failed one: a bound too short resends a request the tester is still working on and
// ends a session with a working tester, while one too long only delays the report of a silent
// one. So every bound is set for the slowest answer a working tester may give at that step,
// never for the usual one (a few milliseconds: a USB frame and the bootloader's own handling).
// A vanished port ends every wait at once, whatever its bound.
//
// Device-ID reply: the bootloader has just started and may still be setting up its flash driver
// and USB stack, and a loaded host or hub adds its own delay; 10 s is several times anything a
// microcontroller bootloader needs to answer a first request.
inline constexpr uint32_t deviceIdReplyBoundMs = 10000;
// App-signature verdict: a check of 12 ID bytes against the product's key, at most a few flash
// reads; 10 s, as for the device ID, covers a bootloader that is slow to come round to it.
inline constexpr uint32_t signatureReplyBoundMs = 10000;
// Start reply: the bootloader may erase the whole application area before it answers. Peer
// flashers for serial bootloaders allow tens of seconds for a full erase (one allows 35 s), so
// the same 35 s here.
inline constexpr uint32_t startReplyBoundMs = 35000;
// Each data block's acknowledgement: writing 60 bytes may start a page or sector erase, which
// peer flashers allow several seconds for; 5 s per block. A silent tester then costs four of
// them (20 s) before the transfer gives up.
inline constexpr uint32_t blockAckBoundMs = 5000;
// The completion reply comes only after the tester has checked the whole image and updated its
// second controller (G0), which takes seconds on real hardware. A minute covers the slowest G0
// update we expect; a tester that never answers then ends the session without a line after it.
inline constexpr uint32_t completionWaitBoundMs = 60000;
// Once a wait has lasted this long the outlets hear of it (reportSlowReply), so that a long
// wait never looks like a frozen program; the completion wait has its own note and no such one.
inline constexpr uint32_t slowReplyNoteMs = 2000;
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

// One reply wait. Bytes already at the front of session.receiveBuffer (leading: what an earlier
// read took beyond its own reply) count as the start of this reply.
struct ReplyWait {
  uint32_t minimumLength = 0;
  uint64_t deadline = 0;           // the clock's reading at which the wait gives up
  std::optional<uint64_t> noteAt;  // from this reading on the wait counts as slow
  uint32_t leading = 0;
};

// Discards whatever is queued on the port (only when something is), then writes the message
// from the program-wide transmit buffer in one write.
void sendMessage(UpdateSession& session, std::span<const uint8_t> message);
// Waits until leading plus the queued bytes reach minimumLength, then reads what is queued (the
// receive buffer's 256 bytes at most, leading included) into session.receiveBuffer behind the
// leading bytes. Gives the count now valid there, leading included; 0 when the deadline passes
// first or the port fails (the leading bytes are then left as they were). Tells outlets, if
// given, reportSlowReply(true) once noteAt has passed and reportSlowReply(false) at the end.
uint32_t awaitReply(UpdateSession& session, Clock& clock, StatusOutlets* outlets,
                    const ReplyWait& wait);
// The plain form: nothing leading, no note, the bound counted from now.
uint32_t awaitReply(UpdateSession& session, Clock& clock, uint32_t minimumLength, uint32_t boundMs);

}  // namespace quarn
