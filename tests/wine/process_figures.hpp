#pragma once
// What another process of the prefix holds, read from outside it: the soak compares these figures
// between sessions to tell a leak from a steady state.
#include <windows.h>

#include <cstdint>
#include <optional>

namespace quarn::wine {

struct ProcessFigures {
  uint32_t handles = 0;        // entries of the system handle table owned by the process
  uint32_t threads = 0;        // threads of the process
  uint64_t residentBytes = 0;  // working set
};

// Reads the figures of the process with this id; nothing when one of them cannot be read.
std::optional<ProcessFigures> readProcessFigures(DWORD processId);

}  // namespace quarn::wine
