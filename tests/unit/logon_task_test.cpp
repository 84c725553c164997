#include "install/install_commands.h"
#include "install/logon_task.h"
#include "config/settings_names.h"
#include "tests/fakes/fake_task_scheduler.h"
#include "tests/fakes/recording_diagnostics.h"
#include "platform/unique_handle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/scratch_registry.h"

#include <algorithm>
#include <functional>
#include <map>

namespace tarnwick {
namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

const std::vector<std::wstring> kRegistrationCalls = {L"CreateService",
                                                      L"Connect",
                                                      L"GetRootFolder",
                                                      L"DeleteTask(Tarnwick)",
                                                      L"NewTask",
                                                      L"Release(Service)",
                                                      L"GetRegistrationInfo",
                                                      L"PutAuthor(Ombrix LLC)",
                                                      L"Release(RegistrationInfo)",
                                                      L"GetSettings",
                                                      L"PutStartWhenAvailable(true)",
                                                      L"PutExecutionTimeLimit(PT0S)",
                                                      L"PutDisallowStartIfOnBatteries(false)",
                                                      L"PutStopIfGoingOnBatteries(false)",
                                                      L"PutMultipleInstances(0)",
                                                      L"PutEnabled(true)",
                                                      L"Release(Settings)",
                                                      L"GetPrincipal",
                                                      L"PutRunLevel(1)",
                                                      L"Release(Principal)",
                                                      L"GetTriggers",
                                                      L"CreateTrigger(9)",
                                                      L"Release(TriggerCollection)",
                                                      L"QueryLogonTrigger",
                                                      L"Release(Trigger)",
                                                      L"PutTriggerId(Trigger1)",
                                                      L"PutTriggerUserId",
                                                      L"Release(LogonTrigger)",
                                                      L"GetActions",
                                                      L"CreateAction(0)",
                                                      L"Release(ActionCollection)",
                                                      L"QueryExecAction",
                                                      L"Release(Action)",
                                                      L"PutActionPath(\"C:\\Program Files\\Tarnwick\\tarnwick.exe\")",
                                                      L"PutActionArguments(-tray)",
                                                      L"Release(ExecAction)",
                                                      L"RegisterTaskDefinition(Tarnwick,6,S-1-5-32-545,4,\"\")",
                                                      L"Release(RegisteredTask)",
                                                      L"Release(Definition)",
                                                      L"Release(RootFolder)"};

constexpr HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

bool Register(FakeTaskScheduler& scheduler) {
  return RegisterLogonTask(scheduler, L"Tarnwick", L"C:\\Program Files\\Tarnwick\\tarnwick.exe", L"-tray");
}

std::wstring CallName(const std::wstring& call) { return call.substr(0, call.find(L'(')); }

TEST(RegisterLogonTask, DefinesTheTaskStepByStepAndReleasesEverything) {
  FakeTaskScheduler scheduler;
  EXPECT_TRUE(Register(scheduler));
  EXPECT_THAT(scheduler.Calls(), ElementsAreArray(kRegistrationCalls));
  EXPECT_TRUE(scheduler.HeldObjects().empty());
}

class RequiredStep : public testing::TestWithParam<const wchar_t*> {};

TEST_P(RequiredStep, FailureEndsTheOperationWithEverythingReleased) {
  const std::wstring step = GetParam();
  FakeTaskScheduler scheduler;
  scheduler.FailCall(step, E_ACCESSDENIED);
  EXPECT_FALSE(Register(scheduler));
  EXPECT_TRUE(scheduler.HeldObjects().empty());

  const auto& calls = scheduler.Calls();
  const auto failed =
      std::find_if(calls.begin(), calls.end(), [&](const std::wstring& call) { return CallName(call) == step; });
  ASSERT_NE(failed, calls.end());
  // After the failing step only releases follow, except that the action's
  // arguments are still set after a refused path.
  for (auto later = failed + 1; later != calls.end(); ++later) {
    if (step == L"PutActionPath" && CallName(*later) == L"PutActionArguments") continue;
    EXPECT_EQ(CallName(*later), L"Release") << "after " << step << ": " << testing::PrintToString(*later);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, RequiredStep,
                         testing::Values(L"CreateService", L"Connect", L"GetRootFolder", L"NewTask",
                                         L"GetRegistrationInfo", L"PutAuthor", L"GetSettings", L"PutStartWhenAvailable",
                                         L"GetPrincipal", L"PutRunLevel", L"GetTriggers", L"CreateTrigger",
                                         L"QueryLogonTrigger", L"PutTriggerId", L"PutTriggerUserId", L"GetActions",
                                         L"CreateAction", L"QueryExecAction", L"PutActionPath",
                                         L"RegisterTaskDefinition"));

TEST(RegisterLogonTask, IgnoredStepsDoNotStopTheRegistration) {
  FakeTaskScheduler scheduler;
  for (const wchar_t* step :
       {L"DeleteTask", L"PutExecutionTimeLimit", L"PutDisallowStartIfOnBatteries", L"PutStopIfGoingOnBatteries",
        L"PutMultipleInstances", L"PutEnabled", L"PutActionArguments"}) {
    scheduler.FailCall(step, step == std::wstring(L"DeleteTask") ? kFileNotFound : E_NOTIMPL);
  }
  EXPECT_TRUE(Register(scheduler));
  EXPECT_THAT(scheduler.Calls(), ElementsAreArray(kRegistrationCalls));
  EXPECT_TRUE(scheduler.HeldObjects().empty());
}

TEST(RegisterLogonTask, ServiceIsReleasedRightAfterNewTaskEvenWhenItFails) {
  FakeTaskScheduler scheduler;
  scheduler.FailCall(L"NewTask", E_OUTOFMEMORY);
  EXPECT_FALSE(Register(scheduler));
  EXPECT_THAT(scheduler.Calls(), ElementsAre(L"CreateService", L"Connect", L"GetRootFolder", L"DeleteTask(Tarnwick)",
                                             L"NewTask", L"Release(Service)", L"Release(RootFolder)"));
}

TEST(QuoteActionPath, QuotesUnlessAlreadyQuoted) {
  const struct {
    const wchar_t* path;
    const wchar_t* actionPath;
  } cases[] = {
      {L"C:\\Program Files\\Tarnwick\\tarnwick.exe", L"\"C:\\Program Files\\Tarnwick\\tarnwick.exe\""},
      {L"\"C:\\Tarnwick\\tarnwick.exe\"", L"\"C:\\Tarnwick\\tarnwick.exe\""},
      {L" \t\"C:\\Tarnwick\\tarnwick.exe\"", L"\"C:\\Tarnwick\\tarnwick.exe\""},
      {L"\"C:\\unbalanced.exe", L"\"C:\\unbalanced.exe"},
      // The path as passed goes inside the quotes, leading blanks included.
      {L"  C:\\x.exe", L"\"  C:\\x.exe\""},
      {L"", L"\"\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QuoteActionPath(c.path), c.actionPath) << testing::PrintToString(std::wstring(c.path));
}

TEST(DeleteLogonTask, ReachingTheRootFolderIsSuccessWhetherOrNotTheTaskExists) {
  FakeTaskScheduler scheduler;
  scheduler.FailCall(L"DeleteTask", kFileNotFound);
  EXPECT_TRUE(DeleteLogonTask(scheduler, L"Tarnwick"));
  EXPECT_THAT(scheduler.Calls(), ElementsAre(L"CreateService", L"Connect", L"GetRootFolder", L"DeleteTask(Tarnwick)",
                                             L"Release(RootFolder)", L"Release(Service)"));
}

TEST(DeleteLogonTask, EmptyNameDeletesNothing) {
  FakeTaskScheduler scheduler;
  EXPECT_TRUE(DeleteLogonTask(scheduler, L""));
  EXPECT_THAT(scheduler.Calls(),
              ElementsAre(L"CreateService", L"Connect", L"GetRootFolder", L"Release(RootFolder)", L"Release(Service)"));
}

TEST(DeleteLogonTask, UnreachableSchedulerFailsWithEverythingReleased) {
  for (const wchar_t* step : {L"CreateService", L"Connect", L"GetRootFolder"}) {
    FakeTaskScheduler scheduler;
    scheduler.FailCall(step, HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_FALSE(DeleteLogonTask(scheduler, L"Tarnwick")) << testing::PrintToString(std::wstring(step));
    EXPECT_TRUE(scheduler.HeldObjects().empty());
  }
}

// The install and uninstall commands over schedulers made by a factory that
// journals every call and fails the calls a test names.
class InstallCommandsTest : public testing::Test {
 protected:
  // Uninstall deletes the machine's settings key too.
  testing_support::ScopedScratchLocalMachine scratchMachine_;
  void SetUp() override { DeleteSettingsKeys(); }
  void TearDown() override { DeleteSettingsKeys(); }

  static void DeleteSettingsKeys() {
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
  }
  static bool KeyExists(HKEY root) {
    unique_hkey key;
    return ::RegOpenKeyExW(root, kSettingsKeyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }
  static void CreateSettingsKeys() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      unique_hkey key;
      ASSERT_EQ(::RegCreateKeyExW(root, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
                ERROR_SUCCESS);
    }
  }

  TaskSchedulerFactory Factory() {
    return [this]() -> std::unique_ptr<TaskSchedulerApi> {
      auto scheduler = std::make_unique<FakeTaskScheduler>(&journal_);
      for (const auto& [call, status] : failures_) scheduler->FailCall(call, status);
      return scheduler;
    };
  }
  std::vector<std::wstring> Journaled(const std::wstring& name) const {
    std::vector<std::wstring> found;
    for (const auto& call : journal_) {
      if (CallName(call) == name) found.push_back(call);
    }
    return found;
  }

  std::vector<std::wstring> journal_;
  std::map<std::wstring, HRESULT> failures_;
};

TEST_F(InstallCommandsTest, InstallRemovesTheLegacyTaskAndRegistersTheProgram) {
  EXPECT_EQ(RunInstall(Factory(), L"C:\\Tarnwick\\tarnwick.exe"), 0);
  EXPECT_THAT(Journaled(L"DeleteTask"), ElementsAre(L"DeleteTask(Tarn Wick)", L"DeleteTask(Tarnwick)"));
  EXPECT_THAT(Journaled(L"PutActionPath"), ElementsAre(L"PutActionPath(\"C:\\Tarnwick\\tarnwick.exe\")"));
  EXPECT_THAT(Journaled(L"PutActionArguments"), ElementsAre(L"PutActionArguments(-tray)"));
}

TEST_F(InstallCommandsTest, InstallFailsWithoutAPathOrARegistration) {
  EXPECT_EQ(RunInstall(Factory(), L""), 1);
  EXPECT_TRUE(Journaled(L"RegisterTaskDefinition").empty());
  failures_[L"PutRunLevel"] = E_NOTIMPL;  // as under Wine
  EXPECT_EQ(RunInstall(Factory(), L"C:\\Tarnwick\\tarnwick.exe"), 1);
  EXPECT_TRUE(Journaled(L"RegisterTaskDefinition").empty());
}

TEST_F(InstallCommandsTest, ARefusedInstallDeletesBothTasksAndRegistersNothing) {
  failures_[L"DeleteTask"] = kFileNotFound;
  EXPECT_TRUE(RunRefusedInstall(Factory()));
  EXPECT_THAT(Journaled(L"DeleteTask"), ElementsAre(L"DeleteTask(Tarnwick)", L"DeleteTask(Tarn Wick)"));
  EXPECT_TRUE(Journaled(L"NewTask").empty());
  EXPECT_TRUE(Journaled(L"RegisterTaskDefinition").empty());
  // Unreachable: said so, and the second name is still tried.
  journal_.clear();
  failures_[L"Connect"] = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_FALSE(RunRefusedInstall(Factory()));
}

TEST_F(InstallCommandsTest, EachRefusedInstallOrUninstallIsReportedOnceWithItsStatus) {
  constexpr HRESULT kNotActive = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
  const std::wstring refused =
      L"install refused: accounts other than administrators can replace this program or a folder on its path";
  struct Case {
    const char* name;
    std::map<std::wstring, HRESULT> failures;
    std::function<void()> run;
    std::vector<std::wstring> reported;
  };
  const auto install = [this] { (void)RunInstall(Factory(), L"C:\\Tarnwick\\tarnwick.exe"); };
  const auto installRefused = [this] { (void)RunRefusedInstall(Factory()); };
  const auto uninstall = [this] { (void)RunUninstall(Factory()); };
  const Case cases[] = {
      {"installed", {}, install, {}},
      {"registration denied",
       {{L"RegisterTaskDefinition", E_ACCESSDENIED}},
       install,
       {L"install refused: logon task not registered: error 0x80070005"}},
      {"run level not implemented",
       {{L"PutRunLevel", E_NOTIMPL}},
       install,
       {L"install refused: logon task not registered: error 0x80004001"}},
      {"no path",
       {},
       [this] { (void)RunInstall(Factory(), L""); },
       {L"install refused: this program's path cannot be read"}},
      {"replaceable program",
       {{L"DeleteTask", kFileNotFound}},
       installRefused,
       {refused + L"; earlier logon tasks removed"}},
      {"replaceable program, scheduler unreachable",
       {{L"Connect", kNotActive}},
       installRefused,
       {refused + L"; earlier logon tasks not removed: error 0x80070426"}},
      {"uninstalled", {{L"DeleteTask", kFileNotFound}}, uninstall, {}},
      {"uninstall, scheduler unreachable",
       {{L"Connect", kNotActive}},
       uninstall,
       {L"uninstall refused: logon task not deleted: error 0x80070426"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDiagnostics diagnostics;
    failures_ = c.failures;
    c.run();
    EXPECT_EQ(diagnostics.Texts(), c.reported);
    for (const auto& event : diagnostics.Events()) EXPECT_EQ(event.level, DiagnosticLevel::Error);
  }
}

TEST_F(InstallCommandsTest, UninstallRemovesBothTasksAndTheSettings) {
  CreateSettingsKeys();
  failures_[L"DeleteTask"] = kFileNotFound;
  EXPECT_EQ(RunUninstall(Factory()), 0);
  EXPECT_THAT(Journaled(L"DeleteTask"), ElementsAre(L"DeleteTask(Tarnwick)", L"DeleteTask(Tarn Wick)"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE));
}

TEST_F(InstallCommandsTest, UninstallKeepsTheSettingsWhenTheSchedulerIsUnreachable) {
  CreateSettingsKeys();
  failures_[L"Connect"] = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(RunUninstall(Factory()), 1);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE));
}

}  // namespace
}  // namespace tarnwick
