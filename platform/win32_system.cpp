#include "platform/win32_system.h"

#include <shlwapi.h>

#include <atomic>

namespace tarnwick {
namespace {

using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
using GetProcessInformationFn = BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
using GetProcessDefaultCpuSetsFn = BOOL(WINAPI*)(HANDLE, PULONG, ULONG, PULONG);
using SetProcessDefaultCpuSetsFn = BOOL(WINAPI*)(HANDLE, const ULONG*, ULONG);
using GetSystemCpuSetInformationFn = BOOL(WINAPI*)(void*, ULONG, PULONG, HANDLE, ULONG);

// GetProcAddress in kernel32.dll; null when the module or the function is missing.
template <typename Function>
Function LookUpKernelFunction(const char* name) noexcept {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel, name)));
}

class Win32Processes final : public ProcessApi {
 public:
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(flags, processId);
    return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
  }
  bool Process32FirstW(HANDLE snapshot, PROCESSENTRY32W& entry) override {
    return ::Process32FirstW(snapshot, &entry) != FALSE;
  }
  bool Process32NextW(HANDLE snapshot, PROCESSENTRY32W& entry) override {
    return ::Process32NextW(snapshot, &entry) != FALSE;
  }
  bool Thread32First(HANDLE snapshot, THREADENTRY32& entry) override {
    return ::Thread32First(snapshot, &entry) != FALSE;
  }
  bool Thread32Next(HANDLE snapshot, THREADENTRY32& entry) override {
    return ::Thread32Next(snapshot, &entry) != FALSE;
  }
  HANDLE OpenProcess(DWORD access, DWORD processId) override { return ::OpenProcess(access, FALSE, processId); }
  bool QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* buffer, DWORD& size) override {
    return ::QueryFullProcessImageNameW(process, flags, buffer, &size) != FALSE;
  }
  bool SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) override {
    return ::SetProcessAffinityMask(process, mask) != FALSE;
  }
  bool LookUpSetProcessInformation() override {
    auto function = LookUpKernelFunction<SetProcessInformationFn>("SetProcessInformation");
    setProcessInformation_.store(function);
    return function != nullptr;
  }
  bool SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                             DWORD size) override {
    auto function = setProcessInformation_.load();
    return function != nullptr && function(process, informationClass, information, size) != FALSE;
  }
  bool LookUpGetProcessInformation() override {
    auto function = LookUpKernelFunction<GetProcessInformationFn>("GetProcessInformation");
    getProcessInformation_.store(function);
    return function != nullptr;
  }
  bool GetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                             DWORD size) override {
    auto function = getProcessInformation_.load();
    return function != nullptr && function(process, informationClass, information, size) != FALSE;
  }
  DWORD GetPriorityClass(HANDLE process) override { return ::GetPriorityClass(process); }
  bool SetPriorityClass(HANDLE process, DWORD priorityClass) override {
    return ::SetPriorityClass(process, priorityClass) != FALSE;
  }
  bool LookUpCpuSetFunctions() override {
    auto getDefaults = LookUpKernelFunction<GetProcessDefaultCpuSetsFn>("GetProcessDefaultCpuSets");
    auto setDefaults = LookUpKernelFunction<SetProcessDefaultCpuSetsFn>("SetProcessDefaultCpuSets");
    auto report = LookUpKernelFunction<GetSystemCpuSetInformationFn>("GetSystemCpuSetInformation");
    const bool allPresent = getDefaults != nullptr && setDefaults != nullptr && report != nullptr;
    setProcessDefaultCpuSets_.store(allPresent ? setDefaults : nullptr);
    return allPresent;
  }
  bool SetProcessDefaultCpuSets(HANDLE process, const ULONG* ids, ULONG count) override {
    auto function = setProcessDefaultCpuSets_.load();
    return function != nullptr && function(process, ids, count) != FALSE;
  }
  void CloseHandle(HANDLE handle) override { ::CloseHandle(handle); }
  DWORD LastError() override { return ::GetLastError(); }

 private:
  std::atomic<SetProcessInformationFn> setProcessInformation_{nullptr};
  std::atomic<GetProcessInformationFn> getProcessInformation_{nullptr};
  std::atomic<SetProcessDefaultCpuSetsFn> setProcessDefaultCpuSets_{nullptr};
};

class Win32Topology final : public TopologyApi {
 public:
  bool GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship, void* buffer, DWORD& length,
                                        DWORD& lastError) override {
    const BOOL ok = ::GetLogicalProcessorInformationEx(
        relationship, static_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer), &length);
    lastError = ok ? ERROR_SUCCESS : ::GetLastError();
    return ok != FALSE;
  }
  DWORD GetActiveProcessorCount(WORD group) override { return ::GetActiveProcessorCount(group); }
  bool GetNumaHighestNodeNumber(ULONG& highest) override { return ::GetNumaHighestNodeNumber(&highest) != FALSE; }
  uint64_t GetActiveProcessorMask() override {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwActiveProcessorMask;
  }
  bool GetSystemCpuSetInformation(void* buffer, ULONG length, ULONG& returnedLength, DWORD& lastError) override {
    static const auto function = LookUpKernelFunction<GetSystemCpuSetInformationFn>("GetSystemCpuSetInformation");
    if (function == nullptr) {
      lastError = ERROR_CALL_NOT_IMPLEMENTED;
      return false;
    }
    const BOOL ok = function(buffer, length, &returnedLength, ::GetCurrentProcess(), 0);
    lastError = ok ? ERROR_SUCCESS : ::GetLastError();
    return ok != FALSE;
  }
};

class Win32Paths final : public PathMatcher {
 public:
  bool PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) override {
    return ::PathMatchSpecW(name, pattern) != FALSE;
  }
};

class BoundedPaths final : public PathMatcher {
 public:
  bool PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) override { return MatchesPathSpec(name, pattern); }
};

}  // namespace

ProcessApi& Win32ProcessApi() {
  static Win32Processes instance;
  return instance;
}

TopologyApi& Win32TopologyApi() {
  static Win32Topology instance;
  return instance;
}

PathMatcher& Win32PathMatcher() {
  static Win32Paths instance;
  return instance;
}

PathMatcher& BoundedPathMatcher() {
  static BoundedPaths instance;
  return instance;
}

}  // namespace tarnwick
