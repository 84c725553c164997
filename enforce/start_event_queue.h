// Process start events on their way from the source's thread to the worker:
// a ring of fixed size, allocated once. An event that finds the ring full is
// dropped and its process left to the next pass, so a storm of starts costs
// bounded memory and the worker never has more than one ring to catch up on.
#pragma once

#include "platform/process_start_source.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarnwick {

// A build starts a few hundred processes a second; the worker takes a batch
// within milliseconds of its arrival.
inline constexpr size_t kStartQueueCapacity = 256;

class ProcessStartQueue final : public ProcessStartSink {
 public:
  explicit ProcessStartQueue(size_t capacity = kStartQueueCapacity);

  // Any thread: queues the event, or drops it when the ring is full.
  void OnProcessStart(const ProcessStartEvent& event) noexcept override;
  void OnWatchState(StartWatchState state, DWORD error) noexcept override;

  // Manual reset, set while events wait; null when it could not be made
  // (nothing is then queued: the pass places every process).
  [[nodiscard]] HANDLE ReadyEvent() const noexcept { return ready_.get(); }
  // Worker: moves the waiting events into out (emptied first), oldest first.
  void TakeAll(std::vector<ProcessStartEvent>& out);

  [[nodiscard]] StartWatchStatus Status() const;
  [[nodiscard]] uint64_t Dropped() const noexcept { return dropped_.load(); }
  [[nodiscard]] size_t Capacity() const noexcept { return ring_.size(); }

 private:
  mutable std::mutex lock_;
  std::vector<ProcessStartEvent> ring_;  // guarded by lock_
  size_t first_ = 0;                     // guarded by lock_
  size_t count_ = 0;                     // guarded by lock_
  StartWatchStatus status_;              // guarded by lock_
  unique_handle ready_;
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace tarnwick
