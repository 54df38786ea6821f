#pragma once
#include "session/session_platform.hpp"
#include "session/update_session.hpp"

namespace quarn {

inline constexpr WideView testerMatchText = u"Zentrika QUARN";

// A tester's bus-reported description carries the match text anywhere, in this letter case.
bool matchesTester(WideView description);

// Gives the port name between the first "(" and the first ")" after it, or nothing.
std::optional<WideText> portNameFromFriendlyName(WideView friendlyName);

// Finds the one connected tester: sets deviceList, matchCount and devicePath. False when the
// session must end (its box raised, or no device list and nothing reported).
bool discoverTester(UpdateSession& session, SessionPlatform& platform);

}  // namespace quarn
