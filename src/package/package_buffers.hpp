#pragma once
// The program-wide buffers that hold the package files for the length of one session. Only one
// session runs at a time (PROGRAM stays disabled meanwhile), so they need no lock.
#include <cstdint>
#include <memory>

namespace quarn {

class PackageBuffer {
 public:
  // Allocates exactly size bytes (0 is a valid size); false when memory cannot be had.
  bool allocate(uint32_t size);
  void release();
  bool held() const { return held_; }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  uint32_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  uint32_t size_ = 0;
  bool held_ = false;
};

extern PackageBuffer imageBuffer;
extern PackageBuffer metadataBuffer;

}  // namespace quarn
