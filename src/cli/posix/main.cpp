// quarn-update on Linux: the command line runs on the main thread; a second thread waits for
// SIGINT, SIGTERM and SIGHUP and interrupts it, so that no signal handler ever has to close a
// port or write a line.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/exit_codes.hpp"
#include "cli/posix/posix_cli_platform.hpp"

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

void ignoreWake(int) {}

void installSignalHandling(const sigset_t& stop) {
  // Blocked before any other thread exists, so only the watcher's sigwait takes them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  // The wake must interrupt a blocking poll, not restart it.
  struct sigaction wake {};
  wake.sa_handler = ignoreWake;
  sigemptyset(&wake.sa_mask);
  wake.sa_flags = 0;
  sigaction(quarn::cli::posix::wakeSignal, &wake, nullptr);
  // A reader that goes away (quarn-update --json | head -1) must not kill the program with its
  // port still locked; the writes fail instead and the session ends as usual.
  signal(SIGPIPE, SIG_IGN);
}

void watchSignals(quarn::cli::CommandLine& commandLine, sigset_t stop,
                  const std::atomic<bool>& ending) {
  for (;;) {
    int received = 0;
    if (sigwait(&stop, &received) != 0) continue;
    if (ending) return;
    // Everything has been written straight to the descriptors: nothing is left to flush.
    if (commandLine.interrupt()) _exit(quarn::cli::exitInterrupted);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const sigset_t stop = stopSignals();
  installSignalHandling(stop);
  quarn::cli::posix::PosixCliPlatform platform;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  quarn::cli::CommandLine commandLine(platform, arguments);
  std::atomic<bool> ending = false;
  std::thread watcher(watchSignals, std::ref(commandLine), stop, std::cref(ending));
  const int code = commandLine.run();
  // Interrupted: the watcher has written the result and ends the process; it must not find
  // the command line gone.
  if (code == quarn::cli::exitInterrupted) _exit(code);
  // The watcher is stopped before the command line goes: one of its own signals, sent to it
  // alone, wakes it to find the run ending.
  ending = true;
  pthread_kill(watcher.native_handle(), SIGHUP);
  watcher.join();
  return code;
}
