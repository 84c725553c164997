#include "enforce/worker.h"

#include "tests/fakes/fake_worker_settings.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/recording_diagnostics.h"
#include "tests/unit/process_result_rows.h"
#include "platform/system_records.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <system_error>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr MethodSwitches kAllMethods{true, true, true};
constexpr MethodSwitches kNoMethods{false, false, false};

// One record per Id, for logical processors `firstProcessor` on.
std::vector<std::byte> CpuSetReport(std::initializer_list<DWORD> ids, BYTE firstProcessor = 0) {
  std::vector<CpuSetInformationRecord> records;
  BYTE index = firstProcessor;
  for (DWORD id : ids) {
    CpuSetInformationRecord record{};
    record.Size = sizeof(record);
    record.Id = id;
    record.LogicalProcessorIndex = index++;
    records.push_back(record);
  }
  std::vector<std::byte> bytes(records.size() * sizeof(CpuSetInformationRecord));
  std::memcpy(bytes.data(), records.data(), bytes.size());
  return bytes;
}

// The calls without the snapshot walk and the image path queries (open,
// query, close), which the matching tests cover.
std::vector<std::string> PlacementCalls(const FakeSystem& system) {
  std::vector<std::string> calls;
  const auto& all = system.Calls();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].rfind("Process32", 0) == 0) continue;
    if (all[i].rfind("OpenProcess 0x1000", 0) == 0) {
      if (i + 1 < all.size() && all[i + 1].rfind("QueryFullProcessImageNameW", 0) == 0) ++i;
      if (i + 1 < all.size() && all[i + 1].rfind("CloseHandle process", 0) == 0) ++i;
      continue;
    }
    calls.push_back(all[i]);
  }
  return calls;
}

class EnforcementPassTest : public ::testing::Test {
 protected:
  EnforcementPassTest() : control_(0xF0F, system_, system_, system_) {
    system_.activeProcessorMask = 0xFF;
    system_.cpuSetReport = CpuSetReport({256, 257, 258, 259});
  }
  bool Pass(std::vector<std::wstring> patterns, MethodSwitches methods) {
    settings_.SetMethods(methods);
    PatternList list(std::move(patterns), system_);
    return EnforcementPass(control_, list, settings_);
  }

  FakeSystem system_;
  FakeWorkerSettings settings_;
  WorkerControl control_;
};

TEST_F(EnforcementPassTest, AllMethodsInOrderWithTheirArguments) {
  system_.processes = {{4, L"idle.exe", L""}, {42, L"game.exe", L"C:\\Games\\game.exe", 3}};
  ASSERT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_THAT(PlacementCalls(system_),
              ElementsAre("CreateToolhelp32Snapshot 0x2 0", "GetSystemInfo", "LookUpSetProcessInformation",
                          "LookUpGetProcessInformation", "CreateToolhelp32Snapshot 0x4 0", "Thread32First 28",
                          "CloseHandle thread snapshot", "OpenProcess 0x600 42", "GetProcessInformation 42 4 12",
                          "SetProcessInformation 42 4 {1,1,0} 12", "CloseHandle process 42", "OpenProcess 0x200 42",
                          "SetProcessAffinityMask 42 0xf", "CloseHandle process 42", "LookUpCpuSetFunctions",
                          "OpenProcess 0x2000 42", "GetSystemCpuSetInformation 0", "GetSystemCpuSetInformation 128",
                          "SetProcessDefaultCpuSets 42 [256,257,258,259] 4", "CloseHandle process 42",
                          "CloseHandle process snapshot"));
  EXPECT_THAT(system_.CallsStartingWith("Process32FirstW"), ElementsAre("Process32FirstW 568"));
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(2u, 1u)));
  EXPECT_EQ(system_.OpenHandles(), 0u);
}

TEST_F(EnforcementPassTest, OneThreadSnapshotPerPassAndOnlyForEfficiencyMode) {
  system_.processes = {{10, L"a.exe", L""}, {11, L"a.exe", L""}, {12, L"b.exe", L""}};
  ASSERT_TRUE(Pass({L"a.exe", L"b.exe"}, MethodSwitches{true, false, false}));
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot 0x4"), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessInformation"), 3u);
  ASSERT_TRUE(Pass({L"a.exe"}, MethodSwitches{false, true, true}));
  ASSERT_TRUE(Pass({L"nothing.exe"}, kAllMethods));
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot 0x4"), 1u);
  EXPECT_EQ(system_.CountCalls("GetSystemInfo"), 1u) << "the set-up runs once per run";
}

TEST_F(EnforcementPassTest, ProcessWithoutThreadsIsLeftAlone) {
  // Ended between the process snapshot and the thread snapshot.
  system_.processes = {{42, L"game.exe", L"", 0}};
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{true, false, false}));
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x600"), 0u);
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x200"), 0u);
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(1u, 1u)));
}

