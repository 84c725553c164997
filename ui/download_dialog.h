// The dialog that shows a download under way and can cancel it, and the
// update steps that download through it.
#pragma once

#include "update/background_fetch.h"

#include <windows.h>

#include <string>

namespace tarnwick {

// Runs the dialog modally over `owner` (may be null), showing resource string
// `text_id` and the progress, until `fetch` ends or is given up for its pace,
// the user cancels (Cancel, Escape, the close box), or a quit message ends the
// loop (cancelled). While one dialog runs, another is not opened: that one is
// brought forward and the call reads Cancelled.
[[nodiscard]] BackgroundFetch::Outcome RunDownloadDialog(HWND owner, UINT textId, BackgroundFetch& fetch);

// The latest version on the server, asked under the dialog through WinINet on
// the channel that BetaUpdates picks; empty when nothing was learned or the
// user cancelled.
[[nodiscard]] std::wstring FetchLatestVersionUnderDialog(HWND owner);

}  // namespace tarnwick
