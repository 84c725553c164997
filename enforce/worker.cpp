#include "enforce/worker.h"

#include "platform/win32_system.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tarnwick {

WorkerControl::WorkerControl(uint64_t performanceCoreMask, ProcessApi& processes, TopologyApi& topology,
                             PathMatcher& matcher)
    : PerformanceCoreMask(performanceCoreMask),
      PerformanceCoreGroups{GROUP_AFFINITY{static_cast<KAFFINITY>(performanceCoreMask), 0, {0, 0, 0}}},
      Processes(processes),
      Topology(topology),
      Matcher(matcher),
      Placements(processes, topology) {}

WorkerControl::WorkerControl(uint64_t performanceCoreMask)
    : WorkerControl(performanceCoreMask, Win32ProcessApi(), Win32TopologyApi(), BoundedPathMatcher()) {}

WorkerControl::~WorkerControl() { StopWorker(*this); }

bool EnforcementPass(WorkerControl& control, PatternList& patterns, WorkerSettings& settings) {
  const MethodSwitches methods = settings.ReadMethodSwitches();
  ProcessApi& processes = control.Processes;
  ProcessApiHandle snapshot(processes, processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;

  ThreadCountTable threads;
  control.Results.BeginPass();
  control.Results.SetMethodsOn({methods.efficiencyMode, methods.cpuAffinity, methods.cpuSets});
  uint32_t scanned = 0;
  uint32_t matched = 0;
  // Every byte but the size zero, padding included, as Process32FirstW expects.
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (bool more = processes.Process32FirstW(snapshot.get(), entry); more;
       more = processes.Process32NextW(snapshot.get(), entry)) {
    ++scanned;
    const DWORD process_id = entry.th32ProcessID;
    ProcessRecord& record =
        control.PathCache.Resolve(processes, process_id, entry.th32ParentProcessID, entry.szExeFile);
    ProcessResult& row = control.Results.NextRow();
    row.processId = process_id;
    row.fileName.assign(entry.szExeFile);
    row.imagePath.assign(record.imagePath);
    // A process is counted and placed once, by the first pattern it matches:
    // a second pattern would repeat the same calls and count one process twice.
    patterns.ForEachMatch(record, entry.szExeFile, [&](size_t pattern) {
      if (row.matched) return;
      ++matched;
      row.matched = true;
      row.pattern.assign(patterns.Patterns()[pattern]);
      control.Placements.Apply(process_id, methods, threads, control.PerformanceCoreMask,
                               control.PerformanceCoreGroups, row.methods);
    });
  }
  snapshot.reset();
  control.PathCache.Purge();

  // Before the counts and the events: whoever is told of the pass finds its rows.
  control.Results.Publish(scanned, matched);
  settings.PublishPassCounts(scanned, matched);
  std::lock_guard lock(control.PassNotifyLock);
  for (HANDLE event : control.PassNotifyEvents) ::SetEvent(event);
  return true;
}

namespace {

void RunPasses(WorkerControl& control, HANDLE stopEvent, std::vector<std::wstring> patterns,
               WorkerSettings& settings, DWORD passInterval) {
  PatternList list(std::move(patterns), control.Matcher);
  control.Running.store(1);
  EnforcementPass(control, list, settings);
  // Any result but a time-out (the stop event, a failed wait) ends the loop.
  while (::WaitForMultipleObjects(1, &stopEvent, FALSE, passInterval) == WAIT_TIMEOUT) {
    EnforcementPass(control, list, settings);
  }
  control.Running.store(0);
}

void WorkerLoop(WorkerControl& control, HANDLE stopEvent, HANDLE endedEvent, std::vector<std::wstring> patterns,
                WorkerSettings& settings, DWORD passInterval) {
  RunPasses(control, stopEvent, std::move(patterns), settings, passInterval);
  // The pattern copy is freed by now: what is left of the thread ends at once.
  ::SetEvent(endedEvent);
}

}  // namespace

bool StartWorker(WorkerControl& control, std::vector<std::wstring> patterns, WorkerSettings& settings,
                 DWORD passInterval) {
  StopWorker(control);
  control.StopEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  control.WorkerEnded.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!control.StopEvent || !control.WorkerEnded) {
    control.StopEvent.reset();
    control.WorkerEnded.reset();
    return false;
  }
  try {
    control.WorkerThread = std::thread(WorkerLoop, std::ref(control), control.StopEvent.get(),
                                       control.WorkerEnded.get(), std::move(patterns), std::ref(settings),
                                       passInterval);
  } catch (const std::system_error&) {
    // No thread: leave the control block as if no worker had been started.
    control.StopEvent.reset();
    control.WorkerEnded.reset();
    return false;
  }
  return true;
}

bool StopWorker(WorkerControl& control) { return StopWorkerWithin(control, INFINITE); }

bool StopWorkerWithin(WorkerControl& control, DWORD timeoutMs) {
  if (!control.StopEvent) return false;
  ::SetEvent(control.StopEvent.get());
  // A failed wait falls back to the join.
  if (::WaitForSingleObject(control.WorkerEnded.get(), timeoutMs) == WAIT_TIMEOUT) return false;
  if (control.WorkerThread.joinable()) control.WorkerThread.join();
  // Closed only now: the worker never waits on a closed handle.
  control.StopEvent.reset();
  control.WorkerEnded.reset();
  return true;
}

void RegisterPassNotifyEvent(WorkerControl& control, HANDLE event) {
  std::lock_guard lock(control.PassNotifyLock);
  auto& events = control.PassNotifyEvents;
  events.erase(std::remove(events.begin(), events.end(), event), events.end());
  events.push_back(event);
}

}  // namespace tarnwick
