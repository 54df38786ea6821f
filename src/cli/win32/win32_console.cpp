#include "cli/win32/win32_console.hpp"

#include <algorithm>
#include <string>

#include "session/text.hpp"

namespace quarn::cli::win32 {

StandardStream::StandardStream(DWORD standardHandle) : handle_(GetStdHandle(standardHandle)) {
  DWORD mode = 0;
  console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE &&
             GetConsoleMode(handle_, &mode) != FALSE;
}

void StandardStream::write(std::string_view utf8) {
  if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return;  // no such stream
  if (console_) {
    const WideText text = fromUtf8(utf8);
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    size_t done = 0;
    while (done < text.size()) {
      const auto chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(handle_, units + done, chunk, &written, nullptr) || written == 0) return;
      done += written;
    }
    return;
  }
  while (!utf8.empty()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(utf8.size(), 65536));
    DWORD written = 0;
    if (!WriteFile(handle_, utf8.data(), chunk, &written, nullptr) || written == 0) return;
    utf8.remove_prefix(written);
  }
}

}  // namespace quarn::cli::win32
