// Process-wide state, built during static initialisation in the order of
// declaration in globals.cpp and destroyed in the reverse order.
#pragma once

#include "app/close_event.h"
#include "config/process_list.h"
#include "config/product.h"
#include "config/settings_store.h"
#include "enforce/stored_worker_settings.h"
#include "enforce/worker.h"
#include "platform/limited_rights.h"
#include "platform/unique_handle.h"
#include "ui/main_window.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

namespace tarnwick {

// The class also tells a second start that an instance is running.
inline constexpr const wchar_t* kTrayWindowClass = L"Tarnwick_TrayClass";
inline constexpr const wchar_t* kTrayWindowTitle = L"Tarnwick_TrayWnd";

// The user's settings under HKEY_CURRENT_USER, shared by the user-interface
// thread and the worker.
extern std::unique_ptr<SettingsStore> UserSettings;
// %APPDATA%\Tarnwick\config\p-core-list.txt; its folders exist from start-up.
extern std::wstring ListFilePath;
// What the program last learnt the list file holds (a read, or a save of its
// own): a change notification about the same content is no change. On the
// user-interface thread only.
extern ListFileStamp KnownListFileStamp;
// Milliseconds between two enforcement passes.
extern DWORD PassInterval;
// Set by the command line's "show": open the main window at start-up.
extern bool ShowAtStartup;
// Written by the user-interface thread, read by the relay threads.
extern std::atomic<HWND> TrayWindowHandle;
extern std::atomic<HWND> MainWindowHandle;
// Manual reset: set once the program is ending.
extern unique_handle QuitEvent;
// Manual reset, named kCloseEventName: set by "--close" in another process.
// Null when it could be neither made nor opened (another user's event that
// denies us): the instance then runs without a close watcher.
extern unique_handle CloseRequestEvent;
// Auto reset: signalled by the worker after every pass.
extern unique_handle PassDoneEvent;

// Whether a manual-reset event of the above exists and is set.
inline bool IsSet(const unique_handle& event) {
  return event && ::WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

// The worker's view of UserSettings: method switches and pass counts.
extern StoredWorkerSettings UserWorkerSettings;
// The enforcement worker's control block, placing on the P-cores of this
// machine; defined last, so destroyed first: its destruction stops the worker.
extern WorkerControl Worker;

// What the main window uses of the globals above.
[[nodiscard]] MainWindowLinks ProgramMainWindowLinks();

// The list file's path below `appData`, creating its folders with the
// rights of the user's ordinary programs (failures are ignored: a missing
// folder only makes the file unreadable and unwritable; so does an elevated
// process that cannot take those rights on: it creates nothing).
[[nodiscard]] std::wstring MakeListFilePath(const std::wstring& appData, LimitedTokenSource limitedToken = nullptr);

}  // namespace tarnwick
