#include "update/update_download.h"

namespace tarnwick {

bool DownloadAndLaunchUpdate() { return false; }

}  // namespace tarnwick
