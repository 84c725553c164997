// The worker's settings as the program keeps them in the registry.
#pragma once

#include "config/settings_store.h"
#include "enforce/worker.h"

namespace tarnwick {

// Reads the method switches through the shared store at every pass (with the
// defaults efficiency mode on, affinity and CPU sets off) and writes the pass
// counts as statistics under HKEY_CURRENT_USER.
class StoredWorkerSettings final : public WorkerSettings {
 public:
  // store must outlive every worker that uses this object.
  explicit StoredWorkerSettings(SettingsStore& store) : store_(store) {}

  MethodSwitches ReadMethodSwitches() override;
  void PublishPassCounts(uint32_t scanned, uint32_t matched) override;

 private:
  SettingsStore& store_;
};

}  // namespace tarnwick
