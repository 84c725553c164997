// Placing a listed process when it starts: the event tracing session that
// reports starts (against a scripted tracing service), the bounded queue,
// and the worker's placement of each start through the pass's own code.
#include "enforce/worker.h"

#include "tests/fakes/fake_worker_settings.h"
#include "platform/etw_process_starts.h"
#include "tests/fakes/fake_process_start_source.h"
#include "tests/fakes/recording_diagnostics.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/fake_trace_api.h"
#include "tests/unit/recording_start_sink.h"
#include "tests/unit/process_result_rows.h"
#include "ui/start_watch_label.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const wchar_t* kSessionName = L"Starts";

// --- The event tracing session ----------------------------------------------

class EtwSourceTest : public ::testing::Test {
 protected:
  FakeTraceApi trace_;
  RecordingStartSink sink_;
  EtwProcessStartSource source_{trace_, kSessionName};
};

TEST_F(EtwSourceTest, WatchesThroughARealTimeSessionOfTheKernelProcessProviderUntilStopped) {
  ASSERT_EQ(source_.Start(sink_), StartWatchState::Watching);
  EXPECT_EQ(source_.Start(sink_), StartWatchState::Watching) << "a second start keeps the session";
  trace_.Deliver(ProcessStartRecord(4242, 0x1D0000000000123, 77, L"\\Device\\HarddiskVolume3\\VS\\bin\\CL.exe"));
  ASSERT_TRUE(trace_.WaitDelivered(10000));
  const std::vector<ProcessStartEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].processId, 4242u);
  EXPECT_EQ(events[0].parentProcessId, 77u);
  EXPECT_EQ(events[0].createTime, 0x1D0000000000123u);
  EXPECT_STREQ(events[0].fileName, L"CL.exe");

  source_.Stop();
  EXPECT_FALSE(trace_.HasSession(kSessionName));
  EXPECT_THAT(trace_.Calls(),
              ElementsAre("StartTraceW Starts mode=0x110 flush=10 buffer=2168",
                          "EnableProvider 22FB2CD6-0E7B level=4 keywords=0x10", "OpenTraceW Starts mode=0x10000100",
                          "ProcessTrace", "ControlTraceW session Starts 1", "CloseTrace"));
  EXPECT_THAT(sink_.States(),
              ElementsAre(StartWatchStatus{StartWatchState::Watching, 0}, StartWatchStatus{StartWatchState::Off, 0}));
  source_.Stop();
  EXPECT_EQ(trace_.Calls().size(), 6u) << "a second stop does nothing";
}

TEST_F(EtwSourceTest, OnlyProcessStartsOfTheKernelProcessProviderReachTheSink) {
  ASSERT_EQ(source_.Start(sink_), StartWatchState::Watching);
  FakeEventRecord stop = ProcessStartRecord(1, 1, 1, L"stop.exe");
  stop.id = 2;
  FakeEventRecord other = ProcessStartRecord(2, 1, 1, L"other.exe");
  other.provider.Data1 ^= 1;
  FakeEventRecord cut = ProcessStartRecord(3, 1, 1, L"cut.exe");
  cut.payload.resize(15);  // one byte short of the parent id
  trace_.Deliver(stop);
  trace_.Deliver(other);
  trace_.Deliver(cut);
  trace_.Deliver(ProcessStartRecord(4, 1, 1, L"kept.exe"));
  ASSERT_TRUE(trace_.WaitDelivered(10000));
  const std::vector<ProcessStartEvent> events = sink_.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].processId, 4u);
}

TEST_F(EtwSourceTest, SessionLeftByACrashedInstanceIsStoppedAndMadeAfresh) {
  trace_.AddSession(kSessionName);
  ASSERT_EQ(source_.Start(sink_), StartWatchState::Watching);
  const std::vector<std::string> calls = trace_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].rfind("StartTraceW Starts", 0), 0u);
  EXPECT_EQ(calls[1], "ControlTraceW 0 Starts 1");
  EXPECT_EQ(calls[2].rfind("StartTraceW Starts", 0), 0u);
  source_.Stop();
  EXPECT_FALSE(trace_.HasSession(kSessionName));
}

