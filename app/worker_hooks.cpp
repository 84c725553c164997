#include "app/worker_hooks.h"

#include "app/command_line.h"
#include "app/globals.h"
#include "app/startup.h"
#include "config/process_list.h"
#include "config/product.h"
#include "enforce/worker.h"
#include "platform/etw_process_starts.h"
#include "platform/win32_system.h"
#include "ui/messages.h"

#include <string>
#include <vector>

namespace tarnwick {

namespace {

// How long the end of the program waits for a pass in progress.
constexpr DWORD kExitWorkerStopTimeoutMs = 3000;

ProcessStartSource* StartSourceInUse = nullptr;

// The session's name is the program's own and fixed per logon session (one
// instance runs in each): a session of that name is one this session's
// instance left behind, never another user's live one.
std::wstring StartSessionName() {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) session = 0;
  return TARNWICK_PRODUCT_NAME L" process starts (session " + std::to_wstring(session) + L")";
}

ProcessStartSource& StartSource() {
  if (StartSourceInUse == nullptr) {
    // Made at the first start of the worker and destroyed (stopped) before the worker's block.
    static EtwProcessStartSource systemSource(Win32TraceApi(), StartSessionName());
    StartSourceInUse = &systemSource;
  }
  return *StartSourceInUse;
}

}  // namespace

void UseProcessStartSource(ProcessStartSource& source) { StartSourceInUse = &source; }

void StopWatchingProcessStarts() {
  if (StartSourceInUse != nullptr) StartSourceInUse->Stop();
}

void StartWorkerFromListFile() {
  StopWorker(Worker);
  // An instance started while the close event was still set (another
  // instance was ending) is told to quit before its start-up messages run:
  // a worker started now would only make its exit wait for a first pass.
  if (IsSet(QuitEvent) || IsSet(CloseRequestEvent)) return;
  std::vector<std::wstring> entries;
  ListFileReading reading;
  ReadProcessListFile(ListFilePath, entries, &reading);
  KnownListFileStamp = reading.stamp;
  // Told after the worker has started, from the tray window's own message.
  if (reading.restored) ::PostMessageW(TrayWindowHandle.load(), WMU_SHOW_LIST_FILE_RESTORED, 0, 0);
  // Without a thread no worker runs: the status shows it stopped, and the
  // next OK of the main window tries again.
  StartWorker(Worker, std::move(entries), UserWorkerSettings, PassInterval);
  // Once per run (a restart for a new list keeps the session and its
  // queue); refused or unavailable, the passes place every process alone.
  if (Worker.startEvents.Status().state == StartWatchState::Off) (void)StartSource().Start(Worker.startEvents);
}

void StopWorkerBeforeExit() {
  // First: the forced end below would leave the session running.
  StopWatchingProcessStarts();
  // A pass that does not end in time must not keep the program alive after
  // it was asked to close: end without it (a pass changes nothing that an
  // interrupted one would leave half done). The exit code tells it.
  if (Worker.stopEvent && !StopWorkerWithin(Worker, kExitWorkerStopTimeoutMs)) {
    ::TerminateProcess(::GetCurrentProcess(), kStuckPassExitCode);
  }
}

void RestartWorkerIfRunning() {
  if (Worker.stopEvent) ::SendMessageW(TrayWindowHandle.load(), WMU_START_WORKER, 0, 0);
}

}  // namespace tarnwick