TEST_F(EnforcementPassTest, MissingFunctionsTurnTheirMethodsIntoNothing) {
  system_.processes = {{42, L"game.exe", L""}};
  system_.hasSetProcessInformation = false;
  system_.hasCpuSetFunctions = false;
  ASSERT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_THAT(PlacementCalls(system_),
              ElementsAre("CreateToolhelp32Snapshot 0x2 0", "GetSystemInfo", "LookUpSetProcessInformation",
                          "LookUpGetProcessInformation", "CreateToolhelp32Snapshot 0x4 0", "Thread32First 28",
                          "CloseHandle thread snapshot", "OpenProcess 0x200 42", "SetProcessAffinityMask 42 0xf",
                          "CloseHandle process 42", "LookUpCpuSetFunctions", "OpenProcess 0x2000 42",
                          "CloseHandle process 42", "CloseHandle process snapshot"));
}

// Task Manager's efficiency mode is EcoQoS on and the Idle priority class.
// Turning it off raises Idle to Normal too, on the same handle; a priority
// chosen without EcoQoS stays. The handle's rights are Windows' own: the
// state and the class are read with the query right, changed with the set
// right, and a handle without the right fails the call.
TEST_F(EnforcementPassTest, EfficiencyModeOffRaisesTheIdleClassThatCameWithIt) {
  struct Case {
    const char* name;
    bool ecoQos;
    DWORD priority;
    DWORD throttlingQueryError = 0;
    bool canQuery = true;
    DWORD priorityError = 0;
    DWORD efficiencyError = 0;
    std::vector<std::string> calls;
    MethodResult result;
    bool ecoQosAfter;
    DWORD priorityAfter;
  };
  const std::string openBoth = "OpenProcess 0x600 42", read = "GetProcessInformation 42 4 12",
                    priority = "GetPriorityClass 42", ecoOff = "SetProcessInformation 42 4 {1,1,0} 12",
                    normal = "SetPriorityClass 42 0x20", close = "CloseHandle process 42";
  // clang-format off
  const Case cases[] = {
      {"EcoQoS on, Idle: both changed", true, IDLE_PRIORITY_CLASS, 0, true, 0, 0,
       {openBoth, read, priority, ecoOff, normal, close}, kPlacedPriorityNormal, false, NORMAL_PRIORITY_CLASS},
      {"EcoQoS off, Idle: the user's priority stays", false, IDLE_PRIORITY_CLASS, 0, true, 0, 0,
       {openBoth, read, ecoOff, close}, kPlaced, false, IDLE_PRIORITY_CLASS},
      {"EcoQoS on, below normal: the user's priority stays", true, BELOW_NORMAL_PRIORITY_CLASS, 0, true, 0, 0,
       {openBoth, read, priority, ecoOff, close}, kPlaced, false, BELOW_NORMAL_PRIORITY_CLASS},
      {"state unreadable on this build: EcoQoS off alone", true, IDLE_PRIORITY_CLASS, ERROR_INVALID_PARAMETER, true,
       0, 0, {openBoth, read, ecoOff, close}, kPlaced, false, IDLE_PRIORITY_CLASS},
      {"query right refused: EcoQoS off alone", true, IDLE_PRIORITY_CLASS, 0, false, 0, 0,
       {openBoth, "OpenProcess 0x200 42", ecoOff, close}, kPlaced, false, IDLE_PRIORITY_CLASS},
      {"priority change denied: told, EcoQoS off kept", true, IDLE_PRIORITY_CLASS, 0, true, ERROR_ACCESS_DENIED, 0,
       {openBoth, read, priority, ecoOff, normal, close}, PlacedPriorityLeftIdle(ERROR_ACCESS_DENIED), false,
       IDLE_PRIORITY_CLASS},
      {"EcoQoS off refused: the priority is not touched either", true, IDLE_PRIORITY_CLASS, 0, true, 0,
       ERROR_ACCESS_DENIED, {openBoth, read, priority, ecoOff, close, "GetProcessInformation 42 7 4", close},
       kDenied, true, IDLE_PRIORITY_CLASS},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem system;
    FakeProcess game{42, L"game.exe", L""};
    game.ecoQos = c.ecoQos;
    game.priorityClass = c.priority;
    game.throttlingQueryError = c.throttlingQueryError;
    game.canQuery = c.canQuery;
    game.priorityError = c.priorityError;
    game.efficiencyError = c.efficiencyError;
    system.processes = {game};
    WorkerControl control(0xF0F, system, system, system);
    FakeWorkerSettings settings(MethodSwitches{true, false, false});
    PatternList list({L"game.exe"}, system);
    ASSERT_TRUE(EnforcementPass(control, list, settings));

    std::vector<std::string> calls;
    for (const std::string& call : system.Calls()) {
      if (call.find(" 42") != std::string::npos && call.rfind("OpenProcess 0x1000", 0) != 0 &&
          call.rfind("QueryFullProcessImageNameW", 0) != 0) {
        calls.push_back(call);
      }
    }
    // The path query's own open and close come first.
    calls.erase(calls.begin(), std::find(calls.begin(), calls.end(), openBoth));
    EXPECT_EQ(calls, c.calls);
    PassResults results;
    ASSERT_TRUE(control.results.CopyLatest(results));
    EXPECT_EQ(results.processes.at(0).methods[0], c.result);
    EXPECT_EQ(system.processes[0].ecoQos, c.ecoQosAfter);
    EXPECT_EQ(system.processes[0].priorityClass, c.priorityAfter);
    EXPECT_EQ(system.OpenHandles(), 0u);
  }
}

