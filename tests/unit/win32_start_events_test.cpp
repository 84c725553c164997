// The system's own event tracing session for process starts. On Windows, run
// elevated, a child's start arrives with its id, parent, creation time and
// name, and no session is left behind; unelevated, the refusal is named.
// Under Wine the session is made but cannot be consumed: the program must
// stop it and say that this system reports no process starts.
#include "platform/etw_process_starts.h"
#include "platform/win32_system.h"
#include "tests/child/child_processes.h"
#include "tests/unit/recording_start_sink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tarnwick {
namespace {

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Session properties with room for the session's name after them, as the
// tracing calls want them.
struct TraceBlock {
  EVENT_TRACE_PROPERTIES properties;
  wchar_t name[1024];
};

TraceBlock EmptyTraceBlock() {
  TraceBlock block;
  std::memset(&block, 0, sizeof(block));
  block.properties.Wnode.BufferSize = sizeof(block);
  return block;
}

// Whether a session of that name runs, asked of the system by name.
bool SessionRuns(const std::wstring& name) {
  TraceBlock block = EmptyTraceBlock();
  block.properties.LoggerNameOffset = offsetof(TraceBlock, name);
  return ::ControlTraceW(0, name.c_str(), &block.properties, EVENT_TRACE_CONTROL_QUERY) == ERROR_SUCCESS;
}

// A real-time session of that name with nobody reading it, as an instance
// that crashed leaves it behind.
ULONG LeaveSession(const std::wstring& name) {
  TraceBlock block = EmptyTraceBlock();
  block.properties.Wnode.Flags = WNODE_FLAG_TRACED_GUID;
  block.properties.Wnode.ClientContext = 1;
  block.properties.LogFileMode = EVENT_TRACE_REAL_TIME_MODE;
  block.properties.LoggerNameOffset = offsetof(TraceBlock, name);
  TRACEHANDLE session = 0;
  return ::StartTraceW(&session, name.c_str(), &block.properties);
}

TEST(Win32StartEvents, AChildStartArrivesThroughTheSystemSessionOrTheReasonIsNamed) {
  const std::wstring name = L"Tarnwick test starts " + std::to_wstring(::GetCurrentProcessId());
  // On Windows with administrator rights the source finds it and makes it afresh.
  const ULONG left = UnderWine() ? ERROR_NOT_SUPPORTED : LeaveSession(name);
  RecordingStartSink sink;
  EtwProcessStartSource source(Win32TraceApi(), name);
  const StartWatchState state = source.Start(sink);
  if (UnderWine()) {
    // StartTraceW and EnableTraceEx2 succeed, OpenTraceW of a real-time session does not.
    EXPECT_EQ(state, StartWatchState::Unavailable);
    EXPECT_EQ(sink.States().back(), (StartWatchStatus{StartWatchState::Unavailable, ERROR_ACCESS_DENIED}));
    source.Stop();
    return;
  }
  if (state == StartWatchState::NotElevated) {
    EXPECT_EQ(sink.States().back().error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    GTEST_SKIP() << "process starts are watched only with administrator rights";
  }
  ASSERT_EQ(left, static_cast<ULONG>(ERROR_SUCCESS)) << "the leftover session could not be made";
  ASSERT_EQ(state, StartWatchState::Watching) << "error " << sink.States().back().error;
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
