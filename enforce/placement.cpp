#include "enforce/placement.h"

#include "platform/system_records.h"

#include <optional>

namespace tarnwick {

namespace {

constexpr MethodResult kMissingFunction{MethodResult::Outcome::Failed, ERROR_PROC_NOT_FOUND};
constexpr MethodResult kNotApplicable{MethodResult::Outcome::NotApplicable, ERROR_SUCCESS};

size_t MethodIndex(PlacementMethod method) { return static_cast<size_t>(method); }

}  // namespace

void Placement::SetUpOnce() {
  std::call_once(setUp_, [this] {
    activeProcessorMask_ = topology_.GetActiveProcessorMask();
    hasSetProcessInformation_ = processes_.LookUpSetProcessInformation();
    hasGetProcessInformation_ = processes_.LookUpGetProcessInformation();
  });
}

MethodResult Placement::Outcome(bool succeeded) {
  if (succeeded) return {MethodResult::Outcome::Placed, ERROR_SUCCESS};
  return {MethodResult::Outcome::Failed, processes_.LastError()};
}

void Placement::Apply(DWORD processId, const MethodSwitches& methods, ThreadCountTable& threads,
                      uint64_t performanceCoreMask, const std::vector<GROUP_AFFINITY>& performanceCoreGroups,
                      MethodResults& results) {
  SetUpOnce();
  if (methods.efficiencyMode) {
    results[MethodIndex(PlacementMethod::EfficiencyMode)] = TurnOffEfficiencyMode(processId, threads);
  }
  if (methods.cpuAffinity) {
    results[MethodIndex(PlacementMethod::CpuAffinity)] = RestrictAffinity(processId, performanceCoreMask);
  }
  if (methods.cpuSets) {
    results[MethodIndex(PlacementMethod::CpuSets)] = SetDefaultCpuSets(processId, performanceCoreGroups);
  }
  // Protection explains a denial of the set right only: the CPU set call
  // needs just the limited one, which protected processes give.
  MethodResult* deniable[] = {methods.efficiencyMode ? &results[MethodIndex(PlacementMethod::EfficiencyMode)] : nullptr,
                              methods.cpuAffinity ? &results[MethodIndex(PlacementMethod::CpuAffinity)] : nullptr};
  std::optional<bool> isProtected;
  for (MethodResult* result : deniable) {
    if (result == nullptr || result->outcome != MethodResult::Outcome::Failed || result->error != ERROR_ACCESS_DENIED) {
      continue;
    }
    if (!isProtected) isProtected = IsProtected(processId);
    result->deniedAsProtected = *isProtected;
  }
}

void Placement::FillThreadCounts(ThreadCountTable& threads) {
  ProcessApiHandle snapshot(processes_, processes_.CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (bool more = processes_.Thread32First(snapshot.get(), entry); more;
       more = processes_.Thread32Next(snapshot.get(), entry)) {
    ++threads[entry.th32OwnerProcessID];
  }
}

// Task Manager's efficiency mode: EcoQoS on (execution speed throttled) and
// the Idle priority class. Either alone is not it: a priority the user chose
// for a process stays.
bool Placement::InEfficiencyMode(HANDLE process) {
  if (!hasGetProcessInformation_) return false;
  // The query names the layout it expects, as the set call does.
  PowerThrottlingState state{PROCESS_POWER_THROTTLING_CURRENT_VERSION, 0, 0};
  if (!processes_.GetProcessInformation(process, ProcessPowerThrottling, &state, sizeof(state))) return false;
  const bool ecoQosOn = (state.ControlMask & PROCESS_POWER_THROTTLING_EXECUTION_SPEED) != 0 &&
                        (state.StateMask & PROCESS_POWER_THROTTLING_EXECUTION_SPEED) != 0;
  return ecoQosOn && processes_.GetPriorityClass(process) == IDLE_PRIORITY_CLASS;
}

// Asked only after a denial, so an unprotected process costs nothing more.
// The limited query right is one that protected processes give.
bool Placement::IsProtected(DWORD processId) {
  if (!hasGetProcessInformation_) return false;
  ProcessApiHandle process(processes_, processes_.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, processId));
  if (!process) return false;
  PROCESS_PROTECTION_LEVEL_INFORMATION protection{PROTECTION_LEVEL_NONE};
  return processes_.GetProcessInformation(process.get(), ProcessProtectionLevelInfo, &protection, sizeof(protection)) &&
         protection.ProtectionLevel != PROTECTION_LEVEL_NONE;
}

MethodResult Placement::TurnOffEfficiencyMode(DWORD processId, ThreadCountTable& threads) {
  // The one thread snapshot of a pass, taken at its first match for this method.
  if (threads.empty()) FillThreadCounts(threads);
  auto it = threads.find(processId);
  // A process that owns no thread any more has ended: leave it alone.
  if (it == threads.end() || it->second == 0) return {};
  if (!hasSetProcessInformation_) return kMissingFunction;
  // The query right reads whether the process is in efficiency mode; where it
  // is refused, EcoQoS is still turned off. The full query right brings the
  // limited one along, so it serves GetProcessInformation and GetPriorityClass
  // whichever of the two each one checks.
  bool readable = true;
  ProcessApiHandle process(processes_,
                           processes_.OpenProcess(PROCESS_SET_INFORMATION | PROCESS_QUERY_INFORMATION, processId));
  if (!process && processes_.LastError() == ERROR_ACCESS_DENIED) {
    readable = false;
    process = ProcessApiHandle(processes_, processes_.OpenProcess(PROCESS_SET_INFORMATION, processId));
  }
  if (!process) return Outcome(false);
  // Read before the change: turning EcoQoS off leaves the priority class as it was.
  const bool inEfficiencyMode = readable && InEfficiencyMode(process.get());
  PowerThrottlingState state{PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
  MethodResult result =
      Outcome(processes_.SetProcessInformation(process.get(), ProcessPowerThrottling, &state, sizeof(state)));
  if (result.outcome != MethodResult::Outcome::Placed || !inEfficiencyMode) return result;
  if (processes_.SetPriorityClass(process.get(), NORMAL_PRIORITY_CLASS)) {
    result.priority = MethodResult::Priority::Normal;
  } else {
    result.priority = MethodResult::Priority::StillIdle;
    result.priorityError = processes_.LastError();
  }
  return result;
}

MethodResult Placement::RestrictAffinity(DWORD processId, uint64_t performanceCoreMask) {
  ProcessApiHandle process(processes_, processes_.OpenProcess(PROCESS_SET_INFORMATION, processId));
  if (!process) return Outcome(false);
  const uint64_t mask = activeProcessorMask_ != 0 ? performanceCoreMask & activeProcessorMask_ : performanceCoreMask;
  return Outcome(processes_.SetProcessAffinityMask(process.get(), static_cast<DWORD_PTR>(mask)));
}

MethodResult Placement::SetDefaultCpuSets(DWORD processId, const std::vector<GROUP_AFFINITY>& performanceCoreGroups) {
  std::call_once(cpuSetSetUp_, [this] { hasCpuSetFunctions_ = processes_.LookUpCpuSetFunctions(); });
  ProcessApiHandle process(processes_, processes_.OpenProcess(kProcessSetLimitedInformation, processId));
  if (!process) return Outcome(false);
  if (!hasCpuSetFunctions_) return kMissingFunction;
  std::vector<ULONG> ids;
  ids.reserve(64 * performanceCoreGroups.size());
  if (!cpuSets_.CpuSetIdsFor(topology_, hasCpuSetFunctions_, performanceCoreGroups, ids)) {
    return kMissingFunction;
  }
  // A count of 0 would clear the process's CPU sets, not give it the P-cores.
  if (ids.empty()) return kNotApplicable;
  return Outcome(processes_.SetProcessDefaultCpuSets(process.get(), ids.data(), static_cast<ULONG>(ids.size())));
}

}  // namespace tarnwick
