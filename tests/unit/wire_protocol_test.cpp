#include "bootloader/wire_protocol.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "fakes/event_log.hpp"

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;
using fakes::hex;

// A receive buffer as the reply wait leaves it: the reply at the front, stale bytes behind it.
std::array<uint8_t, 256> receiveBufferWith(const Bytes& reply, uint8_t filler = 0xA5) {
  std::array<uint8_t, 256> buffer;
  buffer.fill(filler);
  std::copy(reply.begin(), reply.end(), buffer.begin());
  return buffer;
}

const Bytes goodDeviceIdReply = {0xFD, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0xFF};

TEST(WireProtocol, BootloaderRequestIsTheFramedTextCommand) {
  EXPECT_EQ(hex(makeBootloaderRequest()), "02 42 4F 4F 54 4C 4F 41 44 45 52 3D 31 03");
}

TEST(WireProtocol, StartRequestIsThreeCommandMarkers) {
  EXPECT_EQ(hex(makeStartRequest()), "FF FF FF");
}

TEST(WireProtocol, DeviceIdRequestSendsOnlyTheLowByteOfEncryptionStatus) {
  const DeviceIdRequest request = makeDeviceIdRequest(130, 0, 0x101, 0, 0, 0, 0);
  EXPECT_EQ(hex(request), "FD 82 00 00 00 00 00 00 00 01 " + hex(Bytes(16, 0x00)) + " FF");
}

TEST(WireProtocol, DeviceIdRequestPlacesEveryValueLittleEndian) {
  const DeviceIdRequest request =
      makeDeviceIdRequest(-1, 0x44332211, 0x7F, -1, 0x88776655, 0x0CBBAA99, 0xF0DDEECC);
  EXPECT_EQ(hex(request),
            "FD FF FF FF FF 11 22 33 44 7F FF FF FF FF 55 66 77 88 99 AA BB 0C CC EE DD F0 FF");
}

TEST(WireProtocol, AcceptedDeviceIdTravelsBackInArrivalOrder) {
  const auto buffer = receiveBufferWith(goodDeviceIdReply);
  const std::optional<DeviceId> id = parseDeviceIdReply(buffer, 14);
  ASSERT_TRUE(id);
  EXPECT_EQ(*id, (DeviceId{0x04030201, 0x08070605, 0x0C0B0A09}));
  EXPECT_EQ(hex(makeAppSignature(*id)),
            "FE 51 55 41 52 4E 5F 01 02 03 04 05 06 07 08 09 0A 0B 0C FF");
}

TEST(WireProtocol, DeviceIdReplyNeedsBothMarkersAndItsFullLength) {
  Bytes sixteen = goodDeviceIdReply;
  sixteen.push_back(0x77);
  sixteen.push_back(0x88);
  Bytes wrongFirst = goodDeviceIdReply;
  wrongFirst[0] = 0xFE;
  Bytes wrongLast = goodDeviceIdReply;
  wrongLast[13] = 0x00;
  struct Row {
    const char* name;
    Bytes reply;
    uint32_t count;
    bool accepted;
  };
  const Row rows[] = {
      {"sixteen bytes, trailing two ignored", sixteen, 16, true},
      {"FE first", wrongFirst, 14, false},
      {"no FF at byte 13", wrongLast, 14, false},
      {"nothing read", goodDeviceIdReply, 0, false},
      {"shorter than the minimum", goodDeviceIdReply, 13, false},
  };
  for (const Row& row : rows) {
    const auto buffer = receiveBufferWith(row.reply);
    const std::optional<DeviceId> id = parseDeviceIdReply(buffer, row.count);
    EXPECT_EQ(id.has_value(), row.accepted) << row.name;
    if (id) {
      EXPECT_EQ((*id)[2], 0x0C0B0A09u) << row.name;
    }
  }
}

TEST(WireProtocol, ParsersNeverReadPastTheCount) {
  // A count below the minimum must not let a stale buffer (here: a perfect reply) decide.
  const auto deviceId = receiveBufferWith(goodDeviceIdReply);
  EXPECT_FALSE(parseDeviceIdReply(std::span<const uint8_t>(deviceId.data(), 13), 14));
  const auto verdict = receiveBufferWith({0xFC, 0xFF, 0x00});
  EXPECT_EQ(parseSignatureReply(verdict, 1), SignatureVerdict::noVerdict);
  EXPECT_EQ(parseCompletionReply(verdict, 1), CompletionVerdict::noVerdict);
  EXPECT_EQ(parseStartReply(verdict, 2), StartVerdict::noReply);
  EXPECT_FALSE(parseBlockAck(verdict, 2));
  // The span's own size bounds the read as well as the count.
  EXPECT_EQ(parseCompletionReply(std::span<const uint8_t>(verdict.data(), 1), 2),
            CompletionVerdict::noVerdict);
}

