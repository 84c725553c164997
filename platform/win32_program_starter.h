// ProgramStarter over CreateProcessW, ShellExecuteExW and the desktop's shell.
#pragma once

#include "platform/program_starter.h"

namespace tarnwick {

class Win32ProgramStarter final : public ProgramStarter {
 public:
  // TokenElevation of this process's token; false when it cannot be read.
  [[nodiscard]] bool IsElevated() override;
  [[nodiscard]] bool StartProgram(const std::wstring& path, const std::wstring& arguments,
                                  const std::wstring& folder) override;
  [[nodiscard]] bool StartElevated(const std::wstring& path, const std::wstring& arguments) override;
  // Not elevated: ShellExecuteW. Elevated: the desktop's shell (Explorer,
  // running as the desktop's user) is asked through IShellDispatch2 to open
  // it; COM is initialised on this thread for the call. Without that shell
  // nothing is opened: a browser elevated, or as the administrator who
  // approved an update, would be worse than none.
  [[nodiscard]] bool OpenWebPage(const std::wstring& url) override;
  // The Windows folder's explorer.exe with "/select," and the quoted path,
  // started as OpenWebPage opens a page.
  [[nodiscard]] bool ShowFileInFolder(const std::wstring& path) override;
};

}  // namespace tarnwick
