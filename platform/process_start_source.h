// The system's notice of each new process, for placing a listed process as it
// starts instead of at the next pass. The real source is an event tracing
// session of the program's own (platform/etw_process_starts.h); tests feed
// events by hand.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tarnwick {

// Whether process starts are being watched, and when not, why: the pass then
// places every listed process alone.
enum class StartWatchState : uint8_t {
  Off,          // not started, or stopped as the program ends
  Watching,     // starts arrive as they happen
  NotElevated,  // the system refused the session: it takes administrator rights
  NoSession,    // no session could be made (the system's limit of sessions reached, or another refusal)
  Unavailable,  // the system delivers no process start events (no such provider, or no real-time consumer)
  Ended,        // the session ended while the program ran (stopped from outside)
};

struct StartWatchStatus {
  StartWatchState state = StartWatchState::Off;
  DWORD error = ERROR_SUCCESS;  // the system's code behind a refusal, 0 when none
  friend bool operator==(const StartWatchStatus&, const StartWatchStatus&) = default;
};

inline constexpr size_t kStartEventNameCapacity = MAX_PATH;

// One process start, as the source reports it.
struct ProcessStartEvent {
  DWORD processId = 0;
  DWORD parentProcessId = 0;
  uint64_t createTime = 0;  // FILETIME units; with the id, tells a repeated event from a new process
  // The image's file name (no folder), zero-terminated, cut to fit; empty
  // when the event carried none.
  wchar_t fileName[kStartEventNameCapacity] = {};
};

// Where a source delivers. Both calls may come from the source's own thread
// while any other thread runs: they must not block for long.
class ProcessStartSink {
 public:
  ProcessStartSink() = default;
  ProcessStartSink(const ProcessStartSink&) = delete;
  ProcessStartSink& operator=(const ProcessStartSink&) = delete;
  virtual ~ProcessStartSink() = default;

  virtual void OnProcessStart(const ProcessStartEvent& event) noexcept = 0;
  // error: the system's code behind a state other than kWatching and kOff (0 when none).
  virtual void OnWatchState(StartWatchState state, DWORD error) noexcept = 0;
};

class ProcessStartSource {
 public:
  ProcessStartSource() = default;
  ProcessStartSource(const ProcessStartSource&) = delete;
  ProcessStartSource& operator=(const ProcessStartSource&) = delete;
  virtual ~ProcessStartSource() = default;

  // Starts delivering to sink, which must outlive the source (or its Stop).
  // Reports the outcome to the sink and returns it; a source that watches
  // already does nothing and returns kWatching.
  virtual StartWatchState Start(ProcessStartSink& sink) = 0;
  // Stops watching; afterwards nothing is delivered. Safe to call again, and
  // without Start. Waits at most about a second for the delivering thread.
  virtual void Stop() noexcept = 0;
};

}  // namespace tarnwick
