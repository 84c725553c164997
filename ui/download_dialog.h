// The dialog that shows a download under way and can cancel it, and the
// update steps that download through it.
#pragma once

#include "update/background_fetch.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace tarnwick {

// Runs the dialog modally over `owner` (may be null), showing resource string
// `textId` and the progress, until `fetch` ends or is given up for its pace,
// the user cancels (Cancel, Escape, the close box), or a quit message ends the
// loop (cancelled). While one dialog runs, another is not opened: that one is
// brought forward and the call reads Cancelled.
[[nodiscard]] BackgroundFetch::Outcome RunDownloadDialog(HWND owner, UINT textId, BackgroundFetch& fetch);

// The latest version on the server, asked under the dialog through WinINet on
// the channel that BetaUpdates picks; empty when nothing was learned or the
// user cancelled.
[[nodiscard]] std::wstring FetchLatestVersionUnderDialog(HWND owner);

enum class UpdateLaunch { Started, Failed, Cancelled };
// Downloads the installer of `announcedVersion` (packed) under the dialog
// over `owner` (when it is shown), which shows the download and its
// verification and can cancel them, and starts it. Its message boxes belong
// to `owner`. The caller tells the user of a failure; a cancelled download
// (by the user, or by the program's end) shows nothing.
UpdateLaunch DownloadAndLaunchUpdate(HWND owner, uint32_t announcedVersion);

}  // namespace tarnwick