TEST_F(EnforcementPassTest, AffinityMaskAndCpuSetIds) {
  struct Case {
    uint64_t activeMask;
    std::vector<std::byte> cpuSets;
    const char* affinityCall;
    const char* cpuSetCall;  // null: no call
    MethodResult cpuSetResult;
  };
  const Case cases[] = {
      {0xFF, CpuSetReport({256, 257, 258, 259}), "SetProcessAffinityMask 42 0xf",
       "SetProcessDefaultCpuSets 42 [256,257,258,259] 4", kPlaced},
      {0, CpuSetReport({256, 257, 258, 259, 260, 261, 262, 263, 264, 265, 266, 267}), "SetProcessAffinityMask 42 0xf0f",
       "SetProcessDefaultCpuSets 42 [256,257,258,259,264,265,266,267] 8", kPlaced},
      // No Id known for a P-core: a count of 0 would clear the process's CPU
      // sets, so nothing is called and the method does not apply. The
      // process is still matched and counted.
      {0xFF, {}, "SetProcessAffinityMask 42 0xf", nullptr, kNotApplicable},
      {0xFF, CpuSetReport({260, 261, 262, 263}, 4), "SetProcessAffinityMask 42 0xf", nullptr, kNotApplicable},
  };
  for (const Case& c : cases) {
    FakeSystem system;
    system.activeProcessorMask = c.activeMask;
    system.cpuSetReport = c.cpuSets;
    system.processes = {{42, L"game.exe", L""}};
    WorkerControl control(0xF0F, system, system, system);
    FakeWorkerSettings settings(MethodSwitches{false, true, true});
    PatternList list({L"game.exe"}, system);
    ASSERT_TRUE(EnforcementPass(control, list, settings));
    EXPECT_THAT(system.CallsStartingWith("SetProcessAffinityMask"), ElementsAre(c.affinityCall));
    if (c.cpuSetCall != nullptr) {
      EXPECT_THAT(system.CallsStartingWith("SetProcessDefaultCpuSets"), ElementsAre(c.cpuSetCall));
    } else {
      EXPECT_THAT(system.CallsStartingWith("SetProcessDefaultCpuSets"), IsEmpty());
    }
    PassResults results;
    ASSERT_TRUE(control.results.CopyLatest(results));
    ASSERT_EQ(results.processes.size(), 1u);
    EXPECT_EQ(results.processes[0].methods[2], c.cpuSetResult);
    EXPECT_THAT(settings.Published(), ElementsAre(Pair(1u, 1u)));
    EXPECT_EQ(system.OpenHandles(), 0u);
  }
}

TEST_F(EnforcementPassTest, ProcessThatCannotBeOpenedIsSkippedAndTriedAgainNextPass) {
  system_.processes = {{42, L"game.exe", L""}, {43, L"game.exe", L""}};
  system_.processes[0].canSet = false;
  ASSERT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x200 42"), 2u) << "opened for efficiency mode and affinity";
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x2000 42"), 1u) << "opened for CPU sets";
  EXPECT_THAT(system_.CallsStartingWith("SetProcessAffinityMask"), ElementsAre("SetProcessAffinityMask 43 0xf"));
  EXPECT_THAT(system_.CallsStartingWith("SetProcessInformation"), ElementsAre("SetProcessInformation 43 4 {1,1,0} 12"));
  EXPECT_THAT(system_.CallsStartingWith("SetProcessDefaultCpuSets"),
              ElementsAre("SetProcessDefaultCpuSets 43 [256,257,258,259] 4"));

  system_.processes[0].canSet = true;
  system_.ClearCalls();
  ASSERT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_THAT(system_.CallsStartingWith("SetProcessAffinityMask"),
              ElementsAre("SetProcessAffinityMask 42 0xf", "SetProcessAffinityMask 43 0xf"));
  EXPECT_EQ(system_.CountCalls("SetProcessInformation 42"), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessDefaultCpuSets 42"), 1u);
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(2u, 2u), Pair(2u, 2u))) << "a refused process still counts";
  EXPECT_EQ(system_.OpenHandles(), 0u);
}

