// The end-to-end driver: starts the real tarnwick.exe in the test's own Wine
// prefix and works it as a user would, through its windows and messages, the
// registry, the list file and the screen. Every wait has a deadline.
//
// A test derives its fixture from TarnwickTest and starts the program with
// Start() or Run(); whatever it started is ended when the test ends.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::e2e {

using namespace std::chrono_literals;
using Timeout = std::chrono::milliseconds;

// Long enough for a slow start under Wine; a wait that runs out fails the test.
inline constexpr Timeout kDefaultTimeout = 20s;

// Polls `condition` every 50 ms, pumping this thread's messages, until it is
// true (returns true) or `timeout` has passed (returns false).
bool WaitUntil(const std::function<bool()>& condition, Timeout timeout = kDefaultTimeout);

// "/unix/path" as Z:\unix\path; a Windows path is returned unchanged.
[[nodiscard]] std::wstring WindowsPathOf(const std::string& path);
// The program under test, as built by CMake.
[[nodiscard]] std::wstring TarnwickExePath();
// The same program beside it, built with its dark-mode entry points replaced
// by a stand-in that offers dark mode (Wine has none): dark while
// HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize
// "AppsUseLightTheme" is 0 or absent, as Windows records the user's choice.
[[nodiscard]] std::wstring ForcedDarkExePath();

// Whether a started process runs at once or waits, before its first
// instruction, to be resumed.
enum class StartMode { Running, Suspended };

// One started tarnwick.exe, its standard error captured in a file. Ended
// (terminated) when destroyed if it is still running.
class TarnwickProcess {
 public:
  // Starts `exe` (the program under test unless given) with `arguments`.
  explicit TarnwickProcess(const std::vector<std::wstring>& arguments, const std::wstring& exe = TarnwickExePath(),
                           StartMode mode = StartMode::Running);
  ~TarnwickProcess();
  TarnwickProcess(const TarnwickProcess&) = delete;
  TarnwickProcess& operator=(const TarnwickProcess&) = delete;

  [[nodiscard]] DWORD Id() const noexcept { return processId_; }
  [[nodiscard]] bool IsRunning() const;
  // True when the process exited within `timeout`.
  bool WaitForExit(Timeout timeout = kDefaultTimeout);
  // The exit code; nullopt while the process runs.
  [[nodiscard]] std::optional<DWORD> ExitCode() const;
  // Everything written to standard error so far.
  [[nodiscard]] std::string StandardError() const;
  // Terminates the process if it still runs and waits for its end.
  void End();
  // Lets a process started suspended run; false when it was not suspended.
  bool Resume();

 private:
  HANDLE process_ = nullptr;
  HANDLE suspendedThread_ = nullptr;
  DWORD processId_ = 0;
  std::wstring errorFile_;
};

// Outcome of a one-shot run.
struct RunResult {
  bool exited = false;  // false: still running at the deadline (then ended)
  DWORD exitCode = 0;
  std::string standardError;
  Timeout duration{};
};

// --- Windows of the program ---------------------------------------------

// The running instance's tray window, or null.
[[nodiscard]] HWND FindTrayWindow();
[[nodiscard]] DWORD WindowProcessId(HWND window);
// A top-level window of `processId` with that class (and title, unless
// null) once it is visible: a dialog is ready only then.
[[nodiscard]] HWND WaitForVisibleWindow(DWORD processId, const wchar_t* className, const wchar_t* title,
                                        Timeout timeout = kDefaultTimeout);

// Holds the thread that runs `window` still (suspended), as a thread busy
// elsewhere would be, until Release() or the end of the holder.
class HeldWindowThread {
 public:
  explicit HeldWindowThread(HWND window);
  ~HeldWindowThread();
  HeldWindowThread(const HeldWindowThread&) = delete;
  HeldWindowThread& operator=(const HeldWindowThread&) = delete;

  [[nodiscard]] bool Held() const noexcept { return held_; }
  // Lets the thread go on; false when it was not held or could not be resumed.
  bool Release();

 private:
  HANDLE thread_ = nullptr;
  bool held_ = false;
};

// Whether the notification area holds the icon of `tray_window` with id
// `iconId` (the program uses its process id). Asks the shell to modify the
// icon without changing anything, which succeeds only for an existing icon.
[[nodiscard]] bool TrayIconPresent(HWND trayWindow, UINT iconId);

// Deletes that icon, as a restarting notification area loses it; true when
// there was one.
bool DeleteTrayIcon(HWND trayWindow, UINT iconId);

// What the shell does on a mouse event over the icon (WM_RBUTTONUP etc.).
void PostTrayCallback(HWND trayWindow, UINT mouseMessage);

// The visible pop-up menu of `processId`, once it is shown.
[[nodiscard]] HWND WaitForPopupMenu(DWORD processId, Timeout timeout = kDefaultTimeout);
// Chooses the item with the access key `key` (the underlined letter, as
// "x" in "E&xit") in an open pop-up menu, as a keyboard user does.
void ChooseMenuItem(HWND menuWindow, wchar_t key);

