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

// Issue 16, item 6: readers share the file (a shared lock while it is read); a writer's
// exclusive lock keeps it from every reader, and is itself refused while a reader holds it.
TEST(PosixPackageFiles, ReadersShareTheFileAndAWritersLockKeepsThemOut) {
  fakes::PackageBench bench;
  bench.writeFile("metadata.json", "{}");
  PosixPackageFiles files(bench.directory);
  const WideText path = fromUtf8(bench.directory + "/metadata.json");
  auto first = files.openForReading(path);
  ASSERT_TRUE(first);
  EXPECT_TRUE(files.openForReading(path)) << "a second reader at the same time";
  const int other = ::open((bench.directory + "/metadata.json").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);  // a writer waits for the readers
  EXPECT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);  // another reader does not
  ::flock(other, LOCK_UN);
  first.reset();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(files.openForReading(path));  // and now the writer holds it
  ::close(other);
  EXPECT_TRUE(files.openForReading(path));
}

// Issue 16, item 5: a path that is not UTF-8 reaches open() as its bytes.
TEST(PosixPackageFiles, APathThatIsNotUtf8IsOpenedAsItsBytes) {
  fakes::PackageBench bench;
  const std::string directory = bench.directory + "/fw-\xe9t\xe9";
  ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
  const std::string file = directory + "/QUARN.bin";
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  PosixPackageFiles files(directory);
  const WideText program = files.programFilePath();
  EXPECT_EQ(toPathBytes(program), directory + "/quarn-update");
  EXPECT_TRUE(files.openForReading(fromPathBytes(file)));
  EXPECT_FALSE(files.openForReading(fromUtf8(file))) << "U+FFFD in place of the bytes";
  ::unlink(file.c_str());
  ::rmdir(directory.c_str());
}

TEST(PathBytes, EveryByteStringComesBackAsItWasAndShowsAsValidUtf8) {
  const std::string samples[] = {"fw-\xe9t\xe9",   "caf\xc3\xa9",      "\xff\xfe", "\xc3",
                                 "a\xed\xa0\x80!", "\xf0\x9f\x98\x80", "plain"};
  for (const std::string& bytes : samples) {
    EXPECT_EQ(toPathBytes(fromPathBytes(bytes)), bytes);
    const std::string shown = toUtf8(fromPathBytes(bytes));
    EXPECT_EQ(toUtf8(fromUtf8(shown)), shown) << "shown text is valid UTF-8";
  }
  EXPECT_EQ(fromPathBytes("caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(fromPathBytes("caf\xe9"), u"caf\xdce9");
  EXPECT_EQ(toUtf8(u"caf\xdce9"), "caf\xef\xbf\xbd");
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
