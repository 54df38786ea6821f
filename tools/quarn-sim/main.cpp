// quarn-sim: plays the tester on a pseudo-terminal (or, in gadget mode, on the device side of a
// USB gadget) so the updater can flash it end to end.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gadget_options.hpp"
#include "gadget_simulator.hpp"
#include "sim_log.hpp"
#include "sim_options.hpp"
#include "simulator.hpp"
#include "usb_view.hpp"

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
  stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarn::sim;
  SimOptions options;
  GadgetOptions gadget;
  std::vector<char*> rest;
  std::string errorText;
  if (!extractGadgetOptions(argc, argv, gadget, rest, errorText)) {
    std::fprintf(stderr, "quarn-sim: %s\n", errorText.c_str());
    return exitUsage;
  }
  switch (parseSimOptions(static_cast<int>(rest.size()), rest.data(), options, errorText)) {
    case ParseOutcome::help:
      std::fputs(simHelpText(), stdout);
      std::fputs(gadgetHelpText(), stdout);
      return exitOk;
    case ParseOutcome::version:
      std::printf("quarn-sim %s\n", QUARN_VERSION);
      return exitOk;
    case ParseOutcome::error:
      std::fprintf(stderr, "quarn-sim: %s\n", errorText.c_str());
      return exitUsage;
    case ParseOutcome::run:
      break;
  }
  if (gadget.enabled() &&
      (!options.linkPath.empty() || options.paceBaud != 0 || !options.usbViewDir.empty())) {
    std::fprintf(stderr,
                 "quarn-sim: --link, --pace-baud and --usb-view do not apply to --gadget-tty\n");
    return exitUsage;
  }

  // The USB view opens a log per tester itself.
  SimLog log;
  if (options.usbViewDir.empty() && !options.logPath.empty() && !log.open(options.logPath)) {
    std::fprintf(stderr, "quarn-sim: cannot open log %s\n", options.logPath.c_str());
    return exitUsage;
  }

  // The stop signals stay blocked except while the loop waits, so a stop request can never slip
  // in between looking at the flag and going to sleep.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigset_t waitMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);
  struct sigaction stop {};
  stop.sa_handler = requestStop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGHUP, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (gadget.enabled()) {
    GadgetSimulator simulator(options, gadget, log);
    const int exitCode = simulator.run(waitMask, stopRequested);
    simulator.printSummary();
    return exitCode;
  }
  if (!options.usbViewDir.empty()) return runUsbView(options, stopSignals, waitMask, stopRequested);

  Simulator simulator(options, log);
  const int exitCode = simulator.run(waitMask, stopRequested);
  simulator.printSummary();
  return exitCode;
}