// --- Registry ----------------------------------------------------------------

[[nodiscard]] bool RegistryKeyExists(HKEY root, const std::wstring& path);
[[nodiscard]] std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& path, const std::wstring& name);
void WriteRegistryDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
void DeleteRegistryTree(HKEY root, const std::wstring& path);

// --- Files ---------------------------------------------------------------------

// %APPDATA%\Tarnwick\config\p-core-list.txt of this prefix.
[[nodiscard]] std::wstring ListFilePath();
// Writes the entries in the list file's format (UTF-16 LE, CR LF after each).
void WriteListFile(const std::vector<std::wstring>& entries);
// The entries of the list file (lines split at LF, CRs dropped); nullopt
// when the file does not exist.
[[nodiscard]] std::optional<std::vector<std::wstring>> ReadListFile();
[[nodiscard]] bool FileExists(const std::wstring& path);
[[nodiscard]] std::optional<std::string> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Runs a program of the Linux side (such as "/usr/bin/chattr") with these
// arguments and waits for it to end; false when it could not be started.
// Wine may give no handle to wait on: check the program's effect as well.
bool RunUnixProgram(const std::string& program, const std::vector<std::wstring>& arguments);
// The Linux path of a Windows path, as Wine maps it; empty outside Wine.
[[nodiscard]] std::wstring UnixPathOf(const std::wstring& windowsPath);

// --- Logon tasks -----------------------------------------------------------------

// The file in which Wine's task scheduler keeps the task `name`.
[[nodiscard]] std::wstring TaskFile(const std::wstring& name);
// Registers the task `name` with Wine's own "schtasks /create /xml", as an
// earlier release's install left it: a logon task of the Users group at the
// highest run level that starts `program` with "-tray". True once its file
// exists.
bool CreateLogonTaskWithSchtasks(const std::wstring& name, const std::wstring& program);

// --- Other programs ---------------------------------------------------------------

// Starts `command_line` as it is (CreateProcessW without an application name,
// as the shell runs a registered command), in `workingFolder` when one is
// given, and waits up to `timeout` for its end: its exit code, or nullopt
// when it could not be started or still ran (then it is ended).
[[nodiscard]] std::optional<DWORD> RunCommandLine(const std::wstring& commandLine, Timeout timeout,
                                                  const std::wstring& workingFolder = {});

// --- Screen -------------------------------------------------------------------

// Saves the whole X display, or only `window`'s rectangle of it, as
// $TARNWICK_ARTIFACTS/<name>.png with ImageMagick's import, run as a Unix
// program from inside Wine. True once the picture exists. Without
// TARNWICK_ARTIFACTS nothing is taken.
bool TakeScreenshot(const std::string& name, HWND window = nullptr);

// A picture of a window as the screen shows it, pixels as COLORREF.
struct WindowPicture {
  POINT origin{};  // the window's top-left corner on the screen
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;  // rows from the top

  // The pixel at a screen point, or at a point of `window`'s client area;
  // nullopt outside the picture.
  [[nodiscard]] std::optional<COLORREF> AtScreen(POINT point) const;
  [[nodiscard]] std::optional<COLORREF> AtClient(HWND window, POINT point) const;
};
// Captures `window`'s rectangle of the display (after it has painted, as
// TakeScreenshot does); nullopt without TARNWICK_ARTIFACTS or on failure.
// Without `repaintFirst` the window is not repainted whole first: the
// picture shows what its own painting left on the screen.
[[nodiscard]] std::optional<WindowPicture> CaptureWindowPicture(HWND window, bool repaintFirst = true);

// The number of GDI objects `process` holds now (its GDI handle table).
[[nodiscard]] std::optional<size_t> LiveGdiObjects(const TarnwickProcess& process);

// The fixture of every end-to-end test: Start() and Run() launch the program,
// and TearDown ends whatever still runs (after a screenshot if the test failed).
class TarnwickTest : public testing::Test {
 protected:
  // Starts tarnwick.exe and returns it; the fixture ends it after the test.
  TarnwickProcess& Start(const std::vector<std::wstring>& arguments = {});
  // Starts tarnwick.exe suspended: it exists, with its command line, but has
  // run nothing of its own until Resume().
  TarnwickProcess& StartSuspended(const std::vector<std::wstring>& arguments);
  // Starts tarnwick.exe and waits for it to exit.
  RunResult Run(const std::vector<std::wstring>& arguments, Timeout timeout = kDefaultTimeout);
  // Starts tarnwick.exe and waits until its tray window and icon exist.
  TarnwickProcess& StartInstance(const std::vector<std::wstring>& arguments = {});
  // "<Suite>.<Test>-<label>" for screenshots.
  [[nodiscard]] static std::string ArtifactName(const std::string& label);

  void TearDown() override;

  // What Start() runs; a fixture may set ForcedDarkExePath().
  std::wstring executable_ = TarnwickExePath();

 private:
  std::vector<std::unique_ptr<TarnwickProcess>> started_;
};

}  // namespace tarnwick::e2e
