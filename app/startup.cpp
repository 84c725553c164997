#include "app/startup.h"

#include "app/command_line.h"
#include "app/globals.h"
#include "app/list_file_watcher.h"
#include "app/relay_threads.h"
#include "app/tray_window.h"
#include "app/worker_hooks.h"
#include "install/install_commands.h"
#include "install/program_protection.h"
#include "platform/com_task_scheduler.h"
#include "platform/etw_diagnostics.h"
#include "platform/process_command_line.h"
#include "ui/messages.h"
#include "ui/program_instance.h"
#include "ui/theme.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {
namespace {

// How long "--close" waits for the instances to end after its request.
constexpr ULONGLONG kCloseWaitMs = 10000;
constexpr DWORD kClosePollIntervalMs = 1000;
constexpr DWORD kCloseGraceMs = 500;
// How long a process of this program whose command line cannot be read yet
// is looked at again before it counts as an instance.
constexpr ULONGLONG kUndeterminedLookMs = 1000;
constexpr DWORD kUndeterminedPollIntervalMs = 50;
// How long a start that finds the instance mutex taken waits for the owner's
// tray window: the owner may itself be starting.
constexpr ULONGLONG kOwnerWindowWaitMs = 20000;
constexpr DWORD kOwnerPollIntervalMs = 50;

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
  WriteToStandardError(OptionsDescriptionText() + "\n" + ExitCodesText());
  return kHelpExitCode;
}

// The logon task runs the program with the highest rights at every logon: a
// program that any user could replace would hand those rights to them.
int InstallLogonTaskForThisProgram() {
  const std::wstring program = CurrentProgramPath();
  if (!program.empty() && OthersCanReplaceProgram(program)) {
    const bool removed = RunRefusedInstall(MakeComTaskScheduler);
    WriteToStandardError(
        std::string(
            "Tarnwick: not installing the logon task: accounts other than administrators can replace this program "
            "or a folder on its path; install it into Program Files first. ") +
        (removed ? "Tarnwick will not start at logon (earlier logon tasks were removed).\n"
                 : "The Task Scheduler could not be reached to remove earlier logon tasks.\n"));
    return 1;
  }
  return RunInstall(MakeComTaskScheduler, program);
}

int RejectCommandLine(const std::string& problem) {
  WriteToStandardError("Tarnwick: " + problem + "\n" + OptionsDescriptionText() + "\n");
  return kRejectedExitCode;
}

DWORD WINAPI SendOpenMainWindow(void* running) noexcept {
  return static_cast<DWORD>(::SendMessageW(static_cast<HWND>(running), WMU_OPEN_MAIN_WINDOW, 0, 0));
}

// How a hand-over to a running instance ended.
enum class HandOver { Answered, Closed, NotAnswered };

// Another instance runs: it opens (or brings forward) its main window. The
// request is answered once that window is closed, so this process waits for
// it, unless the instance ends or a close request ends this wait first. An
// instance that is ending answers 0, or not at all.
HandOver HandOverToRunningInstance(HWND running) {
  // This start has the foreground (the user just started it): it passes the
  // right on, or Windows would refuse the running instance's window and only
  // flash its taskbar button.
  DWORD runningProcess = 0;
  ::GetWindowThreadProcessId(running, &runningProcess);
  if (runningProcess != 0) ::AllowSetForegroundWindow(runningProcess);
  unique_handle instance(::OpenProcess(SYNCHRONIZE, FALSE, runningProcess));
  // The send blocks until the window it opens is closed: a thread of its own
  // waits in it, and ends with the process whatever it is waiting for.
  unique_handle sender(::CreateThread(nullptr, 0, SendOpenMainWindow, running, 0, nullptr));
  if (!sender) {
    return ::SendMessageW(running, WMU_OPEN_MAIN_WINDOW, 0, 0) == kMainWindowOpened ? HandOver::Answered
                                                                                    : HandOver::NotAnswered;
  }
  HANDLE waits[3] = {sender.get()};
  DWORD count = 1;
  if (instance) waits[count++] = instance.get();
  if (CloseRequestEvent) waits[count++] = CloseRequestEvent.get();
  ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
  if (IsSet(CloseRequestEvent)) return HandOver::Closed;
  DWORD answer = 0;
  if (::WaitForSingleObject(sender.get(), 0) == WAIT_OBJECT_0 && ::GetExitCodeThread(sender.get(), &answer) &&
      answer == kMainWindowOpened) {
    return HandOver::Answered;
  }
  return HandOver::NotAnswered;
}

// The outcome of taking the instance mutex.
enum class InstanceRole { Run, HandedOver, Ended, NoWindow };

