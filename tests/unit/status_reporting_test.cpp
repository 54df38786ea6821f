#include "session/status_reporting.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

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
  EXPECT_EQ(formatLine(messages::portStateReadError), messages::portStateReadError.text);
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

// Faces decide by the code that travels with each text, so codes and their names must be one
// to one over the whole catalogue.
TEST(StatusReporting, EveryMessageCarriesItsOwnCodeToTheOutlets) {
  namespace m = messages;
  const Message catalogue[] = {
      m::readmeVersionError,  m::versionBanner,       m::deviceFound,         m::failedToOpen,
      m::portStateReadError,  m::portStateSetError,   m::portTimeoutsError,   m::burningInProgress,
      m::programmingComplete, m::g0UpdateFailed,      m::crc32CheckFailed,    m::noTester,
      m::tooManyTesters,      m::firmwareFileMissing, m::metadataFileMissing, m::metadataUnparsable,
      m::sizeMismatch,        m::crc32Mismatch,       m::versionMismatch,     m::deviceIdFailed,
      m::signatureMismatch,   m::signatureFailed,     m::startRefused,        m::startFailed,
      m::blockWrongNumber,    m::blockNoReply};
  std::set<ReportCode> codes;
  std::set<std::string_view> names;
  for (const Message& message : catalogue) {
    codes.insert(message.code);
    names.insert(reportCodeName(message.code));
  }
  EXPECT_EQ(codes.size(), std::size(catalogue));
  EXPECT_EQ(names.size(), std::size(catalogue));
  EXPECT_EQ(reportCodeName(m::noTester.code), "noTester");
  EXPECT_EQ(reportCodeName(m::programmingComplete.code), "programmingComplete");

  fakes::EventLog log;
  fakes::RecordingOutlets outlets(log);
  addStatusLineF(outlets, m::deviceFound, {u"Zentrika QUARN"});
  showErrorBox(outlets, m::sizeMismatch);
  EXPECT_EQ(outlets.codes,
            (std::vector<ReportCode>{ReportCode::deviceFound, ReportCode::sizeMismatch}));
}

TEST(Utf8, RoundTripsAcrossPlanes) {
  const WideText text = u"Zentrika QUARN \u00e9\u4e2d\U0001F600";
  EXPECT_EQ(fromUtf8(toUtf8(text)), text);
  EXPECT_EQ(fromUtf8("\xff"), u"\uFFFD");
}

}  // namespace
}  // namespace quarn
