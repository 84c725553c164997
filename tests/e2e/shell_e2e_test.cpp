// The program's start, hand-over, close, tray menu and one-shot commands,
// as a user meets them.
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"
#include "app/close_event.h"
#include "tests/support/help_text.h"
#include "platform/unique_handle.h"
#include "res/resource.h"

#include <sddl.h>
#include <shellapi.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <vector>

namespace tarnwick::e2e {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";

// Every tray window on the desktop, of whichever process.
std::vector<HWND> TrayWindows() {
  std::vector<HWND> found;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, L"Tarnwick_TrayClass", nullptr)) != nullptr)
    found.push_back(window);
  return found;
}

// --- A running instance --------------------------------------------------------

using ShellStart = TarnwickTest;

TEST_F(ShellStart, FirstStartCreatesTheTrayWindowAndAddsTheIcon) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  ASSERT_NE(tray, nullptr);
  wchar_t title[64] = {};
  ::GetWindowTextW(tray, title, 64);
  EXPECT_STREQ(title, L"Tarnwick_TrayWnd");
  EXPECT_FALSE(::IsWindowVisible(tray)) << "the tray window is never shown";
  EXPECT_FALSE(TrayIconPresent(tray, instance.Id() + 1)) << "the probe must tell icons apart";
  EXPECT_TRUE(instance.IsRunning());
  TakeScreenshot(ArtifactName("running"));
}

TEST_F(ShellStart, IconComesBackWhenTheTaskbarIsRecreated) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  // What a restarted notification area looks like to the program: its icon
  // is gone, and every top-level window hears "TaskbarCreated".
  ASSERT_TRUE(DeleteTrayIcon(tray, instance.Id()));
  ASSERT_FALSE(TrayIconPresent(tray, instance.Id()));
  ::PostMessageW(tray, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(tray, instance.Id()); })) << "the icon was not added again";
  EXPECT_TRUE(instance.IsRunning());
}

TEST_F(ShellStart, SecondStartHandsOverAndExitsWithZero) {
  TarnwickProcess& first = StartInstance();
  // The hand-over is answered once the main window it opened has closed.
  TarnwickProcess& second = Start();
  const HWND main = WaitForVisibleWindow(first.Id(), L"#32770", L"Tarnwick");
  ASSERT_NE(main, nullptr) << "the running instance opened no main window";
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(second.WaitForExit());
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_TRUE(first.IsRunning());
  EXPECT_EQ(WindowProcessId(FindTrayWindow()), first.Id()) << "still the first instance's window";
}

TEST_F(ShellStart, CloseEndsTheRunningInstanceWithinTenSeconds) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  const RunResult close = Run({L"--close"});
  EXPECT_TRUE(close.exited);
  EXPECT_EQ(close.exitCode, 0u);
  ASSERT_TRUE(instance.WaitForExit(10s));
  EXPECT_EQ(instance.ExitCode(), 0u);
  EXPECT_FALSE(TrayIconPresent(tray, instance.Id()));
  EXPECT_EQ(FindTrayWindow(), nullptr);
}

TEST_F(ShellStart, SimultaneousStartsMakeOneInstanceAndCloseEndsEveryOne) {
  std::vector<TarnwickProcess*> starts;
  for (int start = 0; start < 4; ++start) starts.push_back(&Start());
  ASSERT_TRUE(WaitUntil([] { return FindTrayWindow() != nullptr; }));
  const DWORD owner = WindowProcessId(FindTrayWindow());
  // The others handed over: one opened the main window and waits for it, the rest brought it forward and ended.
  ASSERT_NE(WaitForVisibleWindow(owner, L"#32770", L"Tarnwick"), nullptr) << "no start handed over";
  auto running = [&] {
    return std::count_if(starts.begin(), starts.end(), [](TarnwickProcess* start) { return start->IsRunning(); });
  };
  EXPECT_TRUE(WaitUntil([&] { return running() <= 2; })) << running() << " processes run";
  for (TarnwickProcess* start : starts) {
    if (!start->IsRunning()) {
      EXPECT_EQ(start->ExitCode(), 0u) << "a start that handed over";
    }
  }
  EXPECT_EQ(TrayWindows().size(), 1u) << "one instance, one tray window";

  // The close ends the instance with its main window open, and the start still waiting for that window.
  const RunResult close = Run({L"--close"});
  EXPECT_TRUE(close.exited);
  EXPECT_EQ(close.exitCode, 0u) << close.standardError;
  for (TarnwickProcess* start : starts) {
    EXPECT_TRUE(start->WaitForExit(5s)) << "process " << start->Id() << " lives on";
  }
  EXPECT_THAT(TrayWindows(), testing::IsEmpty());
}

