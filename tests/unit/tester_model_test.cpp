// The simulated tester cuts the host's byte stream into messages: a message whose length is known
// is taken at that length, whatever is queued behind it.
#include "tester_model.hpp"

#include <gtest/gtest.h>

#include "package/crc32.hpp"

namespace quarn {
namespace {

using sim::Bytes;
using sim::FrameDecision;

Bytes deviceIdRequest(uint32_t size, uint32_t crc) {
  Bytes request(27, 0);
  request[0] = 0xFD;
  for (unsigned i = 0; i < 4; ++i) {
    request[1 + i] = static_cast<uint8_t>(size >> (8 * i));
    request[5 + i] = static_cast<uint8_t>(crc >> (8 * i));
  }
  request[26] = 0xFF;
  return request;
}

TEST(TesterModel, ShortLastBlockIsCutAtItsOwnLengthWithMoreQueuedBehindIt) {
  sim::SimOptions options;
  sim::TesterModel model(options);
  const Bytes image(70, 0x5A);  // blocks of 60 and 10 bytes
  buildCrc32Table();
  const Bytes bootloader = {0x02, 'B', 'O', 'O', 'T', 'L', 'O', 'A', 'D', 'E', 'R', '=', '1', 0x03};
  model.handle(bootloader);
  model.handle(deviceIdRequest(70, computeCrc32(image.data(), image.size())));
  Bytes signature = {0xFE, 'Q', 'U', 'A', 'R', 'N', '_'};
  signature.insert(signature.end(), options.deviceId.begin(), options.deviceId.end());
  signature.push_back(0xFF);
  model.handle(signature);
  ASSERT_TRUE(model.handle({0xFF, 0xFF, 0xFF}).reply);  // the transfer is open

  Bytes first = {0xFF, 0x00, 0x00};
  first.insert(first.end(), image.begin(), image.begin() + 60);
  ASSERT_EQ(model.frame(first, false).length, 63u);
  model.handle(first);

  Bytes stream = {0xFF, 0x01, 0x00};
  stream.insert(stream.end(), image.begin() + 60, image.end());
  stream.insert(stream.end(), 60, 0xEE);  // whatever follows the last block
  const FrameDecision decision = model.frame(stream, false);
  EXPECT_EQ(decision.kind, FrameDecision::Kind::message);
  EXPECT_EQ(decision.length, 13u);
  const Bytes last(stream.begin(), stream.begin() + 13);
  EXPECT_TRUE(model.handle(last).imageGood);
  EXPECT_EQ(model.image(), image);
}

}  // namespace
}  // namespace quarn
