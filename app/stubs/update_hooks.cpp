// Stand-ins until the updater arrives.
#include "app/hooks.h"

namespace tarnwick {

void StartUpdateChecker() {}
bool DownloadAndLaunchUpdate() { return false; }

}  // namespace tarnwick
