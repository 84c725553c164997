#include "ui/add_entry_dialog.h"

#include "platform/window_state.h"
#include "res/resource.h"
#include "ui/dialog_dpi.h"
#include "ui/program_instance.h"
#include "ui/theme.h"

#include <algorithm>
#include <string>
#include <utility>

namespace tarnwick {

namespace {

// One dialog at a time: it is modal and owned by the main window.
PaletteBrush AddDialogBrush(kDialogBackgroundSlot);

// The edit field takes at most 1023 characters typed or pasted, and every
// text it holds comes back whole. The main window opens no longer entry in it.
constexpr int kEntryMaxLength = 1023;

// The caller's text, which the dialog edits: its state for the time it is open.
std::wstring* EntryBuffer(HWND dialog) noexcept { return WindowStateOf<std::wstring>(dialog, kDialogStateSlot); }

INT_PTR OnInitDialog(HWND dialog, LPARAM parameter) noexcept {
  if (parameter == 0) return FALSE;
  EnableDialogDpiScaling(dialog);
  ::SetWindowLongPtrW(dialog, kDialogStateSlot, parameter);
  const std::wstring* entry = EntryBuffer(dialog);
  ::SendDlgItemMessageW(dialog, IDC_ENTRY_EDIT, EM_LIMITTEXT, kEntryMaxLength, 0);
  if (!entry->empty()) ::SetDlgItemTextW(dialog, IDC_ENTRY_EDIT, entry->c_str());
  ::SendMessageW(dialog, WM_THEMECHANGED, 0, 0);
  // The edit field is the first tab stop: the dialog manager focuses it and selects its text.
  return TRUE;
}

void OnOk(HWND dialog) noexcept {
  // Read at its own length: a text set by a program may exceed what typing allows.
  const HWND field = ::GetDlgItem(dialog, IDC_ENTRY_EDIT);
  std::wstring text(static_cast<size_t>(std::max(::GetWindowTextLengthW(field), 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(std::max(::GetWindowTextW(field, text.data(), static_cast<int>(text.size())), 0)));
  if (std::wstring* entry = EntryBuffer(dialog)) *entry = std::move(text);
  ::EndDialog(dialog, 0);
}

INT_PTR CALLBACK AddEntryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        OnOk(dialog);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ::EndDialog(dialog, 1);
      return TRUE;
    case WM_DESTROY:
      AddDialogBrush.Reset();
      return 0;
    default:
      return HandleDialogThemeMessage(dialog, message, wParam, lParam, AddDialogBrush, {IDOK, IDCANCEL})
          .value_or(FALSE);
  }
}

}  // namespace

INT_PTR RunAddEntryDialog(HWND owner, std::wstring& entry) noexcept {
  return ::DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ADD_ENTRY), owner, AddEntryDialogProc,
                           reinterpret_cast<LPARAM>(&entry));
}

}  // namespace tarnwick
