#include "enforce/worker.h"

#include "platform/diagnostics.h"
#include "platform/win32_system.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace tarnwick {

WorkerControl::WorkerControl(uint64_t performanceCoreMask, ProcessApi& processApi, TopologyApi& topologyApi,
                             PathMatcher& pathMatcher)
    : PerformanceCoreMask(performanceCoreMask),
      performanceCoreGroups{GROUP_AFFINITY{static_cast<KAFFINITY>(performanceCoreMask), 0, {0, 0, 0}}},
      processes(processApi),
      topology(topologyApi),
      matcher(pathMatcher),
      placements(processApi, topologyApi) {}

WorkerControl::WorkerControl(uint64_t performanceCoreMask)
    : WorkerControl(performanceCoreMask, Win32ProcessApi(), Win32TopologyApi(), BoundedPathMatcher()) {}

WorkerControl::~WorkerControl() { StopWorker(*this); }

namespace {

// At most this often for placements at start: a storm of starts must not
// make every window that listens refresh hundreds of times a second.
constexpr ULONGLONG kStartNotifyIntervalMs = 100;

void SignalPassNotifyEvents(WorkerControl& control) {
  std::lock_guard lock(control.passNotifyLock);
  for (HANDLE event : control.PassNotifyEvents) ::SetEvent(event);
}

constexpr const wchar_t* kMethodNames[kPlacementMethodCount] = {L"efficiency mode", L"CPU affinity", L"CPU sets"};
constexpr uint8_t kPriorityFailureBit = 1U << kPlacementMethodCount;

void ReportRefusal(ProcessRecord& record, uint8_t bit, const ProcessResult& row, const wchar_t* what, DWORD error,
                   bool protectedProcess = false) {
  if ((record.reportedFailures & bit) != 0 || !DiagnosticsListening(DiagnosticLevel::Warning)) return;
  // Marked only once told: a trace started later still hears of a process that keeps refusing.
  record.reportedFailures |= bit;
  ReportDiagnostic(DiagnosticLevel::Warning, L"placement refused: ", row.fileName, L" (pid ", row.processId,
                   protectedProcess ? L", protected) " : L") ", what, L": ", Win32Error{error});
}

// Each method that failed for the process, once per process and method.
void ReportRefusedPlacements(ProcessRecord& record, const ProcessResult& row) {
  for (size_t method = 0; method < kPlacementMethodCount; ++method) {
    const MethodResult& result = row.methods[method];
    if (result.outcome == MethodResult::Outcome::Failed) {
      ReportRefusal(record, static_cast<uint8_t>(1U << method), row, kMethodNames[method], result.error,
                    result.deniedAsProtected);
    }
  }
  const MethodResult& efficiency = row.methods[static_cast<size_t>(PlacementMethod::EfficiencyMode)];
  if (efficiency.priority == MethodResult::Priority::StillIdle) {
    ReportRefusal(record, kPriorityFailureBit, row, L"priority class", efficiency.priorityError);
  }
}

}  // namespace

