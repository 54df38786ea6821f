#pragma once
// The package files beside the program, through the Windows file functions.
#include "package/package_files.hpp"

namespace quarn::win32 {

// How a package file is shared while it is read. The window program keeps the specified
// exclusive read (a file another program holds open counts as not found); quarn-update.exe lets
// other readers in (parallel --check runs, several testers updated at once), while a program
// that has the file open for writing still keeps it from the read.
enum class PackageSharing { exclusive, sharedRead };

class Win32PackageFiles : public PackageFileSystem {
 public:
  explicit Win32PackageFiles(PackageSharing sharing = PackageSharing::exclusive)
      : sharing_(sharing) {}
  WideText programFilePath() override;
  char16_t pathSeparator() const override { return u'\\'; }
  std::unique_ptr<PackageFile> openForReading(WideView path) override;

 private:
  PackageSharing sharing_;
};

// The form of a path that CreateFileW takes however long it is. Paths that fit the classic
// MAX_PATH limit are left exactly as they are.
WideText withLongPathPrefix(WideView path);

}  // namespace quarn::win32
