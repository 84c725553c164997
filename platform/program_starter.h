// Starting the installer and the web pages of the updater. The program runs
// elevated at every logon, so how a program is started decides who else
// could have it run with those rights.
#pragma once

#include <string>

namespace tarnwick {

class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  ProgramStarter() = default;
  ProgramStarter(const ProgramStarter&) = delete;
  ProgramStarter& operator=(const ProgramStarter&) = delete;

  // Whether this process holds an elevated (full administrator) token.
  [[nodiscard]] virtual bool IsElevated() = 0;
  // CreateProcessW with `path` as the application name, `arguments` after
  // it and `folder` as the working folder: no verb, file association or
  // search path takes part. True when the process was started.
  [[nodiscard]] virtual bool StartProgram(const std::wstring& path, const std::wstring& arguments,
                                          const std::wstring& folder) = 0;
  // ShellExecuteExW with the "runas" verb: the consent prompt shows the
  // program's verified publisher. True when the process was started.
  [[nodiscard]] virtual bool StartElevated(const std::wstring& path, const std::wstring& arguments) = 0;
  // Opens `url` in the user's browser as the desktop's user, never with
  // this process's elevated token. False when it could not be opened so.
  [[nodiscard]] virtual bool OpenWebPage(const std::wstring& url) = 0;
  // Shows the file at `path` selected in a folder window of Explorer,
  // started as the desktop's user in the same way as OpenWebPage.
  [[nodiscard]] virtual bool ShowFileInFolder(const std::wstring& path) = 0;
};

}  // namespace tarnwick
