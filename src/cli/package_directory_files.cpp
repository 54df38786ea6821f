#include "cli/package_directory_files.hpp"

namespace quarn::cli {

PackageDirectoryFiles::PackageDirectoryFiles(PackageFileSystem& files, WideView directory)
    : files_(files) {
  if (directory.empty()) return;
  programPath_ = WideText(directory);
  if (programPath_.back() != files.pathSeparator()) programPath_ += files.pathSeparator();
  programPath_ += u"quarn-update";
}

}  // namespace quarn::cli
