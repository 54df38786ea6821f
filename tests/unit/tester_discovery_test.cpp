#include "link/tester_discovery.hpp"

#include <gtest/gtest.h>

#include "fakes/fake_platform.hpp"

namespace quarn {
namespace {

TEST(PortName, TakesTheTextBetweenTheFirstOpeningAndTheNextClosingParenthesis) {
  const std::pair<WideView, std::optional<WideText>> cases[] = {
      {u"USB Serial Device (COM7)", u"COM7"},
      {u"A (B (COM3))", u"B (COM3"},
      {u"Empty ()", u""},
      {u"No parentheses", std::nullopt},
      {u"Unclosed (COM4", std::nullopt},
      {u"Closed first ) then (COM5)", u"COM5"},
  };
  for (const auto& [friendlyName, expected] : cases)
    EXPECT_EQ(portNameFromFriendlyName(friendlyName), expected) << toUtf8(friendlyName);
}

struct DiscoveryCase {
  const char* name;
  std::vector<fakes::FakeDevice> devices;
  std::vector<std::string> lines;
  std::vector<std::string> boxes;
  int matchCount;
  std::string devicePath;
};

void PrintTo(const DiscoveryCase& c, std::ostream* out) {
  *out << c.name;
}

const std::string kNoTester =
    "No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n";
const std::string kTooMany =
    "This application only supports 1 connected Quarn device.\nYou need to remove USB devices.\n";

class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, CountsTestersAndKeepsTheLastPath) {
  const DiscoveryCase& c = GetParam();
  fakes::FakePlatform fake;
  fake.devices.devices = c.devices;
  UpdateSession session;

  const bool found = discoverTester(session, fake.platform);

  EXPECT_EQ(found, c.matchCount == 1);
  EXPECT_EQ(fake.outlets.lines, c.lines);
  EXPECT_EQ(fake.outlets.boxes, c.boxes);
  EXPECT_EQ(session.matchCount, c.matchCount);
  EXPECT_EQ(toUtf8(session.devicePath), c.devicePath);
  EXPECT_EQ(fake.tester.opens, 0);
  EXPECT_NE(session.deviceList, nullptr);  // held until the session's common end
}

const std::string kLong(255, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, Discovery,
    ::testing::Values(
        DiscoveryCase{"OneTester",
                      {{u"Zentrika QUARN", u"Tester (COM7)"}},
                      {"Zentrika QUARN found\n"},
                      {},
                      1,
                      "\\\\.\\COM7"},
        DiscoveryCase{"NoDevices", {}, {}, {kNoTester}, 0, ""},
        DiscoveryCase{"NoParenthesesAlone",
                      {{u"Zentrika QUARN", u"Tester"}},
                      {"Zentrika QUARN found\n"},
                      {kNoTester},
                      0,
                      ""},
        DiscoveryCase{"NestedParentheses",
                      {{u"Zentrika QUARN", u"A (B (COM3))"}},
                      {"Zentrika QUARN found\n"},
                      {},
                      1,
                      "\\\\.\\B (COM3"},
        DiscoveryCase{"EmptyParenthesesCounted",
                      {{u"Zentrika QUARN", u"Tester ()"}},
                      {"Zentrika QUARN found\n"},
                      {},
                      1,
                      "\\\\.\\"},
        DiscoveryCase{"TwoTesters",
                      {{u"Zentrika QUARN", u"One (COM7)"}, {u"Zentrika QUARN", u"Two (COM8)"}},
                      {"Zentrika QUARN found\n", "Zentrika QUARN found\n"},
                      {kTooMany},
                      2,
                      "\\\\.\\COM8"},
        DiscoveryCase{"TesterPlusMatchWithoutPort",
                      {{u"Zentrika QUARN", u"One (COM7)"}, {u"Zentrika QUARN", u"Two"}},
                      {"Zentrika QUARN found\n", "Zentrika QUARN found\n"},
                      {},
                      1,
                      "\\\\.\\COM7"},
        DiscoveryCase{
            "LowerCaseDoesNotMatch", {{u"zentrika quarn", u"T (COM7)"}}, {}, {kNoTester}, 0, ""},
        DiscoveryCase{"MatchAnywhereWholeDescriptionShown",
                      {{u"USB Zentrika QUARN PD tester", u"T (COM9)"}},
                      {"USB Zentrika QUARN PD tester found\n"},
                      {},
                      1,
                      "\\\\.\\COM9"},
        DiscoveryCase{"InstanceIdFailureSkips",
                      {{u"Zentrika QUARN", u"T (COM7)", false}},
                      {},
                      {kNoTester},
                      0,
                      ""},
        DiscoveryCase{
            "DescriptionUnreadableSkips", {{std::nullopt, u"T (COM7)"}}, {}, {kNoTester}, 0, ""},
        DiscoveryCase{"FriendlyNameUnreadableStillReported",
                      {{u"Zentrika QUARN", std::nullopt}},
                      {"Zentrika QUARN found\n"},
                      {kNoTester},
                      0,
                      ""},
        DiscoveryCase{"LongDescriptionShownWhole",
                      {{u"Zentrika QUARN" + fromUtf8(kLong), u"T (COM7)"}},
                      {"Zentrika QUARN" + kLong + " found\n"},
                      {},
                      1,
                      "\\\\.\\COM7"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Discovery, FoundLineComesBeforeTheFriendlyNameIsRead) {
  fakes::FakePlatform fake;
  fake.devices.devices = {{u"Zentrika QUARN", u"T (COM7)"}};
  UpdateSession session;
  discoverTester(session, fake.platform);
  EXPECT_LT(fake.log.indexOf("line:Zentrika QUARN found\n"),
            fake.log.indexOf("friendly-name-read"));
}

}  // namespace
}  // namespace quarn
