// Process starts from Windows' own event stream: a real-time event tracing
// session of the program's own with the Microsoft-Windows-Kernel-Process
// provider's ProcessStart events, consumed on a thread of its own.
#pragma once

#include "platform/process_start_source.h"
#include "platform/trace_api.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace tarnwick {

// Microsoft-Windows-Kernel-Process.
inline constexpr GUID kKernelProcessProvider = {
    0x22FB2CD6, 0x0E7B, 0x422B, {0xA0, 0xC7, 0x2F, 0xAD, 0x1F, 0xD0, 0xE7, 0x16}};
// WINEVENT_KEYWORD_PROCESS: process start and stop events.
inline constexpr ULONGLONG kKernelProcessKeyword = 0x10;
inline constexpr USHORT kProcessStartEventId = 1;
// How often the session hands its non-empty buffers to the consumer. The
// system's clock tick (15.6 ms unless a program asked for finer) rounds it
// up; a shorter timer would only wake the logger more often while idle.
inline constexpr ULONG kStartEventFlushTimerMs = 10;

// The ProcessStart payload of every version: ProcessID, CreateTime,
// ParentProcessID, SessionID, (Flags from version 1 on), ImageName. The file
// name is what follows the image name's last backslash. False when the
// payload is too short for the fixed fields.
[[nodiscard]] bool ReadProcessStartEvent(const EVENT_RECORD& record, ProcessStartEvent& event) noexcept;

class EtwProcessStartSource final : public ProcessStartSource {
 public:
  // name: the session's name, the program's own and fixed, so that the next
  // start finds a session left by an instance that crashed.
  EtwProcessStartSource(TraceApi& api, std::wstring name) : api_(api), name_(std::move(name)) {}
  ~EtwProcessStartSource() override { Stop(); }

  StartWatchState Start(ProcessStartSink& sink) override;
  void Stop() noexcept override;

 private:
  static void WINAPI OnEventRecord(PEVENT_RECORD record) noexcept;
  void Consume() noexcept;
  ULONG StartSession();
  void StopSession() noexcept;
  StartWatchState Report(StartWatchState state, DWORD error) noexcept;
  void JoinConsumer() noexcept;

  TraceApi& api_;
  const std::wstring name_;
  std::mutex lock_;  // one Start or Stop at a time
  ProcessStartSink* sink_ = nullptr;
  TRACEHANDLE session_ = 0;
  TRACEHANDLE trace_ = INVALID_PROCESSTRACE_HANDLE;
  std::thread consumer_;
  unique_handle consumerEnded_;  // manual reset, set as the consumer's last act
  std::atomic<bool> stopping_{false};
};

}  // namespace tarnwick
