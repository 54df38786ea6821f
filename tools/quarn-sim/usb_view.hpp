#pragma once
// The host's USB view of one or more simulated testers: a sysfs tree and a device directory under
// a folder, kept as Linux (cdc_acm, devtmpfs) and udev would keep them while each tester runs,
// restarts into its bootloader and comes back, for quarn-update to read through QUARN_SYSFS_ROOT
// and QUARN_DEV_ROOT. Each tester is a Simulator on its own pty and thread; its tty node is a
// link to that pty.
#include <signal.h>

#include "sim_options.hpp"

namespace quarn::sim {

// Runs the testers until a stop signal (blocked in the calling thread: stopSignals) or until
// every tester has ended; gives the exit code. waitMask and stopRequested are those every
// tester's event loop waits under and looks at.
int runUsbView(const SimOptions& options, const sigset_t& stopSignals, const sigset_t& waitMask,
               volatile sig_atomic_t& stopRequested);

}  // namespace quarn::sim
