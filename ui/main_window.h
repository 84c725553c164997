// The main window: the process list editor, the placement-method switches, the
// update command, the utilization graph and the status bar.
#pragma once

#include <windows.h>

namespace tarnwick {

// Runs the main window modally without an owner, or brings the open one to
// the front. When the user closes it with "OK", the tray window is told to
// restart the worker with the list as saved.
void OpenMainWindow() noexcept;

}  // namespace tarnwick
