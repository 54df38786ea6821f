#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "fakes/fake_package_files.hpp"
#include "package/firmware_package.hpp"
#include "package/metadata_reader.hpp"
#include "session/messages.hpp"

namespace quarn {

static void PrintTo(const FirmwareMetadata& m, std::ostream* out) {
  *out << std::hex << "{size " << m.packageSize << ", crc " << m.packageCrc << ", status "
       << m.encryptionStatus << ", H7 " << m.h7Size << "/" << m.h7Crc << "/" << m.h7Version
       << ", G0 " << m.g0Size << "/" << m.g0Crc << "/" << m.g0Version << "}";
}

namespace {

// The image every row is checked against: 9 bytes with the CRC-32 cbf43926.
constexpr std::string_view image = "123456789";
const std::string quarnOk = R"("QUARN":{"size":9,"crc32":"cbf43926"})";
const std::string nul(1, '\0');

const std::string extract = toUtf8(messages::metadataUnparsable);
const std::string sizeBox = toUtf8(messages::sizeMismatch);
const std::string crcBox = toUtf8(messages::crc32Mismatch);
const std::string versionBox = toUtf8(messages::versionMismatch);

struct MetadataCase {
  const char* label;
  std::string metadataFile;
  std::string box;            // empty: the package passes
  FirmwareMetadata expected;  // not looked at when the metadata cannot be extracted
};

void runCases(const std::vector<MetadataCase>& cases) {
  for (const MetadataCase& c : cases) {
    SCOPED_TRACE(c.label);
    fakes::PackageBench bench;
    bench.writeFile("QUARN.bin", image);
    bench.writeFile("metadata.json", c.metadataFile);
    const bool passed = bench.load();
    EXPECT_EQ(passed, c.box.empty());
    if (c.box.empty()) {
      EXPECT_TRUE(bench.outlets.boxes.empty());
      EXPECT_EQ(bench.tester.openPorts, 1);
    } else {
      EXPECT_EQ(bench.outlets.boxes, std::vector<std::string>{c.box});
      EXPECT_TRUE(bench.boxThenClose(c.box));
    }
    if (c.box != extract) {
      EXPECT_EQ(bench.session.metadata, c.expected);
    }
  }
}

TEST(MetadataValues, AreTakenFromEachSection) {
  runCases({
      {"every section",
       "{" + quarnOk +
           R"(,"encryption":{"status":1},"H7":{"size":100,"crc32":"1234abcd","version":1.1},)"
           R"("G0":{"size":200,"crc32":"ABCDEF01","version":1.10}})",
       "",
       {9, 0xCBF43926u, 1, 100, 0x1234ABCDu, 1.1f, 200, 0xABCDEF01u, 1.1f}},
      {"names in any letter case",
       R"({"quarn":{"SIZE":9,"Crc32":"CBF43926"},"ENCRYPTION":{"Status":2},)"
       R"("h7":{"Size":3,"CRC32":"a","VERSION":2},"g0":{"sIzE":4,"cRc32":"B","Version":2.0}})",
       "",
       {9, 0xCBF43926u, 2, 3, 0xAu, 2.0f, 4, 0xBu, 2.0f}},
      {"hex with prefix, leading blanks and text after the digits",
       R"({"QUARN":{"size":9,"crc32":"0XCBF43926"},"H7":{"size":0,"crc32":" \t0x1a2B","version":0},)"
       R"("G0":{"size":0,"crc32":"ff/rest","version":0}})",
       "",
       {9, 0xCBF43926u, 0, 0, 0x1A2Bu, 0.0f, 0, 0xFFu, 0.0f}},
      {"crc32 without a hex digit reads as 0",
       R"({"QUARN":{"size":9,"crc32":"zz"},"H7":{"size":0,"crc32":"","version":0}})",
       crcBox,
       {9, 0, 0, 0, 0, 0.0f, 0, 0, 0.0f}},
      {"a crc32 with a digit too many is no match for the image",
       R"({"QUARN":{"size":9,"crc32":"1cbf43926"}})",
       crcBox,
       {9, 0xFFFFFFFFu, 0, 0, 0, 0.0f, 0, 0, 0.0f}},
      {"fractional size gives its integer part",
       R"({"QUARN":{"size":9.9,"crc32":"cbf43926"}})",
       "",
       {9, 0xCBF43926u, 0, 0, 0, 0.0f, 0, 0, 0.0f}},
      {"other members and levels are ignored",
       R"({"note":"x","QUARN":{"size":9,"crc32":"cbf43926","extra":[1,2]},"H8":{"version":5}})",
       "",
       {9, 0xCBF43926u, 0, 0, 0, 0.0f, 0, 0, 0.0f}},
  });
}

// The hexadecimal scan on its own, for the texts a package row would hide: signs, prefixes
// without digits, and values past 32 bits (which must not wrap to their low bits).
TEST(ScanHex, ConvertsAsStrtoulWithThirtyTwoBits) {
  const struct {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"cbf43926", 0xCBF43926u},
      {"FFFFFFFF", 0xFFFFFFFFu},
      {"\v\f\r\n 0x7", 7},
      {"+1f", 0x1Fu},
      {"-1", 0xFFFFFFFFu},
      {"-0x5", 0xFFFFFFFBu},
      {"00000000cbf43926", 0xCBF43926u},
      {"100000000", 0xFFFFFFFFu},
      {"1cbf43926", 0xFFFFFFFFu},
      {"123456789abcdef0123456", 0xFFFFFFFFu},
      {"-100000000", 0xFFFFFFFFu},
      {"0x", 0},
      {"0xg1", 0},
      {"- 1", 0},
      {"-", 0},
      {"", 0},
      {"x1", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scanHex(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(MetadataValues, AbsentSectionsLeaveZeros) {
  runCases({
      {"no section at all", "{}", sizeBox, {}},
      {"top-level array", "[{" + quarnOk + "}]", sizeBox, {}},
      {"top-level string", R"("QUARN")", sizeBox, {}},
      {"only QUARN", "{" + quarnOk + "}", "", {9, 0xCBF43926u, 0, 0, 0, 0.0f, 0, 0, 0.0f}},
      {"G0 absent, H7 version set",
       "{" + quarnOk + R"(,"H7":{"size":1,"crc32":"1","version":1.0}})",
       versionBox,
       {9, 0xCBF43926u, 0, 1, 1, 1.0f, 0, 0, 0.0f}},
      {"G0 absent, H7 version 0.0",
       "{" + quarnOk + R"(,"H7":{"size":1,"crc32":"1","version":0.0}})",
       "",
       {9, 0xCBF43926u, 0, 1, 1, 0.0f, 0, 0, 0.0f}},
      {"H7 absent, G0 version 0.0",
       "{" + quarnOk + R"(,"G0":{"size":1,"crc32":"1","version":0}})",
       "",
       {9, 0xCBF43926u, 0, 0, 0, 0.0f, 1, 1, 0.0f}},
      {"H7 absent, G0 version set",
       "{" + quarnOk + R"(,"G0":{"size":1,"crc32":"1","version":2}})",
       versionBox,
       {9, 0xCBF43926u, 0, 0, 0, 0.0f, 1, 1, 2.0f}},
  });
}

TEST(MetadataValues, VersionsAreComparedInSinglePrecision) {
  runCases({
      {"2.00000001 and 2.0",
       "{" + quarnOk +
           R"(,"H7":{"size":0,"crc32":"0","version":2.00000001},)"
           R"("G0":{"size":0,"crc32":"0","version":2.0}})",
       "",
       {9, 0xCBF43926u, 0, 0, 0, 2.0f, 0, 0, 2.0f}},
  });
}

TEST(MetadataText, EndsAtTheFirstNulAndIgnoresTrailingText) {
  const FirmwareMetadata quarnOnly{9, 0xCBF43926u, 0, 0, 0, 0.0f, 0, 0, 0.0f};
  runCases({
      {"NUL after the value", "{" + quarnOk + "}" + nul + "{{{ not json", "", quarnOnly},
      {"text after the value", "{" + quarnOk + "} trailing ] junk {", "", quarnOnly},
      {"NUL inside the value",
       R"({"QUARN":{"size":9,)" + nul + R"("crc32":"cbf43926"}})",
       extract,
       {}},
      {"empty file", "", extract, {}},
      {"file starting with NUL", nul + "{" + quarnOk + "}", extract, {}},
      {"not JSON", "size=9", extract, {}},
  });
}

TEST(MetadataValues, PresentSectionWithMissingOrWrongMemberIsRefused) {
  runCases({
      {"QUARN a number", R"({"QUARN":5})", extract, {}},
      {"QUARN an array", R"({"QUARN":[9,"cbf43926"]})", extract, {}},
      {"QUARN null", R"({"QUARN":null})", extract, {}},
      {"QUARN without size", R"({"QUARN":{"crc32":"cbf43926"}})", extract, {}},
      {"QUARN size a string", R"({"QUARN":{"size":"9","crc32":"cbf43926"}})", extract, {}},
      {"QUARN crc32 a number", R"({"QUARN":{"size":9,"crc32":3421780262}})", extract, {}},
      {"encryption without status", "{" + quarnOk + R"(,"encryption":{}})", extract, {}},
      {"encryption status a boolean",
       "{" + quarnOk + R"(,"encryption":{"status":true}})",
       extract,
       {}},
      {"H7 size null",
       "{" + quarnOk + R"(,"H7":{"size":null,"crc32":"1","version":1}})",
       extract,
       {}},
      {"H7 version a string",
       "{" + quarnOk + R"(,"H7":{"size":1,"crc32":"1","version":"1.0"}})",
       extract,
       {}},
      {"G0 without version", "{" + quarnOk + R"(,"G0":{"size":1,"crc32":"1"}})", extract, {}},
      {"G0 crc32 an object",
       "{" + quarnOk + R"(,"G0":{"size":1,"crc32":{},"version":1}})",
       extract,
       {}},
  });
}

}  // namespace
}  // namespace quarn