TEST_F(EnforcementPassTest, FailedThreadSnapshotIsTakenAgainAtTheNextMatch) {
  system_.processes = {{42, L"game.exe", L""}, {43, L"tool.exe", L""}};
  system_.threadSnapshotFailures = 1;
  ASSERT_TRUE(Pass({L"game.exe", L"tool.exe"}, MethodSwitches{true, false, false}));
  // Without thread counts game.exe cannot be told from an ended process: it waits for the next pass.
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot 0x4"), 2u);
  EXPECT_THAT(system_.CallsStartingWith("SetProcessInformation"), ElementsAre("SetProcessInformation 43 4 {1,1,0} 12"));

  system_.ClearCalls();
  ASSERT_TRUE(Pass({L"game.exe", L"tool.exe"}, MethodSwitches{true, false, false}));
  EXPECT_EQ(system_.CountCalls("CreateToolhelp32Snapshot 0x4"), 1u);
  EXPECT_THAT(system_.CallsStartingWith("SetProcessInformation"),
              ElementsAre("SetProcessInformation 42 4 {1,1,0} 12", "SetProcessInformation 43 4 {1,1,0} 12"));
}

// "Matched processes" counts processes: one that two entries match is counted
// and placed once, by the first entry it matches.
TEST_F(EnforcementPassTest, AProcessThatTwoEntriesMatchIsCountedAndPlacedOnce) {
  system_.processes = {{42, L"game.exe", L"C:\\Games\\game.exe"}, {43, L"tool.exe", L"C:\\Tools\\tool.exe"}};
  ASSERT_TRUE(Pass({L"game.exe", L"C:\\Games\\*", L"none.exe"}, kAllMethods));
  EXPECT_THAT(system_.CallsStartingWith("SetProcessAffinityMask"), ElementsAre("SetProcessAffinityMask 42 0xf"));
  EXPECT_EQ(system_.CountCalls("SetProcessInformation 42"), 1u);
  EXPECT_EQ(system_.CountCalls("SetProcessDefaultCpuSets 42"), 1u);
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(2u, 1u)));
}

TEST_F(EnforcementPassTest, MethodsOffStillCountAndPublish) {
  system_.processes = {{42, L"game.exe", L""}};
  ASSERT_TRUE(Pass({L"game.exe"}, kNoMethods));
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x200"), 0u);
  EXPECT_EQ(system_.CountCalls("OpenProcess 0x2000"), 0u);
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(1u, 1u)));
}

TEST_F(EnforcementPassTest, EmptyListAndEmptySnapshotStillPublishZeroes) {
  system_.processes = {{42, L"game.exe", L"C:\\game.exe"}};
  ASSERT_TRUE(Pass({}, kAllMethods));
  EXPECT_EQ(system_.CountCalls("QueryFullProcessImageNameW"), 1u) << "every process is still resolved";
  system_.processes.clear();
  ASSERT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(1u, 0u), Pair(0u, 0u)));
}

