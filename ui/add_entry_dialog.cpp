#include "ui/add_entry_dialog.h"

#include "app/globals.h"
#include "res/resource.h"
#include "ui/theme.h"

namespace tarnwick {

namespace {

// One dialog at a time: it is modal and owned by the main window.
PaletteBrush AddDialogBrush(kDialogBackgroundSlot);

// The edit field takes at most 1023 characters, typed or pasted, and is read
// into 1024 (its terminating zero included): every text it holds comes back
// whole. The main window opens no longer entry in it.
constexpr int kEntryBufferLength = 1024;

std::wstring* EntryBuffer(HWND dialog) noexcept {
  return reinterpret_cast<std::wstring*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

INT_PTR OnInitDialog(HWND dialog, LPARAM parameter) noexcept {
  if (parameter == 0) return FALSE;
  ::SetWindowLongPtrW(dialog, GWLP_USERDATA, parameter);
  const std::wstring* entry = EntryBuffer(dialog);
  ::SendDlgItemMessageW(dialog, IDC_ENTRY_EDIT, EM_LIMITTEXT, kEntryBufferLength - 1, 0);
  if (!entry->empty()) ::SetDlgItemTextW(dialog, IDC_ENTRY_EDIT, entry->c_str());
  ::SendMessageW(dialog, WM_THEMECHANGED, 0, 0);
  // The edit field is the first tab stop: the dialog manager focuses it and selects its text.
  return TRUE;
}

void OnOk(HWND dialog) noexcept {
  wchar_t text[kEntryBufferLength] = {};
  ::GetWindowTextW(::GetDlgItem(dialog, IDC_ENTRY_EDIT), text, kEntryBufferLength);
  if (std::wstring* entry = EntryBuffer(dialog)) entry->assign(text);
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
