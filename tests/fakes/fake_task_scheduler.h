// A scripted TaskSchedulerApi for tests: every call is recorded as text
// ("PutAuthor(Ombrix LLC)", "Release(Service)"), any call can be made to
// fail by its name, and the objects obtained and not yet released are known.
#pragma once

#include "platform/task_scheduler.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {

class FakeTaskScheduler final : public TaskSchedulerApi {
 public:
  // Calls are also appended to `journal` when given, so that a test sees
  // the calls of every scheduler a factory made.
  explicit FakeTaskScheduler(std::vector<std::wstring>* journal = nullptr) : journal_(journal) {}

  // Makes every later call named `call` (such as "PutRunLevel") return `status`.
  void FailCall(const std::wstring& call, HRESULT status) { failures_[call] = status; }

  [[nodiscard]] const std::vector<std::wstring>& Calls() const noexcept { return calls_; }
  [[nodiscard]] const std::set<TaskObject>& HeldObjects() const noexcept { return held_; }
  [[nodiscard]] static std::wstring NameOf(TaskObject object);

  HRESULT CreateService() override { return Obtain(L"CreateService", L"", TaskObject::Service); }
  HRESULT Connect() override { return Use(L"Connect", L"", TaskObject::Service); }
  HRESULT GetRootFolder() override {
    return Obtain(L"GetRootFolder", L"", TaskObject::RootFolder, TaskObject::Service);
  }
  HRESULT DeleteTask(const std::wstring& name) override { return Use(L"DeleteTask", name, TaskObject::RootFolder); }
  HRESULT NewTask() override { return Obtain(L"NewTask", L"", TaskObject::Definition, TaskObject::Service); }

  HRESULT GetRegistrationInfo() override {
    return Obtain(L"GetRegistrationInfo", L"", TaskObject::RegistrationInfo, TaskObject::Definition);
  }
  HRESULT PutAuthor(const std::wstring& author) override {
    return Use(L"PutAuthor", author, TaskObject::RegistrationInfo);
  }

  HRESULT GetSettings() override { return Obtain(L"GetSettings", L"", TaskObject::Settings, TaskObject::Definition); }
  HRESULT PutStartWhenAvailable(bool on) override {
    return Use(L"PutStartWhenAvailable", Text(on), TaskObject::Settings);
  }
  HRESULT PutExecutionTimeLimit(const std::wstring& limit) override {
    return Use(L"PutExecutionTimeLimit", limit, TaskObject::Settings);
  }
  HRESULT PutDisallowStartIfOnBatteries(bool on) override {
    return Use(L"PutDisallowStartIfOnBatteries", Text(on), TaskObject::Settings);
  }
  HRESULT PutStopIfGoingOnBatteries(bool on) override {
    return Use(L"PutStopIfGoingOnBatteries", Text(on), TaskObject::Settings);
  }
  HRESULT PutMultipleInstances(int policy) override {
    return Use(L"PutMultipleInstances", std::to_wstring(policy), TaskObject::Settings);
  }
  HRESULT PutEnabled(bool on) override { return Use(L"PutEnabled", Text(on), TaskObject::Settings); }

  HRESULT GetPrincipal() override {
    return Obtain(L"GetPrincipal", L"", TaskObject::Principal, TaskObject::Definition);
  }
  HRESULT PutRunLevel(int level) override { return Use(L"PutRunLevel", std::to_wstring(level), TaskObject::Principal); }

  HRESULT GetTriggers() override {
    return Obtain(L"GetTriggers", L"", TaskObject::TriggerCollection, TaskObject::Definition);
  }
  HRESULT CreateTrigger(int type) override {
    return Obtain(L"CreateTrigger", std::to_wstring(type), TaskObject::Trigger, TaskObject::TriggerCollection);
  }
  HRESULT QueryLogonTrigger() override {
    return Obtain(L"QueryLogonTrigger", L"", TaskObject::LogonTrigger, TaskObject::Trigger);
  }
  HRESULT PutTriggerId(const std::wstring& id) override { return Use(L"PutTriggerId", id, TaskObject::LogonTrigger); }
  HRESULT PutTriggerUserId(const std::wstring& userId) override {
    return Use(L"PutTriggerUserId", userId, TaskObject::LogonTrigger);
  }

