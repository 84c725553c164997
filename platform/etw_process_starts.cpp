#include "platform/etw_process_starts.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <system_error>
#include <utility>

namespace tarnwick {
namespace {

// How long a stop waits for the consumer thread, once the session is gone.
constexpr DWORD kConsumerJoinTimeoutMs = 1000;
// Room for the session's name, which the system writes back on a stop.
constexpr size_t kLoggerNameCapacity = 1024;

// The properties block: the fixed part, then the name the system fills in.
struct SessionProperties {
  EVENT_TRACE_PROPERTIES properties;
  wchar_t loggerName[kLoggerNameCapacity];
};

// A real-time session with buffers small enough for a few hundred starts a
// second; millisecondFlush false: the flush timer in seconds, the shortest
// older Windows allow.
SessionProperties MakeProperties(bool millisecondFlush) {
  SessionProperties block;
  std::memset(&block, 0, sizeof(block));
  EVENT_TRACE_PROPERTIES& properties = block.properties;
  properties.Wnode.BufferSize = sizeof(block);
  properties.Wnode.Flags = WNODE_FLAG_TRACED_GUID;
  properties.Wnode.ClientContext = 1;  // time stamps from the performance counter
  properties.BufferSize = 16;          // KB
  properties.MinimumBuffers = 4;
  properties.MaximumBuffers = 32;
  properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE | (millisecondFlush ? kEventTraceUseMsFlushTimer : 0);
  properties.FlushTimer = millisecondFlush ? kStartEventFlushTimerMs : 1;
  properties.LoggerNameOffset = offsetof(SessionProperties, loggerName);
  return block;
}

}  // namespace

bool ReadProcessStartEvent(const EVENT_RECORD& record, ProcessStartEvent& event) noexcept {
  const auto* data = static_cast<const std::byte*>(record.UserData);
  const size_t size = record.UserDataLength;
  constexpr size_t kFixedFields = 16;  // ProcessID, CreateTime, ParentProcessID
  if (data == nullptr || size < kFixedFields) return false;
  std::memcpy(&event.processId, data, sizeof(event.processId));
  std::memcpy(&event.createTime, data + 4, sizeof(event.createTime));
  std::memcpy(&event.parentProcessId, data + 12, sizeof(event.parentProcessId));
  event.fileName[0] = L'\0';
  // After SessionID, and after Flags from version 1 on.
  const size_t nameAt = record.EventHeader.EventDescriptor.Version == 0 ? 20 : 24;
  if (nameAt >= size) return true;
  const size_t units = (size - nameAt) / sizeof(wchar_t);
  size_t nameStart = 0;
  size_t nameEnd = 0;
  for (; nameEnd < units; ++nameEnd) {
    wchar_t unit;
    std::memcpy(&unit, data + nameAt + nameEnd * sizeof(wchar_t), sizeof(unit));
    if (unit == L'\0') break;
    if (unit == L'\\') nameStart = nameEnd + 1;
  }
  const size_t length = std::min(nameEnd - nameStart, kStartEventNameCapacity - 1);
  std::memcpy(event.fileName, data + nameAt + nameStart * sizeof(wchar_t), length * sizeof(wchar_t));
  event.fileName[length] = L'\0';
  return true;
}

ULONG EtwProcessStartSource::StartSession() {
  SessionProperties block = MakeProperties(true);
  ULONG status = api_.StartTraceW(session_, name_.c_str(), block.properties);
  if (status == ERROR_ALREADY_EXISTS) {
    // Left by an instance of this session that ended without stopping it
    // (only one instance runs per session): stopped, and made afresh.
    SessionProperties left = MakeProperties(true);
    (void)api_.ControlTraceW(0, name_.c_str(), left.properties, EVENT_TRACE_CONTROL_STOP);
    block = MakeProperties(true);
    status = api_.StartTraceW(session_, name_.c_str(), block.properties);
  }
  if (status == ERROR_INVALID_PARAMETER) {
    // Before Windows 8 the flush timer counts seconds only.
    block = MakeProperties(false);
    status = api_.StartTraceW(session_, name_.c_str(), block.properties);
  }
  if (status != ERROR_SUCCESS) session_ = 0;
  return status;
}

void EtwProcessStartSource::StopSession() noexcept {
  if (session_ == 0) return;
  SessionProperties block = MakeProperties(true);
  (void)api_.ControlTraceW(session_, name_.c_str(), block.properties, EVENT_TRACE_CONTROL_STOP);
  session_ = 0;
}

StartWatchState EtwProcessStartSource::Report(StartWatchState state, DWORD error) noexcept {
  if (sink_ != nullptr) sink_->OnWatchState(state, error);
  return state;
}

StartWatchState EtwProcessStartSource::Start(ProcessStartSink& sink) {
  std::lock_guard lock(lock_);
  if (consumer_.joinable()) {
    if (::WaitForSingleObject(consumerEnded_.get(), 0) != WAIT_OBJECT_0) return StartWatchState::Watching;
    JoinConsumer();  // ended from outside: a new session is made below
  }
  sink_ = &sink;
  stopping_.store(false);
  const ULONG started = StartSession();
  if (started != ERROR_SUCCESS) {
    return Report(started == ERROR_ACCESS_DENIED ? StartWatchState::NotElevated : StartWatchState::NoSession, started);
  }
  const ULONG enabled =
      api_.EnableProvider(session_, kKernelProcessProvider, TRACE_LEVEL_INFORMATION, kKernelProcessKeyword);
  if (enabled != ERROR_SUCCESS) {
    StopSession();
    return Report(enabled == ERROR_ACCESS_DENIED ? StartWatchState::NotElevated : StartWatchState::Unavailable,
                  enabled);
  }
  EVENT_TRACE_LOGFILEW logFile;
  std::memset(&logFile, 0, sizeof(logFile));
  logFile.LoggerName = const_cast<wchar_t*>(name_.c_str());
  logFile.ProcessTraceMode = PROCESS_TRACE_MODE_REAL_TIME | PROCESS_TRACE_MODE_EVENT_RECORD;
  logFile.EventRecordCallback = OnEventRecord;
  logFile.Context = this;
  DWORD openError = ERROR_SUCCESS;
  trace_ = api_.OpenTraceW(logFile, openError);
  if (trace_ == INVALID_PROCESSTRACE_HANDLE) {
    // Wine makes the session but has no real-time consumer.
    StopSession();
    return Report(StartWatchState::Unavailable, openError);
  }
  consumerEnded_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  try {
    if (!consumerEnded_) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
    consumer_ = std::thread(&EtwProcessStartSource::Consume, this);
  } catch (const std::system_error&) {
    (void)api_.CloseTrace(trace_);
    trace_ = INVALID_PROCESSTRACE_HANDLE;
    StopSession();
    return Report(StartWatchState::Unavailable, ERROR_NOT_ENOUGH_MEMORY);
  }
  return Report(StartWatchState::Watching, ERROR_SUCCESS);
}

void EtwProcessStartSource::Consume() noexcept {
  // Returns when the session stops or the trace is closed.
  const ULONG status = api_.ProcessTrace(trace_);
  if (!stopping_.load()) {
    // Stopped from outside, or the delivery failed: the pass carries on alone.
    sink_->OnWatchState(StartWatchState::Ended, status);
  }
  ::SetEvent(consumerEnded_.get());
}

void WINAPI EtwProcessStartSource::OnEventRecord(PEVENT_RECORD record) noexcept {
  auto* self = static_cast<EtwProcessStartSource*>(record->UserContext);
  if (self == nullptr || self->stopping_.load(std::memory_order_relaxed)) return;
  const EVENT_HEADER& header = record->EventHeader;
  // The session's own header event and the provider's stop events pass here too.
  if (header.EventDescriptor.Id != kProcessStartEventId || !::IsEqualGUID(header.ProviderId, kKernelProcessProvider)) {
    return;
  }
  ProcessStartEvent event;
  if (ReadProcessStartEvent(*record, event)) self->sink_->OnProcessStart(event);
}

void EtwProcessStartSource::JoinConsumer() noexcept {
  if (!consumer_.joinable()) return;
  if (::WaitForSingleObject(consumerEnded_.get(), kConsumerJoinTimeoutMs) != WAIT_OBJECT_0 &&
      trace_ != INVALID_PROCESSTRACE_HANDLE) {
    // Closing the trace ends a ProcessTrace that the stop did not end.
    (void)api_.CloseTrace(std::exchange(trace_, INVALID_PROCESSTRACE_HANDLE));
  }
  if (::WaitForSingleObject(consumerEnded_.get(), kConsumerJoinTimeoutMs) == WAIT_OBJECT_0) {
    consumer_.join();
  } else {
    // Still inside the system's call: it ends with the process.
    consumer_.detach();
  }
  if (trace_ != INVALID_PROCESSTRACE_HANDLE) (void)api_.CloseTrace(std::exchange(trace_, INVALID_PROCESSTRACE_HANDLE));
  consumerEnded_.reset();
}

void EtwProcessStartSource::Stop() noexcept {
  std::lock_guard lock(lock_);
  stopping_.store(true);
  // Stopping the session ends ProcessTrace once the last buffers are delivered.
  StopSession();
  JoinConsumer();
  // The sink stays: a consumer still inside the system's call reads it, and
  // finds stopping_ set.
  if (sink_ != nullptr) sink_->OnWatchState(StartWatchState::Off, ERROR_SUCCESS);
}

}  // namespace tarnwick
