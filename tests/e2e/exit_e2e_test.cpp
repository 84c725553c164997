// The end of the program, as a user meets it: "--close", and a close event
// left set by an instance that is still ending, end every instance within
// seconds, whatever its list holds; "--close" tells the truth about it while
// other processes of the program come and go beside it.
#include "app/close_event.h"
#include "platform/unique_handle.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "ui/messages.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";

class ShellExit : public TarnwickTest {
 protected:
  void SetUp() override {
    TarnwickTest::SetUp();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }
  std::optional<DWORD> LastScannedCount() {
    return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount");
  }
};

TEST_F(ShellExit, StartsAndClosesInTurnLeaveNoInstanceRunning) {
  // The shell's own matcher backtracks for minutes per name on this pattern.
  WriteListFile({std::wstring(16, L'*') + L"z", L"notepad.exe"});
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    TarnwickProcess& instance = StartInstance();
    ASSERT_TRUE(WaitUntil([&] { return LastScannedCount().has_value(); })) << "the first pass never ended";
    const RunResult close = Run({L"--close"});
    ASSERT_TRUE(close.exited);
    EXPECT_EQ(close.exitCode, 0u);
    // Success was reported: the instance is gone or in its last moments.
    ASSERT_TRUE(instance.WaitForExit(5s));
    EXPECT_EQ(instance.ExitCode(), 0u);
  }

  // An instance that is still ending keeps the close event alive and set, as
  // this handle does: a start meanwhile ends at once, without starting a
  // worker whose pass its exit would have to wait for.
  DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  unique_handle leftSet(::CreateEventW(nullptr, TRUE, TRUE, kCloseEventName));
  ASSERT_TRUE(leftSet);
  for (int start = 0; start < 8; ++start) {
    TarnwickProcess& instance = Start();
    ASSERT_TRUE(instance.WaitForExit()) << "start " << start;
    EXPECT_EQ(instance.ExitCode(), 0u);
  }
  EXPECT_FALSE(LastScannedCount().has_value()) << "an instance told to quit ran a pass";
}

TEST_F(ShellExit, ClosesRunningAtOnceEachReportTheInstanceEnded) {
  TarnwickProcess& instance = StartInstance();
  // The instance's window thread is held still, so that it cannot end before both closes have found it.
  HeldWindowThread held(FindTrayWindow());
  ASSERT_TRUE(held.Held());
  unique_handle request(::OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, kCloseEventName));
  ASSERT_TRUE(request) << "the instance holds the close event";
  std::vector<TarnwickProcess*> closes;
  for (const wchar_t* close : {L"--close", L"-c"}) {
    closes.push_back(&Start({close}));
    // A close sets the event once it has found an instance; cleared here, so that the next one's shows.
    const bool requested = WaitUntil([&] { return ::WaitForSingleObject(request.get(), 0) == WAIT_OBJECT_0; });
    ::ResetEvent(request.get());
    ASSERT_TRUE(requested) << testing::PrintToString(std::wstring(close)) << " sent no request";
  }
  // Both now wait, each beside the other, for the instance alone.
  ASSERT_TRUE(held.Release());
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(instance.ExitCode(), 0u);
  for (TarnwickProcess* close : closes) {
    ASSERT_TRUE(close->WaitForExit());
    EXPECT_EQ(close->ExitCode(), 0u) << close->StandardError();
  }
}

TEST_F(ShellExit, CloseWaitsForAStartThatHasNotRunYet) {
  // A start the system has made but that has run nothing of its own: no
  // named object, no window; its command line alone says what it will be.
  TarnwickProcess& starting = StartSuspended({L"-tray"});
  TarnwickProcess& close = Start({L"--close"});
  unique_handle request;
  ASSERT_TRUE(WaitUntil([&] {
    if (!request) request.reset(::OpenEventW(SYNCHRONIZE, FALSE, kCloseEventName));
    return request && ::WaitForSingleObject(request.get(), 0) == WAIT_OBJECT_0;
  })) << "the close found no instance to ask";
  EXPECT_TRUE(close.IsRunning()) << "the close did not wait for the start";
  ASSERT_TRUE(starting.Resume());
  // The start finds the request and ends; only then is the close done.
  ASSERT_TRUE(starting.WaitForExit());
  EXPECT_EQ(starting.ExitCode(), 0u);
  ASSERT_TRUE(close.WaitForExit());
  EXPECT_EQ(close.ExitCode(), 0u) << close.StandardError();
  EXPECT_EQ(FindTrayWindow(), nullptr);
}

TEST_F(ShellExit, CloseBesideTheCommandFormsFindsNoInstance) {
  // Each of them is running (held still) while the close looks.
  for (const std::vector<std::wstring>& command : {std::vector<std::wstring>{L"--install"},
                                                   {L"--uninstall"},
                                                   {L"--help"},
                                                   {L"--close"},
                                                   {L"-c"},
                                                   {L"--show=1"},
                                                   {L"-tray", L"--uninst"}}) {
    StartSuspended(command);
  }
  const RunResult close = Run({L"--close"});
  EXPECT_TRUE(close.exited);
  EXPECT_EQ(close.exitCode, 1u) << close.standardError;
  // Waiting for instances to go takes at least 10 s; none may happen here.
  EXPECT_LT(close.duration, 8s);
}

// An instance that is ending, played by this test: it holds the instance
// mutex and shows a tray window that answers a hand-over with 0, as the
// program does once its end has begun.
int HandoversDeclined = 0;
LRESULT CALLBACK EndingTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == tarnwick::WMU_OPEN_MAIN_WINDOW) {
    ++HandoversDeclined;
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(ShellExit, AStartDuringAnExitWaitsAndBecomesTheInstance) {
  {
    unique_handle mutex(::CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    ASSERT_TRUE(mutex);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = EndingTrayProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Tarnwick_TrayClass";
    ASSERT_NE(::RegisterClassExW(&windowClass), 0);
    HWND ending = ::CreateWindowExW(0, L"Tarnwick_TrayClass", L"ending", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(ending, nullptr);
    TarnwickProcess& next = Start();
    EXPECT_TRUE(WaitUntil([] { return HandoversDeclined > 0; })) << "the start never asked the ending instance";
    // The ending instance goes; the start that waited takes its place.
    ::DestroyWindow(ending);
    ::UnregisterClassW(L"Tarnwick_TrayClass", windowClass.hInstance);
    ::ReleaseMutex(mutex.get());
    mutex.reset();
    EXPECT_TRUE(WaitUntil([&] { return WindowProcessId(FindTrayWindow()) == next.Id(); }))
        << "the start did not become the instance: " << next.StandardError();
    EXPECT_TRUE(next.IsRunning());
    EXPECT_EQ(HandoversDeclined, 1) << "the ending instance was asked again";
    next.End();
  }

  // The tray menu's Exit, and a start at once.
  TarnwickProcess& first = StartInstance();
  PostTrayCallback(FindTrayWindow(), WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(first.Id());
  ASSERT_NE(menu, nullptr);
  ChooseMenuItem(menu, L'x');
  TarnwickProcess& second = Start();
  ASSERT_TRUE(first.WaitForExit());
  EXPECT_EQ(first.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return WindowProcessId(FindTrayWindow()) == second.Id(); }))
      << "nothing runs after the exit: " << second.StandardError();
}

}  // namespace
}  // namespace tarnwick::e2e
