#include "app/transfer_progress.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "fakes/fake_clock.hpp"

namespace quarn {
namespace {

class TransferProgressTest : public testing::Test {
 protected:
  // Starts a transfer of the given length and checks that it is drawn at once.
  void start(uint32_t imageLength) {
    ASSERT_TRUE(progress.blocksAcknowledged(0, imageLength).redraw);
  }
  ProgressReaction ackAfter(uint32_t milliseconds, uint32_t bytes, uint32_t imageLength) {
    clock.advance(milliseconds);
    return progress.blocksAcknowledged(bytes, imageLength);
  }

  fakes::EventLog log;
  fakes::FakeClock clock{log};
  TransferProgress progress{clock};
};

const ProgressView idle{};

TEST_F(TransferProgressTest, IdleWindowShowsNoProgressAndThePlainTitle) {
  EXPECT_EQ(progress.shown(), idle);
  EXPECT_EQ(windowTitleFor(progress.shown()), u"Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, StartShowsAnEmptyNormalBarAndZeroPercent) {
  start(6000);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::normal, 0, 6000, true}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"0% - Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, StepsFollowTheAcknowledgedBytesAtMostTenTimesASecond) {
  start(6000);
  EXPECT_FALSE(ackAfter(50, 600, 6000).redraw);  // too soon after the start
  EXPECT_EQ(progress.shown().completed, 0u);
  EXPECT_TRUE(ackAfter(50, 1200, 6000).redraw);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::normal, 1200, 6000, true}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"20% - Quarn Firmware Updater");
  EXPECT_FALSE(ackAfter(99, 1800, 6000).redraw);
  EXPECT_TRUE(ackAfter(1, 2400, 6000).redraw);  // the newest count, not the one held back
  EXPECT_EQ(windowTitleFor(progress.shown()), u"40% - Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, AFastStreamIsDrawnAboutTenTimesASecondPlusItsLastBlock) {
  constexpr uint32_t blocks = 2550;  // one a millisecond: 2.55 s of blocks of 60 bytes
  start(blocks * 60);
  int redraws = 0;
  for (uint32_t block = 1; block <= blocks; ++block) {
    if (ackAfter(1, block * 60, blocks * 60).redraw) ++redraws;
  }
  EXPECT_EQ(redraws, 25 + 1);  // every 100 ms, and the last block 50 ms after the 25th
  EXPECT_EQ(windowTitleFor(progress.shown()), u"100% - Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, LastBlockIsDrawnAtOnceAndOnlyItReadsOneHundredPercent) {
  start(6000);
  EXPECT_TRUE(ackAfter(100, 5999, 6000).redraw);
  EXPECT_EQ(windowTitleFor(progress.shown()), u"99% - Quarn Firmware Updater");
  EXPECT_TRUE(ackAfter(1, 6000, 6000).redraw);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::normal, 6000, 6000, true}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"100% - Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, EmptyImageCountsAsWhole) {
  start(0);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::normal, 1, 1, true}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"100% - Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, LargeImagePercentageDoesNotOverflow) {
  start(4'000'000'000u);
  EXPECT_TRUE(ackAfter(100, 3'000'000'000u, 4'000'000'000u).redraw);
  EXPECT_EQ(percentOf(progress.shown()), 75u);
}

TEST_F(TransferProgressTest, BoxDuringTransferMarksErrorAtTheNewestCountAndAsksForAttention) {
  start(6000);
  EXPECT_FALSE(ackAfter(10, 600, 6000).redraw);
  const ProgressReaction box = progress.errorBoxShown();
  EXPECT_TRUE(box.redraw);
  EXPECT_TRUE(box.attention);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::error, 600, 6000, true}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"10% - Quarn Firmware Updater");

  EXPECT_TRUE(progress.errorBoxDismissed().redraw);
  EXPECT_EQ(progress.shown().mark, TaskbarMark::normal);
  EXPECT_TRUE(progress.sessionEnded().redraw);
  EXPECT_EQ(progress.shown(), idle);
  EXPECT_EQ(windowTitleFor(progress.shown()), u"Quarn Firmware Updater");
}

TEST_F(TransferProgressTest, BoxBeforeAnyBlockMarksAFullErrorBarAndKeepsThePlainTitle) {
  const ProgressReaction box = progress.errorBoxShown();
  EXPECT_TRUE(box.redraw);
  EXPECT_TRUE(box.attention);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::error, 1, 1, false}));
  EXPECT_EQ(windowTitleFor(progress.shown()), u"Quarn Firmware Updater");
  EXPECT_TRUE(progress.errorBoxDismissed().redraw);
  EXPECT_EQ(progress.shown(), idle);
  EXPECT_FALSE(progress.sessionEnded().redraw);  // nothing left to take back
}

