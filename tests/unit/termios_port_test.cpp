// The tty adapter against a real pseudo-terminal, as the updater meets a USB serial device.
#include "platform/posix/termios_port.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quarn {
namespace {

class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    path_ = ptsname(master_);
  }
  void TearDown() override { ::close(master_); }

  std::unique_ptr<SerialPort> openConfigured() {
    auto port = opener_.openPort(fromUtf8(path_));
    if (port) {
      EXPECT_TRUE(port->readPortState());
      EXPECT_TRUE(port->applyLineSettings(LineSettings{}));
      EXPECT_TRUE(port->applyNonBlockingTimeouts());
    }
    return port;
  }

  int master_ = -1;
  std::string path_;
  posix::TermiosPortOpener opener_;
};

TEST_F(Pty, BinaryRepliesPassUnchanged) {
  auto port = openConfigured();
  ASSERT_NE(port, nullptr);
  // XON, XOFF, CR and LF would be swallowed or translated by a cooked tty.
  const uint8_t reply[] = {0x11, 0x13, 0x0D, 0x0A, 0x03, 0x7F, 0xFF};
  ASSERT_EQ(::write(master_, reply, sizeof reply), static_cast<ssize_t>(sizeof reply));
  port->waitForInput(0, sizeof reply, 1000);
  std::optional<uint32_t> queued;
  for (int i = 0; i < 100 && (queued = port->queuedInputBytes()).value_or(0) < sizeof reply; ++i)
    port->waitForInput(*queued, sizeof reply, 10);
  ASSERT_EQ(queued, sizeof reply);
  uint8_t buffer[16] = {};
  ASSERT_EQ(port->read(buffer), sizeof reply);
  EXPECT_EQ(0, memcmp(buffer, reply, sizeof reply));

  const uint8_t request[] = {0x0D, 0x0A, 0x11};
  port->write(request);
  uint8_t echoed[8] = {};
  EXPECT_EQ(::read(master_, echoed, sizeof echoed), 3);  // no CR/LF translation on output
  EXPECT_EQ(0, memcmp(echoed, request, 3));
}

TEST_F(Pty, ReadWithNothingQueuedReturnsAtOnce) {
  auto port = openConfigured();
  ASSERT_NE(port, nullptr);
  uint8_t buffer[4];
  EXPECT_EQ(port->queuedInputBytes(), 0u);
  EXPECT_EQ(port->read(buffer), 0u);
}

TEST_F(Pty, SecondOpeningOfAHeldPortFails) {
  auto first = openConfigured();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(opener_.openPort(fromUtf8(path_)), nullptr);
  first.reset();
  EXPECT_NE(opener_.openPort(fromUtf8(path_)), nullptr);  // free again once closed
}

TEST_F(Pty, VanishedDeviceEndsTheWait) {
  auto port = openConfigured();
  ASSERT_NE(port, nullptr);
  ::close(master_);
  master_ = ::open("/dev/null", O_RDONLY);  // keep TearDown's close harmless
  port->waitForInput(0, 1, 2000);
  EXPECT_EQ(port->queuedInputBytes(), std::nullopt);
}

TEST(TermiosPortOpener, MissingDeviceFails) {
  posix::TermiosPortOpener opener;
  EXPECT_EQ(opener.openPort(u"/dev/quarn-does-not-exist"), nullptr);
  EXPECT_EQ(opener.lastOpenError(), ENOENT);
}

}  // namespace
}  // namespace quarn