TEST_F(ShellStart, CloseRightAfterAStartEndsThatStart) {
  TarnwickProcess& instance = Start();
  const RunResult close = Run({L"--close"});
  EXPECT_EQ(close.exitCode, 0u) << close.standardError;
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(FindTrayWindow(), nullptr);
}

TEST_F(ShellStart, CloseSaysSoWhenTheInstanceOutlivesTheWait) {
  TarnwickProcess& instance = StartInstance();
  // The window's thread is busy (here: held still), so the close request is not handled in time.
  HeldWindowThread busy(FindTrayWindow());
  ASSERT_TRUE(busy.Held());
  const RunResult close = Run({L"--close"}, 40s);
  busy.Release();
  EXPECT_TRUE(close.exited);
  EXPECT_EQ(close.exitCode, 3u);
  EXPECT_THAT(close.standardError, HasSubstr("still running"));
  // Once the thread goes on, the request is handled.
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(instance.ExitCode(), 0u);
}

TEST_F(ShellStart, AListLostInTheMiddleOfASaveComesBackAtTheNextStart) {
  // What a save killed between removing the old list and renaming the new one leaves.
  WriteListFile({});
  const std::wstring list = ListFilePath();
  ASSERT_TRUE(::DeleteFileW(list.c_str()));
  WriteFileBytes(list + L".1c-2.new", std::string("a\0.\0e\0x\0e\0\r\0\n\0b\0.\0e\0x\0e\0\r\0\n\0", 28));
  TarnwickProcess& instance = StartInstance();
  const HWND notice = WaitForVisibleWindow(instance.Id(), L"#32770", L"Tarnwick");
  ASSERT_NE(notice, nullptr) << "the user is not told";
  EXPECT_EQ(ReadListFile(), (std::vector<std::wstring>{L"a.exe", L"b.exe"}));
  EXPECT_FALSE(FileExists(list + L".1c-2.new"));
  ::PostMessageW(notice, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitForWindowGone(notice));
  ::DeleteFileW(list.c_str());
}

TEST_F(ShellStart, TrayMenuExitEndsTheProgramAndRemovesTheIcon) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  PostTrayCallback(tray, WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(instance.Id());
  ASSERT_NE(menu, nullptr) << "the right button shows no menu";
  TakeScreenshot(ArtifactName("menu"));
  ChooseMenuItem(menu, L'x');
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(instance.ExitCode(), 0u);
  EXPECT_FALSE(TrayIconPresent(tray, instance.Id()));
}

TEST_F(ShellStart, DismissedTrayMenuKeepsTheProgramRunning) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  PostTrayCallback(tray, WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(instance.Id());
  ASSERT_NE(menu, nullptr);
  ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 1);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(menu); }));
  EXPECT_TRUE(instance.IsRunning());
  EXPECT_TRUE(TrayIconPresent(tray, instance.Id()));
}

