#include "app/globals.h"
#include "app/relay_threads.h"
#include "tests/fakes/fake_limited_token.h"
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarnwick {
namespace {

// A message-only window of this thread that receives what the relays post.
class RelayThreadsTest : public testing::Test {
 protected:
  void SetUp() override {
    window_.reset(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    ASSERT_TRUE(window_);
    target_ = window_.get();
  }

  // Waits up to 10 s for `message` to reach the window.
  bool Receive(UINT message) {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    MSG received{};
    while (::GetTickCount64() < deadline) {
      if (::PeekMessageW(&received, window_.get(), message, message, PM_REMOVE)) return true;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    return false;
  }

  unique_hwnd window_;
  std::atomic<HWND> target_{nullptr};
  unique_handle quit_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  unique_handle request_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  unique_handle passDone_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

TEST_F(RelayThreadsTest, CloseRequestSetsQuitAndAsksTheTrayWindowToExit) {
  std::thread watcher(CloseWatcherThread, DuplicateForThread(quit_.get()), DuplicateForThread(request_.get()),
                      std::cref(target_));
  ::SetEvent(request_.get());
  watcher.join();
  EXPECT_EQ(::WaitForSingleObject(quit_.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(Receive(WMU_EXIT_APP));
}

// Start-up runs no watcher without the event; a wait that fails still ends the instance.
TEST_F(RelayThreadsTest, AFailedWaitEndsTheInstanceRatherThanLeavingItUnclosable) {
  std::thread watcher(CloseWatcherThread, DuplicateForThread(quit_.get()), unique_handle(), std::cref(target_));
  watcher.join();
  EXPECT_EQ(::WaitForSingleObject(quit_.get(), 0), WAIT_OBJECT_0);
  EXPECT_TRUE(Receive(WMU_EXIT_APP));
}

TEST_F(RelayThreadsTest, PassesAreRelayedWhileTheMainWindowIsOpenUntilQuit) {
  std::thread relay(PassRelayThread, DuplicateForThread(quit_.get()), DuplicateForThread(passDone_.get()),
                    std::cref(target_));
  for (int pass = 0; pass < 3; ++pass) {
    ::SetEvent(passDone_.get());
    EXPECT_TRUE(Receive(WMU_PASS_DONE)) << "pass " << pass;
  }
  target_ = nullptr;  // the main window closed
  ::SetEvent(passDone_.get());
  ::SetEvent(quit_.get());
  relay.join();
  MSG stray{};
  EXPECT_FALSE(::PeekMessageW(&stray, window_.get(), WMU_PASS_DONE, WMU_PASS_DONE, PM_REMOVE));
}

// Static destruction closes the process-wide event handles while the
// detached threads may still wait: each thread waits on handles of its own.
TEST_F(RelayThreadsTest, StartedThreadsKeepWorkingAfterTheStartersHandlesAreClosed) {
  unique_handle passDoneSignal = DuplicateForThread(passDone_.get());
  unique_handle requestSignal = DuplicateForThread(request_.get());
  unique_handle quitSeen = DuplicateForThread(quit_.get());
  ASSERT_TRUE(StartPassRelay(quit_.get(), passDone_.get(), target_));
  ASSERT_TRUE(StartCloseWatcher(quit_.get(), request_.get(), target_));
  passDone_.reset();
  request_.reset();
  quit_.reset();
  // New handles may take the closed ones' values.
  unique_handle others[] = {unique_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                            unique_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                            unique_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))};
  for (int pass = 0; pass < 3; ++pass) {
    ::SetEvent(passDoneSignal.get());
    EXPECT_TRUE(Receive(WMU_PASS_DONE)) << "pass " << pass;
  }
  EXPECT_EQ(::WaitForSingleObject(quitSeen.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "nothing ended yet";
  ::SetEvent(requestSignal.get());
  EXPECT_TRUE(Receive(WMU_EXIT_APP));
  EXPECT_EQ(::WaitForSingleObject(quitSeen.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
}

}  // namespace
}  // namespace tarnwick
