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

// The first failed status among a sequence of calls, for diagnostics.
class FirstFailure {
 public:
  bool Ok(HRESULT status) noexcept {
    if (FAILED(status) && SUCCEEDED(first_)) first_ = status;
    return SUCCEEDED(status);
  }
  [[nodiscard]] HRESULT Status() const noexcept { return first_; }

 private:
  HRESULT first_ = S_OK;
};

std::wstring TrimLeadingSpace(const std::wstring& text) {
  size_t start = 0;
  while (start < text.size() && std::iswspace(text[start])) ++start;
  return text.substr(start);
}

// Connects and opens the root folder, holding both in the caller's guards.
bool OpenRootFolder(TaskSchedulerApi& api, FirstFailure& status) {
  return status.Ok(api.CreateService()) && status.Ok(api.Connect()) && status.Ok(api.GetRootFolder());
}

bool DescribeRegistration(TaskSchedulerApi& api, FirstFailure& status) {
  ScopedTaskObject info(api, TaskObject::RegistrationInfo);
  return status.Ok(api.GetRegistrationInfo()) && status.Ok(api.PutAuthor(kTaskAuthor));
}

bool DescribeSettings(TaskSchedulerApi& api, FirstFailure& status) {
  ScopedTaskObject settings(api, TaskObject::Settings);
  if (!status.Ok(api.GetSettings()) || !status.Ok(api.PutStartWhenAvailable(true))) return false;
  // Defaults that differ only in comfort: a failure leaves a usable task.
  (void)api.PutExecutionTimeLimit(L"PT0S");
  (void)api.PutDisallowStartIfOnBatteries(false);
  (void)api.PutStopIfGoingOnBatteries(false);
  (void)api.PutMultipleInstances(kTaskInstancesParallel);
  (void)api.PutEnabled(true);
  return true;
}

bool DescribePrincipal(TaskSchedulerApi& api, FirstFailure& status) {
  ScopedTaskObject principal(api, TaskObject::Principal);
  return status.Ok(api.GetPrincipal()) && status.Ok(api.PutRunLevel(kTaskRunLevelHighest));
}

bool DescribeLogonTrigger(TaskSchedulerApi& api, FirstFailure& status) {
  ScopedTaskObject logonTrigger(api, TaskObject::LogonTrigger);
  {
    ScopedTaskObject collection(api, TaskObject::TriggerCollection);
    ScopedTaskObject trigger(api, TaskObject::Trigger);
    if (!status.Ok(api.GetTriggers()) || !status.Ok(api.CreateTrigger(kTaskTriggerLogon))) return false;
    collection.reset();
    if (!status.Ok(api.QueryLogonTrigger())) return false;
  }
  // An empty user id: the trigger fires at the logon of any user.
  return status.Ok(api.PutTriggerId(L"Trigger1")) && status.Ok(api.PutTriggerUserId(L""));
}

bool DescribeAction(TaskSchedulerApi& api, const std::wstring& programPath, const std::wstring& arguments,
                    FirstFailure& status) {
  ScopedTaskObject execAction(api, TaskObject::ExecAction);
  {
    ScopedTaskObject collection(api, TaskObject::ActionCollection);
    ScopedTaskObject action(api, TaskObject::Action);
    if (!status.Ok(api.GetActions()) || !status.Ok(api.CreateAction(kTaskActionExec))) return false;
    collection.reset();
    if (!status.Ok(api.QueryExecAction())) return false;
  }
  // The path's status counts only after the arguments have been tried.
  const HRESULT pathStatus = api.PutActionPath(QuoteActionPath(programPath));
  (void)api.PutActionArguments(arguments);
  return status.Ok(pathStatus);
}

bool RegisterTask(TaskSchedulerApi& api, const std::wstring& name, const std::wstring& programPath,
                  const std::wstring& arguments, FirstFailure& status) {
  ScopedTaskObject service(api, TaskObject::Service);
  ScopedTaskObject rootFolder(api, TaskObject::RootFolder);
  if (!OpenRootFolder(api, status)) return false;
  // Replacing the task keeps its path current after the program has moved.
  (void)api.DeleteTask(name);

  ScopedTaskObject definition(api, TaskObject::Definition);
  const HRESULT newTaskStatus = api.NewTask();
  service.reset();
  if (!status.Ok(newTaskStatus)) return false;

  if (!DescribeRegistration(api, status) || !DescribeSettings(api, status) || !DescribePrincipal(api, status) ||
      !DescribeLogonTrigger(api, status) || !DescribeAction(api, programPath, arguments, status)) {
    return false;
  }

  ScopedTaskObject registeredTask(api, TaskObject::RegisteredTask);
  return status.Ok(api.RegisterTaskDefinition(name, kTaskCreateOrUpdate, kUsersGroupSid, kTaskLogonGroup, L""));
}

bool DeleteTask(TaskSchedulerApi& api, const std::wstring& name, FirstFailure& status) {
  ScopedTaskObject service(api, TaskObject::Service);
  ScopedTaskObject rootFolder(api, TaskObject::RootFolder);
  if (!OpenRootFolder(api, status)) return false;
  // A missing task is the normal case of a first install or a repeated uninstall.
  if (!name.empty()) (void)api.DeleteTask(name);
  return true;
}

}  // namespace

std::wstring QuoteActionPath(const std::wstring& path) {
  std::wstring trimmed = TrimLeadingSpace(path);
  if (!trimmed.starts_with(L'"')) trimmed = TrimLeadingSpace(L"\"" + path + L"\"");
  return trimmed;
}

bool RegisterLogonTask(TaskSchedulerApi& api, const std::wstring& name, const std::wstring& programPath,
                       const std::wstring& arguments, HRESULT* failure) {
  FirstFailure status;
  const bool registered = RegisterTask(api, name, programPath, arguments, status);
  if (failure != nullptr) *failure = status.Status();
  return registered;
}

bool DeleteLogonTask(TaskSchedulerApi& api, const std::wstring& name, HRESULT* failure) {
  FirstFailure status;
  const bool reached = DeleteTask(api, name, status);
  if (failure != nullptr) *failure = status.Status();
  return reached;
}

}  // namespace tarnwick
