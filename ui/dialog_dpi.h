// Dialogs made from templates, laid out again at a new DPI. Windows lays a
// template out at the DPI of the monitor the dialog opens on; when the dialog
// is moved to a monitor of another scaling (WM_DPICHANGED), its controls are
// placed again from their template positions, in the template's font at the
// new DPI, so the dialog looks as if it had opened there. The dialog
// manager's own rescaling (per-monitor v2, Windows 10 1703 on) is switched
// off for such a dialog: it knows neither the controls a dialog adds at run
// time nor the fonts it gives them, and one layout is done, not two.
#pragma once

#include <windows.h>

namespace tarnwick {

// Records the template layout of `dialog` (its controls' places in dialog
// units and its font) and handles WM_DPICHANGED and WM_GETDPISCALEDSIZE
// for it from then on. Call it first in WM_INITDIALOG, before the dialog
// adds controls of its own. The dialog procedure still receives
// WM_DPICHANGED, after the template's controls have their new places and
// the window the suggested rectangle, to lay out what it made itself. Its
// answer to WM_GETDPISCALEDSIZE is the size (window rectangle) it has at that
// DPI: its template's client area there with the frame of its style; the
// dialog procedure receives that message after it, with the size filled in,
// to add what it put around the template (a menu bar, a status bar).
void EnableDialogDpiScaling(HWND dialog) noexcept;

// The template's client area at the DPI the dialog is laid out at now, in
// pixels. Empty for a dialog not recorded.
[[nodiscard]] SIZE DialogTemplateClientSize(HWND dialog) noexcept;

}  // namespace tarnwick
