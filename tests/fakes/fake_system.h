// A scripted stand-in for the process, topology and path matching seams. It
// holds the processes, reports and missing functions a test describes, and
// records every call with its arguments in one log, in call order, so a test
// can check both what was called and the order across the three seams.
#pragma once

#include "platform/path_matcher.h"
#include "platform/process_api.h"
#include "platform/topology_api.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct FakeProcess {
  DWORD id = 0;
  std::wstring fileName;                  // the snapshot's szExeFile
  std::wstring imagePath;                 // what QueryFullProcessImageNameW reports
  uint32_t threads = 1;                   // entries in a thread snapshot
  bool canQuery = true;                   // OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION) succeeds
  bool canSet = true;                     // OpenProcess with the set rights succeeds
  bool pathFillsBuffer = false;           // the path query succeeds without a terminating zero
  DWORD parentId = 0;                     // the snapshot's th32ParentProcessID
  DWORD openError = ERROR_ACCESS_DENIED;  // LastError after an open that canQuery or canSet refuses
  // Nonzero: the placement call fails with this error.
  DWORD efficiencyError = 0;
  DWORD affinityError = 0;
  DWORD cpuSetsError = 0;
  // Its power throttling state as GetProcessInformation reports it, and its
  // priority class; the set calls change them. Task Manager's efficiency
  // mode is EcoQoS on and IDLE_PRIORITY_CLASS.
  bool ecoQos = false;
  DWORD priorityClass = NORMAL_PRIORITY_CLASS;
  // Nonzero: GetProcessInformation(ProcessPowerThrottling) fails with this
  // error (a build that cannot report it).
  DWORD throttlingQueryError = 0;
  // Nonzero: SetPriorityClass fails with this error.
  DWORD priorityError = 0;
  // A protected process (ProcessProtectionLevelInfo reports a level): every
  // open asking more than the limited query and set rights is refused with
  // ERROR_ACCESS_DENIED, whoever asks.
  bool isProtected = false;
};

class FakeSystem final : public ProcessApi, public TopologyApi, public PathMatcher {
 public:
  // Scripted state, read at the moment of each call.
  std::vector<FakeProcess> processes;
  bool processSnapshotFails = false;
  bool threadSnapshotFails = false;
  int threadSnapshotFailures = 0;  // the next this many thread snapshots fail
  bool hasSetProcessInformation = true;
  bool hasGetProcessInformation = true;
  bool hasCpuSetFunctions = true;
  std::vector<std::byte> relationshipReport;
  bool relationshipReportFails = false;
  DWORD activeProcessorCount = 0;
  uint64_t activeProcessorMask = 0;
  ULONG highestNumaNode = 0;
  bool highestNumaNodeFails = false;
  std::vector<std::byte> cpuSetReport;
  // Called at the start of each process snapshot, before it is taken.
  std::function<void()> onProcessSnapshot;
  // Off for benchmarks: the log then stays empty and costs nothing.
  bool recording = true;

  // "Name arg arg ..." per call; numbers in hex with 0x where they are masks or rights.
  [[nodiscard]] const std::vector<std::string>& Calls() const { return calls_; }
  // The calls whose text starts with prefix, in order.
  [[nodiscard]] std::vector<std::string> CallsStartingWith(std::string_view prefix) const;
  [[nodiscard]] size_t CountCalls(std::string_view prefix) const { return CallsStartingWith(prefix).size(); }
  void ClearCalls() { calls_.clear(); }
  [[nodiscard]] uint64_t PathMatchCalls() const { return pathMatchCalls_; }
  // Handles handed out and not yet closed.
  [[nodiscard]] size_t OpenHandles() const { return handles_.size(); }

  // ProcessApi
  HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) override;
  bool Process32FirstW(HANDLE snapshot, PROCESSENTRY32W& entry) override;
  bool Process32NextW(HANDLE snapshot, PROCESSENTRY32W& entry) override;
  bool Thread32First(HANDLE snapshot, THREADENTRY32& entry) override;
  bool Thread32Next(HANDLE snapshot, THREADENTRY32& entry) override;
  HANDLE OpenProcess(DWORD access, DWORD processId) override;
  bool QueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* buffer, DWORD& size) override;
  bool SetProcessAffinityMask(HANDLE process, DWORD_PTR mask) override;
  bool LookUpSetProcessInformation() override;
  bool SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                             DWORD size) override;
  bool LookUpGetProcessInformation() override;
  bool GetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS informationClass, void* information,
                             DWORD size) override;
  DWORD GetPriorityClass(HANDLE process) override;
  bool SetPriorityClass(HANDLE process, DWORD priorityClass) override;
  bool LookUpCpuSetFunctions() override;
  bool SetProcessDefaultCpuSets(HANDLE process, const ULONG* ids, ULONG count) override;
  void CloseHandle(HANDLE handle) override;
  DWORD LastError() override { return lastError_; }

  // TopologyApi
  bool GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship, void* buffer, DWORD& length,
                                        DWORD& lastError) override;
  DWORD GetActiveProcessorCount(WORD group) override;
  uint64_t GetActiveProcessorMask() override;
  bool GetNumaHighestNodeNumber(ULONG& highest) override;
  bool GetSystemCpuSetInformation(void* buffer, ULONG length, ULONG& returnedLength, DWORD& lastError) override;

  // PathMatcher: the shell's rule, as MatchesPathSpec answers it.
  bool PathMatchSpecW(const wchar_t* name, const wchar_t* pattern) override;

 private:
  struct Handle {
    enum class Kind { ProcessSnapshot, ThreadSnapshot, Process } kind;
    DWORD processId = 0;                 // kProcess
    DWORD access = 0;                    // kProcess: the rights it was opened with
    std::vector<FakeProcess> processes;  // snapshots: the processes when it was taken
    size_t position = 0;                 // snapshots: the next entry (threads: flattened)
  };
  void Record(const char* format, ...);
  HANDLE NewHandle(Handle handle);
  Handle* Find(HANDLE handle);
  const FakeProcess* FindProcess(DWORD processId) const;
  FakeProcess* FindProcess(DWORD processId);
  // The process a call on `handle` acts on, when the handle is a process
  // opened with one of `rights`; otherwise null, with the error Windows gives
  // (ERROR_INVALID_HANDLE, or ERROR_ACCESS_DENIED for a missing right).
  FakeProcess* Target(Handle* handle, DWORD rights);
  // The result of a placement call on handle, which needs one of `rights`:
  // fails with `error` when it is nonzero.
  bool CallResult(Handle* handle, DWORD rights, DWORD FakeProcess::*error);

  std::vector<std::string> calls_;
  std::map<uintptr_t, Handle> handles_;
  uintptr_t nextHandle_ = 0x100;
  uint64_t pathMatchCalls_ = 0;
  DWORD lastError_ = ERROR_SUCCESS;
  bool setProcessInformationFound_ = false;
  bool getProcessInformationFound_ = false;
  bool cpuSetFunctionsFound_ = false;
};

}  // namespace tarnwick
