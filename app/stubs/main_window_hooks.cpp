// Stand-ins until the main window and dark mode arrive.
#include "app/hooks.h"

namespace tarnwick {

void OpenMainWindow() {}
void InitDarkMode() {}

}  // namespace tarnwick
