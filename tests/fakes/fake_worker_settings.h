// Method switches and published counts held in memory for worker tests.
#pragma once

#include "enforce/worker.h"

#include <mutex>
#include <utility>
#include <vector>

namespace tarnwick {

class FakeWorkerSettings final : public WorkerSettings {
 public:
  explicit FakeWorkerSettings(MethodSwitches methods = {}) : methods_(methods) {}

  MethodSwitches ReadMethodSwitches() override {
    std::lock_guard lock(mutex_);
    ++reads_;
    return methods_;
  }
  void PublishPassCounts(uint32_t scanned, uint32_t matched) override {
    std::lock_guard lock(mutex_);
    published_.emplace_back(scanned, matched);
  }

  void SetMethods(MethodSwitches methods) {
    std::lock_guard lock(mutex_);
    methods_ = methods;
  }
  [[nodiscard]] std::vector<std::pair<uint32_t, uint32_t>> Published() const {
    std::lock_guard lock(mutex_);
    return published_;
  }
  [[nodiscard]] int Reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
  }

 private:
  mutable std::mutex mutex_;
  MethodSwitches methods_;
  int reads_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> published_;
};

}  // namespace tarnwick
