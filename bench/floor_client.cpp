// quarn-bench-floor: the least a host can do for the tester's exchange, as the benchmark's floor.
// It writes each message in one write and wakes on the reply's bytes with poll() on the port,
// with nothing else in between (no package check, no pause, no reporting).
//
//   quarn-bench-floor <serial device> <image file>
//
// Exit status 0 when the tester reported the image complete, 1 otherwise, 2 for a usage error.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "bootloader/wire_protocol.hpp"
#include "package/crc32.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// Generous: a benchmark run that stalls should fail, not hang.
constexpr int replyTimeoutMs = 5000;
// The tester drops what arrives while it restarts into its bootloader.
constexpr useconds_t restartPauseUs = 300 * 1000;

bool writeAll(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, replyTimeoutMs);
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

// Sends the message and gives the reply once at least minimum bytes have come.
std::optional<Bytes> exchange(int fd, std::span<const uint8_t> message, size_t minimum) {
  if (!writeAll(fd, message.data(), message.size())) return std::nullopt;
  Bytes reply;
  uint8_t buffer[256];
  while (reply.size() < minimum) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, replyTimeoutMs) <= 0 || !(p.revents & POLLIN)) return std::nullopt;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) return std::nullopt;
    if (n > 0) reply.insert(reply.end(), buffer, buffer + n);
  }
  return reply;
}

int openRaw(const char* path) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios settings{};
  if (fd < 0 || tcgetattr(fd, &settings) != 0) return -1;
  cfmakeraw(&settings);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) return -1;
  return fd;
}

bool update(int fd, const Bytes& image) {
  const quarn::BootloaderRequest bootloader = quarn::makeBootloaderRequest();
  if (!writeAll(fd, bootloader.data(), bootloader.size())) return false;
  usleep(restartPauseUs);

  quarn::buildCrc32Table();
  const uint32_t crc = quarn::computeCrc32(image.data(), image.size());
  const auto size = static_cast<int32_t>(image.size());
  const auto idReply = exchange(fd, quarn::makeDeviceIdRequest(size, crc, 0, size, crc, 0, 0),
                                quarn::deviceIdReplyMinimum);
  const auto id = idReply
                      ? quarn::parseDeviceIdReply(*idReply, static_cast<uint32_t>(idReply->size()))
                      : std::nullopt;
  if (!id) return false;
  const auto signature = exchange(fd, quarn::makeAppSignature(*id), quarn::signatureReplyMinimum);
  if (!signature ||
      quarn::parseSignatureReply(*signature, static_cast<uint32_t>(signature->size())) !=
          quarn::SignatureVerdict::accepted) {
    return false;
  }
  const auto start = exchange(fd, quarn::makeStartRequest(), quarn::startReplyMinimum);
  if (!start || quarn::parseStartReply(*start, static_cast<uint32_t>(start->size())) !=
                    quarn::StartVerdict::ready) {
    return false;
  }

  quarn::DataBlock block{};
  for (uint32_t counter = 0; size_t{counter} * quarn::maxBlockData < image.size(); ++counter) {
    const size_t offset = size_t{counter} * quarn::maxBlockData;
    const size_t length =
        quarn::makeDataBlock(block, counter, std::span<const uint8_t>(image).subspan(offset));
    const auto ack =
        exchange(fd, std::span<const uint8_t>(block.data(), length), quarn::blockAckMinimum);
    if (!ack || quarn::parseBlockAck(*ack, static_cast<uint32_t>(ack->size())) !=
                    static_cast<uint16_t>(counter)) {
      return false;
    }
  }
  const auto completion = exchange(fd, {}, quarn::completionReplyMinimum);
  return completion &&
         quarn::parseCompletionReply(*completion, static_cast<uint32_t>(completion->size())) ==
             quarn::CompletionVerdict::complete;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: quarn-bench-floor <serial device> <image file>\n", stderr);
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const int fd = openRaw(argv[1]);
  if (!file || fd < 0) {
    std::fprintf(stderr, "quarn-bench-floor: cannot open %s or %s\n", argv[1], argv[2]);
    return 2;
  }
  const bool complete = update(fd, image);
  ::close(fd);
  std::puts(complete ? "complete" : "FAILED");
  return complete ? 0 : 1;
}
