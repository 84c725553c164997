// What the tray window does with the enforcement worker: it runs with the
// list as the file holds it, and a changed list restarts a running worker.
// All run on the user-interface thread.
#pragma once

namespace tarnwick {

// Stop the running worker (if any), load the list file, start a new worker.
void StartWorkerFromListFile();
// The list file changed: restart the worker only when one is running.
void RestartWorkerIfRunning();
// After the message loop: stops watching process starts, then stops the
// worker, or ends the process at once when its pass does not end within a
// few seconds.
void StopWorkerBeforeExit();
// Ends the session that reports process starts (it would outlive the
// process): on every road out of the program.
void StopWatchingProcessStarts();

}  // namespace tarnwick
