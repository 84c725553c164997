// The Running Processes window: every process of the worker's last pass, the
// pattern it matched and what each placement method did to it, with commands
// to add a process's name or path to the list and to copy rows. One at a time,
// not modal, owned by the main window; it refreshes on WMU_PASS_DONE.
#pragma once

#include "enforce/pass_results.h"
#include "platform/program_starter.h"

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

class SettingsStore;

// Adds entries to the list as the Add button does; `messageOwner` owns any
// message it shows.
using AddListEntries = std::function<void(HWND messageOwner, std::span<const std::wstring> entries)>;

// The list the window adds to, reached through the main window.
struct ProcessesWindowList {
  AddListEntries add;
  // The entries listed now.
  std::function<std::vector<std::wstring>()> listed;
  // Removes the entry as the Remove button does; `messageOwner` owns any message it shows.
  std::function<void(HWND messageOwner, const std::wstring& entry)> remove;
  // "Open File Location" shows files through it; none: the command is greyed.
  ProgramStarter* starter = nullptr;
};

// Opens the window over `owner`, reading the rows of `source`, or brings the
// open one forward; `settings` keeps its size, place, sort and columns. Null
// when it could not be created.
HWND OpenProcessesWindow(HWND owner, PassResultsExchange& source, ProcessesWindowList list, SettingsStore& settings);

// The open window, or null.
[[nodiscard]] HWND ProcessesWindow() noexcept;

// Reads the latest pass into the open window, keeping its selection, focus and
// scroll position; what WMU_PASS_DONE does. Nothing when no window is open or
// no newer pass was published.
void RefreshProcessesWindow() noexcept;

}  // namespace tarnwick
