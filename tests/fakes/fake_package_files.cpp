#include "fakes/fake_package_files.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "package/firmware_package.hpp"
#include "platform/posix/posix_package_files.hpp"

namespace quarn::fakes {
namespace {

class FakeOpenFile : public PackageFile {
 public:
  FakeOpenFile(const FakeFile& file, std::string path, int& openFiles, EventLog& log)
      : file_(file), path_(std::move(path)), openFiles_(openFiles), log_(log) {
    ++openFiles_;
  }
  ~FakeOpenFile() override {
    --openFiles_;
    log_.add("file-close:" + path_);
  }

  std::optional<uint32_t> size() override {
    if (file_.sizeUnreadable) return std::nullopt;
    return static_cast<uint32_t>(file_.bytes.size());
  }

  uint32_t read(uint8_t* destination, uint32_t count) override {
    size_t delivered = std::min<size_t>(count, file_.bytes.size());
    if (file_.readLimit) delivered = std::min<size_t>(delivered, *file_.readLimit);
    std::copy_n(file_.bytes.begin(), delivered, destination);
    log_.add("file-read:" + path_ + ":" + std::to_string(delivered));
    return static_cast<uint32_t>(delivered);
  }

 private:
  const FakeFile& file_;
  std::string path_;
  int& openFiles_;
  EventLog& log_;
};

}  // namespace

std::unique_ptr<PackageFile> FakePackageFiles::openForReading(WideView path) {
  const std::string name = toUtf8(path);
  const auto it = files.find(WideText(path));
  if (it == files.end() || it->second.held) {
    log_.add("file-open-failed:" + name);
    return nullptr;
  }
  log_.add("file-open:" + name);
  return std::make_unique<FakeOpenFile>(it->second, name, openFiles, log_);
}

FakeFile& FakePackageFiles::addFile(WideView name, std::string_view bytes) {
  const WideText directory = programPath.substr(0, programPath.rfind(separator) + 1);
  FakeFile& file = files[directory + WideText(name)];
  file.bytes.assign(bytes.begin(), bytes.end());
  return file;
}

PackageBench::PackageBench() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarn-package-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary directory");
  directory = pattern;
}

PackageBench::~PackageBench() {
  imageBuffer.release();
  metadataBuffer.release();
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

void PackageBench::writeFile(const std::string& name, std::string_view bytes) const {
  std::ofstream out(directory + "/" + name, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool PackageBench::load() {
  posix::PosixPackageFiles files(directory);
  return load(files);
}

bool PackageBench::load(PackageFileSystem& files) {
  session.devicePath = u"\\\\.\\COM7";
  session.port = ports.openPort(session.devicePath);
  SessionPlatform platform{outlets, devices, ports, files, clock};
  return loadFirmwarePackage(session, platform);
}

bool PackageBench::boxThenClose(const std::string& box) const {
  const long boxAt = log.indexOf("box:" + box);
  const long closeAt = log.indexOf("close");
  return boxAt >= 0 && closeAt > boxAt && tester.openPorts == 0 && !session.port;
}

}  // namespace quarn::fakes