TEST_F(EnforcementPassTest, FailedSnapshotPublishesAndSignalsNothing) {
  unique_handle event(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  RegisterPassNotifyEvent(control_, event.get());
  system_.processSnapshotFails = true;
  EXPECT_FALSE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_THAT(settings_.Published(), IsEmpty());
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  system_.processSnapshotFails = false;
  EXPECT_TRUE(Pass({L"game.exe"}, kAllMethods));
  EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
}

TEST_F(EnforcementPassTest, CachedAndUncachedPassesMakeTheSamePlatformCalls) {
  system_.processes = {
      {42, L"game.exe", L"C:\\Games\\game.exe"}, {43, L"tool.exe", L"", 1, false}, {44, L"game.exe", L"D:\\game.exe"}};
  const std::vector<std::wstring> patterns{L"game.exe", L"C:\\Games\\*", L"tool.exe", L"D:\\*"};
  auto run = [&](MatchCaching caching) {
    FakeSystem system;
    system.processes = system_.processes;
    system.activeProcessorMask = 0xFF;
    system.cpuSetReport = CpuSetReport({256, 257});
    WorkerControl control(0xF0F, system, system, system);
    FakeWorkerSettings settings(kAllMethods);
    PatternList list(patterns, system, caching);
    for (int pass = 0; pass < 7; ++pass) {
      if (pass == 3) system.processes.pop_back();
      EXPECT_TRUE(EnforcementPass(control, list, settings));
    }
    return std::make_pair(system.Calls(), settings.Published());
  };
  const auto cached = run(MatchCaching::Cached);
  const auto uncached = run(MatchCaching::Uncached);
  EXPECT_EQ(cached.first, uncached.first);
  EXPECT_EQ(cached.second, uncached.second);
}

// What the pass publishes for the processes window: one row per process with
// the first pattern that matched and each method's outcome, as the platform
// answered it.
TEST_F(EnforcementPassTest, PublishesEachProcessWithItsPatternAndMethodOutcomes) {
  system_.processes = {{42, L"game.exe", L"C:\\Games\\game.exe"}, {43, L"anticheat.exe", L"C:\\Games\\anticheat.exe"},
                       {44, L"tool.exe", L"C:\\Tools\\tool.exe"}, {45, L"gone.exe", L"", 0},
                       {46, L"idle.exe", L"C:\\idle.exe"},        {47, L"guard.exe", L"C:\\Games\\guard.exe"}};
  system_.processes[1].canSet = false;      // another user's: the set rights are refused
  system_.processes[5].isProtected = true;  // only the limited rights are given
  system_.processes[2].efficiencyError = ERROR_INVALID_FUNCTION;
  system_.processes[2].affinityError = ERROR_INVALID_PARAMETER;
  system_.processes[2].cpuSetsError = ERROR_NOT_SUPPORTED;
  ASSERT_TRUE(Pass({L"none.exe", L"C:\\Games\\*", L"game.exe", L"tool.exe", L"gone.exe"}, kAllMethods));

  PassResults results;
  ASSERT_TRUE(control_.results.CopyLatest(results));
  EXPECT_EQ(results.pass, 1u);
  EXPECT_EQ(results.scanned, 6u);
  EXPECT_EQ(results.matched, 5u) << "game.exe matched two patterns and counts once";
  ASSERT_EQ(results.processes.size(), 6u);
  struct Expected {
    DWORD id;
    const wchar_t* name;
    const wchar_t* path;
    const wchar_t* pattern;
    MethodResults methods;
  };
  const Expected expected[] = {
      {42, L"game.exe", L"C:\\Games\\game.exe", L"C:\\Games\\*", {kPlaced, kPlaced, kPlaced}},
      {43,
       L"anticheat.exe",
       L"C:\\Games\\anticheat.exe",
       L"C:\\Games\\*",
       {Failed(ERROR_ACCESS_DENIED), Failed(ERROR_ACCESS_DENIED), Failed(ERROR_ACCESS_DENIED)}},
      {44,
       L"tool.exe",
       L"C:\\Tools\\tool.exe",
       L"tool.exe",
       {Failed(ERROR_INVALID_FUNCTION), Failed(ERROR_INVALID_PARAMETER), Failed(ERROR_NOT_SUPPORTED)}},
      // Ended before the thread snapshot: efficiency mode leaves it alone, and
      // its path was never read.
      {45, L"gone.exe", L"", L"gone.exe", {kNotRun, kPlaced, kPlaced}},
      {46, L"idle.exe", L"C:\\idle.exe", L"", {kNotRun, kNotRun, kNotRun}},
      // Protected: the set right is refused to everyone, the CPU sets' limited one is not.
      {47, L"guard.exe", L"C:\\Games\\guard.exe", L"C:\\Games\\*", {kDeniedProtected, kDeniedProtected, kPlaced}},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ProcessResult& row = results.processes[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(row.processId, expected[i].id);
    EXPECT_EQ(row.fileName, expected[i].name);
    EXPECT_EQ(row.imagePath, expected[i].path);
    EXPECT_EQ(row.pattern, expected[i].pattern);
    EXPECT_EQ(row.matched, *expected[i].pattern != L'\0');
    EXPECT_EQ(row.methods, expected[i].methods);
  }
  EXPECT_FALSE(control_.results.CopyLatest(results)) << "nothing newer than the copy";
}

TEST_F(EnforcementPassTest, MissingFunctionsAndSwitchedOffMethodsAreToldApart) {
  system_.processes = {{42, L"game.exe", L""}};
  system_.hasSetProcessInformation = false;
  system_.hasCpuSetFunctions = false;
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{true, false, true}));
  PassResults results;
  ASSERT_TRUE(control_.results.CopyLatest(results));
  ASSERT_EQ(results.processes.size(), 1u);
  EXPECT_EQ(results.processes[0].methods, (MethodResults{kUnsupported, kNotRun, kUnsupported}));
}

// The rows of every pass come from that pass alone: an ended process goes, a
// method switched off or a pattern removed leaves nothing behind, and the
// reader's copy follows whether the list grew or shrank.
TEST_F(EnforcementPassTest, EachPublishedPassStandsAlone) {
  system_.processes = {{42, L"game.exe", L"C:\\game.exe"}, {43, L"tool.exe", L"C:\\tool.exe"}};
  PassResults results;
  ASSERT_TRUE(Pass({L"game.exe", L"tool.exe"}, kAllMethods));
  ASSERT_TRUE(control_.results.CopyLatest(results));
  ASSERT_EQ(results.processes.size(), 2u);

  system_.processes.erase(system_.processes.begin());
  system_.processes.push_back({44, L"new.exe", L"C:\\new.exe"});
  ASSERT_TRUE(Pass({L"tool.exe"}, MethodSwitches{false, true, false}));
  ASSERT_TRUE(Pass({L"new.exe"}, MethodSwitches{false, true, false}));
  ASSERT_TRUE(control_.results.CopyLatest(results));
  EXPECT_EQ(results.pass, 3u) << "the reader gets the latest pass, not the next one";
  ASSERT_EQ(results.processes.size(), 2u);
  EXPECT_EQ(results.processes[0].fileName, L"tool.exe");
  EXPECT_FALSE(results.processes[0].matched);
  EXPECT_EQ(results.processes[0].pattern, L"");
  EXPECT_EQ(results.processes[0].methods, MethodResults{});
  EXPECT_EQ(results.processes[1].fileName, L"new.exe");
  EXPECT_EQ(results.processes[1].pattern, L"new.exe");
  EXPECT_EQ(results.processes[1].methods[1].outcome, MethodResult::Outcome::Placed);

  system_.processes.clear();
  ASSERT_TRUE(Pass({L"new.exe"}, kAllMethods));
  ASSERT_TRUE(control_.results.CopyLatest(results));
  EXPECT_TRUE(results.processes.empty());

  system_.processSnapshotFails = true;
  EXPECT_FALSE(Pass({L"new.exe"}, kAllMethods));
  EXPECT_FALSE(control_.results.CopyLatest(results)) << "a failed pass publishes nothing";
}

