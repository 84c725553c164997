// The hidden window that owns the notification-area icon and its menu and
// is the hub of the program's messages (ui/messages.h).
#pragma once

#include <windows.h>

namespace tarnwick {

// What the tray window's WMU_OPEN_MAIN_WINDOW returns when the main window
// was opened or brought forward.
inline constexpr LRESULT kMainWindowOpened = 1;

// Registers the class "Tarnwick_TrayClass", creates the hidden window and adds
// the icon; false when the window could not be created.
bool CreateTrayWindow();

// Deletes the icon; nothing when there is none.
void RemoveTrayIcon();

}  // namespace tarnwick