struct LineCase {
  const char* name;
  ReportCode code;
  bool attention;
};

void PrintTo(const LineCase& testCase, std::ostream* out) {
  *out << testCase.name;
}

class TransferProgressLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(TransferProgressLineTest, OnlyCompletionLinesAskForAttentionAndNoLineRedraws) {
  fakes::EventLog log;
  fakes::FakeClock clock(log);
  TransferProgress progress(clock);
  progress.blocksAcknowledged(0, 600);
  const ProgressReaction reaction = progress.statusLineAdded(GetParam().code);
  EXPECT_EQ(reaction.attention, GetParam().attention);
  EXPECT_FALSE(reaction.redraw);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TransferProgressLineTest,
    testing::Values(LineCase{"ProgrammingComplete", ReportCode::programmingComplete, true},
                    LineCase{"G0UpdateFailed", ReportCode::g0UpdateFailed, true},
                    LineCase{"Crc32CheckFailed", ReportCode::crc32CheckFailed, true},
                    LineCase{"BurningInProgress", ReportCode::burningInProgress, false},
                    LineCase{"DeviceFound", ReportCode::deviceFound, false},
                    LineCase{"FailedToOpen", ReportCode::failedToOpen, false}));

// Every way a session can end after blocks went out: a completion line, a box (the tester
// unplugged), or no final report at all (the completion reply never came).
enum class Ending { completionLine, box, silent };

void PrintTo(Ending ending, std::ostream* out) {
  *out << (ending == Ending::completionLine ? "CompletionLine"
           : ending == Ending::box          ? "Box"
                                            : "Silent");
}

class TransferProgressEndingTest : public testing::TestWithParam<Ending> {};

TEST_P(TransferProgressEndingTest, EveryEndingGivesThePlainTitleAndNoProgressBack) {
  fakes::EventLog log;
  fakes::FakeClock clock(log);
  TransferProgress progress(clock);
  progress.blocksAcknowledged(0, 6000);
  clock.advance(100);
  progress.blocksAcknowledged(3000, 6000);
  switch (GetParam()) {
    case Ending::completionLine:
      progress.blocksAcknowledged(6000, 6000);
      progress.statusLineAdded(ReportCode::programmingComplete);
      break;
    case Ending::box:
      progress.errorBoxShown();
      progress.errorBoxDismissed();
      break;
    case Ending::silent:
      progress.blocksAcknowledged(6000, 6000);
      break;
  }
  EXPECT_TRUE(progress.shown().titleShowsPercent);
  EXPECT_TRUE(progress.sessionEnded().redraw);
  EXPECT_EQ(progress.shown(), idle);
  EXPECT_EQ(windowTitleFor(progress.shown()), u"Quarn Firmware Updater");

  // The next session starts from nothing.
  clock.advance(5);
  EXPECT_TRUE(progress.blocksAcknowledged(0, 3000).redraw);
  EXPECT_EQ(progress.shown(), (ProgressView{TaskbarMark::normal, 0, 3000, true}));
}

INSTANTIATE_TEST_SUITE_P(Endings, TransferProgressEndingTest,
                         testing::Values(Ending::completionLine, Ending::box, Ending::silent));

// The worker posts the start, the last block and one message per interval in between: blocks
// acknowledged every millisecond for a second make about twenty messages, and neither the start
// nor the end is ever held back.
TEST(ProgressPostFilter, PostsTheStartTheEndAndOnePerIntervalBetween) {
  ProgressPostFilter filter;
  constexpr uint32_t blocks = 1000;
  constexpr uint32_t imageLength = blocks * 60;
  uint64_t now = 5000;
  EXPECT_TRUE(filter.worthPosting(0, imageLength, now));
  int posted = 0;
  for (uint32_t block = 1; block < blocks; ++block)
    posted += filter.worthPosting(block * 60, imageLength, ++now) ? 1 : 0;
  EXPECT_TRUE(filter.worthPosting(imageLength, imageLength, now));  // 0 ms after the last post
  EXPECT_EQ(posted, static_cast<int>((blocks - 1) / progressPostIntervalMs));
  EXPECT_TRUE(filter.worthPosting(0, 0, now));  // an empty image starts and ends at once
}

}  // namespace
}  // namespace quarn