// Many passes over a seeded churn: processes start and end, image paths
// become readable late, ids are reused within a pass interval by the same
// program from another parent and by another program, placement is refused
// now and then, and the list is switched half way. The cached run must make
// exactly the platform calls of the run that matches afresh every time.
TEST(CachedMatching, SeededChurnGivesTheCallsAndCountsOfMatchingAfresh) {
  const std::vector<std::wstring> names{L"cl.exe", L"python.exe", L"game.exe", L"tool.exe", L"svc.exe"};
  const std::vector<std::wstring> folders{L"C:\\VS\\", L"C:\\Tools\\", L"D:\\Games\\", L"C:\\Windows\\"};
  const std::vector<std::wstring> firstList{L"cl.exe", L"C:\\Tools\\*", L"D:\\Games\\game.exe", L"svc.exe",
                                            L"*\\python.exe"};
  const std::vector<std::wstring> secondList{L"python.exe", L"C:\\VS\\*", L"none.exe", L"*.exe"};
  constexpr int kPasses = 400;
  constexpr DWORD kIdCount = 64;  // few ids, so that ended ones come back

  auto run = [&](MatchCaching caching, uint32_t seed) {
    std::mt19937 random(seed);
    auto chance = [&](unsigned percent) { return random() % 100 < percent; };
    auto pick = [&](const std::vector<std::wstring>& from) { return from[random() % from.size()]; };
    auto makeProcess = [&](DWORD id, const std::wstring& name) {
      FakeProcess process{id, name, pick(folders) + name};
      process.parentId = 1000 + random() % 3;
      process.threads = 1 + random() % 3;
      process.canQuery = !chance(30);
      process.canSet = !chance(10);
      return process;
    };
    FakeSystem system;
    system.activeProcessorMask = 0xFF;
    system.cpuSetReport = CpuSetReport({256, 257});
    WorkerControl control(0xF0F, system, system, system);
    FakeWorkerSettings settings(kAllMethods);
    auto list = std::make_unique<PatternList>(firstList, system, caching);
    for (DWORD id = 4; id < 4 + kIdCount; id += 2) system.processes.push_back(makeProcess(id, pick(names)));
    for (int pass = 0; pass < kPasses; ++pass) {
      if (pass == kPasses / 2) list = std::make_unique<PatternList>(secondList, system, caching);
      std::vector<FakeProcess> next;
      for (FakeProcess& process : system.processes) {
        if (chance(4)) continue;  // ended
        if (chance(3)) {
          // Ended, and its id taken at once: by the same program or by another.
          next.push_back(makeProcess(process.id, chance(50) ? process.fileName : pick(names)));
          continue;
        }
        if (!process.canQuery && chance(25)) process.canQuery = true;  // its path becomes readable
        if (!process.canSet && chance(30)) process.canSet = true;
        next.push_back(process);
      }
      for (int started = static_cast<int>(random() % 3); started > 0; --started) {
        const DWORD id = 4 * (1 + random() % kIdCount);
        const bool inUse = std::any_of(next.begin(), next.end(), [&](const FakeProcess& p) { return p.id == id; });
        if (!inUse) next.push_back(makeProcess(id, pick(names)));
      }
      system.processes = std::move(next);
      EXPECT_TRUE(EnforcementPass(control, *list, settings));
    }
    EXPECT_EQ(system.OpenHandles(), 0u);
    return std::make_pair(system.Calls(), settings.Published());
  };

  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const auto cached = run(MatchCaching::Cached, seed);
    const auto uncached = run(MatchCaching::Uncached, seed);
    ASSERT_EQ(cached.second.size(), static_cast<size_t>(kPasses));
    EXPECT_EQ(cached.second, uncached.second);
    EXPECT_TRUE(cached.first == uncached.first) << "the platform calls differ";
    // The churn reached what it is meant to: placements, refusals and reused ids.
    EXPECT_GT(std::count_if(cached.first.begin(), cached.first.end(),
                            [](const std::string& call) { return call.rfind("SetProcessAffinityMask", 0) == 0; }),
              100);
  }
}

