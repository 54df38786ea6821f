#pragma once
// The program-wide buffers that hold the package files for the length of one session. Only one
// session runs at a time (PROGRAM stays disabled meanwhile), so they need no lock.
#include <cstdint>
#include <type_traits>

namespace quarn {

// A holder without a destructor, on purpose. Leaving the program does not wait for a running
// session: its worker may still be sending blocks from the image, or be about to release the
// buffer at its common end. A destructor would free the bytes at exit under that worker (a use
// after free, or a double free), so exit finds nothing here to run and the memory goes with the
// process. Every session still releases what it allocated at its common end.
class PackageBuffer {
 public:
  constexpr PackageBuffer() = default;
  PackageBuffer(const PackageBuffer&) = delete;
  PackageBuffer& operator=(const PackageBuffer&) = delete;

  // Allocates exactly size bytes (0 is a valid size); false when memory cannot be had.
  bool allocate(uint32_t size);
  void release();
  bool held() const { return held_; }
  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  uint32_t size() const { return size_; }

 private:
  uint8_t* bytes_ = nullptr;  // owned; released only by release()
  uint32_t size_ = 0;
  bool held_ = false;
};
static_assert(std::is_trivially_destructible_v<PackageBuffer>,
              "exit must not free a package buffer that a running session may still use");

extern PackageBuffer imageBuffer;
extern PackageBuffer metadataBuffer;

}  // namespace quarn
