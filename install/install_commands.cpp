#include "install/install_commands.h"

#include "config/settings_names.h"
#include "install/logon_task.h"
#include "platform/com_initialization.h"

#include <windows.h>

namespace tarnwick {
namespace {

bool DeleteTaskWithOwnCom(const TaskSchedulerFactory& make_scheduler, const wchar_t* name) {
  ScopedComInitialization com;
  return DeleteLogonTask(*make_scheduler(), name);
}

}  // namespace

int RunInstall(const TaskSchedulerFactory& make_scheduler, const std::wstring& program_path) {
  (void)DeleteTaskWithOwnCom(make_scheduler, kLegacyLogonTaskName);
  if (program_path.empty()) return 1;
  ScopedComInitialization com;
  return RegisterLogonTask(*make_scheduler(), kLogonTaskName, program_path, kLogonTaskArguments) ? 0 : 1;
}

bool RunRefusedInstall(const TaskSchedulerFactory& make_scheduler) {
  const bool reached = DeleteTaskWithOwnCom(make_scheduler, kLogonTaskName);
  return DeleteTaskWithOwnCom(make_scheduler, kLegacyLogonTaskName) && reached;
}

int RunUninstall(const TaskSchedulerFactory& make_scheduler) {
  // Settings stay when the task cannot be removed, so that a retry finds
  // everything as it was.
  if (!DeleteTaskWithOwnCom(make_scheduler, kLogonTaskName)) return 1;
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
  (void)DeleteTaskWithOwnCom(make_scheduler, kLegacyLogonTaskName);
  return 0;
}

std::wstring CurrentProgramPath() {
  // A truncated path would register a task that cannot start, so the buffer
  // grows until the whole path fits (the longest path is 32767 characters).
  std::wstring path(MAX_PATH + 1, L'\0');
  while (true) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace tarnwick
