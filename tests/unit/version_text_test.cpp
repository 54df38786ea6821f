#include "app/version_text.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace quarn {
namespace {

// The head as the banner reads it: the file's first bytes, zeros after a short file.
ReadmeHead headWith(const std::string& bytes, size_t at = 0) {
  ReadmeHead head{};
  for (size_t i = 0; i < bytes.size() && at + i < head.size(); ++i) {
    head[at + i] = static_cast<uint8_t>(bytes[i]);
  }
  return head;
}

struct VersionCase {
  const char* name;
  ReadmeHead head;
  WideText expected;
};

void PrintTo(const VersionCase& testCase, std::ostream* out) {
  *out << testCase.name;
}

class VersionTextTest : public testing::TestWithParam<VersionCase> {};

TEST_P(VersionTextTest, TakesThreeBytesFromTheFirstDigitOneToEight) {
  EXPECT_EQ(versionTextFromReadme(GetParam().head), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Readme, VersionTextTest,
    testing::Values(
        VersionCase{"WordThenVersion", headWith("Version 3.8\r\nQuarn updater"), u"3.8"},
        // 9 never starts a version; the bytes after the 1 are taken whatever they are.
        VersionCase{"NineSkippedLineEndTaken", headWith("v9.1\r\n"), u"1\r\n"},
        VersionCase{"ZeroNeverStarts", headWith("0.0 then 2.5"), u"2.5"},
        VersionCase{"DigitAtLastPossibleStartIsOneChar", headWith("7", 75), u"7"},
        VersionCase{"DigitAtLastPossibleStartRunsIntoTail", headWith("4.56", 75), u"4.5"},
        VersionCase{"DigitAtPosition76Ignored", headWith("1.2.3", 76), u""},
        VersionCase{"NoDigitGivesEmptyText", headWith("no numbers here\n"), u""},
        VersionCase{"ZeroByteEndsEarly", headWith(std::string("5\0x", 3)), u"5"},
        VersionCase{"HighBytesWidenedAsSigned", headWith("2\x80\xff"), u"2\uff80\uffff"},
        VersionCase{"DigitIsLastByteOfFile", headWith("release 7"), u"7"}),
    [](const testing::TestParamInfo<VersionCase>& testCase) { return testCase.param.name; });

}  // namespace
}  // namespace quarn
