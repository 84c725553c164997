#include "install/install_commands.h"

#include "config/settings_names.h"
#include "install/logon_task.h"
#include "platform/com_initialization.h"
#include "platform/diagnostics.h"

#include <windows.h>

namespace tarnwick {
namespace {

bool DeleteTaskWithOwnCom(const TaskSchedulerFactory& makeScheduler, const wchar_t* name, HRESULT* failure = nullptr) {
  ScopedComInitialization com;
  return DeleteLogonTask(*makeScheduler(), name, failure);
}

}  // namespace

int RunInstall(const TaskSchedulerFactory& makeScheduler, const std::wstring& programPath) {
  (void)DeleteTaskWithOwnCom(makeScheduler, kLegacyLogonTaskName);
  if (programPath.empty()) {
    ReportDiagnostic(DiagnosticLevel::Error, L"install refused: this program's path cannot be read");
    return 1;
  }
  ScopedComInitialization com;
  HRESULT failure = S_OK;
  if (!RegisterLogonTask(*makeScheduler(), kLogonTaskName, programPath, kLogonTaskArguments, &failure)) {
    ReportDiagnostic(DiagnosticLevel::Error, L"install refused: logon task not registered: ", StatusError{failure});
    return 1;
  }
  return 0;
}

bool RunRefusedInstall(const TaskSchedulerFactory& makeScheduler) {
  HRESULT failure = S_OK;
  HRESULT legacyFailure = S_OK;
  const bool reached = DeleteTaskWithOwnCom(makeScheduler, kLogonTaskName, &failure);
  const bool removed = DeleteTaskWithOwnCom(makeScheduler, kLegacyLogonTaskName, &legacyFailure) && reached;
  if (SUCCEEDED(failure)) failure = legacyFailure;
  constexpr const wchar_t* kRefused =
      L"install refused: accounts other than administrators can replace this program or a folder on its path";
  if (removed) {
    ReportDiagnostic(DiagnosticLevel::Error, kRefused, L"; earlier logon tasks removed");
  } else {
    ReportDiagnostic(DiagnosticLevel::Error, kRefused, L"; earlier logon tasks not removed: ", StatusError{failure});
  }
  return removed;
}

int RunUninstall(const TaskSchedulerFactory& makeScheduler) {
  // Settings stay when the task cannot be removed, so that a retry finds
  // everything as it was.
  HRESULT failure = S_OK;
  if (!DeleteTaskWithOwnCom(makeScheduler, kLogonTaskName, &failure)) {
    ReportDiagnostic(DiagnosticLevel::Error, L"uninstall refused: logon task not deleted: ", StatusError{failure});
    return 1;
  }
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
