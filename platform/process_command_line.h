// The command line another process was started with.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tarnwick {

// The command line of process `processId` as its process parameters hold it
// (written by its starter before its first instruction runs). Asks for
// PROCESS_QUERY_LIMITED_INFORMATION (ProcessCommandLineInformation, Windows
// 8.1 and later); where that is missing (older Windows, Wine 8), reads it from
// the process environment block with PROCESS_QUERY_INFORMATION and
// PROCESS_VM_READ. Nullopt when it cannot be read: the process is gone, is
// still being made or is ending, or denies the access.
[[nodiscard]] std::optional<std::wstring> ReadProcessCommandLine(DWORD processId);

}  // namespace tarnwick
