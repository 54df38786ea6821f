#include "platform/win32/dll_search.hpp"

#include <windows.h>

namespace quarn::win32 {

void restrictDllSearchToSystem32() {
  // Windows 7 has SetDefaultDllDirectories only with update KB2533623, so it is looked up
  // rather than imported: a missing import would keep the program from starting at all.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  // A pointer to a function without parameters may stand for any function type.
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
  if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace quarn::win32
