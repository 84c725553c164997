#include "tests/fakes/fake_system.h"

#include "platform/system_records.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tarnwick {

std::vector<std::string> FakeSystem::CallsStartingWith(std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string& call : calls_) {
    if (std::string_view(call).substr(0, prefix.size()) == prefix) found.push_back(call);
  }
  return found;
}

void FakeSystem::Record(const char* format, ...) {
  if (!recording) return;
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof(text), format, arguments);
  va_end(arguments);
  calls_.emplace_back(text);
}

HANDLE FakeSystem::NewHandle(Handle handle) {
  const uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(value, std::move(handle));
  return reinterpret_cast<HANDLE>(value);
}

FakeSystem::Handle* FakeSystem::Find(HANDLE handle) {
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  return it == handles_.end() ? nullptr : &it->second;
}

const FakeProcess* FakeSystem::FindProcess(DWORD processId) const {
  for (const FakeProcess& process : processes) {
    if (process.id == processId) return &process;
  }
  return nullptr;
}

FakeProcess* FakeSystem::FindProcess(DWORD processId) {
  return const_cast<FakeProcess*>(std::as_const(*this).FindProcess(processId));
}

FakeProcess* FakeSystem::Target(Handle* handle, DWORD rights) {
  if (handle == nullptr || handle->kind != Handle::Kind::Process) {
    lastError_ = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if ((handle->access & rights) == 0) {
    lastError_ = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  FakeProcess* process = FindProcess(handle->processId);
  if (process == nullptr) lastError_ = ERROR_INVALID_HANDLE;
  return process;
}

bool FakeSystem::CallResult(Handle* handle, DWORD rights, DWORD FakeProcess::*error) {
  const FakeProcess* process = Target(handle, rights);
  if (process == nullptr) return false;
  const DWORD code = process->*error;
  if (code == ERROR_SUCCESS) return true;
  lastError_ = code;
  return false;
}

HANDLE FakeSystem::CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  Record("CreateToolhelp32Snapshot 0x%lx %lu", flags, processId);
  if (flags == TH32CS_SNAPPROCESS) {
    if (onProcessSnapshot) onProcessSnapshot();
    if (processSnapshotFails) return nullptr;
    return NewHandle({Handle::Kind::ProcessSnapshot, 0, 0, processes, 0});
  }
  if (flags == TH32CS_SNAPTHREAD) {
    if (threadSnapshotFailures > 0) {
      --threadSnapshotFailures;
      return nullptr;
    }
    if (threadSnapshotFails) return nullptr;
    return NewHandle({Handle::Kind::ThreadSnapshot, 0, 0, processes, 0});
  }
  return nullptr;
}

bool FakeSystem::Process32FirstW(HANDLE snapshot, PROCESSENTRY32W& entry) {
  // The caller zeroes every byte but the size before the first call.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&entry);
  const bool zeroed =
      std::all_of(bytes + sizeof(entry.dwSize), bytes + sizeof(entry), [](unsigned char b) { return b == 0; });
  Record("Process32FirstW %lu%s", entry.dwSize, zeroed ? "" : " not zeroed");
  if (Handle* handle = Find(snapshot)) handle->position = 0;
  return Process32NextW(snapshot, entry);
}

bool FakeSystem::Process32NextW(HANDLE snapshot, PROCESSENTRY32W& entry) {
  Handle* handle = Find(snapshot);
  if (handle == nullptr || handle->kind != Handle::Kind::ProcessSnapshot) return false;
  if (handle->position >= handle->processes.size()) return false;
  const FakeProcess& process = handle->processes[handle->position++];
  entry.th32ProcessID = process.id;
  entry.th32ParentProcessID = process.parentId;
  const size_t length = std::min(process.fileName.size(), std::size(entry.szExeFile) - 1);
  std::memcpy(entry.szExeFile, process.fileName.data(), length * sizeof(wchar_t));
  entry.szExeFile[length] = L'\0';
  return true;
}

bool FakeSystem::Thread32First(HANDLE snapshot, THREADENTRY32& entry) {
  Record("Thread32First %lu", entry.dwSize);
  if (Handle* handle = Find(snapshot)) handle->position = 0;
  return Thread32Next(snapshot, entry);
}

bool FakeSystem::Thread32Next(HANDLE snapshot, THREADENTRY32& entry) {
  Handle* handle = Find(snapshot);
  if (handle == nullptr || handle->kind != Handle::Kind::ThreadSnapshot) return false;
  // position counts threads across all processes of the snapshot.
  size_t index = handle->position;
  for (const FakeProcess& process : handle->processes) {
    if (index < process.threads) {
      entry.th32OwnerProcessID = process.id;
      entry.th32ThreadID = static_cast<DWORD>(handle->position + 1);
      ++handle->position;
      return true;
    }
    index -= process.threads;
  }
  return false;
}

HANDLE FakeSystem::OpenProcess(DWORD access, DWORD processId) {
  Record("OpenProcess 0x%lx %lu", access, processId);
  const FakeProcess* process = FindProcess(processId);
  if (process == nullptr) {
    // What the system answers for an id that names no process.
    lastError_ = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  const bool wantsQuery = (access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)) != 0;
  const bool wantsSet = (access & (PROCESS_SET_INFORMATION | kProcessSetLimitedInformation)) != 0;
  if ((wantsQuery && !process->canQuery) || (wantsSet && !process->canSet)) {
    lastError_ = process->openError;
    return nullptr;
  }
  constexpr DWORD kRightsProtectedProcessesGive =
      PROCESS_QUERY_LIMITED_INFORMATION | kProcessSetLimitedInformation | PROCESS_TERMINATE | SYNCHRONIZE;
  if (process->isProtected && (access & ~kRightsProtectedProcessesGive) != 0) {
    lastError_ = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  // As Windows grants them: each full right brings its limited one along.
  DWORD granted = access;
  if ((access & PROCESS_QUERY_INFORMATION) != 0) granted |= PROCESS_QUERY_LIMITED_INFORMATION;
  if ((access & PROCESS_SET_INFORMATION) != 0) granted |= kProcessSetLimitedInformation;
  return NewHandle({Handle::Kind::Process, processId, granted, {}, 0});
}

bool FakeSystem::QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* buffer, DWORD& size) {
  Handle* handle = Find(process);
  Record("QueryFullProcessImageNameW %lu %lu %lu", handle ? handle->processId : 0, flags, size);
  const FakeProcess* target = Target(handle, PROCESS_QUERY_LIMITED_INFORMATION);
  if (target == nullptr || target->imagePath.empty()) return false;
  if (target->pathFillsBuffer) {
    // A misbehaving query: success with every character written and no terminating zero.
    for (DWORD i = 0; i < size; ++i) buffer[i] = target->imagePath[i % target->imagePath.size()];
    return true;
  }
  if (target->imagePath.size() >= size) return false;
  std::memcpy(buffer, target->imagePath.c_str(), (target->imagePath.size() + 1) * sizeof(wchar_t));
  size = static_cast<DWORD>(target->imagePath.size());
  return true;
}

bool FakeSystem::SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) {
  Handle* handle = Find(process);
  Record("SetProcessAffinityMask %lu 0x%llx", handle ? handle->processId : 0, static_cast<unsigned long long>(mask));
  return CallResult(handle, PROCESS_SET_INFORMATION, &FakeProcess::affinityError);
}

