// The order of the definitions below is the order of construction; the
// worker's control block comes last so that it is destroyed first, while the
// settings and events it uses still exist.
#include "app/globals.h"

#include "app/close_event.h"
#include "topology/core_map.h"

#include <shlobj.h>

namespace tarnwick {
namespace {

std::wstring RoamingAppDataFolder() {
  unique_cotaskmem folder;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, reinterpret_cast<PWSTR*>(folder.put())))) {
    return {};
  }
  return static_cast<const wchar_t*>(folder.get());
}

}  // namespace

MainWindowLinks ProgramMainWindowLinks() {
  return {*UserSettings,       ListFilePath,     KnownListFileStamp, Worker,
          PassDoneEvent.get(), TrayWindowHandle, MainWindowHandle};
}

std::wstring MakeListFilePath(const std::wstring& appData, LimitedTokenSource limitedToken) {
  const std::wstring product = appData + L"\\" TARNWICK_PRODUCT_NAME;
  const std::wstring config = product + L"\\config";
  // With the rights of the user's ordinary programs, or not at all: a
  // junction planted in the profile must not lead an elevated create elsewhere.
  const LimitedRightsScope limited(limitedToken);
  if (limited.Ok()) {
    for (const std::wstring* folder : {&appData, &product, &config}) ::CreateDirectoryW(folder->c_str(), nullptr);
  }
  return config + L"\\p-core-list.txt";
}

DWORD PassInterval = 1000;
bool ShowAtStartup = false;
std::atomic<HWND> TrayWindowHandle{nullptr};
std::atomic<HWND> MainWindowHandle{nullptr};
std::unique_ptr<SettingsStore> UserSettings = std::make_unique<SettingsStore>(HKEY_CURRENT_USER);
std::wstring ListFilePath = MakeListFilePath(RoamingAppDataFolder());
ListFileStamp KnownListFileStamp;
unique_handle QuitEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
unique_handle CloseRequestEvent = CreateCloseRequestEvent(kCloseEventName);
unique_handle PassDoneEvent{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
StoredWorkerSettings UserWorkerSettings{*UserSettings};
// The P-core mask of a temporary map: it never changes during the run.
WorkerControl Worker{CoreMap().PerformanceCoreMask()};

}  // namespace tarnwick