TEST_F(ShellStart, AnInstanceDeniedTheCloseEventRunsOnWithoutIt) {
  // Another user's event that lets nobody in, as an elevated instance of an
  // older version left it.
  PSECURITY_DESCRIPTOR nobody = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &nobody, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nobody, FALSE};
  unique_handle foreign(::CreateEventW(&attributes, TRUE, FALSE, kCloseEventName));
  ::LocalFree(nobody);
  ASSERT_TRUE(foreign);

  TarnwickProcess& instance = StartInstance();
  // Its worker has run a pass: start-up is long over.
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount");
  EXPECT_TRUE(
      WaitUntil([] { return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount").has_value(); }));
  WaitForWindowIdle(FindTrayWindow());
  EXPECT_TRUE(instance.IsRunning()) << "the instance ended by itself";

  // Its menu still ends it.
  PostTrayCallback(FindTrayWindow(), WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(instance.Id());
  ASSERT_NE(menu, nullptr);
  ChooseMenuItem(menu, L'x');
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(instance.ExitCode(), 0u);
  DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
}

// --- The icon, as the mouse and the keyboard work it ---------------------------------

class ShellTray : public TarnwickTest {
 protected:
  // The main window of `processId`: the dialog captioned "Tarnwick" with the list.
  static HWND WaitForMainWindow(DWORD processId) {
    HWND main = nullptr;
    WaitUntil([&] {
      main = WaitForVisibleWindow(processId, L"#32770", L"Tarnwick", 0ms);
      return main != nullptr && ::GetDlgItem(main, IDC_PROCESS_LIST) != nullptr;
    });
    return main;
  }

  static void CloseMainWindow(HWND main) {
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitForWindowGone(main));
  }

  // Clicks the icon with the real mouse in the notification area of the
  // virtual desktop, whose only icon is ours, at the right end of the taskbar.
  static bool ClickIcon(const wchar_t* button) {
    const HWND taskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT area{};
    if (taskbar == nullptr || !::GetWindowRect(taskbar, &area)) return false;
    const int x = area.right - ::GetSystemMetrics(SM_CXSMICON) / 2 - 3;
    const int y = (area.top + area.bottom) / 2;
    return RunUnixProgram("/usr/bin/xdotool", {L"mousemove", std::to_wstring(x), std::to_wstring(y), L"click", button});
  }
};

TEST_F(ShellTray, ClicksOnTheIconInTheNotificationAreaOpenTheWindowAndOneMenu) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  ASSERT_TRUE(ClickIcon(L"1"));
  const HWND main = WaitForMainWindow(instance.Id());
  ASSERT_NE(main, nullptr) << "a left click on the icon opens no main window";
  // The shell follows the click with NIN_SELECT: the window comes forward, no second one opens.
  WaitForWindowIdle(tray);
  EXPECT_EQ(WaitForDialog(instance.Id(), L"Tarnwick", main, 0ms), nullptr) << "a second main window";
  EXPECT_EQ(::GetForegroundWindow(), main);
  CloseMainWindow(main);

  ASSERT_TRUE(ClickIcon(L"3"));
  const HWND menu = WaitForPopupMenu(instance.Id());
  ASSERT_NE(menu, nullptr) << "a right click on the icon shows no menu";
  TakeScreenshot(ArtifactName("menu"));
  ::PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 1);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindowVisible(menu); }));
  WaitForWindowIdle(tray);
  EXPECT_EQ(WaitForPopupMenu(instance.Id(), 0ms), nullptr) << "the right click showed a second menu";
  EXPECT_TRUE(instance.IsRunning());
}

TEST_F(ShellTray, TheKeyboardOpensTheWindowAndTheMenu) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  for (const UINT selection : {NIN_KEYSELECT, NIN_SELECT}) {
    SCOPED_TRACE(selection);
    PostTrayCallback(tray, selection);
    const HWND main = WaitForMainWindow(instance.Id());
    ASSERT_NE(main, nullptr) << "the keyboard's selection opens no main window";
    CloseMainWindow(main);
  }
  PostTrayCallback(tray, WM_CONTEXTMENU);
  const HWND menu = WaitForPopupMenu(instance.Id());
  ASSERT_NE(menu, nullptr) << "the context-menu key shows no menu";
  ChooseMenuItem(menu, L'x');
  ASSERT_TRUE(instance.WaitForExit());
  EXPECT_EQ(instance.ExitCode(), 0u);
}

TEST_F(ShellTray, AClickWhileADialogIsOpenBringsTheDialogForward) {
  TarnwickProcess& instance = StartInstance();
  const HWND tray = FindTrayWindow();
  PostTrayCallback(tray, WM_LBUTTONUP);
  const HWND main = WaitForMainWindow(instance.Id());
  ASSERT_NE(main, nullptr);
  ::PostMessageW(::GetDlgItem(main, IDC_ADD), BM_CLICK, 0, 0);
  const HWND add = WaitForVisibleWindow(instance.Id(), L"#32770", L"Add New Entry");
  ASSERT_NE(add, nullptr);

  // The user works elsewhere, then clicks the icon.
  unique_hwnd elsewhere(::CreateWindowExW(0, L"STATIC", L"elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                                          100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(elsewhere);
  ::SetForegroundWindow(elsewhere.get());
  ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == elsewhere.get(); }));
  PostTrayCallback(tray, WM_LBUTTONUP);
  EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == add; }))
      << "the foreground went to " << ::GetForegroundWindow() << ", not the Add dialog " << add;
  EXPECT_TRUE(::IsWindowVisible(add));
}

