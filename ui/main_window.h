// The main window: the process list editor, the placement-method switches, the
// update command, the utilization graph and the status bar. The tray window
// opens it through OpenMainWindow() of app/hooks.h, which ui/main_window.cpp
// defines: it runs the window modally without an owner and, when the user
// closes it with "OK", sends WMU_START_WORKER to the tray window so that the
// worker runs with the list as saved.
#pragma once

#include "app/hooks.h"
