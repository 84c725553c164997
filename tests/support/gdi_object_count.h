// The number of live GDI objects of a process, read from its GDI handle table
// (the PEB's GdiSharedHandleTable): GetGuiResources answers 0 under Wine,
// whose table holds only the owning process's objects.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>

namespace tarnwick {

// `process` needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ (or is
// GetCurrentProcess()). nullopt when the table cannot be read. On Windows the
// table is shared by every process and this counts them all: compare two
// counts of one process, never a count with a fixed number.
[[nodiscard]] std::optional<size_t> CountLiveGdiObjects(HANDLE process);

}  // namespace tarnwick
