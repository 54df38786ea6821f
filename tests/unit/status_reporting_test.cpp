#include "session/status_reporting.hpp"

#include <gtest/gtest.h>

#include "fakes/recording_outlets.hpp"
#include "session/messages.hpp"

namespace quarn {
namespace {

TEST(FormatLine, FillsEachPlaceholderWithoutCuttingLongArguments) {
  const WideText description(255, u'D');
  const WideText line = formatLine(messages::deviceFound, {description});
  EXPECT_EQ(line, description + u" found\n");
  EXPECT_EQ(line.size(), 262u);
}

TEST(FormatLine, MessageWithoutConversionComesOutUnchanged) {
  EXPECT_EQ(formatLine(messages::portStateReadError), messages::portStateReadError);
  EXPECT_EQ(formatLine(u"100%% %s", {u"done"}), u"100% done");
}

TEST(StatusReporting, LineWithInnerNewlineIsOneEntry) {
  fakes::EventLog log;
  fakes::RecordingOutlets outlets(log);
  addStatusLine(outlets, messages::burningInProgress);
  addStatusLineF(outlets, messages::failedToOpen, {u"\\\\.\\COM7"});
  ASSERT_EQ(outlets.lines.size(), 2u);
  EXPECT_EQ(outlets.lines[0], "Burning in Progress.\n Do not unplug.\n");
  EXPECT_EQ(outlets.lines[1], "Failed to open \\\\.\\COM7\n");
}

TEST(Utf8, RoundTripsAcrossPlanes) {
  const WideText text = u"Zentrika QUARN \u00e9\u4e2d\U0001F600";
  EXPECT_EQ(fromUtf8(toUtf8(text)), text);
  EXPECT_EQ(fromUtf8("\xff"), u"\uFFFD");
}

}  // namespace
}  // namespace quarn
