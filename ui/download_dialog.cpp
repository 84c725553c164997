#include "ui/download_dialog.h"

#include "config/settings_store.h"
#include "platform/resource_text.h"
#include "platform/win32_program_starter.h"
#include "platform/window_state.h"
#include "res/resource.h"
#include "ui/dialog_dpi.h"
#include "ui/messages.h"
#include "ui/program_instance.h"
#include "ui/theme.h"
#include "update/update_check.h"
#include "update/update_download.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

namespace tarnwick {
namespace {

// Often enough that the end of a download shows at once, rarely enough to
// cost nothing.
constexpr UINT kPollIntervalMs = 100;
constexpr int kProgressRange = 1000;

struct DownloadDialogState {
  BackgroundFetch* fetch = nullptr;
  UINT textId = 0;
  // Stays "cancelled" unless the download's end closes the dialog: a quit
  // message ends the dialog's loop without a word to the dialog.
  BackgroundFetch::Outcome outcome = BackgroundFetch::Outcome::Cancelled;
  bool marquee = false;
  bool verifyingShown = false;
};

// The one dialog open, if any.
HWND OpenDownloadDialog = nullptr;
PaletteBrush DownloadDialogBrush(kDialogBackgroundSlot);

DownloadDialogState& StateOf(HWND dialog) noexcept {
  return *WindowStateOf<DownloadDialogState>(dialog, kDialogStateSlot);
}

void ShowProgress(HWND dialog, DownloadDialogState& state) noexcept {
  const HWND bar = ::GetDlgItem(dialog, IDC_DOWNLOAD_PROGRESS);
  if (state.fetch->Checking() && !state.verifyingShown) {
    // The body is all here; what takes the time now is checking it.
    ::SetDlgItemTextW(dialog, IDC_DOWNLOAD_TEXT, LoadResourceText(IDS_VERIFYING_UPDATE).c_str());
    state.verifyingShown = true;
  }
  const size_t expected = state.verifyingShown ? 0 : state.fetch->Expected();
  if (expected == 0) {
    // No declared length: the bar only shows that something is under way.
    if (!state.marquee) {
      ::SetWindowLongPtrW(bar, GWL_STYLE, ::GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
      ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
      state.marquee = true;
    }
    return;
  }
  if (state.marquee) {
    ::SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    ::SetWindowLongPtrW(bar, GWL_STYLE, ::GetWindowLongPtrW(bar, GWL_STYLE) & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    state.marquee = false;
  }
  const size_t received = std::min(state.fetch->Received(), expected);
  ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(received * kProgressRange / expected), 0);
}

INT_PTR OnInitDialog(HWND dialog, LPARAM lParam) noexcept {
  EnableDialogDpiScaling(dialog);
  ::SetWindowLongPtrW(dialog, kDialogStateSlot, lParam);
  DownloadDialogState& state = StateOf(dialog);
  OpenDownloadDialog = dialog;
  ::SetDlgItemTextW(dialog, IDC_DOWNLOAD_TEXT, LoadResourceText(state.textId).c_str());
  ::SendDlgItemMessageW(dialog, IDC_DOWNLOAD_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
  ShowProgress(dialog, state);
  ::SetTimer(dialog, IDT_DOWNLOAD_POLL, kPollIntervalMs, nullptr);
  ::SendMessageW(dialog, WM_THEMECHANGED, 0, 0);
  return TRUE;
}

INT_PTR OnTimer(HWND dialog, WPARAM timerId) noexcept {
  if (timerId != IDT_DOWNLOAD_POLL) return FALSE;
  DownloadDialogState& state = StateOf(dialog);
  const BackgroundFetch::Outcome outcome = state.fetch->Poll();
  if (outcome == BackgroundFetch::Outcome::Running) {
    ShowProgress(dialog, state);
  } else {
    state.outcome = outcome;
    ::EndDialog(dialog, IDOK);
  }
  return TRUE;
}

INT_PTR OnCancel(HWND dialog) noexcept {
  DownloadDialogState& state = StateOf(dialog);
  state.fetch->Cancel();
  state.outcome = BackgroundFetch::Outcome::Cancelled;
  ::EndDialog(dialog, IDCANCEL);
  return TRUE;
}

INT_PTR CALLBACK DownloadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog, lParam);
    case WM_TIMER:
      return OnTimer(dialog, wParam);
    case WM_COMMAND:
      // Cancel, Escape and the close box all come as IDCANCEL.
      return LOWORD(wParam) == IDCANCEL ? OnCancel(dialog) : FALSE;
    case WM_DESTROY:
      ::KillTimer(dialog, IDT_DOWNLOAD_POLL);
      OpenDownloadDialog = nullptr;
      DownloadDialogBrush.Reset();
      return FALSE;
    default:
      return HandleDialogThemeMessage(dialog, message, wParam, lParam, DownloadDialogBrush, {IDCANCEL}).value_or(FALSE);
  }
}

}  // namespace

