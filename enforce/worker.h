// The enforcement worker: a thread that, about once a second, matches every
// running process against the user's patterns and places the matches on the
// P-cores, then publishes its counts and signals the registered events.
#pragma once

#include "enforce/pass_results.h"
#include "enforce/placement.h"
#include "enforce/process_matching.h"
#include "enforce/start_event_queue.h"
#include "platform/path_matcher.h"
#include "platform/process_api.h"
#include "platform/topology_api.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {

// What a pass reads from and writes to the settings.
class WorkerSettings {
 public:
  WorkerSettings() = default;
  WorkerSettings(const WorkerSettings&) = delete;
  WorkerSettings& operator=(const WorkerSettings&) = delete;
  virtual ~WorkerSettings() = default;

  // The three method switches, read afresh at the start of every pass.
  [[nodiscard]] virtual MethodSwitches ReadMethodSwitches() = 0;
  // LastScannedCount, then CurrentEnforcedCount; also when they are 0.
  virtual void PublishPassCounts(uint32_t scanned, uint32_t matched) = 0;
};

// Makes a worker's thread running `body`; throws std::system_error when the
// thread cannot be made, as std::thread's constructor does.
using WorkerThreadMaker = std::thread (*)(std::function<void()> body);
[[nodiscard]] std::thread MakeWorkerThread(std::function<void()> body);

// The one block shared between the worker and the windows.
struct WorkerControl {
  // The platform seams must outlive the control block.
  WorkerControl(uint64_t performanceCoreMask, ProcessApi& processApi, TopologyApi& topologyApi,
                PathMatcher& pathMatcher);
  // On this machine's Win32 platform.
  explicit WorkerControl(uint64_t performanceCoreMask);
  // Stops and joins a running worker.
  ~WorkerControl();
  WorkerControl(const WorkerControl&) = delete;
  WorkerControl& operator=(const WorkerControl&) = delete;

  // Written by the starting and stopping thread only while no worker runs.
  WorkerThreadMaker makeThread = MakeWorkerThread;
  unique_handle stopEvent;
  std::thread workerThread;
  // Manual reset, set by the worker as its last act: lets a stop wait with a deadline.
  unique_handle workerEnded;

  const uint64_t PerformanceCoreMask;
  const std::vector<GROUP_AFFINITY> performanceCoreGroups;  // one entry: {PerformanceCoreMask, group 0}

  // Signalled at the end of every pass; registered handles stay owned by their registrant.
  std::mutex passNotifyLock;
  std::vector<HANDLE> PassNotifyEvents;

  // 1 while a worker thread is inside its loop.
  std::atomic<uint32_t> running{0};

  // State of the whole run, touched only by the (single) worker thread.
  ProcessApi& processes;
  TopologyApi& topology;
  PathMatcher& matcher;
  ProcessPathCache pathCache;
  Placement placements;

  // Filled by the worker, read by any window after the pass-done event.
  PassResultsExchange results;

  // Process starts from the start source's thread: the worker wakes for them
  // between passes. Outlives every worker, so a restart keeps what waits.
  ProcessStartQueue startEvents;
  // Worker thread only: the batch being placed, and when the notify events
  // were last signalled for placements at start.
  std::vector<ProcessStartEvent> startBatch;
  ULONGLONG lastStartNotifyTick = 0;
  // The method switches the last pass read; placements at start use them.
  std::optional<MethodSwitches> lastPassMethods;
};

// Stops a running worker, then starts one with its own copy of patterns that
// runs a pass at once and then one passInterval after the end of each pass;
// between passes it places the processes whose start events arrive.
// settings must outlive the worker. False when the thread cannot be created;
// no worker then runs, and diagnostics are told why.
bool StartWorker(WorkerControl& control, std::vector<std::wstring> patterns, WorkerSettings& settings,
                 DWORD passInterval = 1000);

// Signals the stop event, joins the worker (a pass in progress ends first) and
// only then closes the event. False when no worker had been started.
bool StopWorker(WorkerControl& control);

// StopWorker that waits at most timeoutMs for the pass in progress: false,
// with the worker still running and the control block unchanged, when it did
// not end in time (the program then ends without it).
bool StopWorkerWithin(WorkerControl& control, DWORD timeoutMs);

// Adds event to the events signalled after every pass, once.
void RegisterPassNotifyEvent(WorkerControl& control, HANDLE event);

// One pass over all processes; false when the process snapshot could not be
// taken (nothing is then published or signalled).
bool EnforcementPass(WorkerControl& control, PatternList& patterns, WorkerSettings& settings);

// Places the processes of the start events waiting in control.startEvents as
// a pass would: resolved through the path cache, matched against patterns,
// placed by the methods the last pass found enabled (settings are read only
// before the first pass), each placement's row added to the published
// results. A process gone before its event (no image path), an unlisted one
// and a repeated event are left alone. Returns the number placed.
size_t PlaceStartedProcesses(WorkerControl& control, PatternList& patterns, WorkerSettings& settings);

}  // namespace tarnwick
