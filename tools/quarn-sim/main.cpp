// quarn-sim: plays the tester on a pseudo-terminal so the updater can flash it end to end.
#include <signal.h>

#include <cstdio>
#include <string>

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
  std::string errorText;
  switch (parseSimOptions(argc, argv, options, errorText)) {
    case ParseOutcome::help:
      std::fputs(simHelpText(), stdout);
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

  if (!options.usbViewDir.empty()) return runUsbView(options, stopSignals, waitMask, stopRequested);

  Simulator simulator(options, log);
  const int exitCode = simulator.run(waitMask, stopRequested);
  simulator.printSummary();
  return exitCode;
}
