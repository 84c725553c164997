#include "app/startup.h"

#include "app/command_line.h"
#include "app/globals.h"
#include "app/hooks.h"
#include "app/messages.h"
#include "app/relay_threads.h"
#include "app/tray_window.h"
#include "install/install_commands.h"
#include "install/program_protection.h"
#include "platform/com_task_scheduler.h"

#include <commctrl.h>

#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

namespace tarnwick {
namespace {

constexpr int kClosePolls = 10;
constexpr DWORD kClosePollIntervalMs = 1000;
constexpr DWORD kCloseGraceMs = 500;

// Standard error is a pipe or file only when the starter redirected it; the
// text is written as it is, without newline translation.
void WriteToStandardError(std::string_view text) {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

int ShowHelp() {
  WriteToStandardError(OptionsDescriptionText() + "\n");
  return kHelpExitCode;
}

// The logon task runs the program with the highest rights at every logon: a
// program that any user could replace would hand those rights to them.
int InstallLogonTaskForThisProgram() {
  const std::wstring program = CurrentProgramPath();
  if (!program.empty() && OthersCanReplaceProgram(program)) {
    WriteToStandardError(
        "Tarnwick: not installing the logon task: accounts other than administrators can replace this program "
        "or a folder on its path; install it into Program Files first.\n");
    return 1;
  }
  return RunInstall(MakeComTaskScheduler, program);
}

int RejectCommandLine(const std::string& problem) {
  WriteToStandardError("Tarnwick: " + problem + "\n" + OptionsDescriptionText() + "\n");
  return kRejectedExitCode;
}

// Another instance runs: it opens (or brings forward) its main window. The
// send returns once that window is closed, so this process waits for it.
bool HandOverToRunningInstance() {
  const HWND running = ::FindWindowW(kTrayWindowClass, nullptr);
  if (running == nullptr) return false;
  // This start has the foreground (the user just started it): it passes the
  // right on, or Windows would refuse the running instance's window and only
  // flash its taskbar button.
  DWORD running_process = 0;
  ::GetWindowThreadProcessId(running, &running_process);
  if (running_process != 0) ::AllowSetForegroundWindow(running_process);
  ::SendMessageW(running, WMU_OPEN_MAIN_WINDOW, 0, 0);
  return true;
}

void InitCommonControlsOnce() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
  if (!::InitCommonControlsEx(&controls)) ::InitCommonControls();
}

void RunMessageLoop() {
  MSG message{};
  while (true) {
    const BOOL result = ::GetMessageW(&message, nullptr, 0, 0);
    if (result == 0) return;
    if (result == -1) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// However the run ends, the threads that wait on QuitEvent (the update
// checker may be inside a download) are told before the process-wide state
// is destroyed; the menu's Exit ends the loop without destroying the window.
struct QuitSignalOnReturn {
  QuitSignalOnReturn() = default;
  QuitSignalOnReturn(const QuitSignalOnReturn&) = delete;
  QuitSignalOnReturn& operator=(const QuitSignalOnReturn&) = delete;
  ~QuitSignalOnReturn() { ::SetEvent(QuitEvent.get()); }
};

int RunTrayApplication() {
  if (HandOverToRunningInstance()) return 0;
  const QuitSignalOnReturn quit_signal;
  InitCommonControlsOnce();
  // Does nothing more than read the setting when the user switched dark mode off.
  InitDarkMode();

  // Without its window the instance could neither be used nor closed.
  if (!CreateTrayWindow()) return 1;
  // Without its event the watcher's wait would fail at once and end the
  // instance; it runs on, closed from its menu, and "--close" cannot reach it.
  if (CloseRequestEvent) {
    try {
      std::thread(CloseWatcherThread, QuitEvent.get(), CloseRequestEvent.get(), std::cref(TrayWindowHandle))
          .detach();
    } catch (const std::system_error&) {
      // Without the watcher "--close" could not end this instance.
      RemoveTrayIcon();
      return 1;
    }
  }
  try {
    std::thread(PassRelayThread, QuitEvent.get(), PassDoneEvent.get(), std::cref(MainWindowHandle)).detach();
  } catch (const std::system_error&) {
    // Only the main window's status refresh after each pass is lost.
  }
  RunMessageLoop();
  RemoveTrayIcon();
  StopWorkerBeforeExit();
  return 0;
}

}  // namespace

int CloseRunningInstances() {
  // Our own handle would keep the event alive and hide whether others remain.
  CloseRequestEvent.reset();
  {
    unique_handle request(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kCloseEventName));
    if (!request) return 1;
    ::SetEvent(request.get());
  }
  for (int poll = 0; poll < kClosePolls; ++poll) {
    unique_handle still_open(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kCloseEventName));
    if (!still_open) {
      ::Sleep(kCloseGraceMs);
      return 0;
    }
    still_open.reset();
    ::Sleep(kClosePollIntervalMs);
  }
  return 0;
}

int RunTarnwickFromEntryPoint() {
  AppInstance = ::GetModuleHandleW(nullptr);
  // The runtime's split of the command line, without the program name.
  std::vector<std::wstring> arguments;
  for (int index = 1; index < __argc; ++index) arguments.emplace_back(__wargv[index]);
  return RunTarnwick(arguments);
}

int RunTarnwick(const std::vector<std::wstring>& arguments) {
  const CommandLine command_line = ParseCommandLine(arguments);
  ShowAtStartup = command_line.show_main_window;
  switch (command_line.command) {
    case Command::Rejected: return RejectCommandLine(command_line.problem);
    case Command::Help: return ShowHelp();
    case Command::Install: return InstallLogonTaskForThisProgram();
    case Command::Uninstall: return RunUninstall(MakeComTaskScheduler);
    case Command::Close: return CloseRunningInstances();
    case Command::Run: return RunTrayApplication();
  }
  return RunTrayApplication();
}

}  // namespace tarnwick
