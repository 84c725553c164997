#include "enforce/start_event_queue.h"

namespace tarnwick {

ProcessStartQueue::ProcessStartQueue(size_t capacity)
    : ring_(capacity), ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void ProcessStartQueue::OnProcessStart(const ProcessStartEvent& event) noexcept {
  if (!ready_) return;
  std::lock_guard lock(lock_);
  if (count_ == ring_.size()) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  ring_[(first_ + count_) % ring_.size()] = event;
  if (count_++ == 0) ::SetEvent(ready_.get());
}

void ProcessStartQueue::OnWatchState(StartWatchState state, DWORD error) noexcept {
  std::lock_guard lock(lock_);
  status_ = {state, error};
}

void ProcessStartQueue::TakeAll(std::vector<ProcessStartEvent>& out) {
  out.clear();
  std::lock_guard lock(lock_);
  for (; count_ > 0; --count_) {
    out.push_back(ring_[first_]);
    first_ = (first_ + 1) % ring_.size();
  }
  first_ = 0;
  if (ready_) ::ResetEvent(ready_.get());
}

StartWatchStatus ProcessStartQueue::Status() const {
  std::lock_guard lock(lock_);
  return status_;
}

}  // namespace tarnwick