BackgroundFetch::Outcome RunDownloadDialog(HWND owner, UINT textId, BackgroundFetch& fetch) {
  if (OpenDownloadDialog != nullptr) {
    ::SetForegroundWindow(OpenDownloadDialog);
    fetch.Cancel();
    return BackgroundFetch::Outcome::Cancelled;
  }
  // A download that could not even start needs no dialog.
  if (const BackgroundFetch::Outcome early = fetch.Poll(); early != BackgroundFetch::Outcome::Running) return early;
  DownloadDialogState state;
  state.fetch = &fetch;
  state.textId = textId;
  ::DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_DOWNLOAD), owner, DownloadDialogProc,
                    reinterpret_cast<LPARAM>(&state));
  if (state.outcome != BackgroundFetch::Outcome::Done) fetch.Cancel();
  return state.outcome;
}

std::wstring FetchLatestVersionUnderDialog(HWND owner) {
  BackgroundFetch fetch(FetchJobOf(MakeUpdateFetcher(), VersionFileUrl(GetBetaUpdates()), kVersionFileMaxBytes),
                        kVersionFileLimits);
  if (RunDownloadDialog(owner, IDS_CHECKING_FOR_UPDATE, fetch) != BackgroundFetch::Outcome::Done) return {};
  return TakeVersionFile(fetch);
}

UpdateLaunch DownloadAndLaunchUpdate(HWND owner, uint32_t announcedVersion) {
  Win32ProgramStarter starter;
  // Written and checked on the download's thread, under the dialog's
  // "Verifying..." step; the thread may outlive this call when the user
  // cancels, so it shares what it prepares.
  auto prepared = std::make_shared<std::unique_ptr<PreparedInstaller>>();
  BackgroundFetch fetch(FetchJobOf(MakeUpdateFetcher(), InstallerUrl(GetBetaUpdates()), kInstallerMaxBytes),
                        kInstallerLimits,
                        [prepared, announcedVersion, elevated = starter.IsElevated()](std::vector<std::byte>& body) {
                          *prepared = PrepareInstaller(body, announcedVersion, elevated);
                          body = {};
                        });
  // A hidden owner (the tray window) would hide the dialog with it: it then stands alone.
  const HWND dialogOwner = owner != nullptr && ::IsWindowVisible(owner) ? owner : nullptr;
  switch (RunDownloadDialog(dialogOwner, IDS_DOWNLOADING_UPDATE, fetch)) {
    case BackgroundFetch::Outcome::Cancelled:
      return UpdateLaunch::Cancelled;
    case BackgroundFetch::Outcome::Done:
      break;
    default:
      return UpdateLaunch::Failed;
  }
  // Done: the download's thread has finished with `prepared`.
  return *prepared && StartPreparedInstaller(**prepared, owner, starter) ? UpdateLaunch::Started : UpdateLaunch::Failed;
}

}  // namespace tarnwick
