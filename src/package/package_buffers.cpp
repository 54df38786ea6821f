#include "package/package_buffers.hpp"

#include <new>

namespace quarn {

PackageBuffer imageBuffer;
PackageBuffer metadataBuffer;

bool PackageBuffer::allocate(uint32_t size) {
  release();
  // new[0] gives a valid, distinct pointer, so an empty image is held like any other.
  bytes_.reset(new (std::nothrow) uint8_t[size]);
  if (!bytes_) return false;
  size_ = size;
  held_ = true;
  return true;
}

void PackageBuffer::release() {
  bytes_.reset();
  size_ = 0;
  held_ = false;
}

}  // namespace quarn
