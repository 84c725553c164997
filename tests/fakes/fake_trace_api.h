// A scripted event tracing service: sessions by name, refusals a test sets,
// and a ProcessTrace that delivers the event records a test hands it until
// the session stops or the trace is closed. Records every call in order.
#pragma once

#include "platform/trace_api.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {

// An event record of the kernel's process provider with its payload.
struct FakeEventRecord {
  GUID provider{};
  USHORT id = 0;
  UCHAR version = 0;
  std::vector<std::byte> payload;
};

// The ProcessStart payload: ProcessID, CreateTime, ParentProcessID,
// SessionID, Flags (version 1 on), ImageName with its terminating zero.
[[nodiscard]] FakeEventRecord ProcessStartRecord(DWORD processId, uint64_t createTime, DWORD parentProcessId,
                                                 const std::wstring& imageName, UCHAR version = 2);

class FakeTraceApi final : public TraceApi {
 public:
  // Scripted refusals; 0 lets the call succeed.
  ULONG startError = ERROR_SUCCESS;
  ULONG enableError = ERROR_SUCCESS;
  bool millisecondFlushRefused = false;  // before Windows 8: ERROR_INVALID_PARAMETER
  DWORD openError = ERROR_SUCCESS;       // OpenTraceW fails with it (Wine: ERROR_ACCESS_DENIED)

  // Sessions running, by name (a session outlives the process that made it).
  void AddSession(const std::wstring& name);
  [[nodiscard]] bool HasSession(const std::wstring& name) const;
  // Queues a record for the running ProcessTrace; the session ends when its name is stopped.
  void Deliver(const FakeEventRecord& record);
  // Stops the session from outside, as another administrator could.
  void StopFromOutside(const std::wstring& name);
  // Waits (bounded) until ProcessTrace has delivered every queued record.
  bool WaitDelivered(DWORD timeoutMs);

  [[nodiscard]] std::vector<std::string> Calls() const;

  ULONG StartTraceW(TRACEHANDLE& session, const wchar_t* name, EVENT_TRACE_PROPERTIES& properties) override;
  ULONG ControlTraceW(TRACEHANDLE session, const wchar_t* name, EVENT_TRACE_PROPERTIES& properties,
                      ULONG code) override;
  ULONG EnableProvider(TRACEHANDLE session, const GUID& provider, UCHAR level, ULONGLONG matchAnyKeyword) override;
  TRACEHANDLE OpenTraceW(EVENT_TRACE_LOGFILEW& logFile, DWORD& error) override;
  ULONG ProcessTrace(TRACEHANDLE trace) override;
  ULONG CloseTrace(TRACEHANDLE trace) override;

 private:
  void Record(std::string call);

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::set<std::wstring> sessions_;
  std::vector<std::string> calls_;
  std::deque<FakeEventRecord> records_;
  size_t delivering_ = 0;
  std::wstring tracedName_;  // the session the open trace reads
  EVENT_TRACE_LOGFILEW logFile_{};
  bool traceClosed_ = false;
  TRACEHANDLE nextSession_ = 0x10;
};

}  // namespace tarnwick
