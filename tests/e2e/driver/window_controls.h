// Reading and working the controls of the program's windows from the test's
// own process, as a user's clicks and keys would: status bars, buttons, edit
// fields and message boxes (list boxes: ui/list_box_text.h reads them across
// processes too). Every wait has a deadline.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/driver/tarnwick_driver.h"

namespace tarnwick::e2e {

// The text of one part of a status bar. The control's text lives in the
// program's memory, so it is fetched through a buffer placed there.
[[nodiscard]] std::wstring StatusBarPartText(HWND statusBar, int part);
// The rows of a report-view list view, each a vector of its cells' texts,
// asked of the control through a buffer placed in the program.
[[nodiscard]] std::vector<std::vector<std::wstring>> ListViewRows(HWND listView, int columns);
// Selects exactly the rows at `rows` (and focuses the first), as clicks would.
void SelectListViewRows(HWND listView, const std::vector<int>& rows);
// One node's panel of the utilization graph: its group box and title, and its
// cells in position order.
struct GraphPanel {
  HWND box;
  std::wstring title;
  std::vector<HWND> cells;
};
// The panels of the graph in the main window, in node order.
[[nodiscard]] std::vector<GraphPanel> GraphPanels(HWND mainWindow);
// PBM_GETPOS of a progress bar, such as a graph cell.
[[nodiscard]] int ProgressPosition(HWND progressBar);
// The text a tooltip of the program shows for `tool` of `toolWindow` (a
// graph cell of its group box), asked of the program's tooltips through a
// buffer placed in the program. Empty when no tooltip holds that tool.
[[nodiscard]] std::wstring ToolTipText(HWND toolWindow, HWND tool);

// Tells a window of the program that it moved to a monitor of `dpi`, as
// Windows does with WM_DPICHANGED, with `suggested` (screen coordinates) as
// its new place: the rectangle is placed in the program's memory, as the
// message is not marshalled between processes. False when it was not handled
// within the driver's deadline.
bool SendDpiChanged(HWND window, int dpi, const RECT& suggested);

// The text of a window or control, asked of the control itself.
[[nodiscard]] std::wstring WindowTextOf(HWND window);
// The texts of a dialog's static controls, such as a message box's message.
[[nodiscard]] std::vector<std::wstring> StaticTextsOf(HWND dialog);

// Clicks a dialog's button. Posted, because a button that opens a modal dialog
// does not return until that dialog closes.
void ClickButton(HWND dialog, int buttonId);
// Replaces the text of a dialog's edit field, as typing it would.
void TypeText(HWND dialog, int editId, const std::wstring& text);
// Double-clicks the list box entry at `index`, selecting it first.
void DoubleClickListEntry(HWND list, int index);

// A visible dialog (class "#32770") of `processId` with this caption, other
// than `except`, such as a message box over the main window.
[[nodiscard]] HWND WaitForDialog(DWORD processId, const wchar_t* caption, HWND except = nullptr,
                                 Timeout timeout = kDefaultTimeout);
// True once `window` is gone.
bool WaitForWindowGone(HWND window, Timeout timeout = kDefaultTimeout);
// Returns once the window's thread has handled everything sent to it before.
void WaitForWindowIdle(HWND window);

// The creation times of the threads of `processId`, to tell that one started
// after a moment (such as a restarted worker).
[[nodiscard]] FILETIME Now();
[[nodiscard]] bool ThreadStartedAfter(DWORD processId, FILETIME moment);

// The list file's last write, or nullopt when it does not exist.
[[nodiscard]] std::optional<FILETIME> ListFileLastWrite();

}  // namespace tarnwick::e2e
