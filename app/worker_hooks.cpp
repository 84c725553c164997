// The tray window's enforcement hooks: the worker runs with the list as the
// file holds it, and a changed list restarts a running worker.
#include "app/globals.h"
#include "app/hooks.h"
#include "app/messages.h"
#include "config/process_list.h"
#include "enforce/worker.h"

#include <string>
#include <vector>

namespace tarnwick {

void StartWorkerFromListFile() {
  StopWorker(Worker);
  std::vector<std::wstring> entries;
  LoadProcessList(ListFilePath, entries);
  // Without a thread no worker runs: the status shows it stopped, and the
  // next OK of the main window tries again.
  StartWorker(Worker, std::move(entries), UserWorkerSettings, PassInterval);
}

void RestartWorkerIfRunning() {
  if (Worker.StopEvent) ::SendMessageW(TrayWindowHandle.load(), WMU_START_WORKER, 0, 0);
}

}  // namespace tarnwick