bool FakeSystem::LookUpSetProcessInformation() {
  Record("LookUpSetProcessInformation");
  setProcessInformationFound_ = hasSetProcessInformation;
  return setProcessInformationFound_;
}

bool FakeSystem::SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                                       DWORD size) {
  if (!setProcessInformationFound_) return false;
  Handle* handle = Find(process);
  ULONG state[3] = {};
  if (information != nullptr && size >= sizeof(state)) std::memcpy(state, information, sizeof(state));
  Record("SetProcessInformation %lu %d {%lu,%lu,%lu} %lu", handle ? handle->processId : 0,
         static_cast<int>(informationClass), state[0], state[1], state[2], size);
  if (!CallResult(handle, PROCESS_SET_INFORMATION, &FakeProcess::efficiencyError)) return false;
  if (informationClass == ProcessPowerThrottling && (state[1] & PROCESS_POWER_THROTTLING_EXECUTION_SPEED) != 0) {
    FindProcess(handle->processId)->ecoQos = (state[2] & PROCESS_POWER_THROTTLING_EXECUTION_SPEED) != 0;
  }
  return true;
}

bool FakeSystem::LookUpGetProcessInformation() {
  Record("LookUpGetProcessInformation");
  getProcessInformationFound_ = hasGetProcessInformation;
  return getProcessInformationFound_;
}

bool FakeSystem::GetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                                       DWORD size) {
  if (!getProcessInformationFound_) return false;
  Handle* handle = Find(process);
  Record("GetProcessInformation %lu %d %lu", handle ? handle->processId : 0, static_cast<int>(informationClass), size);
  const FakeProcess* target = Target(handle, PROCESS_QUERY_LIMITED_INFORMATION);
  if (target == nullptr) return false;
  if (informationClass == ProcessProtectionLevelInfo) {
    if (information == nullptr || size != sizeof(PROCESS_PROTECTION_LEVEL_INFORMATION)) {
      lastError_ = ERROR_INVALID_PARAMETER;
      return false;
    }
    const PROCESS_PROTECTION_LEVEL_INFORMATION level{target->isProtected ? PROTECTION_LEVEL_ANTIMALWARE_LIGHT
                                                                         : PROTECTION_LEVEL_NONE};
    std::memcpy(information, &level, sizeof(level));
    return true;
  }
  PowerThrottlingState state{};
  // The caller names the layout it reads: the current version, 12 bytes.
  if (informationClass != ProcessPowerThrottling || information == nullptr || size != sizeof(state)) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::memcpy(&state, information, sizeof(state));
  if (state.Version != PROCESS_POWER_THROTTLING_CURRENT_VERSION) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (target->throttlingQueryError != ERROR_SUCCESS) {
    lastError_ = target->throttlingQueryError;
    return false;
  }
  state.ControlMask = target->ecoQos ? PROCESS_POWER_THROTTLING_EXECUTION_SPEED : 0;
  state.StateMask = state.ControlMask;
  std::memcpy(information, &state, sizeof(state));
  return true;
}

