#pragma once
// The package files beside the program, through the Windows file functions.
#include "package/package_files.hpp"

namespace quarn::win32 {

class Win32PackageFiles : public PackageFileSystem {
 public:
  WideText programFilePath() override;
  char16_t pathSeparator() const override { return u'\\'; }
  std::unique_ptr<PackageFile> openForReading(WideView path) override;
};

// The form of a path that CreateFileW takes however long it is. Paths that fit the classic
// MAX_PATH limit are left exactly as they are.
WideText withLongPathPrefix(WideView path);

}  // namespace quarn::win32
