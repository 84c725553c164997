#include "tests/fakes/fake_trace_api.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace tarnwick {
namespace {

constexpr TRACEHANDLE kTraceHandle = 0x7ace;

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; text != nullptr && *text != L'\0'; ++text) narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return narrow;
}

template <typename T>
void Append(std::vector<std::byte>& bytes, const T& value) {
  const size_t at = bytes.size();
  bytes.resize(at + sizeof(value));
  std::memcpy(bytes.data() + at, &value, sizeof(value));
}

}  // namespace

FakeEventRecord ProcessStartRecord(DWORD processId, uint64_t createTime, DWORD parentProcessId,
                                   const std::wstring& imageName, UCHAR version) {
  FakeEventRecord record;
  record.provider = {0x22FB2CD6, 0x0E7B, 0x422B, {0xA0, 0xC7, 0x2F, 0xAD, 0x1F, 0xD0, 0xE7, 0x16}};
  record.id = 1;
  record.version = version;
  Append(record.payload, processId);
  Append(record.payload, createTime);
  Append(record.payload, parentProcessId);
  Append(record.payload, DWORD{1});                    // SessionID
  if (version >= 1) Append(record.payload, DWORD{0});  // Flags
  for (wchar_t unit : imageName) Append(record.payload, unit);
  Append(record.payload, L'\0');
  return record;
}

void FakeTraceApi::Record(std::string call) { calls_.push_back(std::move(call)); }

void FakeTraceApi::AddSession(const std::wstring& name) {
  std::lock_guard lock(lock_);
  sessions_.insert(name);
}

bool FakeTraceApi::HasSession(const std::wstring& name) const {
  std::lock_guard lock(lock_);
  return sessions_.count(name) != 0;
}

void FakeTraceApi::Deliver(const FakeEventRecord& record) {
  std::lock_guard lock(lock_);
  records_.push_back(record);
  changed_.notify_all();
}

void FakeTraceApi::StopFromOutside(const std::wstring& name) {
  std::lock_guard lock(lock_);
  sessions_.erase(name);
  changed_.notify_all();
}

bool FakeTraceApi::WaitDelivered(DWORD timeoutMs) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return records_.empty() && delivering_ == 0; });
}

std::vector<std::string> FakeTraceApi::Calls() const {
  std::lock_guard lock(lock_);
  return calls_;
}

ULONG FakeTraceApi::StartTraceW(TRACEHANDLE& session, const wchar_t* name, EVENT_TRACE_PROPERTIES& properties) {
  std::lock_guard lock(lock_);
  char text[160];
  std::snprintf(text, sizeof(text), "StartTraceW %s mode=0x%lx flush=%lu buffer=%lu", Narrow(name).c_str(),
                properties.LogFileMode, properties.FlushTimer, properties.Wnode.BufferSize);
  Record(text);
  if (sessions_.count(name) != 0) return ERROR_ALREADY_EXISTS;
  if (startError != ERROR_SUCCESS) return startError;
  if (millisecondFlushRefused && (properties.LogFileMode & kEventTraceUseMsFlushTimer) != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  sessions_.insert(name);
  session = nextSession_++;
  return ERROR_SUCCESS;
}

ULONG FakeTraceApi::ControlTraceW(TRACEHANDLE session, const wchar_t* name, EVENT_TRACE_PROPERTIES&, ULONG code) {
  std::lock_guard lock(lock_);
  char text[160];
  std::snprintf(text, sizeof(text), "ControlTraceW %s %s %lu", session == 0 ? "0" : "session", Narrow(name).c_str(),
                code);
  Record(text);
  if (code != EVENT_TRACE_CONTROL_STOP) return ERROR_INVALID_PARAMETER;
  if (name == nullptr || sessions_.erase(name) == 0) return ERROR_WMI_INSTANCE_NOT_FOUND;
  changed_.notify_all();
  return ERROR_SUCCESS;
}

ULONG FakeTraceApi::EnableProvider(TRACEHANDLE, const GUID& provider, UCHAR level, ULONGLONG matchAnyKeyword) {
  std::lock_guard lock(lock_);
  char text[160];
  std::snprintf(text, sizeof(text), "EnableProvider %08lX-%04X level=%u keywords=0x%llx", provider.Data1,
                provider.Data2, level, static_cast<unsigned long long>(matchAnyKeyword));
  Record(text);
  return enableError;
}

TRACEHANDLE FakeTraceApi::OpenTraceW(EVENT_TRACE_LOGFILEW& logFile, DWORD& error) {
  std::lock_guard lock(lock_);
  char text[160];
  std::snprintf(text, sizeof(text), "OpenTraceW %s mode=0x%lx", Narrow(logFile.LoggerName).c_str(),
                logFile.ProcessTraceMode);
  Record(text);
  error = openError;
  if (error == ERROR_SUCCESS && sessions_.count(logFile.LoggerName) == 0) error = ERROR_WMI_INSTANCE_NOT_FOUND;
  if (error != ERROR_SUCCESS) return INVALID_PROCESSTRACE_HANDLE;
  logFile_ = logFile;
  tracedName_ = logFile.LoggerName;
  traceClosed_ = false;
  return kTraceHandle;
}

ULONG FakeTraceApi::ProcessTrace(TRACEHANDLE trace) {
  std::unique_lock lock(lock_);
  Record("ProcessTrace");
  if (trace != kTraceHandle) return ERROR_INVALID_HANDLE;
  while (true) {
    changed_.wait(lock, [this] { return !records_.empty() || traceClosed_ || sessions_.count(tracedName_) == 0; });
    if (records_.empty()) return traceClosed_ ? ERROR_CTX_CLOSE_PENDING : ERROR_SUCCESS;
    FakeEventRecord fake = std::move(records_.front());
    records_.pop_front();
    ++delivering_;
    EVENT_RECORD record;
    std::memset(&record, 0, sizeof(record));
    record.EventHeader.ProviderId = fake.provider;
    record.EventHeader.EventDescriptor.Id = fake.id;
    record.EventHeader.EventDescriptor.Version = fake.version;
    record.UserData = fake.payload.data();
    record.UserDataLength = static_cast<USHORT>(fake.payload.size());
    record.UserContext = logFile_.Context;
    const PEVENT_RECORD_CALLBACK callback = logFile_.EventRecordCallback;
    lock.unlock();
    callback(&record);
    lock.lock();
    --delivering_;
    changed_.notify_all();
  }
}

ULONG FakeTraceApi::CloseTrace(TRACEHANDLE) {
  std::lock_guard lock(lock_);
  Record("CloseTrace");
  traceClosed_ = true;
  changed_.notify_all();
  return ERROR_SUCCESS;
}

}  // namespace tarnwick