// One instance per session: the start that owns the mutex runs; any other
// waits (bounded) for the owner's tray window and hands over to it, or takes
// the mutex over when the owner ended without one (or was ending when asked).
InstanceRole TakeInstanceRole(unique_handle& mutex) {
  mutex.reset(::CreateMutexW(nullptr, TRUE, kInstanceMutexName));
  const DWORD error = ::GetLastError();
  if (mutex && error != ERROR_ALREADY_EXISTS) return InstanceRole::Run;
  // A mutex that cannot be made at all guards nothing: run as before. One
  // made by an elevated instance and denied to this start: only hand over.
  if (!mutex && error != ERROR_ACCESS_DENIED) return InstanceRole::Run;
  const ULONGLONG deadline = ::GetTickCount64() + kOwnerWindowWaitMs;
  HWND ending = nullptr;
  while (true) {
    if (mutex) {
      const DWORD wait = ::WaitForSingleObject(mutex.get(), kOwnerPollIntervalMs);
      // An owner that ended (abandoned) leaves the instance to this start.
      if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return InstanceRole::Run;
    } else {
      ::Sleep(kOwnerPollIntervalMs);
    }
    const HWND running = ::FindWindowW(kTrayWindowClass, nullptr);
    if (running != nullptr && running != ending) {
      switch (HandOverToRunningInstance(running)) {
        case HandOver::Answered:
          return InstanceRole::HandedOver;
        case HandOver::Closed:
          return InstanceRole::Ended;
        // The instance is ending: its mutex comes free soon, and its window
        // is not asked again meanwhile.
        case HandOver::NotAnswered:
          ending = running;
          break;
      }
    }
    if (IsSet(CloseRequestEvent)) return InstanceRole::Ended;
    if (::GetTickCount64() >= deadline) return InstanceRole::NoWindow;
  }
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

// Releases the instance mutex when the run ends, if this process owns it.
struct OwnedMutex {
  unique_handle handle;
  bool owned = false;
  ~OwnedMutex() {
    if (owned) ::ReleaseMutex(handle.get());
  }
};

int RunTrayApplication() {
  OwnedMutex instance;
  switch (TakeInstanceRole(instance.handle)) {
    case InstanceRole::Run:
      instance.owned = static_cast<bool>(instance.handle);
      break;
    case InstanceRole::HandedOver:
    case InstanceRole::Ended:
      return 0;
    case InstanceRole::NoWindow:
      WriteToStandardError("Tarnwick: another instance holds this session but shows no tray window.\n");
      return 1;
  }
  const QuitSignalOnReturn quitSignal;
  const WindowThreadSetUp windowThread;
  // Does nothing more than read the setting when the user switched dark mode off.
  InitDarkMode(*UserSettings);

  // The watcher runs before the window exists: a hand-over that arrives while
  // the window is made opens the main window, and a close must reach it.
  // Without its event the watcher's wait would fail at once and end the
  // instance; it runs on, closed from its menu, and "--close" cannot reach it.
  if (CloseRequestEvent && !StartCloseWatcher(QuitEvent.get(), CloseRequestEvent.get(), TrayWindowHandle)) return 1;
  // Without its window the instance could neither be used nor closed.
  if (!CreateTrayWindow()) return 1;
  // A close that came before the window existed had no window to tell.
  if (IsSet(QuitEvent)) ::DestroyWindow(TrayWindowHandle.load());
  // Without the relay only the main window's status refresh after each pass is lost.
  (void)StartPassRelay(QuitEvent.get(), PassDoneEvent.get(), MainWindowHandle);
  // Without the watcher, changes other programs make show at the next opening or save.
  (void)StartListFileWatcher(QuitEvent.get(), ListFilePath, TrayWindowHandle);
  RunMessageLoop();
  RemoveTrayIcon();
  StopWorkerBeforeExit();
  return 0;
}

// Whether the instance mutex of this session exists (held by a running or
// waiting start); one made by an elevated instance may deny us even a look.
bool InstanceMutexExists() {
  unique_handle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kInstanceMutexName));
  return mutex || ::GetLastError() == ERROR_ACCESS_DENIED;
}

// What another process of this program is, as far as a closer can tell.
enum class ProcessRole { NotAnInstance, Instance, Undetermined };

