#pragma once
// The package files of the command line: QUARN.bin and metadata.json in one directory (the
// current one unless --package names another), read through the platform's package files. The
// package code looks beside "the program file"; here that is a name inside this directory.
#include "package/package_files.hpp"

namespace quarn::cli {

class PackageDirectoryFiles : public PackageFileSystem {
 public:
  PackageDirectoryFiles(PackageFileSystem& files, WideView directory);

  WideText programFilePath() override { return programPath_; }
  char16_t pathSeparator() const override { return files_.pathSeparator(); }
  std::unique_ptr<PackageFile> openForReading(WideView path) override {
    return files_.openForReading(path);
  }

 private:
  PackageFileSystem& files_;
  WideText programPath_;  // empty when there is no directory: the files are then not found
};

}  // namespace quarn::cli
