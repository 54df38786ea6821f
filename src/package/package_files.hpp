#pragma once
// The package files as the package stage needs them: where the program lies, and one
// exclusive open plus one read per file.
#include <cstdint>
#include <memory>
#include <optional>

#include "session/text.hpp"

namespace quarn {

class PackageFile {
 public:
  virtual ~PackageFile() = default;  // closes the file
  // The file's size (low 32 bits); nullopt when it cannot be read.
  virtual std::optional<uint32_t> size() = 0;
  // One read of up to count bytes into destination; gives the bytes delivered.
  virtual uint32_t read(uint8_t* destination, uint32_t count) = 0;
};

class PackageFileSystem {
 public:
  virtual ~PackageFileSystem() = default;
  // Full path of the running program file; empty when it cannot be had.
  virtual WideText programFilePath() = 0;
  virtual char16_t pathSeparator() const = 0;
  // Opens for reading, unshared; nullptr when the file cannot be opened (absent or held).
  virtual std::unique_ptr<PackageFile> openForReading(WideView path) = 0;
};

}  // namespace quarn
