#include "ui/about_dialog.h"

#include "res/resource.h"
#include "ui/dialog_dpi.h"
#include "ui/program_instance.h"
#include "ui/theme.h"
#include "update/version.h"

namespace tarnwick {

namespace {

PaletteBrush AboutDialogBrush(kDialogBackgroundSlot);

INT_PTR OnInitDialog(HWND dialog) noexcept {
  EnableDialogDpiScaling(dialog);
  ::SetWindowTextW(dialog, L"About Tarnwick");
  ::SetDlgItemTextW(dialog, IDC_ABOUT_TEXT, AboutText().c_str());
  ::SendMessageW(dialog, WM_THEMECHANGED, 0, 0);
  return TRUE;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      // Only "OK" clicked or Enter (notification 0, id 1); Escape does nothing.
      if (wParam == IDOK) {
        ::SendMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ::EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      AboutDialogBrush.Reset();
      return 0;
    default:
      return HandleDialogThemeMessage(dialog, message, wParam, lParam, AboutDialogBrush, {IDOK}).value_or(FALSE);
  }
}

}  // namespace

std::wstring AboutText() {
  std::wstring text = L"Tarnwick v";
  text += CurrentVersionText;
  text += L"\n\u00A9 2024 Ombrix. All rights reserved.";
  text += L"\nhttps://www.ombrix.example/";
  text += L"\n";
  text += L"\nApp icons from https://icons.example/";
  return text;
}

void RunAboutDialog(HWND owner) noexcept {
  ::DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDialogProc, 0);
}

}  // namespace tarnwick
