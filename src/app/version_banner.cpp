#include "app/version_banner.hpp"

#include <windows.h>

#include "app/app_state.hpp"
#include "app/version_text.hpp"
#include "app/window_outlets.hpp"
#include "session/messages.hpp"
#include "session/status_reporting.hpp"

namespace quarn::win32 {
namespace {

constexpr DWORD readWaitMilliseconds = 3000;

// Closes a kernel handle at the end of the banner; "none" is either null or
// INVALID_HANDLE_VALUE, as CreateEventW and CreateFileW report failure differently.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The read is overlapped only so that its wait can be bounded. A read still running when the
// bound passes is cancelled and waited for here: the buffer and the request live in the
// caller's frame and must not be written to after it returns.
bool readHead(const OwnedHandle& file, OVERLAPPED& request, ReadmeHead& head) {
  DWORD delivered = 0;
  if (ReadFile(file.get(), head.data(), readmeHeadSize, nullptr, &request)) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  WaitForSingleObject(request.hEvent, readWaitMilliseconds);
  if (GetOverlappedResult(file.get(), &request, &delivered, FALSE)) return true;
  if (GetLastError() == ERROR_IO_INCOMPLETE) {
    CancelIoEx(file.get(), &request);
    GetOverlappedResult(file.get(), &request, &delivered, TRUE);
  }
  return false;
}

}  // namespace

void writeVersionBanner() {
  ReadmeHead head{};
  // ReadMe.txt is looked for in the current directory, not beside the program.
  const OwnedHandle file(CreateFileW(L"ReadMe.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                     nullptr));
  const OwnedHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  OVERLAPPED request{};
  request.hEvent = event.get();

  WindowOutlets outlets(mainWindow);
  const bool headRead = event.valid() && file.valid() && readHead(file, request, head);
  if (!headRead) addStatusLineF(outlets, messages::readmeVersionError);
  // The bytes a short file leaves unread stay zero, so the scan runs over the whole head.
  const WideText version = headRead ? versionTextFromReadme(head) : WideText(u"?");
  addStatusLineF(outlets, messages::versionBanner, {version});
}

}  // namespace quarn::win32
