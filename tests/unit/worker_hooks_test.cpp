// The end of the program's run: the worker is stopped, and a pass that does
// not stop ends the program with the exit code that says so instead of
// keeping it alive after it was asked to close.
#include "app/command_line.h"
#include "app/globals.h"
#include "app/startup.h"
#include "app/worker_hooks.h"
#include "platform/unique_handle.h"
#include "tests/fakes/fake_process_start_source.h"
#include "tests/fakes/fake_worker_settings.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// Settings whose read never returns: the pass that asks for them never ends.
class StuckSettings final : public WorkerSettings {
 public:
  MethodSwitches ReadMethodSwitches() override {
    ::SetEvent(passEntered_.get());
    ::WaitForSingleObject(neverSet_.get(), INFINITE);
    return {};
  }
  void PublishPassCounts(uint32_t, uint32_t) override {}
  [[nodiscard]] HANDLE PassEntered() const { return passEntered_.get(); }

 private:
  unique_handle passEntered_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  unique_handle neverSet_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

TEST(WorkerHooks, AnExitAfterAPassThatEndedStopsTheWorkerAndGoesOn) {
  FakeWorkerSettings settings;
  ASSERT_TRUE(StartWorker(Worker, {}, settings, 60000));
  StopWorkerBeforeExit();
  EXPECT_FALSE(Worker.stopEvent);
  EXPECT_FALSE(Worker.workerThread.joinable());
  EXPECT_EQ(settings.Reads(), 1);
}

// The program's own worker, stuck in its first pass, in a process of its own.
TEST(WorkerHooksDeathTest, AnExitDuringAPassThatDoesNotStopEndsTheProgramWithCodeFour) {
  StuckSettings settings;
  static_assert(kStuckPassExitCode == 4, "the help text and the documentation give 4");
  EXPECT_EXIT(
      {
        if (StartWorker(Worker, {}, settings, 60000) &&
            ::WaitForSingleObject(settings.PassEntered(), 10000) == WAIT_OBJECT_0) {
          StopWorkerBeforeExit();
        }
      },
      testing::ExitedWithCode(4), "");
}

// The program's own source of process starts, for the whole test program:
// the hooks keep a pointer to it.
FakeProcessStartSource& TestStartSource() {
  static FakeProcessStartSource source;
  return source;
}

TEST(WorkerHooks, ARestartForANewListKeepsTheSessionAndTheExitStopsIt) {
  FakeProcessStartSource& source = TestStartSource();
  UseProcessStartSource(source);
  const int starts = source.Starts();
  const int stops = source.Stops();
  StartWorkerFromListFile();
  ASSERT_TRUE(Worker.stopEvent) << "a worker runs";
  StartWorkerFromListFile();
  EXPECT_EQ(source.Starts(), starts + 1);
  EXPECT_EQ(Worker.startEvents.Status().state, StartWatchState::Watching);
  StopWorkerBeforeExit();
  EXPECT_EQ(source.Stops(), stops + 1);
  EXPECT_FALSE(Worker.stopEvent);
}

constexpr const wchar_t* kSessionStoppedEventName = L"Local\\TarnwickTestStartSessionStopped";

// The forced end of the program is preceded by the end of the session: the
// system would keep it running for nobody.
TEST(WorkerHooksDeathTest, AnExitForcedByAStuckPassStopsTheSessionFirst) {
  unique_handle stopped(::CreateEventW(nullptr, TRUE, FALSE, kSessionStoppedEventName));
  ASSERT_TRUE(stopped);
  ::ResetEvent(stopped.get());
  StuckSettings settings;
  EXPECT_EXIT(
      {
        FakeProcessStartSource& source = TestStartSource();
        source.onStop = [] {
          unique_handle told(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kSessionStoppedEventName));
          if (told) ::SetEvent(told.get());
        };
        UseProcessStartSource(source);
        (void)source.Start(Worker.startEvents);
        if (StartWorker(Worker, {}, settings, 60000) &&
            ::WaitForSingleObject(settings.PassEntered(), 10000) == WAIT_OBJECT_0) {
          StopWorkerBeforeExit();
        }
      },
      testing::ExitedWithCode(4), "");
  EXPECT_EQ(::WaitForSingleObject(stopped.get(), 0), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace tarnwick
