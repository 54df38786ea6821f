#pragma once
// The package files on a POSIX system. An exclusive flock stands in for the unshared open: a
// file another program holds locked counts as not openable.
#include <optional>
#include <string>

#include "package/package_files.hpp"

namespace quarn::posix {

class PosixPackageFiles : public PackageFileSystem {
 public:
  // With a directory (UTF-8; empty counts as none) the package is looked for there; without
  // one, beside the running program.
  explicit PosixPackageFiles(std::optional<std::string> packageDirectory = std::nullopt);

  WideText programFilePath() override;
  char16_t pathSeparator() const override { return u'/'; }
  std::unique_ptr<PackageFile> openForReading(WideView path) override;

 private:
  std::optional<std::string> packageDirectory_;
};

}  // namespace quarn::posix