// A process counts as an instance when its command line starts the tray
// application: from its first instruction on, before it has made any named
// object. The command forms ("--close" beside this one, "--install"...) never
// count. A process whose command line cannot be read (still being made,
// ending, or denying us the access) is undetermined.
ProcessRole RoleOfProcess(DWORD processId) {
  unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process) {
    return ::GetLastError() == ERROR_INVALID_PARAMETER ? ProcessRole::NotAnInstance : ProcessRole::Undetermined;
  }
  // An ended process may stay listed while its last handles are open.
  if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return ProcessRole::NotAnInstance;
  const std::optional<std::wstring> commandLine = ReadProcessCommandLine(processId);
  if (!commandLine) return ProcessRole::Undetermined;
  return ParseCommandLine(ArgumentsOfCommandLine(*commandLine)).command == Command::Run ? ProcessRole::Instance
                                                                                        : ProcessRole::NotAnInstance;
}

// The strongest role among the other processes of this program's file name,
// in any session (the close event reaches them all).
ProcessRole RoleOfOtherProcessesOfThisProgram() {
  const std::wstring ownPath = CurrentProgramPath();
  if (ownPath.empty()) return ProcessRole::NotAnInstance;
  const std::wstring ownName = ownPath.substr(ownPath.find_last_of(L"\\/") + 1);
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ProcessRole::Undetermined;
  ProcessRole strongest = ProcessRole::NotAnInstance;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId() || _wcsicmp(entry.szExeFile, ownName.c_str()) != 0) continue;
    switch (RoleOfProcess(entry.th32ProcessID)) {
      case ProcessRole::Instance:
        return ProcessRole::Instance;
      case ProcessRole::Undetermined:
        strongest = ProcessRole::Undetermined;
        break;
      case ProcessRole::NotAnInstance:
        break;
    }
  }
  return strongest;
}

// Whether an instance remains. A process whose command line cannot be read
// is looked at again for a moment (a command form that is being made or is
// ending becomes readable or goes); one that stays so counts as an instance.
bool InstancesRemain() {
  const ULONGLONG deadline = ::GetTickCount64() + kUndeterminedLookMs;
  while (true) {
    if (InstanceMutexExists()) return true;
    const ProcessRole role = RoleOfOtherProcessesOfThisProgram();
    if (role != ProcessRole::Undetermined) return role == ProcessRole::Instance;
    if (::GetTickCount64() >= deadline) return true;
    ::Sleep(kUndeterminedPollIntervalMs);
  }
}

}  // namespace

int CloseRunningInstances() {
  if (!InstancesRemain()) return 1;
  // This process's handle (made at its start) keeps the event alive and set
  // while it waits: an instance that is still starting opens it set and ends.
  unique_handle request = DuplicateForThread(CloseRequestEvent.get());
  if (!request) request.reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kCloseEventName));
  if (!request || !::SetEvent(request.get())) {
    WriteToStandardError("Tarnwick: the close request could not be sent; an instance is still running.\n");
    return kCloseTimedOutExitCode;
  }
  const ULONGLONG deadline = ::GetTickCount64() + kCloseWaitMs;
  while (InstancesRemain()) {
    if (::GetTickCount64() >= deadline) {
      WriteToStandardError("Tarnwick: an instance is still running 10 seconds after the close request.\n");
      return kCloseTimedOutExitCode;
    }
    ::Sleep(kClosePollIntervalMs);
  }
  ::Sleep(kCloseGraceMs);
  return 0;
}

WindowThreadSetUp::WindowThreadSetUp() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
  if (!::InitCommonControlsEx(&controls)) ::InitCommonControls();
}

int RunTarnwickFromEntryPoint() {
  AppInstance = ::GetModuleHandleW(nullptr);
  // What goes wrong, for whoever traces the provider, from here to the exit;
  // nothing is recorded while no one does.
  EtwDiagnostics diagnostics;
  const InstalledDiagnostics installed(diagnostics);
  // The runtime's split of the command line, without the program name.
  std::vector<std::wstring> arguments;
  for (int index = 1; index < __argc; ++index) arguments.emplace_back(__wargv[index]);
  return RunTarnwick(arguments);
}

int RunTarnwick(const std::vector<std::wstring>& arguments) {
  const CommandLine commandLine = ParseCommandLine(arguments);
  ShowAtStartup = commandLine.showMainWindow;
  switch (commandLine.command) {
    case Command::Rejected:
      return RejectCommandLine(commandLine.problem);
    case Command::Help:
      return ShowHelp();
    case Command::Install:
      return InstallLogonTaskForThisProgram();
    case Command::Uninstall:
      return RunUninstall(MakeComTaskScheduler);
    case Command::Close:
      return CloseRunningInstances();
    case Command::Run:
      return RunTrayApplication();
  }
  return RunTrayApplication();
}

}  // namespace tarnwick
