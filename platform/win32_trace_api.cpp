// The event tracing calls of advapi32, as they are.
#include "platform/win32_system.h"

namespace tarnwick {
namespace {

class Win32Trace final : public TraceApi {
 public:
  ULONG StartTraceW(TRACEHANDLE& session, const wchar_t* name, EVENT_TRACE_PROPERTIES& properties) override {
    return ::StartTraceW(&session, name, &properties);
  }
  ULONG ControlTraceW(TRACEHANDLE session, const wchar_t* name, EVENT_TRACE_PROPERTIES& properties,
                      ULONG code) override {
    return ::ControlTraceW(session, name, &properties, code);
  }
  ULONG EnableProvider(TRACEHANDLE session, const GUID& provider, UCHAR level, ULONGLONG matchAnyKeyword) override {
    return ::EnableTraceEx2(session, &provider, EVENT_CONTROL_CODE_ENABLE_PROVIDER, level, matchAnyKeyword, 0, 0,
                            nullptr);
  }
  TRACEHANDLE OpenTraceW(EVENT_TRACE_LOGFILEW& logFile, DWORD& error) override {
    const TRACEHANDLE trace = ::OpenTraceW(&logFile);
    error = trace == INVALID_PROCESSTRACE_HANDLE ? ::GetLastError() : ERROR_SUCCESS;
    return trace;
  }
  ULONG ProcessTrace(TRACEHANDLE trace) override { return ::ProcessTrace(&trace, 1, nullptr, nullptr); }
  ULONG CloseTrace(TRACEHANDLE trace) override { return ::CloseTrace(trace); }
};

}  // namespace

TraceApi& Win32TraceApi() {
  static Win32Trace api;
  return api;
}

}  // namespace tarnwick
