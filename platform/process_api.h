// The process calls of matching and placement: Tool Help snapshots, opening a
// process, its image path, and the three placement calls.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <utility>

namespace tarnwick {

// Every handle this interface returns is owned by the caller and released
// with CloseHandle of the same object (ProcessApiHandle does that). Failure
// is a null handle for snapshots and processes alike.
class ProcessApi {
 public:
  ProcessApi() = default;
  ProcessApi(const ProcessApi&) = delete;
  ProcessApi& operator=(const ProcessApi&) = delete;
  virtual ~ProcessApi() = default;

  // CreateToolhelp32Snapshot(flags, processId): TH32CS_SNAPPROCESS or TH32CS_SNAPTHREAD.
  [[nodiscard]] virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) = 0;
  // The caller sets entry.dwSize (568) and zeroes the rest before the first call.
  [[nodiscard]] virtual bool Process32FirstW(HANDLE snapshot, PROCESSENTRY32W& entry) = 0;
  [[nodiscard]] virtual bool Process32NextW(HANDLE snapshot, PROCESSENTRY32W& entry) = 0;
  // The caller sets entry.dwSize (28) and zeroes the rest before the first call.
  [[nodiscard]] virtual bool Thread32First(HANDLE snapshot, THREADENTRY32& entry) = 0;
  [[nodiscard]] virtual bool Thread32Next(HANDLE snapshot, THREADENTRY32& entry) = 0;

  // OpenProcess(access, inherit = FALSE, processId).
  [[nodiscard]] virtual HANDLE OpenProcess(DWORD access, DWORD processId) = 0;
  // Needs PROCESS_QUERY_LIMITED_INFORMATION. size: in, the buffer's characters; out, the path's.
  [[nodiscard]] virtual bool QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* buffer, DWORD& size) = 0;
  // Needs PROCESS_SET_INFORMATION.
  [[nodiscard]] virtual bool SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) = 0;

  // Looks SetProcessInformation up in kernel32.dll (GetModuleHandleW, GetProcAddress);
  // false when this Windows lacks it. Callers look up once per run.
  [[nodiscard]] virtual bool LookUpSetProcessInformation() = 0;
  // Needs PROCESS_SET_INFORMATION; false without a call when the lookup found nothing.
  [[nodiscard]] virtual bool SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass,
                                                   void* information, DWORD size) = 0;
  // Looks GetProcessInformation up the same way (Windows 8 and later).
  [[nodiscard]] virtual bool LookUpGetProcessInformation() = 0;
  // Needs a query right (PROCESS_QUERY_INFORMATION brings the limited one
  // along); false without a call when the lookup found nothing. Builds that
  // cannot report a class fail the call.
  [[nodiscard]] virtual bool GetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass,
                                                   void* information, DWORD size) = 0;
  // Needs PROCESS_QUERY_LIMITED_INFORMATION; 0 on failure.
  [[nodiscard]] virtual DWORD GetPriorityClass(HANDLE process) = 0;
  // Needs PROCESS_SET_INFORMATION.
  [[nodiscard]] virtual bool SetPriorityClass(HANDLE process, DWORD priorityClass) = 0;
  // Looks GetProcessDefaultCpuSets, SetProcessDefaultCpuSets and
  // GetSystemCpuSetInformation up; true only when all three exist.
  [[nodiscard]] virtual bool LookUpCpuSetFunctions() = 0;
  // Needs PROCESS_SET_LIMITED_INFORMATION; false without a call when the lookup found nothing.
  [[nodiscard]] virtual bool SetProcessDefaultCpuSets(HANDLE process, const ULONG* ids, ULONG count) = 0;

  virtual void CloseHandle(HANDLE handle) = 0;

  // The calling thread's error code, read at once after a call above failed.
  [[nodiscard]] virtual DWORD LastError() = 0;
};

// A handle from a ProcessApi, closed through it when this goes out of scope.
class ProcessApiHandle {
 public:
  ProcessApiHandle(ProcessApi& api, HANDLE handle) noexcept : api_(&api), handle_(handle) {}
  ~ProcessApiHandle() { reset(); }
  ProcessApiHandle(const ProcessApiHandle&) = delete;
  ProcessApiHandle& operator=(const ProcessApiHandle&) = delete;
  ProcessApiHandle(ProcessApiHandle&& other) noexcept
      : api_(other.api_), handle_(std::exchange(other.handle_, nullptr)) {}
  ProcessApiHandle& operator=(ProcessApiHandle&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = other.api_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] HANDLE get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  void reset() noexcept {
    if (HANDLE old = std::exchange(handle_, nullptr)) api_->CloseHandle(old);
  }

 private:
  ProcessApi* api_;
  HANDLE handle_;
};

}  // namespace tarnwick
