#include "enforce/stored_worker_settings.h"

#include "config/settings_names.h"

namespace tarnwick {

MethodSwitches StoredWorkerSettings::ReadMethodSwitches() {
  MethodSwitches methods;
  store_.ReadFlag(kMethodEfficiencyMode, methods.efficiencyMode, true);
  store_.ReadFlag(kMethodCpuAffinity, methods.cpuAffinity, false);
  store_.ReadFlag(kMethodCpuSets, methods.cpuSets, false);
  return methods;
}

void StoredWorkerSettings::PublishPassCounts(uint32_t scanned, uint32_t matched) {
  WriteStatistic(kLastScannedCount, scanned);
  WriteStatistic(kCurrentEnforcedCount, matched);
}

}  // namespace tarnwick