bool EnforcementPass(WorkerControl& control, PatternList& patterns, WorkerSettings& settings) {
  const MethodSwitches methods = settings.ReadMethodSwitches();
  control.lastPassMethods = methods;
  ProcessApi& processes = control.processes;
  ProcessApiHandle snapshot(processes, processes.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;

  ThreadCountTable threads;
  control.results.BeginPass();
  control.results.SetMethodsOn({methods.efficiencyMode, methods.cpuAffinity, methods.cpuSets});
  uint32_t scanned = 0;
  uint32_t matched = 0;
  // Every byte but the size zero, padding included, as Process32FirstW expects.
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (bool more = processes.Process32FirstW(snapshot.get(), entry); more;
       more = processes.Process32NextW(snapshot.get(), entry)) {
    ++scanned;
    const DWORD processId = entry.th32ProcessID;
    ProcessRecord& record = control.pathCache.Resolve(processes, processId, entry.th32ParentProcessID, entry.szExeFile);
    ProcessResult& row = control.results.NextRow();
    row.processId = processId;
    row.fileName.assign(entry.szExeFile);
    row.imagePath.assign(record.imagePath);
    // A process is counted and placed once, by the first pattern it matches:
    // a second pattern would repeat the same calls and count one process twice.
    patterns.ForEachMatch(record, entry.szExeFile, [&](size_t pattern) {
      if (row.matched) return;
      ++matched;
      row.matched = true;
      row.pattern.assign(patterns.Patterns()[pattern]);
      control.placements.Apply(processId, methods, threads, control.PerformanceCoreMask, control.performanceCoreGroups,
                               row.methods);
    });
    if (row.matched) ReportRefusedPlacements(record, row);
  }
  snapshot.reset();
  control.pathCache.Purge();

  // Before the counts and the events: whoever is told of the pass finds its rows.
  control.results.SetStartWatch(control.startEvents.Status());
  control.results.Publish(scanned, matched);
  settings.PublishPassCounts(scanned, matched);
  SignalPassNotifyEvents(control);
  return true;
}

size_t PlaceStartedProcesses(WorkerControl& control, PatternList& patterns, WorkerSettings& settings) {
  std::vector<ProcessStartEvent>& batch = control.startBatch;
  batch.reserve(control.startEvents.Capacity());
  control.startEvents.TakeAll(batch);
  if (batch.empty()) return 0;
  // The switches of the last pass: a change in the menu reaches placements at
  // start with the next pass, as it reaches the pass, without reading the
  // registry at every start.
  if (!control.lastPassMethods) control.lastPassMethods = settings.ReadMethodSwitches();
  const MethodSwitches methods = *control.lastPassMethods;
  ThreadCountTable threads;
  ProcessResult row;
  size_t placed = 0;
  for (const ProcessStartEvent& event : batch) {
    if (event.fileName[0] == L'\0') continue;
    ProcessRecord& record =
        control.pathCache.Resolve(control.processes, event.processId, event.parentProcessId, event.fileName);
    // Ended before its event (or unreadable): the pass decides, as for any process it lists.
    if (record.imagePath.empty()) continue;
    if (event.createTime != 0 && record.startEventCreateTime == event.createTime) continue;
    record.startEventCreateTime = event.createTime;
    row.matched = false;
    row.methods = {};
    // As the pass: placed once, by the first pattern that matches.
    patterns.ForEachMatch(record, event.fileName, [&](size_t pattern) {
      if (row.matched) return;
      row.matched = true;
      row.pattern.assign(patterns.Patterns()[pattern]);
      // The event says the process was just made with its first thread: the
      // thread snapshot that keeps a pass off ended processes would cost far
      // more than the placement itself, at every start.
      threads.clear();
      threads[event.processId] = 1;
      control.placements.Apply(event.processId, methods, threads, control.PerformanceCoreMask,
                               control.performanceCoreGroups, row.methods);
    });
    if (!row.matched) continue;
    row.processId = event.processId;
    row.fileName.assign(event.fileName);
    row.imagePath.assign(record.imagePath);
    ReportRefusedPlacements(record, row);
    control.results.PublishStartPlacement(row);
    ++placed;
  }
  const ULONGLONG now = ::GetTickCount64();
  if (placed > 0 && now - control.lastStartNotifyTick >= kStartNotifyIntervalMs) {
    control.lastStartNotifyTick = now;
    SignalPassNotifyEvents(control);
  }
  return placed;
}

namespace {

void RunPasses(WorkerControl& control, HANDLE stopEvent, std::vector<std::wstring> patterns, WorkerSettings& settings,
               DWORD passInterval) {
  PatternList list(std::move(patterns), control.matcher);
  control.running.store(1);
  EnforcementPass(control, list, settings);
  ULONGLONG nextPass = ::GetTickCount64() + passInterval;
  const HANDLE waits[2] = {stopEvent, control.startEvents.ReadyEvent()};
  const DWORD waitCount = waits[1] != nullptr ? 2 : 1;
  while (true) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= nextPass) {
      // Due: start events waiting the whole time must not hold the pass back.
      if (::WaitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT) break;
      EnforcementPass(control, list, settings);
      nextPass = ::GetTickCount64() + passInterval;
      continue;
    }
    // Any result but a time-out or start events (the stop event, a failed wait) ends the loop.
    const DWORD wait = ::WaitForMultipleObjects(waitCount, waits, FALSE, static_cast<DWORD>(nextPass - now));
    if (wait == WAIT_TIMEOUT) continue;
    if (wait != WAIT_OBJECT_0 + 1) break;
    PlaceStartedProcesses(control, list, settings);
  }
  control.running.store(0);
}

void WorkerLoop(WorkerControl& control, HANDLE stopEvent, HANDLE endedEvent, std::vector<std::wstring> patterns,
                WorkerSettings& settings, DWORD passInterval) {
  RunPasses(control, stopEvent, std::move(patterns), settings, passInterval);
  // The pattern copy is freed by now: what is left of the thread ends at once.
  ::SetEvent(endedEvent);
}

}  // namespace

std::thread MakeWorkerThread(std::function<void()> body) { return std::thread(std::move(body)); }

bool StartWorker(WorkerControl& control, std::vector<std::wstring> patterns, WorkerSettings& settings,
                 DWORD passInterval) {
  StopWorker(control);
  control.stopEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (control.stopEvent) control.workerEnded.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!control.stopEvent || !control.workerEnded) {
    ReportDiagnostic(DiagnosticLevel::Error, L"worker not started: event: ", Win32Error{::GetLastError()});
    control.stopEvent.reset();
    control.workerEnded.reset();
    return false;
  }
  try {
    control.workerThread =
        control.makeThread([&control, stopEvent = control.stopEvent.get(), endedEvent = control.workerEnded.get(),
                            patterns = std::move(patterns), &settings, passInterval]() mutable {
          WorkerLoop(control, stopEvent, endedEvent, std::move(patterns), settings, passInterval);
        });
  } catch (const std::system_error& error) {
    // The runtime's code, not a Win32 one: std::thread tells no other.
    ReportDiagnostic(DiagnosticLevel::Error, L"worker not started: thread: errno ", error.code().value());
    // No thread: leave the control block as if no worker had been started.
    control.stopEvent.reset();
    control.workerEnded.reset();
    return false;
  }
  return true;
}

bool StopWorker(WorkerControl& control) { return StopWorkerWithin(control, INFINITE); }

bool StopWorkerWithin(WorkerControl& control, DWORD timeoutMs) {
  if (!control.stopEvent) return false;
  ::SetEvent(control.stopEvent.get());
  // A failed wait falls back to the join.
  if (::WaitForSingleObject(control.workerEnded.get(), timeoutMs) == WAIT_TIMEOUT) return false;
  if (control.workerThread.joinable()) control.workerThread.join();
  // Closed only now: the worker never waits on a closed handle.
  control.stopEvent.reset();
  control.workerEnded.reset();
  return true;
}

void RegisterPassNotifyEvent(WorkerControl& control, HANDLE event) {
  std::lock_guard lock(control.passNotifyLock);
  auto& events = control.PassNotifyEvents;
  events.erase(std::remove(events.begin(), events.end(), event), events.end());
  events.push_back(event);
}

}  // namespace tarnwick
