// The program's start: dispatch on the command line and the paths it leads to.
#pragma once

#include "platform/com_initialization.h"
#include "platform/process_start_source.h"

#include <string>
#include <vector>

namespace tarnwick {

// Test builds: the source of process starts in place of the system's event
// tracing session; set before RunTarnwick, alive until the process ends.
void UseProcessStartSource(ProcessStartSource& source);

// What the thread of the tray window holds for the whole run, made before its
// first window: COM as a single-threaded apartment without OLE 1 DDE, which
// the shell's calls (ShellExecuteExW, Shell_NotifyIconW, the desktop's shell
// dispatch) require of their caller, and the common controls.
class WindowThreadSetUp {
 public:
  WindowThreadSetUp();
  WindowThreadSetUp(const WindowThreadSetUp&) = delete;
  WindowThreadSetUp& operator=(const WindowThreadSetUp&) = delete;

 private:
  ScopedComInitialization apartment_{kWindowThreadApartment};
};

// Runs the program for `arguments` (program name excluded) and returns the
// process exit code.
int RunTarnwick(const std::vector<std::wstring>& arguments);

// The entry point's work: notes the instance handle and runs the program for
// the command line as the runtime split it.
int RunTarnwickFromEntryPoint();

// Asks every running instance to exit through the named close event: 0 once
// signalled (after waiting up to about 10 s for them to go), 1 when none runs.
int CloseRunningInstances();

}  // namespace tarnwick
