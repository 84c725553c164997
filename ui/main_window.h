// The main window: the process list editor, the placement-method switches, the
// update command, the utilization graph and the status bar. The tray window
// opens it with OpenMainWindow: it runs the window modally without an owner
// and, when the user closes it with "OK", sends WMU_START_WORKER to the tray
// window so that the worker runs with the list as saved.
#pragma once

#include "config/process_list.h"
#include "config/settings_store.h"
#include "enforce/worker.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace tarnwick {

// What the main window uses of the program around it, handed down by the
// tray window (the program's globals) or by a test. Everything named here
// outlives every opening of the window.
struct MainWindowLinks {
  // The methods' switches and the look of the progress bars.
  SettingsStore& settings;
  const std::wstring& listFilePath;
  // What the program last learnt the list file holds; the main window's reads
  // and saves update it. On the user-interface thread only.
  ListFileStamp& knownListFileStamp;
  // The running worker: its state, its counts and the rows of its last pass.
  WorkerControl& worker;
  // Registered with the worker, so that every pass refreshes the status.
  HANDLE passDoneEvent;
  // The tray window, told of every saved edit (WMU_LIST_CHANGED) and of OK.
  const std::atomic<HWND>& trayWindow;
  // Set to the main window while it is open, and back to null.
  std::atomic<HWND>& mainWindow;
};

// Runs the main window modally (DialogBoxParamW of IDD_MAIN_WINDOW, no owner)
// and, when it ends with OK, sends WMU_START_WORKER to the tray window. Called
// by the tray window only while no main window is open; otherwise the tray
// window brings it forward.
void OpenMainWindow(const MainWindowLinks& links);

// Tells the user that the list file at `listFilePath` was missing and a copy
// left by an interrupted save was put in its place.
void ShowListFileRestored(HWND owner, const std::wstring& listFilePath);
// Tells the user why the list file is refused (too large, unreadable,
// undecodable) and that it will not be overwritten.
void ShowListFileRefusedMessage(HWND owner, const std::wstring& listFilePath, ListFileStatus status,
                                const ListFileReading& reading);

// Adds entries to the open main window's list as the Add dialog's OK does:
// empty ones are skipped, one already listed (letter case ignored) is refused
// with "ERROR: Item already in list", the others are inserted, the list is
// saved and the tray window told. A failed save is reported and the list box
// goes back to what the file holds. True when the list was saved with them.
// On the main window's thread only.
bool AddEntriesToList(HWND mainWindow, const std::vector<std::wstring>& entries) noexcept;

}  // namespace tarnwick
