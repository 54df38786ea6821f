#pragma once
#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

inline constexpr uint32_t bootloaderRestartPauseMs = 3000;

// Restarts the tester into its bootloader and programs imageBuffer. Every outcome is reported
// when it returns, and session.port is closed (or was never reopened).
void programTester(UpdateSession& session, SessionPlatform& platform);

}  // namespace quarn
