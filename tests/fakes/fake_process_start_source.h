// A process start source fed by hand: a test starts it onto a sink, scripts
// the outcome of the start, and delivers start events as the system would.
#pragma once

#include "platform/process_start_source.h"

#include <cwchar>
#include <functional>

namespace tarnwick {

class FakeProcessStartSource final : public ProcessStartSource {
 public:
  // What the next Start reports.
  StartWatchState startState = StartWatchState::Watching;
  DWORD startError = ERROR_SUCCESS;
  // Called by every Stop, after the sink was told.
  std::function<void()> onStop;

  StartWatchState Start(ProcessStartSink& sink) override {
    ++starts_;
    sink_ = startState == StartWatchState::Watching ? &sink : nullptr;
    sink.OnWatchState(startState, startError);
    return startState;
  }
  void Stop() noexcept override {
    ++stops_;
    if (sink_ != nullptr) sink_->OnWatchState(StartWatchState::Off, ERROR_SUCCESS);
    sink_ = nullptr;
    if (onStop) onStop();
  }

  // Hands the event to the sink while started; false when it is not.
  bool Deliver(const ProcessStartEvent& event) {
    if (sink_ == nullptr) return false;
    sink_->OnProcessStart(event);
    return true;
  }
  // The session ended from outside.
  void End(DWORD error = ERROR_SUCCESS) {
    if (sink_ != nullptr) sink_->OnWatchState(StartWatchState::Ended, error);
    sink_ = nullptr;
  }

  [[nodiscard]] int Starts() const { return starts_; }
  [[nodiscard]] int Stops() const { return stops_; }

 private:
  ProcessStartSink* sink_ = nullptr;
  int starts_ = 0;
  int stops_ = 0;
};

// A start event of processId named fileName.
inline ProcessStartEvent StartEventOf(DWORD processId, const wchar_t* fileName, uint64_t createTime = 1,
                                      DWORD parentProcessId = 0) {
  ProcessStartEvent event;
  event.processId = processId;
  event.parentProcessId = parentProcessId;
  event.createTime = createTime;
  std::wcsncpy(event.fileName, fileName, kStartEventNameCapacity - 1);
  return event;
}

}  // namespace tarnwick
