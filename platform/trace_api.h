// The event tracing calls of a real-time session: control (start, stop,
// enable a provider) and consumption (open, process, close). Every session
// call needs administrator rights or membership of Performance Log Users;
// the system refuses others with ERROR_ACCESS_DENIED.
#pragma once

#include <windows.h>
#include <evntrace.h>
#include <evntcons.h>

namespace tarnwick {

// Declared by the Windows SDK's evntrace.h (Windows 8 on), missing from
// MinGW's: FlushTimer counts milliseconds instead of seconds. Older Windows
// refuse the session with ERROR_INVALID_PARAMETER.
inline constexpr ULONG kEventTraceUseMsFlushTimer = 0x00000010;

class TraceApi {
 public:
  TraceApi() = default;
  TraceApi(const TraceApi&) = delete;
  TraceApi& operator=(const TraceApi&) = delete;
  virtual ~TraceApi() = default;

  // StartTraceW: ERROR_ALREADY_EXISTS when a session of that name runs (it
  // outlives the process that made it), ERROR_NO_SYSTEM_RESOURCES when the
  // system's sessions are all taken.
  [[nodiscard]] virtual ULONG StartTraceW(TRACEHANDLE& session, const wchar_t* name,
                                          EVENT_TRACE_PROPERTIES& properties) = 0;
  // ControlTraceW: by handle, or by name when session is 0.
  [[nodiscard]] virtual ULONG ControlTraceW(TRACEHANDLE session, const wchar_t* name,
                                            EVENT_TRACE_PROPERTIES& properties, ULONG code) = 0;
  // EnableTraceEx2 with EVENT_CONTROL_CODE_ENABLE_PROVIDER, no time-out, no parameters.
  [[nodiscard]] virtual ULONG EnableProvider(TRACEHANDLE session, const GUID& provider, UCHAR level,
                                             ULONGLONG matchAnyKeyword) = 0;
  // OpenTraceW: INVALID_PROCESSTRACE_HANDLE on failure, with its error in `error`.
  [[nodiscard]] virtual TRACEHANDLE OpenTraceW(EVENT_TRACE_LOGFILEW& logFile, DWORD& error) = 0;
  // ProcessTrace of one handle: blocks, calling the log file's callback on
  // this thread, until the session stops or CloseTrace is called.
  [[nodiscard]] virtual ULONG ProcessTrace(TRACEHANDLE trace) = 0;
  virtual ULONG CloseTrace(TRACEHANDLE trace) = 0;
};

}  // namespace tarnwick
