#pragma once

namespace quarn::win32 {

// Writes the version line (and, when ReadMe.txt cannot be read, the failure line before it)
// into the status log of mainWindow. Called once at start-up, before the window is shown.
void writeVersionBanner();

}  // namespace quarn::win32
