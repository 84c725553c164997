// The Task Scheduler 2.0 operations that registering and deleting the logon
// task use, one call each, so that the required and ignored steps above them
// can be exercised against a fake.
//
// The objects the calls produce are held inside the implementation, one slot
// per kind; a call that needs an object the caller has not obtained fails
// with E_POINTER. The caller releases each object through Release, normally
// with a ScopedTaskObject. Every call returns the platform's status code.
// COM must be initialised on the calling thread.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tarnwick {

enum class TaskObject {
  Service,            // ITaskService
  RootFolder,         // ITaskFolder "\"
  Definition,         // ITaskDefinition
  RegistrationInfo,   // IRegistrationInfo of the definition
  Settings,           // ITaskSettings of the definition
  Principal,          // IPrincipal of the definition
  TriggerCollection,  // ITriggerCollection of the definition
  Trigger,            // ITrigger just created
  LogonTrigger,       // ILogonTrigger of that trigger
  ActionCollection,   // IActionCollection of the definition
  Action,             // IAction just created
  ExecAction,         // IExecAction of that action
  RegisteredTask,     // IRegisteredTask returned by the registration
};

class TaskSchedulerApi {
 public:
  TaskSchedulerApi() = default;
  TaskSchedulerApi(const TaskSchedulerApi&) = delete;
  TaskSchedulerApi& operator=(const TaskSchedulerApi&) = delete;
  virtual ~TaskSchedulerApi() = default;

  // CoCreateInstance of the task service, in process -> Service.
  [[nodiscard]] virtual HRESULT CreateService() = 0;
  // Connects to this machine as the calling user (four empty VARIANTs).
  [[nodiscard]] virtual HRESULT Connect() = 0;
  // GetFolder("\") -> RootFolder.
  [[nodiscard]] virtual HRESULT GetRootFolder() = 0;
  [[nodiscard]] virtual HRESULT DeleteTask(const std::wstring& name) = 0;
  // NewTask(0) -> Definition.
  [[nodiscard]] virtual HRESULT NewTask() = 0;

  [[nodiscard]] virtual HRESULT GetRegistrationInfo() = 0;
  [[nodiscard]] virtual HRESULT PutAuthor(const std::wstring& author) = 0;

  [[nodiscard]] virtual HRESULT GetSettings() = 0;
  [[nodiscard]] virtual HRESULT PutStartWhenAvailable(bool on) = 0;
  [[nodiscard]] virtual HRESULT PutExecutionTimeLimit(const std::wstring& limit) = 0;
  [[nodiscard]] virtual HRESULT PutDisallowStartIfOnBatteries(bool on) = 0;
  [[nodiscard]] virtual HRESULT PutStopIfGoingOnBatteries(bool on) = 0;
  [[nodiscard]] virtual HRESULT PutMultipleInstances(int policy) = 0;
  [[nodiscard]] virtual HRESULT PutEnabled(bool on) = 0;

  [[nodiscard]] virtual HRESULT GetPrincipal() = 0;
  [[nodiscard]] virtual HRESULT PutRunLevel(int level) = 0;

  [[nodiscard]] virtual HRESULT GetTriggers() = 0;
  // TriggerCollection.Create(type) -> Trigger.
  [[nodiscard]] virtual HRESULT CreateTrigger(int type) = 0;
  // Trigger.QueryInterface(ILogonTrigger) -> LogonTrigger.
  [[nodiscard]] virtual HRESULT QueryLogonTrigger() = 0;
  [[nodiscard]] virtual HRESULT PutTriggerId(const std::wstring& id) = 0;
  [[nodiscard]] virtual HRESULT PutTriggerUserId(const std::wstring& userId) = 0;

  [[nodiscard]] virtual HRESULT GetActions() = 0;
  // ActionCollection.Create(type) -> Action.
  [[nodiscard]] virtual HRESULT CreateAction(int type) = 0;
  // Action.QueryInterface(IExecAction) -> ExecAction.
  [[nodiscard]] virtual HRESULT QueryExecAction() = 0;
  [[nodiscard]] virtual HRESULT PutActionPath(const std::wstring& path) = 0;
  [[nodiscard]] virtual HRESULT PutActionArguments(const std::wstring& arguments) = 0;

  // RootFolder.RegisterTaskDefinition(name, Definition, flags, user id as a
  // BSTR VARIANT, empty password, logon type, security descriptor as a BSTR
  // VARIANT) -> RegisteredTask.
  [[nodiscard]] virtual HRESULT RegisterTaskDefinition(const std::wstring& name, int flags, const std::wstring& userId,
                                                       int logonType, const std::wstring& securityDescriptor) = 0;

  // Releases the object of that kind; nothing when none is held.
  virtual void Release(TaskObject object) noexcept = 0;
};

// Releases one object of a TaskSchedulerApi when the scope ends, or earlier
// through reset(). Create it right before the call that obtains the object,
// so that a failing call leaves nothing behind either.
class ScopedTaskObject {
 public:
  ScopedTaskObject(TaskSchedulerApi& api, TaskObject object) noexcept : api_(&api), object_(object) {}
  ~ScopedTaskObject() { reset(); }
  ScopedTaskObject(const ScopedTaskObject&) = delete;
  ScopedTaskObject& operator=(const ScopedTaskObject&) = delete;

  void reset() noexcept {
    if (api_ != nullptr) std::exchange(api_, nullptr)->Release(object_);
  }

 private:
  TaskSchedulerApi* api_;
  TaskObject object_;
};

}  // namespace tarnwick
