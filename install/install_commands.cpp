#include "install/install_commands.h"

#include "config/settings_names.h"
#include "install/logon_task.h"
#include "platform/com_initialization.h"

#include <windows.h>

namespace tarnwick {
namespace {

bool DeleteTaskWithOwnCom(const TaskSchedulerFactory& makeScheduler, const wchar_t* name) {
  ScopedComInitialization com;
  return DeleteLogonTask(*makeScheduler(), name);
}

}  // namespace

int RunInstall(const TaskSchedulerFactory& makeScheduler, const std::wstring& programPath) {
  (void)DeleteTaskWithOwnCom(makeScheduler, kLegacyLogonTaskName);
  if (programPath.empty()) return 1;
  ScopedComInitialization com;
  return RegisterLogonTask(*makeScheduler(), kLogonTaskName, programPath, kLogonTaskArguments) ? 0 : 1;
}

bool RunRefusedInstall(const TaskSchedulerFactory& makeScheduler) {
  const bool reached = DeleteTaskWithOwnCom(makeScheduler, kLogonTaskName);
  return DeleteTaskWithOwnCom(makeScheduler, kLegacyLogonTaskName) && reached;
}

int RunUninstall(const TaskSchedulerFactory& makeScheduler) {
  // Settings stay when the task cannot be removed, so that a retry finds
  // everything as it was.
  if (!DeleteTaskWithOwnCom(makeScheduler, kLogonTaskName)) return 1;
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
  (void)DeleteTaskWithOwnCom(makeScheduler, kLegacyLogonTaskName);
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
