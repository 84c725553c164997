#include "update/update_download.h"

#include "app/hooks.h"

namespace tarnwick {

bool DownloadAndLaunchUpdate() { return false; }

}  // namespace tarnwick