  HRESULT GetActions() override {
    return Obtain(L"GetActions", L"", TaskObject::ActionCollection, TaskObject::Definition);
  }
  HRESULT CreateAction(int type) override {
    return Obtain(L"CreateAction", std::to_wstring(type), TaskObject::Action, TaskObject::ActionCollection);
  }
  HRESULT QueryExecAction() override {
    return Obtain(L"QueryExecAction", L"", TaskObject::ExecAction, TaskObject::Action);
  }
  HRESULT PutActionPath(const std::wstring& path) override {
    return Use(L"PutActionPath", path, TaskObject::ExecAction);
  }
  HRESULT PutActionArguments(const std::wstring& arguments) override {
    return Use(L"PutActionArguments", arguments, TaskObject::ExecAction);
  }

  HRESULT RegisterTaskDefinition(const std::wstring& name, int flags, const std::wstring& userId, int logonType,
                                 const std::wstring& securityDescriptor) override {
    const std::wstring arguments = name + L"," + std::to_wstring(flags) + L"," + userId + L"," +
                                   std::to_wstring(logonType) + L",\"" + securityDescriptor + L"\"";
    if (!held_.contains(TaskObject::Definition)) return Record(L"RegisterTaskDefinition", arguments, E_POINTER);
    return Obtain(L"RegisterTaskDefinition", arguments, TaskObject::RegisteredTask, TaskObject::RootFolder);
  }

  void Release(TaskObject object) noexcept override {
    if (held_.erase(object) != 0) Append(L"Release(" + NameOf(object) + L")");
  }

 private:
  static std::wstring Text(bool on) { return on ? L"true" : L"false"; }

  HRESULT Record(const std::wstring& call, const std::wstring& arguments, HRESULT status) {
    Append(arguments.empty() ? call : call + L"(" + arguments + L")");
    return status;
  }
  void Append(const std::wstring& entry) {
    calls_.push_back(entry);
    if (journal_ != nullptr) journal_->push_back(entry);
  }
  // A call on an object that must be held first, as the real objects are.
  HRESULT Use(const std::wstring& call, const std::wstring& arguments, TaskObject needed) {
    if (!held_.contains(needed)) return Record(call, arguments, E_POINTER);
    const auto failure = failures_.find(call);
    return Record(call, arguments, failure == failures_.end() ? S_OK : failure->second);
  }
  // A call that yields `produced` on success.
  HRESULT Obtain(const std::wstring& call, const std::wstring& arguments, TaskObject produced) {
    const auto failure = failures_.find(call);
    const HRESULT status = Record(call, arguments, failure == failures_.end() ? S_OK : failure->second);
    if (SUCCEEDED(status)) held_.insert(produced);
    return status;
  }
  HRESULT Obtain(const std::wstring& call, const std::wstring& arguments, TaskObject produced, TaskObject needed) {
    if (!held_.contains(needed)) return Record(call, arguments, E_POINTER);
    return Obtain(call, arguments, produced);
  }

  std::vector<std::wstring>* journal_;
  std::vector<std::wstring> calls_;
  std::map<std::wstring, HRESULT> failures_;
  std::set<TaskObject> held_;
};

inline std::wstring FakeTaskScheduler::NameOf(TaskObject object) {
  switch (object) {
    case TaskObject::Service:
      return L"Service";
    case TaskObject::RootFolder:
      return L"RootFolder";
    case TaskObject::Definition:
      return L"Definition";
    case TaskObject::RegistrationInfo:
      return L"RegistrationInfo";
    case TaskObject::Settings:
      return L"Settings";
    case TaskObject::Principal:
      return L"Principal";
    case TaskObject::TriggerCollection:
      return L"TriggerCollection";
    case TaskObject::Trigger:
      return L"Trigger";
    case TaskObject::LogonTrigger:
      return L"LogonTrigger";
    case TaskObject::ActionCollection:
      return L"ActionCollection";
    case TaskObject::Action:
      return L"Action";
    case TaskObject::ExecAction:
      return L"ExecAction";
    case TaskObject::RegisteredTask:
      return L"RegisteredTask";
  }
  return L"?";
}

}  // namespace tarnwick
