#pragma once
// Package files held in memory, under a made-up Windows-style program path, so a session test
// chooses per file whether it exists, what it holds and whether its size can be read.
#include <map>
#include <optional>
#include <vector>

#include "fakes/event_log.hpp"
#include "package/package_files.hpp"

namespace quarn::fakes {

struct MemoryFile {
  std::vector<uint8_t> bytes;
  bool sizeReadable = true;
};

class MemoryPackageFiles : public PackageFileSystem {
 public:
  explicit MemoryPackageFiles(EventLog& log) : log_(log) {}
  WideText programFilePath() override { return programPath; }
  char16_t pathSeparator() const override { return u'\\'; }
  std::unique_ptr<PackageFile> openForReading(WideView path) override;

  WideText programPath = u"C:\\Quarn\\QuarnUpdater.exe";
  std::map<WideText, MemoryFile> files;  // by full path
  int openFiles = 0;

  void put(WideView name, std::vector<uint8_t> bytes) {
    files[u"C:\\Quarn\\" + WideText(name)] = MemoryFile{std::move(bytes), true};
  }

 private:
  EventLog& log_;
};

}  // namespace quarn::fakes
