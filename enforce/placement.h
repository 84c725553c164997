// The three ways of steering a matched process towards the P-cores: efficiency
// mode off, a hard affinity mask, default CPU sets. Each opens the process
// itself, makes one call, closes it and ignores the result.
#pragma once

#include "enforce/pass_results.h"
#include "platform/process_api.h"
#include "platform/topology_api.h"
#include "topology/cpu_set_inventory.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tarnwick {

struct MethodSwitches {
  bool efficiencyMode = true;
  bool cpuAffinity = false;
  bool cpuSets = false;
};

// Process id -> threads it owns, from one thread snapshot; one table per pass.
using ThreadCountTable = std::unordered_map<DWORD, uint32_t>;

// The placement state of the whole run: the functions looked up at run time,
// the active processor mask and the CPU set table. Used by one worker at a time.
class Placement {
 public:
  Placement(ProcessApi& processes, TopologyApi& topology) : processes_(processes), topology_(topology) {}
  Placement(const Placement&) = delete;
  Placement& operator=(const Placement&) = delete;

  // Applies the methods that are on, in the order efficiency mode, affinity,
  // CPU sets, after the one-time set-up, and writes each one's outcome into
  // `results` (a method that is off keeps what `results` held).
  void Apply(DWORD processId, const MethodSwitches& methods, ThreadCountTable& threads, uint64_t performanceCoreMask,
             const std::vector<GROUP_AFFINITY>& performanceCoreGroups, MethodResults& results);

 private:
  MethodResult TurnOffEfficiencyMode(DWORD processId, ThreadCountTable& threads);
  bool InEfficiencyMode(HANDLE process);
  bool IsProtected(DWORD processId);
  MethodResult RestrictAffinity(DWORD processId, uint64_t performanceCoreMask);
  MethodResult SetDefaultCpuSets(DWORD processId, const std::vector<GROUP_AFFINITY>& performanceCoreGroups);
  // Placed, or failed with the error the platform gives for the call just made.
  MethodResult Outcome(bool succeeded);
  void SetUpOnce();
  void FillThreadCounts(ThreadCountTable& threads);

  ProcessApi& processes_;
  TopologyApi& topology_;
  std::once_flag setUp_;
  bool hasSetProcessInformation_ = false;
  bool hasGetProcessInformation_ = false;
  uint64_t activeProcessorMask_ = 0;
  std::once_flag cpuSetSetUp_;
  bool hasCpuSetFunctions_ = false;
  CpuSetInventory cpuSets_;
};

}  // namespace tarnwick
