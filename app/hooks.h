// What the shell calls in the other subsystems; each subsystem defines its
// functions in its own folder (enforcement's in app/worker_hooks.cpp).
#pragma once

#include "config/process_list.h"

#include <windows.h>

#include <cstdint>

namespace tarnwick {

// Enforcement. Both run on the user-interface thread from the tray window.
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

// Main window. Runs it modally (DialogBoxParamW of IDD_MAIN_WINDOW, no
// owner) and, when it ends with OK, sends WMU_START_WORKER to the tray window.
// Called by the tray window's WMU_OPEN_MAIN_WINDOW only while
// MainWindowHandle is null; otherwise the tray window brings it forward.
void OpenMainWindow();
// Tells the user that the list file was missing and a copy left by an
// interrupted save was put in its place.
void ShowListFileRestored(HWND owner);
// Tells the user why the list file is refused (too large, unreadable,
// undecodable) and that it will not be overwritten.
void ShowListFileRefusedMessage(HWND owner, ListFileStatus status, const ListFileReading& reading);
// What the tray window's WMU_OPEN_MAIN_WINDOW returns when the main window
// was opened or brought forward.
inline constexpr LRESULT kMainWindowOpened = 1;
// Dark mode support at start-up, unless the user switched it off ("darkmode_disabled").
void InitDarkMode();

// Updates. Starts the detached update checker thread.
void StartUpdateChecker();
enum class UpdateLaunch { Started, Failed, Cancelled };
// Downloads the installer of `announced_version` (packed) under a dialog
// over `owner` (when it is shown) that shows the download and its
// verification and can cancel them, and starts it. Its message boxes belong
// to `owner`. The caller tells the user of a failure; a cancelled download
// (by the user, or by the program's end) shows nothing.
UpdateLaunch DownloadAndLaunchUpdate(HWND owner, uint32_t announcedVersion);

}  // namespace tarnwick
