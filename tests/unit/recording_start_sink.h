// A process start sink that keeps what it was told, from whichever thread
// told it, for the tests of the start sources.
#pragma once

#include "platform/process_start_source.h"

#include <mutex>
#include <vector>

namespace tarnwick {

class RecordingStartSink final : public ProcessStartSink {
 public:
  void OnProcessStart(const ProcessStartEvent& event) noexcept override {
    std::lock_guard lock(lock_);
    events_.push_back(event);
  }
  void OnWatchState(StartWatchState state, DWORD error) noexcept override {
    std::lock_guard lock(lock_);
    states_.push_back({state, error});
  }
  [[nodiscard]] std::vector<ProcessStartEvent> Events() const {
    std::lock_guard lock(lock_);
    return events_;
  }
  [[nodiscard]] std::vector<StartWatchStatus> States() const {
    std::lock_guard lock(lock_);
    return states_;
  }
  // The event of processId, if one came.
  [[nodiscard]] bool Find(DWORD processId, ProcessStartEvent& found) const {
    std::lock_guard lock(lock_);
    for (const ProcessStartEvent& event : events_) {
      if (event.processId == processId) {
        found = event;
        return true;
      }
    }
    return false;
  }

 private:
  mutable std::mutex lock_;
  std::vector<ProcessStartEvent> events_;
  std::vector<StartWatchStatus> states_;
};

}  // namespace tarnwick
