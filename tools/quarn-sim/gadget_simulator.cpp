#include "gadget_simulator.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "simulator.hpp"

namespace quarn::sim {

namespace {

// Silence that ends a message of unknown length, as in the pty modes.
constexpr auto framingGap = std::chrono::milliseconds(2);
// After the last reply of a tester that is to exit or unplug: at least this long, then until
// the gadget's write queue is empty (the host's cdc_acm has taken the bytes), at most the limit.
constexpr auto lingerMinimum = std::chrono::milliseconds(100);
constexpr auto lingerLimit = std::chrono::milliseconds(2000);
constexpr auto lingerPoll = std::chrono::milliseconds(5);
// A hung-up device-side tty (the host reset the gadget without us) is opened again this late.
constexpr auto reopenDelay = std::chrono::milliseconds(50);
// How long a reply may wait for room in the gadget's write queue.
constexpr int writeTimeoutMs = 2000;

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

GadgetSimulator::GadgetSimulator(const SimOptions& options, const GadgetOptions& gadget,
                                 SimLog& log)
    : options_(options), gadget_(gadget), log_(log), model_(options) {}

GadgetSimulator::~GadgetSimulator() {
  closeTty();
}

bool GadgetSimulator::openTty() {
  closeTty();
  // O_NONBLOCK: the open must not wait for a carrier, the reads are driven by poll.
  fd_ = ::open(gadget_.tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    std::fprintf(stderr, "quarn-sim: opening %s: %s\n", gadget_.tty.c_str(), std::strerror(errno));
    return false;
  }
  // The gadget's tty starts cooked, with echo: every byte the host sent would come back.
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) {
    std::fprintf(stderr, "quarn-sim: %s is not a tty: %s\n", gadget_.tty.c_str(),
                 std::strerror(errno));
    closeTty();
    return false;
  }
  cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
    std::fprintf(stderr, "quarn-sim: setting up %s: %s\n", gadget_.tty.c_str(),
                 std::strerror(errno));
    closeTty();
    return false;
  }
  tcflush(fd_, TCIOFLUSH);
  log_.line("--", {}, "opened " + gadget_.tty);
  return true;
}

void GadgetSimulator::closeTty() {
  if (fd_ >= 0) {
    ::close(fd_);
    log_.line("--", {}, "closed " + gadget_.tty);
  }
  fd_ = -1;
  outbound_.clear();
  received_.clear();
}

bool GadgetSimulator::writeAttribute(const std::string& name, const std::string& value) {
  const std::string path = gadget_.gadgetDir + "/" + name;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "quarn-sim: opening %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const std::string text = value + "\n";
  const ssize_t written = ::write(fd, text.data(), text.size());
  const int error = errno;
  ::close(fd);
  if (written != static_cast<ssize_t>(text.size())) {
    std::fprintf(stderr, "quarn-sim: writing '%s' to %s: %s\n", value.c_str(), path.c_str(),
                 std::strerror(error));
    return false;
  }
  return true;
}

