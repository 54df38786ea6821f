#include "simulator.hpp"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarn::sim {

namespace {

// Silence on the line that ends a message of unknown length. The updater writes a message in
// one write, so its bytes never arrive this far apart.
constexpr auto framingGap = std::chrono::milliseconds(2);
// How long the tester stays reachable after its last reply when it is to exit, so the updater
// can read that reply before the port goes away (closing the master hangs the slave up and
// throws its input away). The pty moves written bytes to the slave's queue a little later, so an
// empty queue means "read" only after the minimum.
constexpr auto lingerMinimum = std::chrono::milliseconds(100);
constexpr auto lingerLimit = std::chrono::milliseconds(2000);
constexpr auto lingerPoll = std::chrono::milliseconds(5);

}  // namespace

Simulator::Simulator(const SimOptions& options, SimLog& log)
    : options_(options), log_(log), model_(options) {}

Simulator::~Simulator() {
  closePort();
}

Simulator::Clock::duration Simulator::lineTime(size_t byteCount) const {
  if (options_.paceBaud == 0) return Clock::duration::zero();
  // A start bit, 8 data bits and a stop bit per byte.
  const auto nanoseconds = static_cast<int64_t>(byteCount) * 10 * 1'000'000'000 /
                           static_cast<int64_t>(options_.paceBaud);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

bool Simulator::openPort() {
  std::string errorText;
  if (!port_.open(errorText)) {
    std::fprintf(stderr, "quarn-sim: %s\n", errorText.c_str());
    return false;
  }
  if (!options_.linkPath.empty()) {
    if (!publishLink(options_.linkPath, port_.slavePath(), errorText)) {
      std::fprintf(stderr, "quarn-sim: %s\n", errorText.c_str());
      port_.close();
      return false;
    }
    publishedTarget_ = port_.slavePath();
  }
  if (observer_) observer_->portOpened(port_.slavePath());
  log_.line("--", {}, "port open at " + port_.slavePath());
  return true;
}

void Simulator::closePort() {
  if (!publishedTarget_.empty()) removeLink(options_.linkPath, publishedTarget_);
  publishedTarget_.clear();
  if (observer_ && port_.isOpen()) observer_->portClosing(port_.slavePath());
  if (port_.isOpen()) log_.line("--", {}, "port closed");
  port_.close();
  inbound_.clear();
  outbound_.clear();
  received_.clear();
}

bool Simulator::readPort(TimePoint now) {
  std::array<uint8_t, 4096> buffer;
  for (;;) {
    const long count = port_.readAvailable(buffer.data(), buffer.size());
    if (count < 0) {
      std::fprintf(stderr, "quarn-sim: reading the pty: %s\n", std::strerror(errno));
      return false;
    }
    if (count == 0) return true;
    const auto size = static_cast<size_t>(count);
    // On a paced line the bytes arrive one after the other from the moment they were written.
    rxLineFree_ = std::max(now, rxLineFree_) + lineTime(size);
    inbound_.push_back({rxLineFree_, Bytes(buffer.begin(), buffer.begin() + count), {}});
  }
}

void Simulator::deliverInbound(TimePoint now) {
  while (!inbound_.empty() && inbound_.front().at <= now) {
    const Bytes& bytes = inbound_.front().bytes;
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    lastArrival_ = inbound_.front().at;
    inbound_.pop_front();
  }
}

void Simulator::frameMessages(TimePoint now) {
  while (!received_.empty() && port_.isOpen() && !finished_) {
    const bool quiet = now - lastArrival_ >= framingGap && inbound_.empty();
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

void Simulator::handleReplayed(const Bytes& message, TimePoint now) {
  // The model still frames the messages and assembles the image; the answers are the record's.
  const TesterResponse modelView = model_.handle(message);
  const ReplayAnswer answer = replay_->answer(message);
  log_.line("rx", message, "replayed " + modelView.note);
  if (answer.differs) {
    std::fprintf(stderr, "quarn-sim: replay: %s\n", answer.differs->c_str());
    exitCode_ = exitImageBad;
    finished_ = true;
    return;
  }
  if (answer.enteredBootloader) {
    received_.clear();
    inbound_.clear();
    closePort();
    if (const auto away = replay_->script().restartAway) {
      reopenAt_ = now + *away;
      log_.line("--", {}, "vanished for the recorded restart");
    } else {
      log_.line("--", {}, "the recorded tester never came back");
      finished_ = true;
    }
    return;
  }
  TimePoint lastSent = now;
  for (const RecordedReply& reply : answer.replies) {
    lastSent = enqueueReply(reply.bytes, now + reply.after, "recorded reply");
  }
  if (modelView.completed) writeImage();
  const bool lastBlock =
      answer.last && !answer.replies.empty() &&
      classifyHostMessage(message).value_or(std::pair{ReplayStepKind::start, 0u}).first ==
          ReplayStepKind::block;
  if (lastBlock && replay_->completion()) {
    enqueueReply(replay_->completion()->bytes, lastSent + replay_->completion()->after,
                 "recorded completion");
  }
  if (answer.goneAfter) goneAt_ = now + *answer.goneAfter;
  if (answer.last && !answer.goneAfter) exitWhenSent_ = true;
}

void Simulator::handleMessage(const Bytes& message, TimePoint now) {
  if (replay_) {
    handleReplayed(message, now);
    return;
  }
  const TesterResponse response = model_.handle(message);
  log_.line("rx", message, response.note);

  if (response.unplug) {
    closePort();
    log_.line("--", {}, "unplugged");
    finished_ = true;
    return;
  }
  if (response.enteredBootloader) {
    // The tester restarts: whatever was on its way in is lost.
    received_.clear();
    inbound_.clear();
    if (options_.vanishMs) {
      closePort();
      reopenAt_ = now + std::chrono::milliseconds(*options_.vanishMs);
      log_.line("--", {}, "vanished until the bootloader's port appears");
    }
    return;
  }

  const TimePoint replyDue =
      now + std::chrono::milliseconds(options_.replyDelayMs + uint64_t{response.holdMs});
  // --completion-with-ack: the verdict leaves in the acknowledgement's write, so the updater
  // reads both at once.
  const bool verdictWithReply = options_.completionWithAck && response.completion && response.reply;
  Bytes replyBytes = response.reply.value_or(Bytes{});
  if (verdictWithReply) {
    replyBytes.insert(replyBytes.end(), response.completion->begin(), response.completion->end());
  }
  const TimePoint replySent =
      response.reply ? enqueueReply(std::move(replyBytes), replyDue,
                                    verdictWithReply ? "reply and completion" : "reply")
                     : replyDue;
  if (response.completed) {
    // The image is on disk before the verdict leaves, so a test that sees the verdict can read it.
    writeImage();
    if (options_.exitAfterCompletion) {
      exitWhenSent_ = true;
      exitCode_ = response.imageGood ? exitOk : exitImageBad;
    }
  }
  if (response.unplugAfterReply) {
    // Closing the pty at once would throw away the reply the updater has still to read.
    exitWhenSent_ = true;
    log_.line("--", {}, "unplugs once the reply has been read");
  }
  // By default the completion reply comes a while after the last acknowledgement, as from a
  // tester that checks the image first.
  if (response.completion && !verdictWithReply) {
    enqueueReply(*response.completion,
                 replySent + std::chrono::milliseconds(options_.completionDelayMs), "completion");
  }
}

Simulator::TimePoint Simulator::enqueueReply(Bytes bytes, TimePoint due, const char* what) {
  ++replyCount_;
  if (options_.dropReplies.contains(replyCount_)) {
    log_.line("--", bytes, std::string(what) + " #" + std::to_string(replyCount_) + " swallowed");
    return due;
  }
  txLineFree_ = std::max(due, txLineFree_) + lineTime(bytes.size());
  outbound_.push_back({txLineFree_, std::move(bytes), what});
  return txLineFree_;
}

void Simulator::flushOutbound(TimePoint now) {
  while (!outbound_.empty() && outbound_.front().at <= now) {
    const Timed& reply = outbound_.front();
    const bool written = port_.writeAll(reply.bytes.data(), reply.bytes.size());
    log_.line("tx", reply.bytes, reply.note + (written ? "" : " (write failed)"));
    if (!written) std::fprintf(stderr, "quarn-sim: writing a %s failed\n", reply.note.c_str());
    outbound_.pop_front();
  }
}

void Simulator::writeImage() {
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

void Simulator::checkExit(TimePoint now) {
  if (!exitWhenSent_ || !outbound_.empty()) return;
  if (!lingerUntil_) {
    lingerFrom_ = now;
    lingerUntil_ = now + lingerLimit;
  }
  const bool read = now - lingerFrom_ >= lingerMinimum && port_.unreadByUpdater() == 0;
  if (read || now >= *lingerUntil_) finished_ = true;
}

std::optional<Simulator::TimePoint> Simulator::nextDeadline() const {
  std::optional<TimePoint> deadline;
  auto consider = [&deadline](TimePoint at) {
    if (!deadline || at < *deadline) deadline = at;
  };
  if (!inbound_.empty()) consider(inbound_.front().at);
  if (!outbound_.empty()) consider(outbound_.front().at);
  // While paced bytes are still on their way the line is not quiet; their arrival wakes us.
  if (!received_.empty() && inbound_.empty()) consider(lastArrival_ + framingGap);
  if (reopenAt_) consider(*reopenAt_);
  if (goneAt_) consider(*goneAt_);
  if (lingerUntil_) consider(std::min(*lingerUntil_, Clock::now() + lingerPoll));
  return deadline;
}

int Simulator::run(const sigset_t& waitMask, const volatile sig_atomic_t& stopRequested) {
  if (!options_.replayPath.empty()) {
    std::string errorText;
    replayScript_ = loadReplayScript(options_.replayPath, errorText);
    if (!replayScript_) {
      std::fprintf(stderr, "quarn-sim: --replay: %s\n", errorText.c_str());
      return exitUsage;
    }
    replay_.emplace(*replayScript_);
  }
  if (!openPort()) return exitSetup;
  std::printf("ready %s\n", port_.slavePath().c_str());
  std::fflush(stdout);

  while (!stopRequested && !finished_) {
    TimePoint now = Clock::now();
    if (reopenAt_ && now >= *reopenAt_) {
      reopenAt_.reset();
      if (!openPort()) return exitSetup;
    }
    if (goneAt_ && now >= *goneAt_) {
      goneAt_.reset();
      closePort();
      log_.line("--", {}, "unplugged, as recorded");
      finished_ = true;
      break;
    }
    deliverInbound(now);
    frameMessages(now);
    flushOutbound(now);
    checkExit(now);
    if (finished_) break;

    const auto deadline = nextDeadline();
    timespec timeout{};
    if (deadline) {
      const auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
      const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    }
    pollfd master{port_.masterFd(), POLLIN, 0};
    const nfds_t watched = port_.isOpen() ? 1 : 0;
    const int ready = ppoll(&master, watched, deadline ? &timeout : nullptr, &waitMask);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "quarn-sim: ppoll: %s\n", std::strerror(errno));
      return exitSetup;
    }
    if (ready > 0 && (master.revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      if (!readPort(Clock::now())) return exitSetup;
    }
  }
  return exitCode_;
}

void Simulator::printSummary() const {
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
