#include "process_figures.hpp"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace quarn::wine {
namespace {

constexpr NTSTATUS infoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// The per-process handle count reads 0 under Wine, and /proc shows only the host descriptors that
// Wine caches, not events, threads or registry keys; the system handle table lists every handle
// with its owner. Its owner field is 16 bits wide on Windows (Wine gives it 32, the same bytes
// on a little-endian machine), so only the low 16 bits of the id are compared.
std::optional<uint32_t> countHandles(DWORD processId) {
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == infoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status < 0) return std::nullopt;
    break;
  }
  const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  uint32_t count = 0;
  for (ULONG i = 0; i < table->Count; ++i) {
    if ((table->Handle[i].OwnerPid & 0xFFFFu) == (processId & 0xFFFFu)) ++count;
  }
  return count;
}

std::optional<uint32_t> countThreads(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  uint32_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == processId) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

std::optional<uint64_t> residentBytes(DWORD processId) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return std::nullopt;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  const BOOL read = GetProcessMemoryInfo(process, &counters, sizeof(counters));
  CloseHandle(process);
  if (!read) return std::nullopt;
  return counters.WorkingSetSize;
}

}  // namespace

std::optional<ProcessFigures> readProcessFigures(DWORD processId) {
  const std::optional<uint32_t> handles = countHandles(processId);
  const std::optional<uint32_t> threads = countThreads(processId);
  const std::optional<uint64_t> resident = residentBytes(processId);
  if (!handles || !threads || !resident) return std::nullopt;
  return ProcessFigures{*handles, *threads, *resident};
}

}  // namespace quarn::wine
