#pragma once
#include <initializer_list>

#include "session/messages.hpp"
#include "session/status_outlets.hpp"

namespace quarn {

// Builds a line from a format whose "%s" conversions take the arguments in order ("%%" gives
// "%"). The line grows as needed: a long device description is never cut or overrun.
WideText formatLine(WideView format, std::initializer_list<WideView> arguments = {});

void addStatusLine(StatusOutlets& outlets, const Message& message);
void addStatusLineF(StatusOutlets& outlets, const Message& format,
                    std::initializer_list<WideView> arguments = {});
void showErrorBox(StatusOutlets& outlets, const Message& message);

}  // namespace quarn
