#include "cli/win32/win32_cli_platform.hpp"

#include <cstdio>
#include <vector>

#include "platform/win32/wide_chars.hpp"

namespace quarn::cli::win32 {
namespace {

// Each line goes out in one WriteFile with no buffer of the program's own, so a session that is
// killed leaves every line written so far in the file.
class FileTraceSink : public TraceSink {
 public:
  explicit FileTraceSink(HANDLE file) : file_(file) {}
  ~FileTraceSink() override { CloseHandle(file_); }
  FileTraceSink(const FileTraceSink&) = delete;
  FileTraceSink& operator=(const FileTraceSink&) = delete;
  void writeLine(std::string_view line) override {
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  HANDLE file_;
};

}  // namespace

Win32CliPlatform::Win32CliPlatform() {
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &sessionThread_, 0,
                  FALSE, DUPLICATE_SAME_ACCESS);
}

Win32CliPlatform::~Win32CliPlatform() {
  if (sessionThread_) CloseHandle(sessionThread_);
}

std::unique_ptr<CliMutex> Win32CliPlatform::makeMutex() {
  return std::make_unique<CriticalSectionMutex>();
}

WideText Win32CliPlatform::currentDirectory() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) return quarn::win32::textFromBuffer(buffer.data(), length);
    buffer.resize(length);  // the length asked for, terminator included
  }
}

// The session thread may sit in a synchronous ReadFile on the port (the COM driver waiting for
// the tester's reply): CancelSynchronousIo makes that read return, and it must have returned
// before the port is closed under it.
void Win32CliPlatform::wakeSessionThread() {
  if (sessionThread_) CancelSynchronousIo(sessionThread_);
}

std::unique_ptr<TraceSink> Win32CliPlatform::createTraceFile(const std::string& path) {
  const WideText widePath = fromUtf8(path);
  HANDLE file = CreateFileW(quarn::win32::wideChars(widePath), GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<FileTraceSink>(file);
}

// The DNS host name, as hostname prints it (the NetBIOS name may be cut to 15 characters).
std::optional<std::string> Win32CliPlatform::hostName() {
  std::vector<wchar_t> buffer(64);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto size = static_cast<DWORD>(buffer.size());
    if (GetComputerNameExW(ComputerNameDnsHostname, buffer.data(), &size)) {
      if (size == 0) return std::nullopt;
      return toUtf8(quarn::win32::textFromBuffer(buffer.data(), size));
    }
    if (GetLastError() != ERROR_MORE_DATA) return std::nullopt;
    buffer.resize(size + 1);  // the size asked for, terminator included
  }
  return std::nullopt;
}

const HelpFlavour& Win32CliPlatform::helpFlavour() const {
  static const HelpFlavour flavour{
      "quarn-update",
      "                 COM7 or \\\\.\\COM7; without it, the serial port whose bus-reported\n"
      "                 description contains \"Zentrika QUARN\"\n",
      "  Ctrl-C or Ctrl-Break, or closing the console window, during an update closes the\n"
      "  port and ends the program with exit code 130 at once. If the tester had been\n"
      "  restarted into its bootloader it stays there: run the update again.\n",
      ""};
  return flavour;
}

}  // namespace quarn::cli::win32
