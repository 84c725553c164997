// tarnwick.exe for the dark-mode end-to-end test. Wine has none of the
// system's dark entry points, so this build stands the recording fake in for
// them: dark mode is supported, and the user's choice is read, at every
// question, where Windows records it (AppsUseLightTheme 0 or absent: dark).
// Everything else, visual styles included, is the real program on Wine.
#include <windows.h>

#include "app/startup.h"
#include "tests/fakes/fake_dark_mode_api.h"
#include "ui/theme.h"

namespace {

bool UserChoseDarkApplications() {
  DWORD light = 0;
  DWORD size = sizeof(light);
  const LSTATUS read =
      ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                     L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &light, &size);
  return read != ERROR_SUCCESS || light == 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static tarnwick::FakeDarkModeApi forcedDark;
  forcedDark.recording = false;  // a long run would only grow the log
  forcedDark.forwardToSystem = true;
  forcedDark.appsDarkSource = UserChoseDarkApplications;
  tarnwick::UseDarkModeApi(forcedDark);
  return tarnwick::RunTarnwickFromEntryPoint();
}
