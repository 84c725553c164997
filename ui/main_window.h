// The main window: the process list editor, the placement-method switches, the
// update command, the utilization graph and the status bar. The tray window
// opens it through OpenMainWindow() of app/hooks.h, which ui/main_window.cpp
// defines: it runs the window modally without an owner and, when the user
// closes it with "OK", sends WMU_START_WORKER to the tray window so that the
// worker runs with the list as saved.
#pragma once

#include "app/hooks.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tarnwick {

// Adds entries to the open main window's list as the Add dialog's OK does:
// empty ones are skipped, one already listed (letter case ignored) is refused
// with "ERROR: Item already in list", the others are inserted, the list is
// saved and the tray window told. A failed save is reported and the list box
// goes back to what the file holds. True when the list was saved with them.
// On the main window's thread only.
bool AddEntriesToList(HWND mainWindow, const std::vector<std::wstring>& entries) noexcept;

}  // namespace tarnwick
