#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "fakes/fake_package_files.hpp"
#include "package/crc32.hpp"
#include "package/firmware_package.hpp"
#include "session/messages.hpp"

namespace quarn {
namespace {

const std::string okMetadata =
    R"({"QUARN":{"size":9,"crc32":"cbf43926"},"encryption":{"status":1},)"
    R"("H7":{"size":5,"crc32":"a","version":1.5},)"
    R"("G0":{"size":4,"crc32":"b","version":1.5}})";

std::string utf8(WideView text) {
  return toUtf8(text);
}

// Holds an exclusive flock on a file the way another program would.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

TEST(PackageStage, EachFailureShowsItsBoxThenClosesThePort) {
  const struct {
    const char* label;
    std::optional<std::string> image;
    std::optional<std::string> metadata;
    const char* heldFile;  // held by another program during the stage
    WideView box;
  } cases[] = {
      {"no firmware file", std::nullopt, okMetadata, nullptr, messages::firmwareFileMissing},
      {"firmware file held", "123456789", okMetadata, "QUARN.bin", messages::firmwareFileMissing},
      {"no metadata file", "123456789", std::nullopt, nullptr, messages::metadataFileMissing},
      {"metadata file held", "123456789", okMetadata, "metadata.json",
       messages::metadataFileMissing},
      {"metadata not JSON", "123456789", "{\"QUARN\":", nullptr, messages::metadataUnparsable},
      {"size differs", "1234567890", okMetadata, nullptr, messages::sizeMismatch},
      {"crc differs", "123456780", okMetadata, nullptr, messages::crc32Mismatch},
      {"versions differ", "123456789",
       R"({"QUARN":{"size":9,"crc32":"cbf43926"},"H7":{"size":0,"crc32":"0","version":1.5},)"
       R"("G0":{"size":0,"crc32":"0","version":1.25}})",
       nullptr, messages::versionMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fakes::PackageBench bench;
    if (c.image) bench.writeFile("QUARN.bin", *c.image);
    if (c.metadata) bench.writeFile("metadata.json", *c.metadata);
    std::optional<HeldFile> held;
    if (c.heldFile) {
      held.emplace(bench.directory + "/" + c.heldFile);
      ASSERT_TRUE(held->locked());
    }
    EXPECT_FALSE(bench.load());
    EXPECT_EQ(bench.outlets.boxes, std::vector<std::string>{utf8(c.box)});
    EXPECT_TRUE(bench.outlets.lines.empty());
    EXPECT_TRUE(bench.boxThenClose(utf8(c.box)));
  }
}

TEST(PackageStage, GoodPackageLeavesEverythingReadyWithThePortOpen) {
  fakes::PackageBench bench;
  bench.writeFile("QUARN.bin", "123456789");
  bench.writeFile("metadata.json", okMetadata);
  ASSERT_TRUE(bench.load());
  EXPECT_TRUE(bench.outlets.boxes.empty());
  EXPECT_EQ(bench.tester.openPorts, 1);
  EXPECT_FALSE(bench.log.contains("close"));
  const UpdateSession& session = bench.session;
  EXPECT_EQ(session.imageLength, 9u);
  EXPECT_EQ(session.imageBytesRead, 9u);
  EXPECT_EQ(session.imageCrc, 0xCBF43926u);
  EXPECT_TRUE(session.metadataTree);
  const FirmwareMetadata expected{9, 0xCBF43926u, 1, 5, 0xAu, 1.5f, 4, 0xBu, 1.5f};
  EXPECT_EQ(session.metadata, expected);
  ASSERT_EQ(imageBuffer.size(), 9u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(imageBuffer.data()), 9), "123456789");
  EXPECT_EQ(metadataBuffer.size(), okMetadata.size());
}

TEST(PackageStage, EmptyImageWithSizeZeroAndCrcZeroPasses) {
  fakes::PackageBench bench;
  bench.writeFile("QUARN.bin", "");
  bench.writeFile("metadata.json", R"({"QUARN":{"size":0,"crc32":"0"}})");
  ASSERT_TRUE(bench.load());
  EXPECT_TRUE(imageBuffer.held());
  EXPECT_EQ(bench.session.imageLength, 0u);
  EXPECT_EQ(bench.session.imageCrc, 0u);
}

TEST(PackageStage, ImageTooLargeToBeAcknowledgedIsRefusedBeforeAnythingIsSent) {
  const struct {
    uint32_t length;
    bool passes;
  } cases[] = {{3932160, true}, {3932161, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    fakes::PackageBench bench;
    const std::string image(c.length, '\x5A');
    buildCrc32Table();
    const uint32_t crc = computeCrc32(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    char metadata[96];
    std::snprintf(metadata, sizeof metadata, R"({"QUARN":{"size":%u,"crc32":"%08x"}})", c.length,
                  crc);
    bench.writeFile("QUARN.bin", image);
    bench.writeFile("metadata.json", metadata);
    EXPECT_EQ(bench.load(), c.passes);
    EXPECT_TRUE(bench.tester.writes.empty());
    if (!c.passes) {
      EXPECT_TRUE(bench.boxThenClose(utf8(messages::sizeMismatch)));
    }
  }
}

TEST(PackageStage, FailingStageKeepsWhatItAllocatedForTheCommonEnd) {
  fakes::PackageBench bench;
  bench.writeFile("QUARN.bin", "123456789");
  bench.writeFile("metadata.json", "{}");
  EXPECT_FALSE(bench.load());
  EXPECT_EQ(bench.outlets.boxes, std::vector<std::string>{utf8(messages::sizeMismatch)});
  EXPECT_EQ(imageBuffer.size(), 9u);
  EXPECT_TRUE(metadataBuffer.held());
  EXPECT_TRUE(bench.session.metadataTree);
}

// The same stage on in-memory files, where every open, read and close is logged.
class FakeFilesStage : public ::testing::Test {
 protected:
  fakes::PackageBench bench;
  fakes::FakePackageFiles files{bench.log};
  const std::string imagePath = "C:\\Quarn\\QUARN.bin";
  const std::string metadataPath = "C:\\Quarn\\metadata.json";
};

TEST_F(FakeFilesStage, MissingImageMeansMetadataIsNeverOpened) {
  files.addFile(u"metadata.json", okMetadata);
  EXPECT_FALSE(bench.load(files));
  EXPECT_TRUE(bench.log.contains("file-open-failed:" + imagePath));
  EXPECT_EQ(bench.log.count("file-open:" + metadataPath), 0);
  EXPECT_EQ(bench.log.count("file-open-failed:" + metadataPath), 0);
  EXPECT_TRUE(bench.boxThenClose(utf8(messages::firmwareFileMissing)));
}

TEST_F(FakeFilesStage, ImageIsReadAndClosedBeforeMetadataIsLookedFor) {
  files.addFile(u"QUARN.bin", "123456789");
  files.addFile(u"metadata.json", okMetadata);
  ASSERT_TRUE(bench.load(files));
  EXPECT_EQ(files.openFiles, 0);
  const std::vector<std::string> fileEvents(bench.log.events.begin() + 1, bench.log.events.end());
  const std::vector<std::string> expected = {
      "file-open:" + imagePath,
      "file-read:" + imagePath + ":9",
      "file-close:" + imagePath,
      "file-open:" + metadataPath,
      "file-read:" + metadataPath + ":" + std::to_string(okMetadata.size()),
      "file-close:" + metadataPath,
  };
  EXPECT_EQ(fileEvents, expected);
}

TEST_F(FakeFilesStage, UnreadableSizeIsReportedAsTheFileNotFound) {
  const struct {
    WideView unreadable;
    WideView box;
  } cases[] = {{u"QUARN.bin", messages::firmwareFileMissing},
               {u"metadata.json", messages::metadataFileMissing}};
  for (const auto& c : cases) {
    SCOPED_TRACE(utf8(c.unreadable));
    fakes::PackageBench caseBench;
    fakes::FakePackageFiles caseFiles{caseBench.log};
    caseFiles.addFile(u"QUARN.bin", "123456789");
    caseFiles.addFile(u"metadata.json", okMetadata);
    caseFiles.files[u"C:\\Quarn\\" + WideText(c.unreadable)].sizeUnreadable = true;
    EXPECT_FALSE(caseBench.load(caseFiles));
    EXPECT_EQ(caseBench.outlets.boxes, std::vector<std::string>{utf8(c.box)});
    EXPECT_TRUE(caseBench.boxThenClose(utf8(c.box)));
    EXPECT_EQ(caseFiles.openFiles, 0);
  }
}

TEST_F(FakeFilesStage, ShortImageReadShowsAsCrcMismatch) {
  files.addFile(u"QUARN.bin", "123456789").readLimit = 5;
  files.addFile(u"metadata.json", okMetadata);
  EXPECT_FALSE(bench.load(files));
  EXPECT_EQ(bench.session.imageLength, 9u);
  EXPECT_EQ(bench.session.imageBytesRead, 5u);
  buildCrc32Table();
  EXPECT_EQ(bench.session.imageCrc, computeCrc32(reinterpret_cast<const uint8_t*>("12345"), 5));
  EXPECT_TRUE(bench.boxThenClose(utf8(messages::crc32Mismatch)));
}

TEST_F(FakeFilesStage, ProgramPathWithoutDirectoryFindsNoFile) {
  files.addFile(u"QUARN.bin", "123456789");
  files.addFile(u"metadata.json", okMetadata);
  files.programPath.clear();
  files.files[u"QUARN.bin"] = files.files[u"C:\\Quarn\\QUARN.bin"];  // as if in the current dir
  EXPECT_FALSE(bench.load(files));
  EXPECT_EQ(bench.log.count("file-open"), 0);
  EXPECT_TRUE(bench.boxThenClose(utf8(messages::firmwareFileMissing)));
}

TEST(PackageFilePath, KeepsTheDirectoryUpToTheLastSeparator) {
  const WideText longDirectory = u"C:\\" + WideText(320, u'd') + u"\\";
  const struct {
    WideText program;
    char16_t separator;
    WideText expected;
  } cases[] = {
      {u"C:\\Quarn\\QuarnUpdater.exe", u'\\', u"C:\\Quarn\\QUARN.bin"},
      {u"C:\\a.b\\c\\QuarnUpdater.exe", u'\\', u"C:\\a.b\\c\\QUARN.bin"},
      {u"/opt/a\\b/quarn-update", u'/', u"/opt/a\\b/QUARN.bin"},
      {u"/opt/quarn/", u'/', u"/opt/quarn/QUARN.bin"},
      {u"quarn-update", u'/', u"QUARN.bin"},
      {longDirectory + u"QuarnUpdater.exe", u'\\', longDirectory + u"QUARN.bin"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(packageFilePath(c.program, c.separator, u"QUARN.bin"), c.expected) << utf8(c.program);
  }
  EXPECT_GT(cases[5].expected.size(), 300u);
}

}  // namespace
}  // namespace quarn
