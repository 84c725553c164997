// Downloading, verifying and starting the installer of a newer release.
#pragma once

namespace tarnwick {

// True when the installer was started. Until the download is built this
// reports failure, which the callers show as "Error launching updater".
bool DownloadAndLaunchUpdate();

}  // namespace tarnwick
