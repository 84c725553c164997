// The program's start, hand-over, close, tray menu and one-shot commands,
// as a user meets them.
#include "tests/e2e/driver/tarnwick_driver.h"

#include <gmock/gmock.h>

namespace tarnwick::e2e {
namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr const char* kOptionsDescription =
    "Options:\n"
    "  -h [ --help ]         show help\n"
    "  -c [ --close ]        Close running instances.\n"
    "  -i [ --install ]      Run install tasks.\n"
    "  -u [ --uninstall ]    Run uninstall tasks.\n"
    "  -w [ --show ]         Open main window at startup.\n";

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";

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
  EXPECT_EQ(close.exit_code, 0u);
  ASSERT_TRUE(instance.WaitForExit(10s));
  EXPECT_EQ(instance.ExitCode(), 0u);
  EXPECT_FALSE(TrayIconPresent(tray, instance.Id()));
  EXPECT_EQ(FindTrayWindow(), nullptr);
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

// --- One-shot commands --------------------------------------------------------------

using ShellCommands = TarnwickTest;

TEST_F(ShellCommands, HelpWritesTheOptionsToStandardErrorAndExitsWithOne) {
  for (const wchar_t* help : {L"--help", L"-h"}) {
    const RunResult result = Run({help, L"--install"});
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.standard_error, std::string(kOptionsDescription) + "\n");
  }
  EXPECT_EQ(FindTrayWindow(), nullptr);
}

TEST_F(ShellCommands, RejectedCommandLineNamesTheProblemAndExitsWithTwo) {
  const RunResult result = Run({L"--show=1"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 2u);
  const std::string& text = result.standard_error;
  const size_t first_line_end = text.find('\n');
  ASSERT_NE(first_line_end, std::string::npos);
  EXPECT_THAT(text.substr(0, first_line_end), HasSubstr("--show"));
  EXPECT_EQ(text.substr(first_line_end + 1), std::string(kOptionsDescription) + "\n");
}

TEST_F(ShellCommands, CloseWithNoInstanceExitsWithOneAtOnce) {
  const RunResult result = Run({L"--close"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 1u);
  // Polling for instances to go takes at least 10 s; none may happen here.
  EXPECT_LT(result.duration, 8s);
}

// --- Install and uninstall ---------------------------------------------------------------

class ShellInstall : public TarnwickTest {
 protected:
  static std::wstring TaskFile(const wchar_t* name) {
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\Tasks\\" + name;
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    ::DeleteFileW(TaskFile(L"Tarnwick").c_str());
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  }
};

TEST_F(ShellInstall, UninstallRemovesTheSettingsAndExitsWithZero) {
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUSets", 1);
  const RunResult result = Run({L"--uninstall"});
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0u);
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kSettingsKey));
}

TEST_F(ShellInstall, InstallUnderWineFailsAndLeavesNoHalfRegisteredTask) {
  // An older registration, as the task scheduler stores it.
  const std::string older_task =
      "<?xml version=\"1.0\"?>\n<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
      "<Actions><Exec><Command>C:\\old\\tarnwick.exe</Command></Exec></Actions></Task>\n";
  WriteFileBytes(TaskFile(L"Tarnwick"), older_task);
  ASSERT_TRUE(FileExists(TaskFile(L"Tarnwick")));

  const RunResult result = Run({L"--install"});
  EXPECT_TRUE(result.exited);
  // Wine's task scheduler implements neither run levels nor logon triggers.
  EXPECT_EQ(result.exit_code, 1u);
  EXPECT_FALSE(FileExists(TaskFile(L"Tarnwick"))) << "the older task is gone and no new one was half made";
}

}  // namespace
}  // namespace tarnwick::e2e
