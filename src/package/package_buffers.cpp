#include "package/package_buffers.hpp"

#include <new>

namespace quarn {

// Constant-initialised: no code runs to set them up before the entry point, nor at exit.
constinit PackageBuffer imageBuffer;
constinit PackageBuffer metadataBuffer;

bool PackageBuffer::allocate(uint32_t size) {
  release();
  // new[0] gives a valid, distinct pointer, so an empty image is held like any other.
  bytes_ = new (std::nothrow) uint8_t[size];
  if (bytes_ == nullptr) return false;
  size_ = size;
  held_ = true;
  return true;
}

void PackageBuffer::release() {
  delete[] bytes_;
  bytes_ = nullptr;
  size_ = 0;
  held_ = false;
}

}  // namespace quarn