TEST_F(EnforcementPassTest, ARefusedPlacementIsReportedOncePerProcessAndMethodWithItsError) {
  struct Case {
    const char* name;
    FakeProcess process;
    std::vector<std::wstring> reported;
  };
  const auto game = [](const std::function<void(FakeProcess&)>& change) {
    FakeProcess process{42, L"game.exe", L""};
    change(process);
    return process;
  };
  const Case cases[] = {
      {"affinity refused",
       game([](FakeProcess& p) { p.affinityError = ERROR_ACCESS_DENIED; }),
       {L"placement refused: game.exe (pid 42) CPU affinity: error 5"}},
      {"efficiency mode refused",
       game([](FakeProcess& p) { p.efficiencyError = ERROR_INVALID_PARAMETER; }),
       {L"placement refused: game.exe (pid 42) efficiency mode: error 87"}},
      {"CPU sets refused",
       game([](FakeProcess& p) { p.cpuSetsError = ERROR_GEN_FAILURE; }),
       {L"placement refused: game.exe (pid 42) CPU sets: error 31"}},
      {"process cannot be opened",
       game([](FakeProcess& p) { p.canSet = false; }),
       {L"placement refused: game.exe (pid 42) efficiency mode: error 5",
        L"placement refused: game.exe (pid 42) CPU affinity: error 5",
        L"placement refused: game.exe (pid 42) CPU sets: error 5"}},
      {"protected process",
       game([](FakeProcess& p) { p.isProtected = true; }),
       {L"placement refused: game.exe (pid 42, protected) efficiency mode: error 5",
        L"placement refused: game.exe (pid 42, protected) CPU affinity: error 5"}},
      {"priority class left Idle",
       game([](FakeProcess& p) {
         p.ecoQos = true;
         p.priorityClass = IDLE_PRIORITY_CLASS;
         p.priorityError = ERROR_ACCESS_DENIED;
       }),
       {L"placement refused: game.exe (pid 42) priority class: error 5"}},
      {"placed", game([](FakeProcess&) {}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDiagnostics diagnostics;
    FakeSystem system;
    system.activeProcessorMask = 0xFF;
    system.cpuSetReport = CpuSetReport({256, 257});
    system.processes = {c.process, {7, L"other.exe", L""}};
    system.processes[1].affinityError = ERROR_ACCESS_DENIED;  // not listed: never tried, never told
    WorkerControl control(0xF0F, system, system, system);
    FakeWorkerSettings settings(kAllMethods);
    PatternList list({L"game.exe"}, system);
    for (int pass = 0; pass < 3; ++pass) ASSERT_TRUE(EnforcementPass(control, list, settings));
    EXPECT_EQ(diagnostics.Texts(), c.reported) << "once, however many passes refuse it";
    for (const auto& event : diagnostics.Events()) EXPECT_EQ(event.level, DiagnosticLevel::Warning);
  }
}

TEST_F(EnforcementPassTest, ARefusalIsToldToATraceStartedLaterAndAgainForANewProcessOnTheSameId) {
  RecordingDiagnostics diagnostics;
  diagnostics.SetListening(false);
  system_.processes = {{42, L"game.exe", L""}};
  system_.processes[0].affinityError = ERROR_ACCESS_DENIED;
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{false, true, false}));
  EXPECT_THAT(diagnostics.Texts(), IsEmpty());
  EXPECT_EQ(diagnostics.Unasked(), 0u) << "formatted and sent while no one listened";

  diagnostics.SetListening(true);
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{false, true, false}));
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{false, true, false}));
  EXPECT_THAT(diagnostics.Texts(), ElementsAre(L"placement refused: game.exe (pid 42) CPU affinity: error 5"));

  // The id now names another process: its refusal is its own.
  FakeProcess successor{42, L"game.exe", L""};
  successor.parentId = 99;
  successor.affinityError = ERROR_ACCESS_DENIED;
  system_.processes = {successor};
  ASSERT_TRUE(Pass({L"game.exe"}, MethodSwitches{false, true, false}));
  EXPECT_EQ(diagnostics.Texts().size(), 2u);
}

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() : control_(0x3, system_, system_, system_), passDone_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    RegisterPassNotifyEvent(control_, passDone_.get());
  }
  ~WorkerTest() override { StopWorker(control_); }

  bool WaitForPass() { return ::WaitForSingleObject(passDone_.get(), 10000) == WAIT_OBJECT_0; }

  FakeSystem system_;
  FakeWorkerSettings settings_{MethodSwitches{false, true, false}};
  WorkerControl control_;
  unique_handle passDone_;
};

TEST_F(WorkerTest, AWorkerWhoseThreadCannotBeMadeIsReportedOnceAndLeavesNothingRunning) {
  RecordingDiagnostics diagnostics;
  // NOLINTNEXTLINE(performance-unnecessary-value-param): a WorkerThreadMaker takes the function by value
  control_.makeThread = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  EXPECT_FALSE(StartWorker(control_, {L"game.exe"}, settings_, 0));
  EXPECT_FALSE(control_.stopEvent);
  EXPECT_FALSE(control_.workerThread.joinable());
  const auto events = diagnostics.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].level, DiagnosticLevel::Error);
  EXPECT_EQ(events[0].text, L"worker not started: thread: errno " +
                                std::to_wstring(static_cast<int>(std::errc::resource_unavailable_try_again)));

  // Started: nothing to tell.
  control_.makeThread = MakeWorkerThread;
  diagnostics.Clear();
  EXPECT_TRUE(StartWorker(control_, {L"game.exe"}, settings_, 60000));
  EXPECT_TRUE(StopWorker(control_));
  EXPECT_THAT(diagnostics.Texts(), IsEmpty());
}

