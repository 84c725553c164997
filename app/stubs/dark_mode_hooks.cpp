// Stand-in until dark mode arrives.
#include "app/hooks.h"

namespace tarnwick {

void InitDarkMode() {}

}  // namespace tarnwick
