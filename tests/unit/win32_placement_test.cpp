// The placement methods on this machine's real platform, with real child
// processes: what Windows (or Wine) and the host report afterwards.
#include "enforce/worker.h"

#include "tests/fakes/fake_worker_settings.h"
#include "platform/system_records.h"
#include "tests/child/child_processes.h"
#include "tests/fakes/fake_process_start_source.h"
#include "topology/core_map.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick {
namespace {

class Win32PlacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = L"tw_place_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    ASSERT_NE(children_.Start(name_), 0u);
    ASSERT_TRUE(::SetProcessAffinityMask(children_.Handle(0), 1));
    ASSERT_EQ(ProcessAffinity(children_.Handle(0)), 1u);
    hostId_ = FindHostProcessId(name_);
    // Under Wine the host's own view must be found, or the check below proves nothing.
    if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
      ASSERT_NE(hostId_, 0u);
    }
    if (hostId_ != 0) {
      EXPECT_EQ(HostProcessStatus(hostId_, "Cpus_allowed_list"), "0");
    }
  }

  ChildProcesses children_{FindIdleChildProgram()};
  std::wstring name_;
  DWORD hostId_ = 0;
  const uint64_t performanceCores_ = CoreMap().PerformanceCoreMask();
};

TEST_F(Win32PlacementTest, AffinityMethodMovesTheProcessToThePerformanceCores) {
  WorkerControl control(performanceCores_);
  FakeWorkerSettings settings(MethodSwitches{false, true, false});
  PatternList list({name_}, control.matcher);
  ASSERT_TRUE(EnforcementPass(control, list, settings));
  DWORD_PTR own = 0, system = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system));
  const uint64_t expected = performanceCores_ & system;
  EXPECT_EQ(ProcessAffinity(children_.Handle(0)), expected);
  if (hostId_ != 0) {
    EXPECT_EQ(HostProcessStatus(hostId_, "Cpus_allowed_list"), HostProcessorList(expected));
  }
  ASSERT_EQ(settings.Published().size(), 1u);
  EXPECT_EQ(settings.Published()[0].second, 1u);
  EXPECT_GE(settings.Published()[0].first, 2u);
  // The image path was learned through the real query.
  const ProcessRecord* record = control.pathCache.Find(children_.Id(0));
  ASSERT_NE(record, nullptr);
  EXPECT_NE(record->imagePath.find(name_), std::wstring::npos)
      << std::string(record->imagePath.begin(), record->imagePath.end());
}

TEST_F(Win32PlacementTest, AllMethodsTogetherStillPlaceByAffinity) {
  // Where SetProcessInformation or the CPU set functions are missing or
  // refuse (Wine), those methods do nothing and the pass goes on.
  WorkerControl control(performanceCores_);
  FakeWorkerSettings settings(MethodSwitches{true, true, true});
  PatternList list({L"*\\" + name_}, control.matcher);
  ASSERT_TRUE(EnforcementPass(control, list, settings));
  DWORD_PTR own = 0, system = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system));
  EXPECT_EQ(ProcessAffinity(children_.Handle(0)), performanceCores_ & system);
  EXPECT_EQ(settings.Published().at(0).second, 1u) << "matched through the image path";
}

// A start event reaches the real process through the worker thread long
// before the next pass could (a minute away).
TEST_F(Win32PlacementTest, AStartEventPlacesTheRealProcessBetweenPasses) {
  WorkerControl control(performanceCores_);
  FakeProcessStartSource source;
  source.Start(control.startEvents);
  FakeWorkerSettings settings(MethodSwitches{false, true, false});
  unique_handle notified(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  RegisterPassNotifyEvent(control, notified.get());
  ASSERT_TRUE(StartWorker(control, {name_}, settings, 60000));
  ASSERT_EQ(::WaitForSingleObject(notified.get(), 10000), WAIT_OBJECT_0) << "the first pass";
  // As if the process had only now started: back on processor 0.
  ASSERT_TRUE(::SetProcessAffinityMask(children_.Handle(0), 1));
  DWORD_PTR own = 0, system = 0;
  ASSERT_TRUE(::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system));
  const uint64_t expected = performanceCores_ & system;
  ASSERT_NE(expected, 1u) << "one processor only: a placement cannot be seen";
  FILETIME created{}, exited{}, kernel{}, user{};
  ASSERT_TRUE(::GetProcessTimes(children_.Handle(0), &created, &exited, &kernel, &user));
  ASSERT_TRUE(source.Deliver(StartEventOf(children_.Id(0), name_.c_str(),
                                          (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime,
                                          ::GetCurrentProcessId())));
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (ProcessAffinity(children_.Handle(0)) != expected && ::GetTickCount64() < deadline) ::Sleep(1);
  EXPECT_EQ(ProcessAffinity(children_.Handle(0)), expected);
  if (hostId_ != 0) {
    EXPECT_EQ(HostProcessStatus(hostId_, "Cpus_allowed_list"), HostProcessorList(expected));
  }
  ASSERT_TRUE(StopWorker(control));
  EXPECT_EQ(settings.Published().size(), 1u) << "placed by its start event, not by a pass";
}

// Efficiency mode off through the real calls. A priority class the user
// chose (Idle, without EcoQoS) stays; Task Manager's efficiency mode (EcoQoS
// on and Idle) is left with EcoQoS off and the Normal class. Wine 8 refuses
// SetProcessInformation(ProcessPowerThrottling), so there only the first
// half can be shown; on Windows both run.
TEST_F(Win32PlacementTest, EfficiencyModeOffLeavesTheUsersPriorityAndUndoesTaskManagersIdle) {
  const HANDLE child = children_.Handle(0);
  ASSERT_TRUE(::SetPriorityClass(child, IDLE_PRIORITY_CLASS));
  WorkerControl control(performanceCores_);
  FakeWorkerSettings settings(MethodSwitches{true, false, false});
  PatternList list({name_}, control.matcher);
  ASSERT_TRUE(EnforcementPass(control, list, settings));
  EXPECT_EQ(::GetPriorityClass(child), static_cast<DWORD>(IDLE_PRIORITY_CLASS)) << "chosen without efficiency mode";

  // Task Manager's efficiency mode, as it sets it.
  PowerThrottlingState on{PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED,
                          PROCESS_POWER_THROTTLING_EXECUTION_SPEED};
  if (!::SetProcessInformation(child, ProcessPowerThrottling, &on, sizeof(on))) {
    GTEST_SKIP() << "this system cannot put a process into efficiency mode (Wine), error " << ::GetLastError();
  }
  ASSERT_TRUE(EnforcementPass(control, list, settings));
  EXPECT_EQ(::GetPriorityClass(child), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
  PowerThrottlingState after{PROCESS_POWER_THROTTLING_CURRENT_VERSION, 0, 0};
  ASSERT_TRUE(::GetProcessInformation(child, ProcessPowerThrottling, &after, sizeof(after)));
  EXPECT_EQ(after.ControlMask & PROCESS_POWER_THROTTLING_EXECUTION_SPEED,
            static_cast<ULONG>(PROCESS_POWER_THROTTLING_EXECUTION_SPEED));
  EXPECT_EQ(after.StateMask & PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0u) << "EcoQoS off";
}

}  // namespace
}  // namespace tarnwick
