#pragma once
#include "session/session_platform.hpp"

namespace quarn {

// Runs one whole update session, from discovery to the common end. Reports everything through
// the platform's outlets and returns nothing.
void updateWorker(SessionPlatform& platform);

}  // namespace quarn
