#include "enforce/placement.h"

#include "platform/system_records.h"

namespace tarnwick {

void Placement::SetUpOnce() {
  std::call_once(set_up_, [this] {
    active_processor_mask_ = topology_.GetActiveProcessorMask();
    has_set_process_information_ = processes_.LookUpSetProcessInformation();
  });
}

void Placement::Apply(DWORD processId, const MethodSwitches& methods, ThreadCountTable& threads,
                      uint64_t performanceCoreMask, const std::vector<GROUP_AFFINITY>& performanceCoreGroups) {
  SetUpOnce();
  if (methods.efficiencyMode) TurnOffEfficiencyMode(processId, threads);
  if (methods.cpuAffinity) RestrictAffinity(processId, performanceCoreMask);
  if (methods.cpuSets) SetDefaultCpuSets(processId, performanceCoreGroups);
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

void Placement::TurnOffEfficiencyMode(DWORD processId, ThreadCountTable& threads) {
  // The one thread snapshot of a pass, taken at its first match for this method.
  if (threads.empty()) FillThreadCounts(threads);
  auto it = threads.find(processId);
  // A process that owns no thread any more has ended: leave it alone.
  if (it == threads.end() || it->second == 0 || !has_set_process_information_) return;
  ProcessApiHandle process(processes_, processes_.OpenProcess(PROCESS_SET_INFORMATION, processId));
  if (!process) return;
  PowerThrottlingState state{PROCESS_POWER_THROTTLING_CURRENT_VERSION, PROCESS_POWER_THROTTLING_EXECUTION_SPEED, 0};
  (void)processes_.SetProcessInformation(process.get(), ProcessPowerThrottling, &state, sizeof(state));
}

void Placement::RestrictAffinity(DWORD processId, uint64_t performanceCoreMask) {
  ProcessApiHandle process(processes_, processes_.OpenProcess(PROCESS_SET_INFORMATION, processId));
  if (!process) return;
  const uint64_t mask = active_processor_mask_ != 0 ? performanceCoreMask & active_processor_mask_ : performanceCoreMask;
  (void)processes_.SetProcessAffinityMask(process.get(), static_cast<DWORD_PTR>(mask));
}

void Placement::SetDefaultCpuSets(DWORD processId, const std::vector<GROUP_AFFINITY>& performanceCoreGroups) {
  std::call_once(cpu_set_set_up_, [this] { has_cpu_set_functions_ = processes_.LookUpCpuSetFunctions(); });
  ProcessApiHandle process(processes_, processes_.OpenProcess(kProcessSetLimitedInformation, processId));
  if (!process || !has_cpu_set_functions_) return;
  std::vector<ULONG> ids;
  ids.reserve(64 * performanceCoreGroups.size());
  if (!cpu_sets_.CpuSetIdsFor(topology_, has_cpu_set_functions_, performanceCoreGroups, ids)) return;
  // Called with a count of 0 too, when no Id is known.
  (void)processes_.SetProcessDefaultCpuSets(process.get(), ids.data(), static_cast<ULONG>(ids.size()));
}

}  // namespace tarnwick