std::string GadgetSimulator::readAttribute(const std::string& name) const {
  std::ifstream file(gadget_.gadgetDir + "/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return trimmed(text.str());
}

bool GadgetSimulator::bind() {
  if (!writeAttribute("UDC", udc_)) return false;
  bound_ = true;
  log_.line("--", {},
            "gadget bound to " + udc_ + " as '" + readAttribute("strings/0x409/product") +
                "' serial '" + readAttribute("strings/0x409/serialnumber") + "' PID " +
                readAttribute("idProduct"));
  return true;
}

bool GadgetSimulator::unbind() {
  if (!writeAttribute("UDC", "")) return false;
  bound_ = false;
  log_.line("--", {}, "gadget unbound from " + udc_);
  return true;
}

bool GadgetSimulator::applyBootloaderIdentity() {
  bool ok = true;
  if (options_.bootloaderProduct) {
    ok = writeAttribute("strings/0x409/product", *options_.bootloaderProduct) && ok;
  }
  if (options_.bootloaderSerial) {
    ok = writeAttribute("strings/0x409/serialnumber", *options_.bootloaderSerial) && ok;
  }
  if (gadget_.bootloaderPid) {
    std::array<char, 8> pid{};
    std::snprintf(pid.data(), pid.size(), "0x%04x", *gadget_.bootloaderPid);
    ok = writeAttribute("idProduct", pid.data()) && ok;
  }
  return ok;
}

bool GadgetSimulator::readTty(TimePoint now) {
  std::array<uint8_t, 4096> buffer;
  for (;;) {
    const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
    if (count > 0) {
      received_.insert(received_.end(), buffer.begin(), buffer.begin() + count);
      lastArrival_ = now;
      continue;
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    // 0 or EIO: the tty was hung up, which u_serial does when the gadget is disconnected.
    log_.line("--", {},
              std::string("device-side tty hung up (") +
                  (count == 0 ? "end of file" : std::strerror(errno)) + ")");
    closeTty();
    reopenAt_ = now + reopenDelay;
    return true;
  }
}

void GadgetSimulator::frameMessages(TimePoint now) {
  while (!received_.empty() && fd_ >= 0 && !finished_) {
    const bool quiet = now - lastArrival_ >= framingGap;
    const FrameDecision decision = model_.frame(received_, quiet);
    if (decision.kind == FrameDecision::Kind::wait) return;
    const auto end = received_.begin() + static_cast<std::ptrdiff_t>(decision.length);
    Bytes message(received_.begin(), end);
    received_.erase(received_.begin(), end);
    if (decision.kind == FrameDecision::Kind::discard) {
      model_.noteDiscarded(message.size());
      log_.line("rx", message, "ignored");
    } else {
      handleMessage(message, now);
    }
  }
}

void GadgetSimulator::handleMessage(const Bytes& message, TimePoint now) {
  const TesterResponse response = model_.handle(message);
  log_.line("rx", message, response.note);

  if (response.unplug) {
    // Pulled out: the gadget leaves the bus and never comes back.
    closeTty();
    unbind();
    log_.line("--", {}, "unplugged");
    finished_ = true;
    return;
  }
  if (response.enteredBootloader) {
    received_.clear();
    if (options_.vanishMs) {
      // The tester restarts: it leaves the bus at once and comes back as its bootloader.
      closeTty();
      if (!unbind() || !applyBootloaderIdentity()) {
        exitCode_ = exitSetup;
        finished_ = true;
        return;
      }
      bindAt_ = now + std::chrono::milliseconds(*options_.vanishMs);
      log_.line("--", {},
                "restarting: bound again in " + std::to_string(*options_.vanishMs) + " ms");
    }
    return;
  }

  const TimePoint replyDue = now + std::chrono::milliseconds(options_.replyDelayMs);
  const TimePoint replySent =
      response.reply ? enqueueReply(*response.reply, replyDue, "reply") : replyDue;
  if (response.completed) {
    writeImage();
    if (options_.exitAfterCompletion) {
      afterSent_ = AfterSent::exit;
      exitCode_ = response.imageGood ? exitOk : exitImageBad;
    }
  }
  if (response.unplugAfterReply) {
    afterSent_ = AfterSent::unplug;
    log_.line("--", {}, "unplugs once the reply has been read");
  }
  if (response.completion) {
    enqueueReply(*response.completion,
                 replySent + std::chrono::milliseconds(options_.completionDelayMs), "completion");
  }
}

GadgetSimulator::TimePoint GadgetSimulator::enqueueReply(Bytes bytes, TimePoint due,
                                                         const char* what) {
  ++replyCount_;
  if (options_.dropReplies.contains(replyCount_)) {
    log_.line("--", bytes, std::string(what) + " #" + std::to_string(replyCount_) + " swallowed");
    return due;
  }
  if (!outbound_.empty()) due = std::max(due, outbound_.back().at);
  outbound_.push_back({due, std::move(bytes), what});
  return due;
}

void GadgetSimulator::flushOutbound(TimePoint now) {
  while (fd_ >= 0 && !outbound_.empty() && outbound_.front().at <= now) {
    const Timed& reply = outbound_.front();
    size_t done = 0;
    bool written = true;
    while (done < reply.bytes.size()) {
      const ssize_t count = ::write(fd_, reply.bytes.data() + done, reply.bytes.size() - done);
      if (count > 0) {
        done += static_cast<size_t>(count);
        continue;
      }
      if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd out{fd_, POLLOUT, 0};
        if (poll(&out, 1, writeTimeoutMs) > 0) continue;
      }
      written = false;
      break;
    }
    log_.line("tx", reply.bytes, reply.note + (written ? "" : " (write failed)"));
    if (!written) std::fprintf(stderr, "quarn-sim: writing a %s failed\n", reply.note.c_str());
    outbound_.pop_front();
  }
}

void GadgetSimulator::writeImage() {
  if (options_.imageOut.empty()) return;
  const Bytes& image = model_.image();
  std::FILE* file = std::fopen(options_.imageOut.c_str(), "wb");
  const bool written =
      file != nullptr &&
      (image.empty() || std::fwrite(image.data(), 1, image.size(), file) == image.size());
  const bool closed = file != nullptr && std::fclose(file) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "quarn-sim: cannot write %s: %s\n", options_.imageOut.c_str(),
                 std::strerror(errno));
  }
}

