#include "app/startup.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return tarnwick::RunTarnwickFromEntryPoint(); }
