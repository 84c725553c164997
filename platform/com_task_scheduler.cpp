#include "platform/com_task_scheduler.h"

#include "platform/unique_handle.h"

#include <taskschd.h>

namespace tarnwick {

// MinGW's taskschd.h lacks the logon trigger; the Windows SDK has it.
#ifndef __ILogonTrigger_INTERFACE_DEFINED__
struct ILogonTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
#endif

namespace {

constexpr CLSID kClsidTaskScheduler = {0x0F87369F, 0xA4E5, 0x4CFC, {0xBD, 0x3E, 0x73, 0xE6, 0x15, 0x45, 0x72, 0xDD}};
constexpr IID kIidTaskService = {0x2FABA4C7, 0x4DA9, 0x4013, {0x96, 0x97, 0x20, 0xCC, 0x3F, 0xD4, 0x0F, 0x85}};
constexpr IID kIidLogonTrigger = {0x72DADE38, 0xFAE4, 0x4B3E, {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};
constexpr IID kIidExecAction = {0x4C3D624D, 0xFD6B, 0x49A3, {0xB9, 0xB7, 0x09, 0xCB, 0x3C, 0xD3, 0xF0, 0x47}};

// A VARIANT cleared with VariantClear when the scope ends.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { ::VariantInit(&value_); }
  explicit ScopedVariant(const std::wstring& text) : ScopedVariant() {
    value_.bstrVal = unique_bstr(text.c_str()).release();
    value_.vt = VT_BSTR;
  }
  ~ScopedVariant() { ::VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  const VARIANT& get() const noexcept { return value_; }

 private:
  VARIANT value_;
};

// Calls setter(BSTR) with a temporary copy of the text, or fails with E_POINTER
// when the object is not held.
template <typename T, typename Setter>
HRESULT PutText(const com_ptr<T>& object, Setter setter, const std::wstring& text) {
  if (!object) return E_POINTER;
  unique_bstr value(text.c_str());
  return (object.get()->*setter)(value.get());
}

template <typename T, typename Setter, typename Value>
HRESULT PutValue(const com_ptr<T>& object, Setter setter, Value value) {
  if (!object) return E_POINTER;
  return (object.get()->*setter)(value);
}

VARIANT_BOOL ToVariantBool(bool on) { return on ? VARIANT_TRUE : VARIANT_FALSE; }

class ComTaskScheduler final : public TaskSchedulerApi {
 public:
  HRESULT CreateService() override {
    return ::CoCreateInstance(kClsidTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, kIidTaskService, service_.put_void());
  }
  HRESULT Connect() override {
    if (!service_) return E_POINTER;
    ScopedVariant server, user, domain, password;
    return service_->Connect(server.get(), user.get(), domain.get(), password.get());
  }
  HRESULT GetRootFolder() override {
    if (!service_) return E_POINTER;
    unique_bstr root(L"\\");
    return service_->GetFolder(root.get(), rootFolder_.put());
  }
  HRESULT DeleteTask(const std::wstring& name) override {
    if (!rootFolder_) return E_POINTER;
    unique_bstr value(name.c_str());
    return rootFolder_->DeleteTask(value.get(), 0);
  }
  HRESULT NewTask() override {
    if (!service_) return E_POINTER;
    return service_->NewTask(0, definition_.put());
  }

  HRESULT GetRegistrationInfo() override {
    if (!definition_) return E_POINTER;
    return definition_->get_RegistrationInfo(registrationInfo_.put());
  }
  HRESULT PutAuthor(const std::wstring& author) override {
    return PutText(registrationInfo_, &IRegistrationInfo::put_Author, author);
  }

  HRESULT GetSettings() override {
    if (!definition_) return E_POINTER;
    return definition_->get_Settings(settings_.put());
  }
  HRESULT PutStartWhenAvailable(bool on) override {
    return PutValue(settings_, &ITaskSettings::put_StartWhenAvailable, ToVariantBool(on));
  }
  HRESULT PutExecutionTimeLimit(const std::wstring& limit) override {
    return PutText(settings_, &ITaskSettings::put_ExecutionTimeLimit, limit);
  }
  HRESULT PutDisallowStartIfOnBatteries(bool on) override {
    return PutValue(settings_, &ITaskSettings::put_DisallowStartIfOnBatteries, ToVariantBool(on));
  }
  HRESULT PutStopIfGoingOnBatteries(bool on) override {
    return PutValue(settings_, &ITaskSettings::put_StopIfGoingOnBatteries, ToVariantBool(on));
  }
  HRESULT PutMultipleInstances(int policy) override {
    return PutValue(settings_, &ITaskSettings::put_MultipleInstances, static_cast<TASK_INSTANCES_POLICY>(policy));
  }
  HRESULT PutEnabled(bool on) override { return PutValue(settings_, &ITaskSettings::put_Enabled, ToVariantBool(on)); }

  HRESULT GetPrincipal() override {
    if (!definition_) return E_POINTER;
    return definition_->get_Principal(principal_.put());
  }
  HRESULT PutRunLevel(int level) override {
    return PutValue(principal_, &IPrincipal::put_RunLevel, static_cast<TASK_RUNLEVEL_TYPE>(level));
  }

  HRESULT GetTriggers() override {
    if (!definition_) return E_POINTER;
    return definition_->get_Triggers(triggers_.put());
  }
  HRESULT CreateTrigger(int type) override {
    if (!triggers_) return E_POINTER;
    return triggers_->Create(static_cast<TASK_TRIGGER_TYPE2>(type), trigger_.put());
  }
  HRESULT QueryLogonTrigger() override {
    if (!trigger_) return E_POINTER;
    return trigger_->QueryInterface(kIidLogonTrigger, logonTrigger_.put_void());
  }
  HRESULT PutTriggerId(const std::wstring& id) override { return PutText(logonTrigger_, &ILogonTrigger::put_Id, id); }
  HRESULT PutTriggerUserId(const std::wstring& userId) override {
    return PutText(logonTrigger_, &ILogonTrigger::put_UserId, userId);
  }

  HRESULT GetActions() override {
    if (!definition_) return E_POINTER;
    return definition_->get_Actions(actions_.put());
  }
  HRESULT CreateAction(int type) override {
    if (!actions_) return E_POINTER;
    return actions_->Create(static_cast<TASK_ACTION_TYPE>(type), action_.put());
  }
  HRESULT QueryExecAction() override {
    if (!action_) return E_POINTER;
    return action_->QueryInterface(kIidExecAction, execAction_.put_void());
  }
  HRESULT PutActionPath(const std::wstring& path) override {
    return PutText(execAction_, &IExecAction::put_Path, path);
  }
  HRESULT PutActionArguments(const std::wstring& arguments) override {
    return PutText(execAction_, &IExecAction::put_Arguments, arguments);
  }

  HRESULT RegisterTaskDefinition(const std::wstring& name, int flags, const std::wstring& userId, int logonType,
                                 const std::wstring& securityDescriptor) override {
    if (!rootFolder_ || !definition_) return E_POINTER;
    unique_bstr taskName(name.c_str());
    ScopedVariant user(userId), password, descriptor(securityDescriptor);
    return rootFolder_->RegisterTaskDefinition(taskName.get(), definition_.get(), flags, user.get(), password.get(),
                                               static_cast<TASK_LOGON_TYPE>(logonType), descriptor.get(),
                                               registeredTask_.put());
  }

  void Release(TaskObject object) noexcept override {
    switch (object) {
      case TaskObject::Service:
        service_.reset();
        break;
      case TaskObject::RootFolder:
        rootFolder_.reset();
        break;
      case TaskObject::Definition:
        definition_.reset();
        break;
      case TaskObject::RegistrationInfo:
        registrationInfo_.reset();
        break;
      case TaskObject::Settings:
        settings_.reset();
        break;
      case TaskObject::Principal:
        principal_.reset();
        break;
      case TaskObject::TriggerCollection:
        triggers_.reset();
        break;
      case TaskObject::Trigger:
        trigger_.reset();
        break;
      case TaskObject::LogonTrigger:
        logonTrigger_.reset();
        break;
      case TaskObject::ActionCollection:
        actions_.reset();
        break;
      case TaskObject::Action:
        action_.reset();
        break;
      case TaskObject::ExecAction:
        execAction_.reset();
        break;
      case TaskObject::RegisteredTask:
        registeredTask_.reset();
        break;
    }
  }

 private:
  com_ptr<ITaskService> service_;
  com_ptr<ITaskFolder> rootFolder_;
  com_ptr<ITaskDefinition> definition_;
  com_ptr<IRegistrationInfo> registrationInfo_;
  com_ptr<ITaskSettings> settings_;
  com_ptr<IPrincipal> principal_;
  com_ptr<ITriggerCollection> triggers_;
  com_ptr<ITrigger> trigger_;
  com_ptr<ILogonTrigger> logonTrigger_;
  com_ptr<IActionCollection> actions_;
  com_ptr<IAction> action_;
  com_ptr<IExecAction> execAction_;
  com_ptr<IRegisteredTask> registeredTask_;
};

}  // namespace

std::unique_ptr<TaskSchedulerApi> MakeComTaskScheduler() { return std::make_unique<ComTaskScheduler>(); }

}  // namespace tarnwick
