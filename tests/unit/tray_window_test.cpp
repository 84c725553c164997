// The tray window in this process: its icon goes while the window still
// lives. (Wine's shell removes a dead window's icon by itself, so a check
// after the window is gone would prove nothing.)
#include <windows.h>
#include <shellapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/globals.h"
#include "app/tray_window.h"
#include "tests/fakes/recording_diagnostics.h"
#include "ui/messages.h"

namespace tarnwick {
namespace {

using ::testing::IsEmpty;
using ::testing::StartsWith;

bool IconPresent(HWND window) {
  // Changing nothing succeeds only for an existing icon.
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = ::GetCurrentProcessId();
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

struct LastMessage {
  HWND window = nullptr;
  bool seen = false;
  bool iconPresent = true;
};
LastMessage Destruction;

// Sees the window's last message, WM_NCDESTROY, while the window still exists.
LRESULT CALLBACK WatchLastMessage(int code, WPARAM wParam, LPARAM lParam) noexcept {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && message->hwnd == Destruction.window && message->message == WM_NCDESTROY) {
    Destruction.seen = true;
    Destruction.iconPresent = ::IsWindow(message->hwnd) && IconPresent(message->hwnd);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(TrayWindow, ACloseRequestRemovesTheIconBeforeTheWindowGoes) {
  ASSERT_TRUE(CreateTrayWindow());
  const HWND tray = TrayWindowHandle.load();
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(IconPresent(tray)) << "the icon was not added";

  Destruction.window = tray;
  HHOOK hook = ::SetWindowsHookExW(WH_CALLWNDPROC, WatchLastMessage, nullptr, ::GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  // What the close watcher posts; sent here, so that it is handled at once.
  ::SendMessageW(tray, WMU_EXIT_APP, 0, 0);
  ::UnhookWindowsHookEx(hook);
  EXPECT_TRUE(Destruction.seen);
  EXPECT_FALSE(Destruction.iconPresent) << "the icon outlived its window's own clean-up";
  EXPECT_FALSE(::IsWindow(tray));
}

// The shell refuses a second icon of the same identity, as it refuses every
// icon while the notification area is not ready: each round of tries ends
// given up.
TEST(TrayWindow, AnIconGivenUpIsReportedOnceUntilItIsAddedAgain) {
  RecordingDiagnostics diagnostics;
  ASSERT_TRUE(CreateTrayWindow());
  const HWND tray = TrayWindowHandle.load();
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(IconPresent(tray)) << "the icon was not added";
  EXPECT_THAT(diagnostics.Texts(), IsEmpty());

  ::SendMessageW(tray, WMU_ADD_TRAY_ICON, 0, 0);
  ::SendMessageW(tray, WMU_ADD_TRAY_ICON, 0, 0);
  auto texts = diagnostics.Texts();
  ASSERT_EQ(texts.size(), 1u) << "once, however many rounds are given up";
  EXPECT_THAT(texts[0], StartsWith(L"tray icon given up after 31 tries: error "));
  EXPECT_EQ(diagnostics.Events()[0].level, DiagnosticLevel::Error);

  // Added again: a round given up after that is news.
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = tray;
  data.uID = ::GetCurrentProcessId();
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &data));
  ::SendMessageW(tray, WMU_ADD_TRAY_ICON, 0, 0);
  ASSERT_TRUE(IconPresent(tray));
  EXPECT_EQ(diagnostics.Texts().size(), 1u);
  ::SendMessageW(tray, WMU_ADD_TRAY_ICON, 0, 0);
  EXPECT_EQ(diagnostics.Texts().size(), 2u);

  ::SendMessageW(tray, WMU_EXIT_APP, 0, 0);
  EXPECT_FALSE(::IsWindow(tray));
}

}  // namespace
}  // namespace tarnwick
