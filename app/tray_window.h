// The hidden window that owns the notification-area icon and its menu and
// is the hub of the program's messages (app/messages.h).
#pragma once

#include <windows.h>

namespace tarnwick {

// Registers the class "Tarnwick_TrayClass", creates the hidden window and adds
// the icon; false when the window could not be created.
bool CreateTrayWindow();

// Deletes the icon; nothing when there is none.
void RemoveTrayIcon();

}  // namespace tarnwick
