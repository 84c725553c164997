// Stand-ins until the enforcement worker arrives.
#include "app/hooks.h"

namespace tarnwick {

void StartWorkerFromListFile() {}
void RestartWorkerIfRunning() {}

}  // namespace tarnwick
