// --check runs the update's own package stage and ends with the code the update gives for the
// same package: the table runs every kind of package through both and compares.
#include <gtest/gtest.h>

#include "cli/check_mode.hpp"
#include "cli/exit_codes.hpp"
#include "fakes/console_capture.hpp"
#include "fakes/fake_platform.hpp"
#include "package/crc32.hpp"
#include "package/package_buffers.hpp"
#include "session/update_worker.hpp"

namespace quarn::cli {
namespace {

std::vector<uint8_t> bytesOf(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string metadataFor(size_t size, uint32_t crc, const char* g0Version = "3.8") {
  char text[300];
  std::snprintf(text, sizeof text,
                R"({"QUARN":{"size":%zu,"crc32":"%08x"},"encryption":{"status":1},)"
                R"("H7":{"size":7,"crc32":"a7","version":3.8},"G0":{"size":9,"crc32":"b9",)"
                R"("version":%s}})",
                size, crc, g0Version);
  return text;
}

const std::string image = "123456789";  // CRC-32 cbf43926
constexpr uint32_t imageCrc = 0xCBF43926;

struct PackageRow {
  const char* name;
  std::optional<std::string> image;
  std::optional<std::string> metadata;
  std::string resultCode;
  bool imageRead;
  bool metadataRead;
};

void put(fakes::MemoryPackageFiles& files, const PackageRow& row) {
  if (row.image) files.put(u"QUARN.bin", bytesOf(*row.image));
  if (row.metadata) files.put(u"metadata.json", bytesOf(*row.metadata));
}

// The exit code of a whole update of this package (a tester that then stays silent), or 0 for a
// package that the update goes on to program.
int updateExitFor(const PackageRow& row) {
  fakes::FakePlatform fake;
  fake.devices.devices.push_back({u"Zentrika QUARN", u"USB Serial Device (COM7)"});
  put(fake.files, row);
  updateWorker(fake.platform);
  const std::vector<ReportCode>& codes = fake.outlets.codes;
  if (std::find(codes.begin(), codes.end(), ReportCode::burningInProgress) != codes.end()) {
    return exitComplete;
  }
  return exitCodeForReport(codes.empty() ? std::nullopt : std::optional(codes.back()));
}

TEST(CheckMode, GivesTheExitCodeOfAnUpdateOfTheSamePackage) {
  const PackageRow rows[] = {
      {"good", image, metadataFor(9, imageCrc), "packageOk", true, true},
      {"no image", std::nullopt, metadataFor(9, imageCrc), "firmwareFileMissing", false, false},
      {"no metadata", image, std::nullopt, "metadataFileMissing", true, false},
      {"metadata not JSON", image, "{\"QUARN\":", "metadataUnparsable", true, false},
      {"size differs", image, metadataFor(10, imageCrc), "sizeMismatch", true, true},
      {"crc differs", image, metadataFor(9, imageCrc ^ 1), "crc32Mismatch", true, true},
      {"versions differ", image, metadataFor(9, imageCrc, "3.7"), "versionMismatch", true, true},
  };
  for (const PackageRow& row : rows) {
    fakes::FakePlatform fake;  // only its files and clock: a check has no devices or ports
    put(fake.files, row);
    fakes::RecordingFace face;
    fakes::TestMutex mutex;
    CliReporter reporter(face, mutex, fake.clock, false);

    const ResultEvent result = runCheck(reporter, fake.files, fake.clock, "C:\\Quarn");

    EXPECT_EQ(result.code, row.resultCode) << row.name;
    EXPECT_EQ(result.exit, updateExitFor(row)) << row.name;
    const std::vector<PackageEvent> found = face.all<PackageEvent>();
    ASSERT_EQ(found.size(), 1u) << row.name;
    EXPECT_EQ(found[0].imageRead, row.imageRead) << row.name;
    EXPECT_EQ(found[0].metadataRead, row.metadataRead) << row.name;
    // A failed check shows the update's own box, after what was found.
    const std::vector<ErrorEvent> errors = face.all<ErrorEvent>();
    EXPECT_EQ(errors.size(), result.exit == 0 ? 0u : 1u) << row.name;
    if (!errors.empty()) {
      EXPECT_EQ(errors[0].code, row.resultCode) << row.name;
    }
    EXPECT_TRUE(std::holds_alternative<PackageEvent>(face.events.front())) << row.name;
    EXPECT_FALSE(imageBuffer.held() || metadataBuffer.held()) << row.name;
    EXPECT_EQ(fake.files.openFiles, 0) << row.name;
  }
}

TEST(CheckMode, ReportsTheValuesAnUpdateWouldSend) {
  fakes::FakePlatform fake;
  put(fake.files, {"crc differs", image, metadataFor(9, 0x12345678), "", true, true});
  fakes::RecordingFace face;
  fakes::TestMutex mutex;
  CliReporter reporter(face, mutex, fake.clock, false);
  runCheck(reporter, fake.files, fake.clock, "C:\\Quarn");
  const PackageEvent found = face.all<PackageEvent>().at(0);
  EXPECT_EQ(found.directory, "C:\\Quarn");
  EXPECT_EQ(found.imageLength, 9u);
  EXPECT_EQ(found.imageCrc, imageCrc);
  EXPECT_EQ(found.metadata.packageCrc, 0x12345678u);
  EXPECT_EQ(found.metadata.encryptionStatus, 1);
  EXPECT_EQ(found.metadata.h7Crc, 0xA7u);
  EXPECT_EQ(found.metadata.g0Size, 9);
  EXPECT_EQ(found.metadata.g0Version, 3.8f);
}

}  // namespace
}  // namespace quarn::cli
