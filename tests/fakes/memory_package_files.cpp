#include "fakes/memory_package_files.hpp"

#include <algorithm>

namespace quarn::fakes {
namespace {

class MemoryPackageFile : public PackageFile {
 public:
  MemoryPackageFile(const MemoryFile& file, int& openFiles) : file_(file), openFiles_(openFiles) {
    ++openFiles_;
  }
  ~MemoryPackageFile() override { --openFiles_; }
  std::optional<uint32_t> size() override {
    if (!file_.sizeReadable) return std::nullopt;
    return static_cast<uint32_t>(file_.bytes.size());
  }
  uint32_t read(uint8_t* destination, uint32_t count) override {
    const size_t n = std::min<size_t>(count, file_.bytes.size());
    std::copy_n(file_.bytes.begin(), n, destination);
    return static_cast<uint32_t>(n);
  }

 private:
  const MemoryFile& file_;
  int& openFiles_;
};

}  // namespace

std::unique_ptr<PackageFile> MemoryPackageFiles::openForReading(WideView path) {
  const auto it = files.find(WideText(path));
  log_.add((it == files.end() ? "open-file-failed:" : "open-file:") + toUtf8(path));
  if (it == files.end()) return nullptr;
  return std::make_unique<MemoryPackageFile>(it->second, openFiles);
}

}  // namespace quarn::fakes