void GadgetSimulator::checkAfterSent(TimePoint now) {
  if (afterSent_ == AfterSent::nothing || !outbound_.empty()) return;
  if (!lingerUntil_) {
    lingerFrom_ = now;
    lingerUntil_ = now + lingerLimit;
  }
  int queued = 0;
  if (fd_ >= 0 && ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
  const bool sent = now - lingerFrom_ >= lingerMinimum && queued == 0;
  if (!sent && now < *lingerUntil_) return;
  if (afterSent_ == AfterSent::unplug) {
    closeTty();
    unbind();
    log_.line("--", {}, "unplugged");
  }
  finished_ = true;
}

std::optional<GadgetSimulator::TimePoint> GadgetSimulator::nextDeadline(TimePoint now) const {
  std::optional<TimePoint> deadline;
  auto consider = [&deadline](TimePoint at) {
    if (!deadline || at < *deadline) deadline = at;
  };
  if (!outbound_.empty()) consider(outbound_.front().at);
  if (!received_.empty()) consider(lastArrival_ + framingGap);
  if (bindAt_) consider(*bindAt_);
  if (reopenAt_) consider(*reopenAt_);
  if (lingerUntil_) consider(std::min(*lingerUntil_, now + lingerPoll));
  return deadline;
}

int GadgetSimulator::run(const sigset_t& waitMask, const volatile sig_atomic_t& stopRequested) {
  if (!openTty()) return exitSetup;
  if (!gadget_.gadgetDir.empty()) {
    const std::string current = readAttribute("UDC");
    udc_ = gadget_.udc.empty() ? current : gadget_.udc;
    if (udc_.empty()) {
      std::fprintf(stderr, "quarn-sim: %s is not bound and no --udc names a controller\n",
                   gadget_.gadgetDir.c_str());
      return exitSetup;
    }
    if (current.empty()) {
      // The device side is open before the host can enumerate and write.
      if (!bind()) return exitSetup;
    } else {
      bound_ = true;
    }
  }
  std::printf("ready %s\n", gadget_.tty.c_str());
  std::fflush(stdout);

  while (!stopRequested && !finished_) {
    TimePoint now = Clock::now();
    if (reopenAt_ && now >= *reopenAt_) {
      reopenAt_.reset();
      if (!openTty()) return exitSetup;
    }
    if (bindAt_ && now >= *bindAt_) {
      bindAt_.reset();
      // Open first: the bootloader must be listening before the host can write to it.
      if (!openTty() || !bind()) return exitSetup;
    }
    frameMessages(now);
    flushOutbound(now);
    checkAfterSent(now);
    if (finished_) break;

    const auto deadline = nextDeadline(Clock::now());
    timespec timeout{};
    if (deadline) {
      const auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
      const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    }
    pollfd tty{fd_, POLLIN, 0};
    const nfds_t watched = fd_ >= 0 ? 1 : 0;
    const int ready = ppoll(&tty, watched, deadline ? &timeout : nullptr, &waitMask);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "quarn-sim: ppoll: %s\n", std::strerror(errno));
      return exitSetup;
    }
    if (ready > 0 && (tty.revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      if (!readTty(Clock::now())) return exitSetup;
    }
  }
  return exitCode_;
}

void GadgetSimulator::printSummary() const {
  const TesterCounters& counters = model_.counters();
  std::fprintf(stderr,
               "quarn-sim: received %llu bytes (%llu ignored), %llu blocks stored, "
               "images good %llu bad %llu, replies %llu, violations %llu\n",
               static_cast<unsigned long long>(counters.bytesReceived),
               static_cast<unsigned long long>(counters.discardedBytes),
               static_cast<unsigned long long>(counters.blocksAppended),
               static_cast<unsigned long long>(counters.imagesGood),
               static_cast<unsigned long long>(counters.imagesBad),
               static_cast<unsigned long long>(replyCount_),
               static_cast<unsigned long long>(counters.violations));
}

}  // namespace quarn::sim
