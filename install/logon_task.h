// The scheduled task that starts the program at logon.
#pragma once

#include "platform/task_scheduler.h"

#include <string>

namespace tarnwick {

inline constexpr const wchar_t* kTaskAuthor = L"Ombrix LLC";
inline constexpr const wchar_t* kLogonTaskArguments = L"-tray";

// Defines `name` in the root folder: run `programPath` with `arguments` at
// any user's logon, highest run level, no time limit, also on batteries.
// True when the task was registered. An older task of the same name is
// deleted first, so a failure may leave no task at all. `failure`, when
// given, receives the status of the first required call that failed (S_OK
// when none did).
bool RegisterLogonTask(TaskSchedulerApi& api, const std::wstring& name, const std::wstring& programPath,
                       const std::wstring& arguments, HRESULT* failure = nullptr);

// Deletes the task `name` (nothing when empty) from the root folder. True
// when the root folder was reached, whether or not such a task existed;
// `failure` as above.
bool DeleteLogonTask(TaskSchedulerApi& api, const std::wstring& name, HRESULT* failure = nullptr);

// The path as the task's action runs it: leading white space removed, and
// enclosed in double quotes unless it already begins with one.
[[nodiscard]] std::wstring QuoteActionPath(const std::wstring& path);

}  // namespace tarnwick
