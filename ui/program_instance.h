// The module the windows, dialogs, icons, menus and strings come from.
#pragma once

#include <windows.h>

namespace tarnwick {

// Null until the entry point sets it to the program's module.
extern HINSTANCE AppInstance;
// The module the windows and their resources come from: the program's, or
// the calling program's when AppInstance was never set (a test program).
[[nodiscard]] HINSTANCE ProgramInstance() noexcept;

}  // namespace tarnwick
