// The system's own event tracing session for process starts. On Windows, run
// elevated, a child's start arrives with its id, parent, creation time and
// name, and no session is left behind; unelevated, the refusal is named.
// Under Wine the session is made but cannot be consumed: the program must
// stop it and say that this system reports no process starts.
#include "platform/etw_process_starts.h"
#include "platform/win32_system.h"
#include "tests/child/child_processes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class LoggingSink final : public ProcessStartSink {
 public:
  void OnProcessStart(const ProcessStartEvent& event) noexcept override {
    std::lock_guard lock(lock_);
    events_.push_back(event);
  }
  void OnWatchState(StartWatchState state, DWORD error) noexcept override {
    std::lock_guard lock(lock_);
    last_ = {state, error};
  }
  [[nodiscard]] bool Find(DWORD processId, ProcessStartEvent& found) const {
    std::lock_guard lock(lock_);
    for (const ProcessStartEvent& event : events_) {
      if (event.processId == processId) {
        found = event;
        return true;
      }
    }
    return false;
  }
  [[nodiscard]] StartWatchStatus Last() const {
    std::lock_guard lock(lock_);
    return last_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<ProcessStartEvent> events_;
  StartWatchStatus last_;
};

// Whether a session of that name runs, asked of the system by name.
bool SessionRuns(const std::wstring& name) {
  struct {
    EVENT_TRACE_PROPERTIES properties;
    wchar_t name[1024];
  } block;
  std::memset(&block, 0, sizeof(block));
  block.properties.Wnode.BufferSize = sizeof(block);
  block.properties.LoggerNameOffset = offsetof(decltype(block), name);
  return ::ControlTraceW(0, name.c_str(), &block.properties, EVENT_TRACE_CONTROL_QUERY) == ERROR_SUCCESS;
}

TEST(Win32StartEvents, AChildStartArrivesThroughTheSystemSessionOrTheReasonIsNamed) {
  const std::wstring name = L"Tarnwick test starts " + std::to_wstring(::GetCurrentProcessId());
  LoggingSink sink;
  EtwProcessStartSource source(Win32TraceApi(), name);
  const StartWatchState state = source.Start(sink);
  if (UnderWine()) {
    // StartTraceW and EnableTraceEx2 succeed, OpenTraceW of a real-time session does not.
    EXPECT_EQ(state, StartWatchState::kUnavailable);
    EXPECT_EQ(sink.Last(), (StartWatchStatus{StartWatchState::kUnavailable, ERROR_ACCESS_DENIED}));
    source.Stop();
    return;
  }
  if (state == StartWatchState::kNotElevated) {
    EXPECT_EQ(sink.Last().error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    GTEST_SKIP() << "process starts are watched only with administrator rights";
  }
  ASSERT_EQ(state, StartWatchState::kWatching) << "error " << sink.Last().error;
  EXPECT_TRUE(SessionRuns(name));
  ChildProcesses children(FindIdleChildProgram());
  const std::wstring child = L"tw_etw_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  const DWORD id = children.Start(child);
  ASSERT_NE(id, 0u) << children.LastFailure();
  const ULONGLONG started = ::GetTickCount64();
  ProcessStartEvent event;
  while (!sink.Find(id, event) && ::GetTickCount64() - started < 10000) ::Sleep(1);
  ASSERT_TRUE(sink.Find(id, event)) << "no start event within 10 s";
  std::printf("start event after %llu ms (flush timer %lu ms)\n", ::GetTickCount64() - started,
              kStartEventFlushTimerMs);
  EXPECT_EQ(event.parentProcessId, ::GetCurrentProcessId());
  EXPECT_STREQ(event.fileName, child.c_str());
  FILETIME created{}, exited{}, kernel{}, user{};
  ASSERT_TRUE(::GetProcessTimes(children.Handle(0), &created, &exited, &kernel, &user));
  EXPECT_EQ(event.createTime, (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime);
  source.Stop();
  EXPECT_FALSE(SessionRuns(name)) << "the session outlives its stop";
}

}  // namespace
}  // namespace tarnwick
