#include "platform/win32/win32_package_files.hpp"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_chars.hpp"

namespace quarn::win32 {
namespace {

// Windows paths are at most 32,767 characters; the buffer never needs to grow past that.
constexpr DWORD longestPath = 32768;

class Win32PackageFile : public PackageFile {
 public:
  explicit Win32PackageFile(HANDLE handle) : handle_(handle) {}
  ~Win32PackageFile() override { CloseHandle(handle_); }
  Win32PackageFile(const Win32PackageFile&) = delete;
  Win32PackageFile& operator=(const Win32PackageFile&) = delete;

  std::optional<uint32_t> size() override {
    // A size of 0xFFFFFFFF is also a valid low part; only the error code tells the two apart.
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_, nullptr);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return std::nullopt;
    return low;
  }

  uint32_t read(uint8_t* destination, uint32_t count) override {
    DWORD received = 0;
    ReadFile(handle_, destination, count, &received, nullptr);
    return received;
  }

 private:
  HANDLE handle_;
};

}  // namespace

// The buffer grows until the whole path fits: a program kept deep in a folder tree still finds
// its package instead of looking beside a cut-off path.
WideText Win32PackageFiles::programFilePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const auto capacity = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
    if (length == 0) return {};
    if (length < capacity) return textFromBuffer(buffer.data(), length);
    if (capacity >= longestPath) return {};
    buffer.resize(capacity * 2);
  }
}

std::unique_ptr<PackageFile> Win32PackageFiles::openForReading(WideView path) {
  const WideText fullPath = withLongPathPrefix(path);
  const DWORD share = sharing_ == PackageSharing::sharedRead ? FILE_SHARE_READ : 0;
  HANDLE handle = CreateFileW(wideChars(fullPath), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32PackageFile>(handle);
}

WideText withLongPathPrefix(WideView path) {
  if (path.size() < MAX_PATH || path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) {
    return WideText(path);
  }
  if (path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + WideText(path.substr(2));
  if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') return u"\\\\?\\" + WideText(path);
  return WideText(path);  // relative or device paths are left to the platform as they are
}

}  // namespace quarn::win32
