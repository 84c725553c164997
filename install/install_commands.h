// The one-shot install and uninstall commands: the logon task and, on
// uninstall, the settings keys. Both return the process exit code.
#pragma once

#include "config/product.h"
#include "platform/task_scheduler.h"

#include <functional>
#include <memory>
#include <string>

namespace tarnwick {

// The task is named after the product; the one of earlier releases, under
// their name, is removed by install and uninstall.
inline constexpr const wchar_t* kLogonTaskName = kProductName;
inline constexpr const wchar_t* kLegacyLogonTaskName = kLegacyProductName;

// Makes a task scheduler after COM has been initialised on this thread.
using TaskSchedulerFactory = std::function<std::unique_ptr<TaskSchedulerApi>()>;

// Registers the logon task for `programPath`: 0 when registered, 1 when the
// path is empty or the registration failed.
int RunInstall(const TaskSchedulerFactory& makeScheduler, const std::wstring& programPath);

// An install that was refused: the tasks of earlier installs would go on
// starting, with the highest rights at every logon, the very file that was
// judged replaceable, so the logon task and the one of the older name are
// deleted. True when the Task Scheduler was reached for both (a task that
// did not exist counts as deleted).
[[nodiscard]] bool RunRefusedInstall(const TaskSchedulerFactory& makeScheduler);

// Deletes the logon task and then the settings keys under both roots: 0, or
// 1 with the keys left alone when the Task Scheduler cannot be reached.
int RunUninstall(const TaskSchedulerFactory& makeScheduler);

// This program's full path; empty when it cannot be read completely.
[[nodiscard]] std::wstring CurrentProgramPath();

}  // namespace tarnwick
