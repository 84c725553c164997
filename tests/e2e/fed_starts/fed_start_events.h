// The test build tarnwick_fed_starts.exe takes its process start events from
// a mailslot that a test or benchmark writes, in place of the system's event
// tracing session (which Wine lacks). One message is one ProcessStartEvent.
#pragma once

#include "platform/process_start_source.h"

#include <windows.h>

#include <string>

namespace tarnwick {

// The mailslot of the test build running as process programProcessId; it
// exists from the program's first worker start on.
inline std::wstring FedStartEventsSlot(DWORD programProcessId) {
  return L"\\\\.\\mailslot\\tarnwick_fed_starts_" + std::to_wstring(programProcessId);
}

}  // namespace tarnwick
