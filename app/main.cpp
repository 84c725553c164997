#include "app/globals.h"
#include "app/startup.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tarnwick::AppInstance = ::GetModuleHandleW(nullptr);
  // The runtime's split of the command line, without the program name.
  std::vector<std::wstring> arguments;
  for (int index = 1; index < __argc; ++index) arguments.emplace_back(__wargv[index]);
  return tarnwick::RunTarnwick(arguments);
}
