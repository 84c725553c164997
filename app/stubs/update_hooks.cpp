// Stand-in until the update checker arrives.
#include "app/hooks.h"

namespace tarnwick {

void StartUpdateChecker() {}

}  // namespace tarnwick