TEST_F(EtwSourceTest, OlderWindowsGetTheShortestFlushTheyAllow) {
  trace_.millisecondFlushRefused = true;
  ASSERT_EQ(source_.Start(sink_), StartWatchState::Watching);
  const std::vector<std::string> calls = trace_.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], "StartTraceW Starts mode=0x110 flush=10 buffer=2168");
  EXPECT_EQ(calls[1], "StartTraceW Starts mode=0x100 flush=1 buffer=2168");
}

TEST_F(EtwSourceTest, EachRefusalSaysWhyAndLeavesNoSession) {
  struct Case {
    const char* what;
    ULONG startError;
    ULONG enableError;
    DWORD openError;
    StartWatchStatus expected;
    size_t calls;  // made before giving up, the session's stop included
  };
  const Case cases[] = {
      {"not elevated", ERROR_ACCESS_DENIED, 0, 0, {StartWatchState::NotElevated, ERROR_ACCESS_DENIED}, 1},
      {"all sessions taken",
       ERROR_NO_SYSTEM_RESOURCES,
       0,
       0,
       {StartWatchState::NoSession, ERROR_NO_SYSTEM_RESOURCES},
       1},
      {"provider refused", 0, ERROR_ACCESS_DENIED, 0, {StartWatchState::NotElevated, ERROR_ACCESS_DENIED}, 3},
      {"provider missing", 0, ERROR_INVALID_PARAMETER, 0, {StartWatchState::Unavailable, ERROR_INVALID_PARAMETER}, 3},
      {"no real-time consumer (Wine)",
       0,
       0,
       ERROR_ACCESS_DENIED,
       {StartWatchState::Unavailable, ERROR_ACCESS_DENIED},
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeTraceApi trace;
    trace.startError = c.startError;
    trace.enableError = c.enableError;
    trace.openError = c.openError;
    RecordingStartSink sink;
    EtwProcessStartSource source(trace, kSessionName);
    EXPECT_EQ(source.Start(sink), c.expected.state);
    EXPECT_THAT(sink.States(), ElementsAre(c.expected));
    EXPECT_FALSE(trace.HasSession(kSessionName));
    EXPECT_EQ(trace.Calls().size(), c.calls);
    EXPECT_THAT(trace.Calls(), ::testing::Not(::testing::Contains("ProcessTrace")));
  }
}

TEST_F(EtwSourceTest, ASessionStoppedFromOutsideIsReportedAndMadeAgainAtTheNextStart) {
  ASSERT_EQ(source_.Start(sink_), StartWatchState::Watching);
  trace_.StopFromOutside(kSessionName);
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (sink_.States().back().state != StartWatchState::Ended && ::GetTickCount64() < deadline) ::Sleep(5);
  EXPECT_EQ(sink_.States().back(), (StartWatchStatus{StartWatchState::Ended, ERROR_SUCCESS}));
  EXPECT_EQ(source_.Start(sink_), StartWatchState::Watching);
  EXPECT_TRUE(trace_.HasSession(kSessionName));
  source_.Stop();
  EXPECT_FALSE(trace_.HasSession(kSessionName));
}

TEST(ProcessStartPayload, EveryVersionAndEveryCutIsReadWithinItsBounds) {
  struct Case {
    const char* what;
    FakeEventRecord record;
    size_t cutTo;  // bytes kept of the payload (0: all)
    bool read;
    const wchar_t* fileName;
  };
  FakeEventRecord unterminated = ProcessStartRecord(9, 1, 1, L"C:\\tools\\unterminated.exe", 1);
  unterminated.payload.resize(unterminated.payload.size() - 2);
  const std::wstring longName = L"\\Device\\x\\" + std::wstring(400, L'n') + L".exe";
  const Case cases[] = {
      {"version 0: the name follows the session id", ProcessStartRecord(9, 1, 1, L"\\D\\v0.exe", 0), 0, true,
       L"v0.exe"},
      {"version 1: the flags come first", ProcessStartRecord(9, 1, 1, L"\\D\\v1.exe", 1), 0, true, L"v1.exe"},
      {"no folder", ProcessStartRecord(9, 1, 1, L"bare.exe", 3), 0, true, L"bare.exe"},
      {"no name at all", ProcessStartRecord(9, 1, 1, L"", 2), 24, true, L""},
      {"name without its zero", unterminated, 0, true, L"unterminated.exe"},
      {"odd byte at the end", ProcessStartRecord(9, 1, 1, L"\\D\\odd.exe", 2), 0, true, L"odd.exe"},
      {"name cut to the capacity", ProcessStartRecord(9, 1, 1, longName, 2), 0, true, nullptr},
      {"fixed fields only", ProcessStartRecord(9, 1, 1, L"x.exe", 2), 16, true, L""},
      {"short of the fixed fields", ProcessStartRecord(9, 1, 1, L"x.exe", 2), 15, false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::byte> payload = c.record.payload;
    if (c.cutTo != 0) payload.resize(c.cutTo);
    if (std::string(c.what) == "odd byte at the end") payload.push_back(std::byte{0x41});
    EVENT_RECORD record;
    std::memset(&record, 0, sizeof(record));
    record.EventHeader.EventDescriptor.Version = c.record.version;
    record.UserData = payload.data();
    record.UserDataLength = static_cast<USHORT>(payload.size());
    ProcessStartEvent event;
    ASSERT_EQ(ReadProcessStartEvent(record, event), c.read);
    if (!c.read) continue;
    EXPECT_EQ(event.processId, 9u);
    if (c.fileName != nullptr) {
      EXPECT_STREQ(event.fileName, c.fileName);
    } else {
      EXPECT_EQ(std::wcslen(event.fileName), kStartEventNameCapacity - 1);
    }
  }
}

// --- The queue --------------------------------------------------------------

TEST(ProcessStartQueueTest, HoldsItsCapacityInOrderAndDropsWhatFindsItFull) {
  ProcessStartQueue queue(4);
  ASSERT_NE(queue.ReadyEvent(), nullptr);
  EXPECT_EQ(::WaitForSingleObject(queue.ReadyEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  for (DWORD id = 1; id <= 6; ++id) queue.OnProcessStart(StartEventOf(id, L"a.exe"));
  EXPECT_EQ(::WaitForSingleObject(queue.ReadyEvent(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(queue.Dropped(), 2u);
  std::vector<ProcessStartEvent> taken;
  queue.TakeAll(taken);
  std::vector<DWORD> ids;
  ids.reserve(taken.size());
  for (const ProcessStartEvent& event : taken) ids.push_back(event.processId);
  EXPECT_THAT(ids, ElementsAre(1u, 2u, 3u, 4u));
  EXPECT_EQ(::WaitForSingleObject(queue.ReadyEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // Room again, and the ring wraps.
  for (DWORD id = 7; id <= 9; ++id) queue.OnProcessStart(StartEventOf(id, L"a.exe"));
  queue.TakeAll(taken);
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[2].processId, 9u);
}

// --- Placement at start -----------------------------------------------------

class StartPlacementTest : public ::testing::Test {
 protected:
  StartPlacementTest() : control_(0xF0F, system_, system_, system_) {
    system_.activeProcessorMask = 0xFF;
    settings_.SetMethods(MethodSwitches{true, true, false});
    source_.Start(control_.startEvents);
  }
  size_t Place(const std::vector<std::wstring>& patterns) {
    PatternList list(patterns, system_);
    return PlaceStartedProcesses(control_, list, settings_);
  }
  PassResults Shown() {
    PassResults results;
    control_.results.CopyLatest(results);
    return results;
  }

  FakeSystem system_;
  FakeWorkerSettings settings_;
  WorkerControl control_;
  FakeProcessStartSource source_;
};

TEST_F(StartPlacementTest, AListedProcessIsPlacedByItsStartEventAndShownWithThePass) {
  system_.processes = {{42, L"cl.exe", L"C:\\VS\\bin\\cl.exe", 2, true, true, false, 7}};
  ASSERT_TRUE(source_.Deliver(StartEventOf(42, L"cl.exe", 100, 7)));
  EXPECT_EQ(Place({L"link.exe", L"C:\\VS\\*"}), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessInformation 42"), 1u);
  EXPECT_THAT(system_.CallsStartingWith("SetProcessAffinityMask"), ElementsAre("SetProcessAffinityMask 42 0xf"));
  EXPECT_THAT(Shown().processes,
              ElementsAre(Row(42, L"cl.exe", L"C:\\VS\\*", L"C:\\VS\\bin\\cl.exe", {kPlaced, kPlaced, kNotRun})));
  EXPECT_EQ(system_.OpenHandles(), 0u);
  // The pass that follows finds the path known and places the process as ever.
  system_.ClearCalls();
  PatternList list({L"link.exe", L"C:\\VS\\*"}, system_);
  ASSERT_TRUE(EnforcementPass(control_, list, settings_));
  EXPECT_EQ(system_.CountCalls("QueryFullProcessImageNameW"), 0u);
  EXPECT_EQ(system_.CountCalls("SetProcessAffinityMask 42"), 1u);
  EXPECT_EQ(Shown().startWatch, (StartWatchStatus{StartWatchState::Watching, 0}));
}

TEST_F(StartPlacementTest, UnlistedEndedAndNamelessProcessesAreLeftToThePass) {
  system_.processes = {{42, L"notepad.exe", L"C:\\Windows\\notepad.exe"}};
  source_.Deliver(StartEventOf(42, L"notepad.exe"));
  source_.Deliver(StartEventOf(43, L"cl.exe"));  // ended before its event: no process 43
  source_.Deliver(StartEventOf(44, L""));
  EXPECT_EQ(Place({L"cl.exe"}), 0u);
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x200"), 0u);
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot"), 0u);
  EXPECT_THAT(Shown().processes, IsEmpty());
  EXPECT_EQ(Shown().pass, 0u) << "nothing was published";
}

TEST_F(StartPlacementTest, ARepeatedEventPlacesOnceAndANewProcessOnTheIdAgain) {
  system_.processes = {{42, L"cl.exe", L"C:\\VS\\cl.exe"}};
  source_.Deliver(StartEventOf(42, L"cl.exe", 100));
  source_.Deliver(StartEventOf(42, L"cl.exe", 100));
  EXPECT_EQ(Place({L"cl.exe"}), 1u);
  source_.Deliver(StartEventOf(42, L"cl.exe", 100));
  EXPECT_EQ(Place({L"cl.exe"}), 0u);
  source_.Deliver(StartEventOf(42, L"cl.exe", 200));  // the id reused by the next compiler
  EXPECT_EQ(Place({L"cl.exe"}), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessAffinityMask 42"), 2u);
  EXPECT_EQ(Shown().processes.size(), 1u) << "one row per process";
}

TEST_F(StartPlacementTest, ARefusalAtStartIsToldOnceAndNotAgainByThePass) {
  RecordingDiagnostics diagnostics;
  system_.processes = {{42, L"cl.exe", L"C:\\VS\\cl.exe"}};
  system_.processes[0].affinityError = ERROR_ACCESS_DENIED;
  source_.Deliver(StartEventOf(42, L"cl.exe", 100));
  EXPECT_EQ(Place({L"cl.exe"}), 1u);
  const std::vector<std::wstring> told = {L"placement refused: cl.exe (pid 42) CPU affinity: error 5"};
  EXPECT_EQ(diagnostics.Texts(), told) << "told at its start, not a pass later";
  PatternList list({L"cl.exe"}, system_);
  ASSERT_TRUE(EnforcementPass(control_, list, settings_));
  EXPECT_EQ(diagnostics.Texts(), told);
}

TEST_F(StartPlacementTest, StartsCostNoThreadSnapshotAndNoSettingsReadAfterAPass) {
  for (DWORD id = 10; id < 20; ++id) system_.processes.push_back({id, L"cl.exe", L"C:\\VS\\cl.exe"});
  PatternList list({L"cl.exe"}, system_);
  ASSERT_TRUE(EnforcementPass(control_, list, settings_));
  const int reads = settings_.Reads();
  system_.ClearCalls();
  for (DWORD id = 10; id < 20; ++id) source_.Deliver(StartEventOf(id, L"cl.exe"));
  EXPECT_EQ(PlaceStartedProcesses(control_, list, settings_), 10u);
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot"), 0u);
  EXPECT_EQ(system_.CountCalls("SetProcessInformation"), 10u);
  EXPECT_EQ(settings_.Reads(), reads);
  // A switch changed in the menu reaches the starts with the next pass.
  settings_.SetMethods(MethodSwitches{false, false, true});
  ASSERT_TRUE(EnforcementPass(control_, list, settings_));
  system_.ClearCalls();
  source_.Deliver(StartEventOf(10, L"cl.exe", 2));
  EXPECT_EQ(PlaceStartedProcesses(control_, list, settings_), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessInformation"), 0u);
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x2000 10"), 1u) << "the CPU set method ran";
}

TEST_F(StartPlacementTest, AStormBeyondTheQueueIsDroppedAndPlacedByThePass) {
  const DWORD storm = static_cast<DWORD>(kStartQueueCapacity) + 44;
  for (DWORD id = 1000; id < 1000 + storm; ++id) system_.processes.push_back({id, L"cl.exe", L"C:\\VS\\cl.exe"});
  for (DWORD id = 1000; id < 1000 + storm; ++id) source_.Deliver(StartEventOf(id, L"cl.exe"));
  EXPECT_EQ(control_.startEvents.Dropped(), 44u);
  EXPECT_EQ(Place({L"cl.exe"}), kStartQueueCapacity);
  EXPECT_EQ(Place({L"cl.exe"}), 0u) << "the queue is empty";
  system_.ClearCalls();
  PatternList list({L"cl.exe"}, system_);
  ASSERT_TRUE(EnforcementPass(control_, list, settings_));
  EXPECT_EQ(system_.CountCalls("SetProcessAffinityMask"), storm) << "the pass remains the guarantee";
}

TEST_F(StartPlacementTest, WithoutASessionThePassPlacesAloneAndSaysWhy) {
  FakeProcessStartSource refused;
  refused.startState = StartWatchState::NoSession;
  refused.startError = ERROR_NO_SYSTEM_RESOURCES;
  FakeSystem system;
  WorkerControl control(0xF0F, system, system, system);
  refused.Start(control.startEvents);
  system.processes = {{42, L"cl.exe", L"C:\\VS\\cl.exe"}};
  EXPECT_FALSE(refused.Deliver(StartEventOf(42, L"cl.exe")));
  PatternList list({L"cl.exe"}, system);
  EXPECT_EQ(PlaceStartedProcesses(control, list, settings_), 0u);
  ASSERT_TRUE(EnforcementPass(control, list, settings_));
  EXPECT_EQ(system.CountCalls("SetProcessAffinityMask 42"), 1u);
  PassResults shown;
  ASSERT_TRUE(control.results.CopyLatest(shown));
  EXPECT_EQ(shown.startWatch, (StartWatchStatus{StartWatchState::NoSession, ERROR_NO_SYSTEM_RESOURCES}));
  EXPECT_EQ(StartWatchLabelText(shown.startWatch),
            L"&Running processes (listed ones placed within a second; no event tracing session free, error 1450):");
}

TEST(StartWatchLabel, SaysForEachStateWhetherStartsArePlacedAtOnce) {
  EXPECT_EQ(StartWatchLabelText({StartWatchState::Off, 0}), L"&Running processes:");
  EXPECT_EQ(StartWatchLabelText({StartWatchState::Watching, 0}),
            L"&Running processes (listed ones placed as they start):");
  EXPECT_EQ(StartWatchLabelText({StartWatchState::NotElevated, ERROR_ACCESS_DENIED}),
            L"&Running processes (listed ones placed within a second; as they start needs administrator rights):");
  EXPECT_EQ(StartWatchLabelText({StartWatchState::Unavailable, ERROR_ACCESS_DENIED}),
            L"&Running processes (listed ones placed within a second; this system reports no process starts, "
            L"error 5):");
  EXPECT_EQ(StartWatchLabelText({StartWatchState::Ended, ERROR_SUCCESS}),
            L"&Running processes (listed ones placed within a second; the process start session was stopped):");
}

// The worker thread itself: between two passes a minute apart it wakes for
// a start event and places the process.
TEST_F(StartPlacementTest, TheWorkerPlacesAStartBetweenPasses) {
  unique_handle notified(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  RegisterPassNotifyEvent(control_, notified.get());
  ASSERT_TRUE(StartWorker(control_, {L"cl.exe"}, settings_, 60000));
  ASSERT_EQ(::WaitForSingleObject(notified.get(), 10000), WAIT_OBJECT_0) << "the first pass";
  // The worker waits now: the process appears, and then its event.
  system_.processes = {{42, L"cl.exe", L"C:\\VS\\cl.exe"}};
  source_.Deliver(StartEventOf(42, L"cl.exe"));
  ASSERT_EQ(::WaitForSingleObject(notified.get(), 10000), WAIT_OBJECT_0) << "the placement at start";
  ASSERT_TRUE(StopWorker(control_));
  EXPECT_EQ(system_.CountCalls("SetProcessAffinityMask 42"), 1u);
  EXPECT_EQ(settings_.Published().size(), 1u) << "no second pass ran";
  EXPECT_EQ(Shown().processes.back(), Row(42, L"cl.exe", L"cl.exe", L"C:\\VS\\cl.exe", {kPlaced, kPlaced, kNotRun}));
}

// The matching rule of the fake system, handing the queue the next start
// event at every match it is asked for: the worker, back from a batch, always
// finds events waiting. Each event names another parent, so the process is
// matched afresh and the chain never ends.
class RefillingMatcher final : public PathMatcher {
 public:
  RefillingMatcher(FakeSystem& rule, FakeProcessStartSource& source) : rule_(rule), source_(source) {}
  bool PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) override {
    ++createTime_;
    source_.Deliver(StartEventOf(42, L"cl.exe", createTime_, static_cast<DWORD>(createTime_ % 2 + 1)));
    return rule_.PathMatchSpecW(name, pattern);
  }

 private:
  FakeSystem& rule_;
  FakeProcessStartSource& source_;
  uint64_t createTime_ = 0;
};

TEST_F(StartPlacementTest, StartEventsThatNeverStopComingDoNotHoldThePassesBack) {
  system_.processes = {{42, L"cl.exe", L"C:\\VS\\cl.exe"}};
  system_.recording = false;  // every event is placed: the log would only grow
  FakeProcessStartSource source;
  RefillingMatcher matcher(system_, source);
  WorkerControl control(0xF0F, system_, system_, matcher);
  source.Start(control.startEvents);
  ASSERT_TRUE(StartWorker(control, {L"cl.exe"}, settings_, 20));
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (settings_.Published().size() < 5 && ::GetTickCount64() < deadline) ::Sleep(5);
  ASSERT_TRUE(StopWorker(control));
  EXPECT_GE(settings_.Published().size(), 5u) << "passes waited for the start events to end";
}

}  // namespace
}  // namespace tarnwick