TEST_F(ShellTray, ShowOpensTheMainWindowAtStart) {
  for (const wchar_t* show : {L"--show", L"-w"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(show)));
    TarnwickProcess& instance = Start({show});
    const HWND main = WaitForMainWindow(instance.Id());
    ASSERT_NE(main, nullptr) << "no main window without a click";
    EXPECT_TRUE(WaitUntil([&] { return TrayIconPresent(FindTrayWindow(), instance.Id()); }));
    CloseMainWindow(main);
    EXPECT_TRUE(instance.IsRunning()) << "closing the window leaves the program in the notification area";
    ASSERT_EQ(Run({L"--close"}).exitCode, 0u);
    ASSERT_TRUE(instance.WaitForExit());
  }
}

// --- One-shot commands --------------------------------------------------------------

using ShellCommands = TarnwickTest;

TEST_F(ShellCommands, HelpWritesTheOptionsToStandardErrorAndExitsWithOne) {
  for (const wchar_t* help : {L"--help", L"-h"}) {
    const RunResult result = Run({help, L"--install"});
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.standardError, std::string(kHelpOptionsText) + "\n" + kHelpExitCodesText);
  }
  EXPECT_EQ(FindTrayWindow(), nullptr);
}

TEST_F(ShellCommands, RejectedCommandLineNamesTheProblemAndExitsWithTwo) {
  const RunResult result = Run({L"--show=1"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 2u);
  const std::string& text = result.standardError;
  const size_t firstLineEnd = text.find('\n');
  ASSERT_NE(firstLineEnd, std::string::npos);
  EXPECT_THAT(text.substr(0, firstLineEnd), HasSubstr("--show"));
  EXPECT_EQ(text.substr(firstLineEnd + 1), std::string(kHelpOptionsText) + "\n");
}

TEST_F(ShellCommands, CloseWithNoInstanceExitsWithOneAtOnce) {
  const RunResult result = Run({L"--close"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1u);
  // Polling for instances to go takes at least 10 s; none may happen here.
  EXPECT_LT(result.duration, 8s);
}

// --- Install and uninstall ---------------------------------------------------------------

class ShellInstall : public TarnwickTest {
 protected:
  void TearDown() override {
    TarnwickTest::TearDown();
    ::DeleteFileW(TaskFile(L"Tarnwick").c_str());
    ::DeleteFileW(TaskFile(L"Tarn Wick").c_str());
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  }
};

TEST_F(ShellInstall, UninstallRemovesTheSettingsAndExitsWithZero) {
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUSets", 1);
  const RunResult result = Run({L"--uninstall"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(ShellInstall, ARefusedInstallRemovesTheTasksOfEarlierInstalls) {
  // The tasks an earlier release registered, both names, starting this very
  // program with the highest rights at every logon.
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarnwick", TarnwickExePath()));
  ASSERT_TRUE(CreateLogonTaskWithSchtasks(L"Tarn Wick", TarnwickExePath()));

  const RunResult result = Run({L"--install"});
  EXPECT_TRUE(result.exited);
  // Wine keeps no owner or access list of a file: the program belongs to the
  // user, whose ordinary programs could replace it, so it is refused; a task
  // left behind would go on starting it with the highest rights.
  EXPECT_EQ(result.exitCode, 1u);
  EXPECT_THAT(result.standardError, HasSubstr("not installing the logon task"));
  EXPECT_THAT(result.standardError, HasSubstr("Tarnwick will not start at logon"));
  EXPECT_FALSE(FileExists(TaskFile(L"Tarnwick"))) << "the earlier task still starts the refused program";
  EXPECT_FALSE(FileExists(TaskFile(L"Tarn Wick"))) << "the task of the older name stays";
}

}  // namespace
}  // namespace tarnwick::e2e