TEST_F(WorkerTest, StopWithoutAWorkerReportsFalse) {
  EXPECT_FALSE(StopWorker(control_));
  EXPECT_EQ(control_.running.load(), 0u);
}

TEST_F(WorkerTest, StopRequestedDuringAPassLetsItFinish) {
  system_.processes = {{42, L"game.exe", L""}};
  int snapshots = 0;
  uint32_t runningInside = 0;
  system_.onProcessSnapshot = [&] {
    if (++snapshots == 1) {
      runningInside = control_.running.load();
      ::SetEvent(control_.stopEvent.get());
    }
  };
  ASSERT_TRUE(StartWorker(control_, {L"game.exe"}, settings_, 0));
  ASSERT_TRUE(WaitForPass());
  EXPECT_TRUE(StopWorker(control_));
  EXPECT_EQ(snapshots, 1) << "no pass after the stop request";
  EXPECT_EQ(runningInside, 1u);
  EXPECT_EQ(control_.running.load(), 0u);
  EXPECT_FALSE(control_.stopEvent);
  EXPECT_FALSE(control_.workerThread.joinable());
  EXPECT_THAT(settings_.Published(), ElementsAre(Pair(1u, 1u)));
  EXPECT_EQ(system_.CountCalls("SetProcessAffinityMask"), 1u);
}

TEST_F(WorkerTest, StopWithADeadlineLeavesAPassThatDoesNotEnd) {
  unique_handle inPass(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  system_.processes = {{42, L"game.exe", L""}};
  system_.onProcessSnapshot = [&] {
    ::SetEvent(inPass.get());
    ::WaitForSingleObject(release.get(), 30000);
  };
  ASSERT_TRUE(StartWorker(control_, {L"game.exe"}, settings_, 60000));
  ASSERT_EQ(::WaitForSingleObject(inPass.get(), 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(StopWorkerWithin(control_, 100)) << "the pass is still running";
  EXPECT_TRUE(control_.stopEvent) << "the control block stays as it was";
  EXPECT_TRUE(control_.workerThread.joinable());
  ::SetEvent(release.get());
  EXPECT_TRUE(StopWorkerWithin(control_, 10000));
  EXPECT_FALSE(control_.workerThread.joinable());
  EXPECT_EQ(control_.running.load(), 0u);
  EXPECT_FALSE(StopWorkerWithin(control_, 0)) << "nothing left to stop";
}

TEST_F(WorkerTest, RestartUsesTheNewListAndKeepsKnownPaths) {
  system_.processes = {{42, L"game.exe", L"C:\\Games\\game.exe"}, {43, L"tool.exe", L"C:\\Tools\\tool.exe"}};
  ASSERT_TRUE(StartWorker(control_, {L"game.exe"}, settings_, 60000));
  ASSERT_TRUE(WaitForPass());
  ASSERT_TRUE(StartWorker(control_, {L"C:\\Tools\\*"}, settings_, 60000));
  ASSERT_TRUE(WaitForPass());
  EXPECT_TRUE(StopWorker(control_));
  EXPECT_THAT(system_.CallsStartingWith("SetProcessAffinityMask"),
              ElementsAre("SetProcessAffinityMask 42 0x3", "SetProcessAffinityMask 43 0x3"));
  EXPECT_EQ(system_.CountCalls("QueryFullProcessImageNameW"), 2u) << "paths survive a restart";
  EXPECT_EQ(settings_.Published().size(), 2u);
}

TEST_F(WorkerTest, ReadsTheSwitchesEveryPassAndSignalsEveryRegisteredEvent) {
  unique_handle second(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  RegisterPassNotifyEvent(control_, second.get());
  RegisterPassNotifyEvent(control_, passDone_.get());
  EXPECT_EQ(control_.PassNotifyEvents.size(), 2u) << "registered once only";
  system_.processes = {{42, L"game.exe", L""}};
  ASSERT_TRUE(StartWorker(control_, {L"game.exe"}, settings_, 0));
  ASSERT_TRUE(WaitForPass());
  ASSERT_TRUE(WaitForPass());
  ASSERT_TRUE(WaitForPass());
  EXPECT_EQ(::WaitForSingleObject(second.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(control_.running.load(), 1u);
  EXPECT_TRUE(StopWorker(control_));
  EXPECT_GE(settings_.Reads(), 3);
  EXPECT_EQ(static_cast<size_t>(settings_.Reads()), settings_.Published().size());
}

}  // namespace
}  // namespace tarnwick
