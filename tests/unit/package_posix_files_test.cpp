#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "fakes/fake_package_files.hpp"
#include "package/firmware_package.hpp"
#include "platform/posix/posix_package_files.hpp"

namespace quarn {
namespace {

using posix::PosixPackageFiles;

TEST(PosixPackageFiles, GivenDirectoryYieldsItThroughTheLastSeparatorRule) {
  PosixPackageFiles files(std::string("/srv/pack\xC3\xA9"));
  const WideText program = files.programFilePath();
  EXPECT_EQ(program, u"/srv/pack\u00e9/quarn-update");
  EXPECT_EQ(packageFilePath(program, files.pathSeparator(), firmwareFileName),
            u"/srv/pack\u00e9/QUARN.bin");
}

TEST(PosixPackageFiles, WithoutDirectoryGivesTheRunningProgram) {
  for (PosixPackageFiles files : {PosixPackageFiles(), PosixPackageFiles(std::string())}) {
    const WideText expected = fromUtf8(std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_EQ(files.programFilePath(), expected);
    EXPECT_EQ(expected.front(), u'/');
  }
}

TEST(PosixPackageFiles, OpensSizesAndReadsARegularFileWhole) {
  fakes::PackageBench bench;
  bench.writeFile("QUARN.bin", std::string("ab\0cd", 5));
  PosixPackageFiles files(bench.directory);
  auto file = files.openForReading(fromUtf8(bench.directory + "/QUARN.bin"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 5u);
  uint8_t bytes[16] = {};
  EXPECT_EQ(file->read(bytes, sizeof bytes), 5u);  // the end of the file ends the read
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 5), std::string("ab\0cd", 5));
  EXPECT_EQ(file->read(bytes, sizeof bytes), 0u);
}

TEST(PosixPackageFiles, RefusesWhatIsNotAReadableRegularFile) {
  fakes::PackageBench bench;
  PosixPackageFiles files(bench.directory);
  EXPECT_FALSE(files.openForReading(fromUtf8(bench.directory + "/absent.bin")));

  auto directory = files.openForReading(fromUtf8(bench.directory));
  ASSERT_TRUE(directory);
  EXPECT_FALSE(directory->size());

  // A FIFO in the package's place must neither hang the open nor be read as a package.
  const std::string fifo = bench.directory + "/QUARN.bin";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto pipe = files.openForReading(fromUtf8(fifo));
  ASSERT_TRUE(pipe);
  EXPECT_FALSE(pipe->size());
}

TEST(PosixPackageFiles, FileIsHeldExclusivelyUntilItIsClosed) {
  fakes::PackageBench bench;
  bench.writeFile("metadata.json", "{}");
  PosixPackageFiles files(bench.directory);
  const WideText path = fromUtf8(bench.directory + "/metadata.json");
  auto first = files.openForReading(path);
  ASSERT_TRUE(first);
  EXPECT_FALSE(files.openForReading(path));
  const int other = ::open((bench.directory + "/metadata.json").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);  // another program is kept out too
  first.reset();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(files.openForReading(path));  // and now the other program holds it
  ::close(other);
  EXPECT_TRUE(files.openForReading(path));
}

TEST(PosixPackageFiles, PackageInADirectoryLongerThanThreeHundredCharactersIsFound) {
  fakes::PackageBench bench;
  std::string directory = bench.directory;
  for (int level = 0; level < 4; ++level) directory += "/" + std::string(100, char('a' + level));
  std::filesystem::create_directories(directory);
  ASSERT_GT(directory.size(), 300u);
  const std::string relative = directory.substr(bench.directory.size() + 1) + "/";
  bench.writeFile(relative + "QUARN.bin", "123456789");
  bench.writeFile(relative + "metadata.json", R"({"QUARN":{"size":9,"crc32":"cbf43926"}})");
  PosixPackageFiles files(directory);
  EXPECT_TRUE(bench.load(files));
  EXPECT_TRUE(bench.outlets.boxes.empty());
  EXPECT_EQ(bench.session.imageLength, 9u);
}

}  // namespace
}  // namespace quarn
