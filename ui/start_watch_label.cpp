#include "ui/start_watch_label.h"

#include <vector>

namespace tarnwick {

std::wstring StartWatchLabelText(const StartWatchStatus& status) {
  const std::wstring byPass = L"&Running processes (listed ones placed within a second; ";
  const std::wstring code = status.error != ERROR_SUCCESS ? L", error " + std::to_wstring(status.error) : L"";
  switch (status.state) {
    case StartWatchState::Off:
      break;
    case StartWatchState::Watching:
      return L"&Running processes (listed ones placed as they start):";
    case StartWatchState::NotElevated:
      return byPass + L"as they start needs administrator rights):";
    case StartWatchState::NoSession:
      return byPass + L"no event tracing session free" + code + L"):";
    case StartWatchState::Unavailable:
      return byPass + L"this system reports no process starts" + code + L"):";
    case StartWatchState::Ended:
      return byPass + L"the process start session was stopped" + code + L"):";
  }
  return L"&Running processes:";
}

void ShowStartWatchLabel(HWND label, const StartWatchStatus& status) noexcept {
  if (label == nullptr) return;
  const std::wstring text = StartWatchLabelText(status);
  const int length = ::GetWindowTextLengthW(label);
  std::vector<wchar_t> shown(static_cast<size_t>(length > 0 ? length : 0) + 1);
  ::GetWindowTextW(label, shown.data(), static_cast<int>(shown.size()));
  if (text != shown.data()) ::SetWindowTextW(label, text.c_str());
}

}  // namespace tarnwick
