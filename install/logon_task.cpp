#include "install/logon_task.h"

#include <cwctype>

namespace tarnwick {
namespace {

constexpr int kTaskTriggerLogon = 9;       // TASK_TRIGGER_LOGON
constexpr int kTaskActionExec = 0;         // TASK_ACTION_EXEC
constexpr int kTaskInstancesParallel = 0;  // TASK_INSTANCES_PARALLEL
constexpr int kTaskRunLevelHighest = 1;    // TASK_RUNLEVEL_HIGHEST
constexpr int kTaskCreateOrUpdate = 6;     // TASK_CREATE_OR_UPDATE
constexpr int kTaskLogonGroup = 4;         // TASK_LOGON_GROUP
constexpr const wchar_t* kUsersGroupSid = L"S-1-5-32-545";

std::wstring TrimLeadingSpace(const std::wstring& text) {
  size_t start = 0;
  while (start < text.size() && std::iswspace(text[start])) ++start;
  return text.substr(start);
}

// Connects and opens the root folder, holding both in the caller's guards.
bool OpenRootFolder(TaskSchedulerApi& api) {
  return SUCCEEDED(api.CreateService()) && SUCCEEDED(api.Connect()) && SUCCEEDED(api.GetRootFolder());
}

bool DescribeRegistration(TaskSchedulerApi& api) {
  ScopedTaskObject info(api, TaskObject::RegistrationInfo);
  return SUCCEEDED(api.GetRegistrationInfo()) && SUCCEEDED(api.PutAuthor(kTaskAuthor));
}

bool DescribeSettings(TaskSchedulerApi& api) {
  ScopedTaskObject settings(api, TaskObject::Settings);
  if (FAILED(api.GetSettings()) || FAILED(api.PutStartWhenAvailable(true))) return false;
  // Defaults that differ only in comfort: a failure leaves a usable task.
  (void)api.PutExecutionTimeLimit(L"PT0S");
  (void)api.PutDisallowStartIfOnBatteries(false);
  (void)api.PutStopIfGoingOnBatteries(false);
  (void)api.PutMultipleInstances(kTaskInstancesParallel);
  (void)api.PutEnabled(true);
  return true;
}

bool DescribePrincipal(TaskSchedulerApi& api) {
  ScopedTaskObject principal(api, TaskObject::Principal);
  return SUCCEEDED(api.GetPrincipal()) && SUCCEEDED(api.PutRunLevel(kTaskRunLevelHighest));
}

bool DescribeLogonTrigger(TaskSchedulerApi& api) {
  ScopedTaskObject logonTrigger(api, TaskObject::LogonTrigger);
  {
    ScopedTaskObject collection(api, TaskObject::TriggerCollection);
    ScopedTaskObject trigger(api, TaskObject::Trigger);
    if (FAILED(api.GetTriggers()) || FAILED(api.CreateTrigger(kTaskTriggerLogon))) return false;
    collection.reset();
    if (FAILED(api.QueryLogonTrigger())) return false;
  }
  // An empty user id: the trigger fires at the logon of any user.
  return SUCCEEDED(api.PutTriggerId(L"Trigger1")) && SUCCEEDED(api.PutTriggerUserId(L""));
}

bool DescribeAction(TaskSchedulerApi& api, const std::wstring& programPath, const std::wstring& arguments) {
  ScopedTaskObject execAction(api, TaskObject::ExecAction);
  {
    ScopedTaskObject collection(api, TaskObject::ActionCollection);
    ScopedTaskObject action(api, TaskObject::Action);
    if (FAILED(api.GetActions()) || FAILED(api.CreateAction(kTaskActionExec))) return false;
    collection.reset();
    if (FAILED(api.QueryExecAction())) return false;
  }
  // The path's status counts only after the arguments have been tried.
  const HRESULT pathStatus = api.PutActionPath(QuoteActionPath(programPath));
  (void)api.PutActionArguments(arguments);
  return SUCCEEDED(pathStatus);
}

}  // namespace

std::wstring QuoteActionPath(const std::wstring& path) {
  std::wstring trimmed = TrimLeadingSpace(path);
  if (!trimmed.starts_with(L'"')) trimmed = TrimLeadingSpace(L"\"" + path + L"\"");
  return trimmed;
}

bool RegisterLogonTask(TaskSchedulerApi& api, const std::wstring& name, const std::wstring& programPath,
                       const std::wstring& arguments) {
  ScopedTaskObject service(api, TaskObject::Service);
  ScopedTaskObject rootFolder(api, TaskObject::RootFolder);
  if (!OpenRootFolder(api)) return false;
  // Replacing the task keeps its path current after the program has moved.
  (void)api.DeleteTask(name);

  ScopedTaskObject definition(api, TaskObject::Definition);
  const HRESULT newTaskStatus = api.NewTask();
  service.reset();
  if (FAILED(newTaskStatus)) return false;

  if (!DescribeRegistration(api) || !DescribeSettings(api) || !DescribePrincipal(api) || !DescribeLogonTrigger(api) ||
      !DescribeAction(api, programPath, arguments)) {
    return false;
  }

  ScopedTaskObject registeredTask(api, TaskObject::RegisteredTask);
  return SUCCEEDED(api.RegisterTaskDefinition(name, kTaskCreateOrUpdate, kUsersGroupSid, kTaskLogonGroup, L""));
}

bool DeleteLogonTask(TaskSchedulerApi& api, const std::wstring& name) {
  ScopedTaskObject service(api, TaskObject::Service);
  ScopedTaskObject rootFolder(api, TaskObject::RootFolder);
  if (!OpenRootFolder(api)) return false;
  // A missing task is the normal case of a first install or a repeated uninstall.
  if (!name.empty()) (void)api.DeleteTask(name);
  return true;
}

}  // namespace tarnwick