DWORD FakeSystem::GetPriorityClass(HANDLE process) {
  Handle* handle = Find(process);
  Record("GetPriorityClass %lu", handle ? handle->processId : 0);
  const FakeProcess* target = Target(handle, PROCESS_QUERY_LIMITED_INFORMATION);
  return target != nullptr ? target->priorityClass : 0;
}

bool FakeSystem::SetPriorityClass(HANDLE process, DWORD priorityClass) {
  Handle* handle = Find(process);
  Record("SetPriorityClass %lu 0x%lx", handle ? handle->processId : 0, priorityClass);
  if (!CallResult(handle, PROCESS_SET_INFORMATION, &FakeProcess::priorityError)) return false;
  FindProcess(handle->processId)->priorityClass = priorityClass;
  return true;
}

bool FakeSystem::LookUpCpuSetFunctions() {
  Record("LookUpCpuSetFunctions");
  cpuSetFunctionsFound_ = hasCpuSetFunctions;
  return cpuSetFunctionsFound_;
}

bool FakeSystem::SetProcessDefaultCpuSets(HANDLE process, const ULONG* ids, ULONG count) {
  if (!cpuSetFunctionsFound_) return false;
  Handle* handle = Find(process);
  std::string list;
  for (ULONG i = 0; i < count; ++i) {
    if (i != 0) list += ',';
    list += std::to_string(ids[i]);
  }
  Record("SetProcessDefaultCpuSets %lu [%s] %lu", handle ? handle->processId : 0, list.c_str(), count);
  return CallResult(handle, kProcessSetLimitedInformation, &FakeProcess::cpuSetsError);
}

void FakeSystem::CloseHandle(HANDLE handle) {
  auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (it == handles_.end()) {
    Record("CloseHandle unknown");
    return;
  }
  switch (it->second.kind) {
    case Handle::Kind::Process:
      Record("CloseHandle process %lu", it->second.processId);
      break;
    case Handle::Kind::ProcessSnapshot:
      Record("CloseHandle process snapshot");
      break;
    case Handle::Kind::ThreadSnapshot:
      Record("CloseHandle thread snapshot");
      break;
  }
  handles_.erase(it);
}

bool FakeSystem::GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship, void* buffer,
                                                  DWORD& length, DWORD& lastError) {
  Record("GetLogicalProcessorInformationEx 0x%x %lu", static_cast<unsigned>(relationship), length);
  if (relationshipReportFails) {
    lastError = ERROR_INVALID_FUNCTION;
    return false;
  }
  const DWORD needed = static_cast<DWORD>(relationshipReport.size());
  if (buffer == nullptr || length < needed) {
    length = needed;
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::memcpy(buffer, relationshipReport.data(), needed);
  length = needed;
  lastError = ERROR_SUCCESS;
  return true;
}

DWORD FakeSystem::GetActiveProcessorCount(WORD group) {
  Record("GetActiveProcessorCount %u", static_cast<unsigned>(group));
  return group == 0 ? activeProcessorCount : 0;
}

uint64_t FakeSystem::GetActiveProcessorMask() {
  Record("GetSystemInfo");
  return activeProcessorMask;
}

bool FakeSystem::GetNumaHighestNodeNumber(ULONG& highest) {
  Record("GetNumaHighestNodeNumber");
  if (highestNumaNodeFails) return false;
  highest = highestNumaNode;
  return true;
}

bool FakeSystem::GetSystemCpuSetInformation(void* buffer, ULONG length, ULONG& returnedLength, DWORD& lastError) {
  Record("GetSystemCpuSetInformation %lu", length);
  const ULONG needed = static_cast<ULONG>(cpuSetReport.size());
  returnedLength = needed;
  if (buffer == nullptr || length < needed) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return false;
  }
  std::memcpy(buffer, cpuSetReport.data(), needed);
  lastError = ERROR_SUCCESS;
  return true;
}

bool FakeSystem::PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) {
  ++pathMatchCalls_;
  return MatchesPathSpec(name, pattern);
}

}  // namespace tarnwick