TEST(WireProtocol, SignatureVerdicts) {
  struct Row {
    Bytes reply;
    uint32_t count;
    SignatureVerdict verdict;
  };
  const Row rows[] = {
      {{0xFE, 0xFF}, 2, SignatureVerdict::accepted},
      {{0x00, 0xFF}, 2, SignatureVerdict::rejected},
      {{0xFD, 0xFF, 0x00}, 3, SignatureVerdict::rejected},
      {{0xFE, 0x00}, 2, SignatureVerdict::noVerdict},
      {{0xFE, 0xFF}, 0, SignatureVerdict::noVerdict},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parseSignatureReply(receiveBufferWith(row.reply), row.count), row.verdict)
        << hex(row.reply) << " count " << row.count;
  }
}

TEST(WireProtocol, StartVerdictsLookOnlyAtTheStatusWord) {
  struct Row {
    Bytes reply;
    uint32_t count;
    StartVerdict verdict;
  };
  const Row rows[] = {
      {{0x00, 0x00, 0x00}, 3, StartVerdict::ready},
      {{0x5A, 0x00, 0x00}, 3, StartVerdict::ready},
      {{0x7F, 0x00, 0x00, 0x09}, 4, StartVerdict::ready},
      {{0x00, 0x01, 0x00}, 3, StartVerdict::refused},
      {{0x00, 0x00, 0x80}, 3, StartVerdict::refused},
      {{0x00, 0x00, 0x00}, 0, StartVerdict::noReply},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parseStartReply(receiveBufferWith(row.reply), row.count), row.verdict)
        << hex(row.reply) << " count " << row.count;
  }
}

TEST(WireProtocol, CompletionVerdicts) {
  struct Row {
    Bytes reply;
    uint32_t count;
    CompletionVerdict verdict;
  };
  const Row rows[] = {
      {{0xFC, 0xFF}, 2, CompletionVerdict::complete},
      {{0x00, 0xFF}, 2, CompletionVerdict::g0UpdateFailed},
      {{0x01, 0xFF}, 2, CompletionVerdict::imageCrcFailed},
      {{0xFD, 0xFF}, 2, CompletionVerdict::imageCrcFailed},
      {{0xFC, 0x00}, 2, CompletionVerdict::noVerdict},
      {{0xFC, 0xFF}, 0, CompletionVerdict::noVerdict},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parseCompletionReply(receiveBufferWith(row.reply), row.count), row.verdict)
        << hex(row.reply) << " count " << row.count;
  }
}

TEST(WireProtocol, DataBlocksCarryTheLowSixteenBitsAndTheirImageSlice) {
  Bytes image(130);
  std::iota(image.begin(), image.end(), uint8_t{0});
  const std::span<const uint8_t> whole(image);

  DataBlock block;
  block.fill(0xEE);
  ASSERT_EQ(makeDataBlock(block, 0, whole.subspan(0, 60)), 63u);
  EXPECT_EQ(hex(std::span(block).first(3)), "FF 00 00");
  EXPECT_EQ(Bytes(block.begin() + 3, block.end()), Bytes(image.begin(), image.begin() + 60));

  block.fill(0xEE);
  ASSERT_EQ(makeDataBlock(block, 2, whole.subspan(120, 10)), 13u);
  EXPECT_EQ(hex(std::span(block).first(13)), "FF 02 00 " + hex(whole.subspan(120, 10)));

  makeDataBlock(block, 300, whole.subspan(0, 1));
  EXPECT_EQ(hex(std::span(block).first(4)), "FF 2C 01 00");
  makeDataBlock(block, 65536, whole.subspan(0, 1));
  EXPECT_EQ(hex(std::span(block).first(3)), "FF 00 00");
}

TEST(WireProtocol, DataBlockNeverTakesMoreThanSixtyImageBytes) {
  const Bytes image(100, 0x42);
  DataBlock block{};
  EXPECT_EQ(makeDataBlock(block, 0, image), maxDataBlockLength);
}

TEST(WireProtocol, BlockAckIgnoresByteZero) {
  struct Row {
    Bytes reply;
    uint32_t count;
    std::optional<uint16_t> ack;
  };
  const Row rows[] = {
      {{0x00, 0x2C, 0x01}, 3, 300},
      {{0x9C, 0x2C, 0x01}, 3, 300},
      {{0x00, 0xFF, 0xFF, 0x11}, 4, 65535},
      {{0x00, 0x2C, 0x01}, 0, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parseBlockAck(receiveBufferWith(row.reply), row.count), row.ack) << hex(row.reply);
  }
}

}  // namespace
}  // namespace quarn
