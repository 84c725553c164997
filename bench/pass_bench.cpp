// Measures what one enforcement pass costs and prints a table:
//  - publishing: the share of a cached pass spent on the rows it publishes for
//    the Running Processes window, and that window's refresh over 1000 rows;
//  - synthetic: the fake platform with 1000 processes and 200 patterns;
//  - real: 50 idle children under Wine or Windows, 50 patterns, the pass
//    beside the platform calls it cannot avoid (the process snapshot, and the
//    thread snapshot when the efficiency method has a match);
//  - soak: 3000 passes of the worker thread while children come and go.
// Usage: tarnwick_pass_bench.exe [--quick] [--window]  (--window: only the window's refresh)
#include "config/settings_store.h"
#include "enforce/stored_worker_settings.h"
#include "enforce/worker.h"
#include "platform/win32_system.h"
#include "res/resource.h"
#include "tests/child/child_processes.h"
#include "tests/fakes/fake_system.h"
#include "topology/core_map.h"
#include "ui/processes_window.h"

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

// The program's own settings (switches from the store, counts written to the
// registry), watched: passes counted, the cache size as each pass left it.
class BenchSettings final : public WorkerSettings {
 public:
  explicit BenchSettings(WorkerControl* control = nullptr) : control_(control) {}
  MethodSwitches ReadMethodSwitches() override { return stored_.ReadMethodSwitches(); }
  void PublishPassCounts(uint32_t scanned, uint32_t matched) override {
    stored_.PublishPassCounts(scanned, matched);
    if (control_ != nullptr) {
      // On the worker thread, after the purge.
      const size_t size = control_->pathCache.Size();
      cacheSize_.store(size);
      maxCacheSize_.store(std::max(maxCacheSize_.load(), size));
      lastScanned_.store(scanned);
    }
    passes_.fetch_add(1);
  }
  uint64_t Passes() const { return passes_.load(); }
  size_t CacheSize() const { return cacheSize_.load(); }
  size_t MaxCacheSize() const { return maxCacheSize_.load(); }
  uint32_t LastScanned() const { return lastScanned_.load(); }

 private:
  SettingsStore store_{HKEY_CURRENT_USER};
  StoredWorkerSettings stored_{store_};
  WorkerControl* control_;
  std::atomic<uint64_t> passes_{0};
  std::atomic<size_t> cacheSize_{0};
  std::atomic<size_t> maxCacheSize_{0};
  std::atomic<uint32_t> lastScanned_{0};
};

double Now() {
  static const double ticksPerUs = [] {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / ticksPerUs;
}

// This thread's user plus kernel time in microseconds.
double ThreadCpu() {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  auto us = [](FILETIME t) { return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 10; };
  return us(kernel) + us(user);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Cost {
  double wallUs = 0;  // median of single runs
  double cpuUs = 0;   // median over batches of the batch's CPU time per run
};

// Runs every measured operation in turn, batch by batch, so that a slow
// moment of the machine falls on all of them alike. The thread CPU clock
// ticks coarsely, hence CPU time per batch.
std::vector<Cost> MeasureInterleaved(const std::vector<std::function<void()>>& operations, int batches,
                                     int runsPerBatch) {
  std::vector<std::vector<double>> walls(operations.size()), cpus(operations.size());
  for (int batch = 0; batch < batches; ++batch) {
    for (size_t op = 0; op < operations.size(); ++op) {
      const double cpuStart = ThreadCpu();
      for (int run = 0; run < runsPerBatch; ++run) {
        const double start = Now();
        operations[op]();
        walls[op].push_back(Now() - start);
      }
      cpus[op].push_back((ThreadCpu() - cpuStart) / runsPerBatch);
    }
  }
  std::vector<Cost> costs;
  for (size_t op = 0; op < operations.size(); ++op) costs.push_back({Median(walls[op]), Median(cpus[op])});
  return costs;
}

void PrintRule() { std::printf("%s\n", std::string(100, '-').c_str()); }

void PrintRow(const char* scenario, const char* mode, size_t processes, size_t patterns, const Cost& pass,
              const Cost* required) {
  std::printf("%-30s %-9s %6zu %6zu %10.1f %10.1f", scenario, mode, processes, patterns, pass.wallUs, pass.cpuUs);
  if (required != nullptr) {
    std::printf(" %10.1f %10.1f %7.2f %7.2f\n", required->wallUs, required->cpuUs, pass.wallUs / required->wallUs,
                required->cpuUs > 0 ? pass.cpuUs / required->cpuUs : 0.0);
  } else {
    std::printf(" %10s %10s %7s %7s\n", "-", "-", "-", "-");
  }
}

// Publishing's share of a cached synthetic pass; the goal is at most 10%.
constexpr double kPublishingShareGoal = 0.10;
double PublishingShare = 0;

void Synthetic(bool quick) {
  FakeSystem system;
  system.recording = false;
  system.activeProcessorMask = 0xFF;
  for (DWORD i = 0; i < 1000; ++i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"proc%04lu.exe", i);
    system.processes.push_back({1000 + 4 * i, name, std::wstring(L"C:\\Program Files\\Vendor\\") + name, 4});
  }
  std::vector<std::wstring> patterns;
  patterns.reserve(190);
  for (int i = 0; i < 190; ++i) patterns.push_back(L"absent" + std::to_wstring(i) + L".exe");
  for (int i = 0; i < 5; ++i) patterns.push_back(L"C:\\Absent\\Folder" + std::to_wstring(i) + L"\\*");
  for (int i = 0; i < 5; ++i) patterns.push_back(L"proc000" + std::to_wstring(i) + L".exe");
  WorkerControl control(0xFF, system, system, BoundedPathMatcher());
  BenchSettings settings;
  PatternList cached(patterns, control.matcher, MatchCaching::Cached);
  PatternList uncached(patterns, control.matcher, MatchCaching::Uncached);
  EnforcementPass(control, cached, settings);
  EnforcementPass(control, uncached, settings);
  const auto costs = MeasureInterleaved(
      {[&] { EnforcementPass(control, cached, settings); }, [&] { EnforcementPass(control, uncached, settings); }},
      quick ? 3 : 10, quick ? 3 : 5);
  PrintRow("synthetic (fake platform)", "cached", 1000, patterns.size(), costs[0], nullptr);
  PrintRow("synthetic (fake platform)", "uncached", 1000, patterns.size(), costs[1], nullptr);

  // The part of the cached pass that publishes its rows for the processes
  // window, done alone with the pass's own calls on a second exchange: the
  // rows of 1000 processes filled in place and swapped in under the lock.
  std::vector<std::wstring> paths;
  for (const FakeProcess& process : system.processes) paths.push_back(process.imagePath);
  PassResultsExchange exchange;
  auto publish = [&] {
    exchange.BeginPass();
    for (size_t i = 0; i < system.processes.size(); ++i) {
      ProcessResult& row = exchange.NextRow();
      row.processId = system.processes[i].id;
      row.fileName.assign(system.processes[i].fileName);
      row.imagePath.assign(paths[i]);
      if (i < 5) {
        row.matched = true;
        row.pattern.assign(patterns[190 + i]);
      }
    }
    exchange.Publish(1000, 5);
  };
  PassResults copy;
  publish();
  const auto shares = MeasureInterleaved({publish,
                                          [&] {
                                            publish();
                                            (void)exchange.CopyLatest(copy);
                                          }},
                                         quick ? 3 : 10, quick ? 3 : 5);
  PublishingShare = shares[0].wallUs / std::max(costs[0].wallUs - shares[0].wallUs, 1e-3);
  std::printf("%-30s %-9s %6d %6s %10.1f %10.1f   publishing is %.1f%% of the rest of the cached pass\n",
              "  of which: publishing rows", "cached", 1000, "-", shares[0].wallUs, shares[0].cpuUs,
              100 * PublishingShare);
  std::printf("%-30s %-9s %6d %6s %10.1f %10.1f   (the window's thread copies, once per pass)\n", "  a reader's copy",
              "-", 1000, "-", shares[1].wallUs - shares[0].wallUs, shares[1].cpuUs - shares[0].cpuUs);
}

void DrainMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

// The Running Processes window refreshed after a pass over 1000 processes (and
// 10,000), on this thread as on the program's: the copy of the pass, the
// sorted index, the selection carried over and the visible rows painted. A
// process that ends changes the row count, which costs the list view most.
void WindowRefresh(bool quick) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  PassResultsExchange exchange;
  DWORD processes = 1000;
  int leaving = -1;       // the process that has ended at every other pass, -1: none
  bool arriving = false;  // at those passes another starts, sorting last by path
  auto publish = [&](int pass) {
    exchange.BeginPass();
    DWORD count = 0;
    for (DWORD i = 0; i < processes; ++i) {
      if (pass % 2 != 0 && static_cast<int>(i) == leaving) continue;
      ProcessResult& row = exchange.NextRow();
      ++count;
      // Processes come and go: every pass a few ids change.
      row.processId = 1000 + 4 * i + (i % 97 == static_cast<DWORD>(pass) % 97 ? 1 : 0);
      wchar_t name[32];
      std::swprintf(name, 32, L"proc%05lu.exe", (i * 7919) % processes);
      row.fileName = name;
      row.imagePath = std::wstring(L"C:\\Program Files\\Vendor ") + std::to_wstring(i % 50) + L"\\" + name;
      row.matched = i % 20 == 0;
      if (row.matched) {
        row.pattern = name;
        row.methods = {MethodResult{MethodResult::Outcome::Placed, 0},
                       MethodResult{MethodResult::Outcome::Failed, ERROR_ACCESS_DENIED}, MethodResult{}};
      }
    }
    if (arriving && pass % 2 != 0) {
      ProcessResult& row = exchange.NextRow();
      ++count;
      row.processId = 8;
      row.fileName = L"late.exe";
      row.imagePath = L"C:\\Zed\\late.exe";
    }
    exchange.Publish(count, 50);
  };
  publish(0);
  SettingsStore settings(HKEY_CURRENT_USER);
  const HWND window = OpenProcessesWindow(nullptr, exchange, {}, settings);
  if (window == nullptr) {
    std::printf("Running Processes window: could not be created\n");
    return;
  }
  const HWND view = ::GetDlgItem(window, IDC_PROCESS_VIEW);
  // The first paint, as the program's message loop would do it.
  ::UpdateWindow(window);
  for (int row : {3, 200, 640}) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    ::SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }
  // By path, process 0 is the top row and process 999 is far below the page.
  struct Sort {
    const char* name;
    int column;  // -1: the default order, -2: the order of the case before
    int leaving;
    DWORD processes;
    bool arriving = false;
    const wchar_t* filter = L"";  // typed into the filter box
  };
  for (const Sort& sort :
       {Sort{"matched first", -1, -1, 1000}, Sort{"by path", 6, -1, 1000},
        Sort{"by path, one ends below", -2, 999, 1000}, Sort{"by path, one ends on top", -2, 0, 1000},
        Sort{"by path, top one ends, one starts", -2, 0, 1000, true}, Sort{"by path, one ends on top", -2, 0, 10000},
        // The filter box: a tenth of the rows kept, or every row after a search through its name.
        Sort{"filter \"vendor 1\", one ends on top", -2, 0, 1000, false, L"vendor 1"},
        Sort{"filter \".exe\" (all), one ends on top", -2, 0, 1000, false, L".exe"},
        Sort{"filter \"zz\" (none), one ends", -2, 0, 1000, false, L"zz"}}) {
    ::SetDlgItemTextW(window, IDC_PROCESS_FILTER, sort.filter);
    leaving = sort.leaving;
    arriving = sort.arriving;
    processes = sort.processes;
    if (sort.column >= 0) {
      NMLISTVIEW click = {};
      click.hdr = {view, IDC_PROCESS_VIEW, static_cast<UINT>(LVN_COLUMNCLICK)};
      click.iSubItem = sort.column;
      ::SendMessageW(window, WM_NOTIFY, IDC_PROCESS_VIEW, reinterpret_cast<LPARAM>(&click));
    }
    std::vector<double> walls, rows, paints, idles;
    double cpu = 0;
    const int runs = quick ? 20 : 100;
    for (int run = 1; run <= runs; ++run) {
      publish(run);
      // Between passes the program's thread waits for messages, and the
      // display takes what was painted when it does.
      DrainMessages();
      const double cpuStart = ThreadCpu();
      const double start = Now();
      RefreshProcessesWindow();
      const double shown = Now();
      ::UpdateWindow(window);
      const double painted = Now();
      DrainMessages();
      walls.push_back(Now() - start);
      rows.push_back(shown - start);
      paints.push_back(painted - shown);
      idles.push_back(Now() - painted);
      cpu += ThreadCpu() - cpuStart;
    }
    std::printf(
        "Running Processes window refresh, %5lu processes, %-33s: %7.2f ms wall (median; rows %.2f, "
        "repaint %.2f, to the display %.2f), %7.2f ms cpu (mean)",
        static_cast<unsigned long>(processes), sort.name, Median(walls) / 1000, Median(rows) / 1000,
        Median(paints) / 1000, Median(idles) / 1000, cpu / runs / 1000);
    // The goal is set for 1000 processes; more are shown for their cost.
    if (processes == 1000) std::printf("; goal at most 5 ms: %s", Median(walls) <= 5000 ? "met" : "NOT met");
    std::printf("\n");
  }
  ::DestroyWindow(window);
}

// The platform calls a pass cannot do without: the process snapshot and its
// walk, and the thread snapshot with its walk when efficiency mode has a match.
void RequiredCalls(bool withThreads) {
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W process{};
  process.dwSize = sizeof(process);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &process); more;
       more = ::Process32NextW(snapshot.get(), &process)) {
  }
  snapshot.reset();
  if (!withThreads) return;
  unique_hfile threads(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 thread{};
  thread.dwSize = sizeof(thread);
  for (BOOL more = ::Thread32First(threads.get(), &thread); more; more = ::Thread32Next(threads.get(), &thread)) {
  }
}

size_t CountProcesses() {
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W process{};
  process.dwSize = sizeof(process);
  size_t count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &process); more;
       more = ::Process32NextW(snapshot.get(), &process)) {
    ++count;
  }
  return count;
}

std::wstring ChildName(const wchar_t* stem, int number) {
  wchar_t name[64];
  std::swprintf(name, 64, L"%ls_%02d.exe", stem, number);
  return name;
}

// The goal: a cached pass costs at most 1.2 times the calls it cannot avoid.
constexpr double kCachedRatioGoal = 1.2;
double WorstCachedRatio = 0;

bool Real(ChildProcesses& children, uint64_t performanceCoreMask, bool quick) {
  for (int i = 0; i < 50; ++i) {
    if (children.Start(ChildName(L"tw_child", i)) == 0) {
      std::printf("could not start child %d: %s\n", i, children.LastFailure().c_str());
      return false;
    }
  }
  struct Scenario {
    const char* name;
    int matching;
  };
  for (const Scenario& scenario : {Scenario{"real: no pattern matches", 0}, Scenario{"real: 5 children match", 5}}) {
    std::vector<std::wstring> patterns;
    patterns.reserve(50 - scenario.matching);
    for (int i = 0; i < 50 - scenario.matching; ++i) {
      patterns.push_back(i % 5 == 4 ? L"C:\\Absent\\Folder" + std::to_wstring(i) + L"\\*" : ChildName(L"absent", i));
    }
    for (int i = 0; i < scenario.matching; ++i) patterns.push_back(ChildName(L"tw_child", i));
    WorkerControl control(performanceCoreMask);
    BenchSettings settings;
    PatternList cached(patterns, control.matcher, MatchCaching::Cached);
    PatternList uncached(patterns, control.matcher, MatchCaching::Uncached);
    // The first passes learn the image paths; the steady state is what runs every second.
    for (int i = 0; i < 3; ++i) {
      EnforcementPass(control, cached, settings);
      EnforcementPass(control, uncached, settings);
    }
    const bool threads = scenario.matching > 0;
    const auto costs =
        MeasureInterleaved({[&] { RequiredCalls(threads); }, [&] { EnforcementPass(control, cached, settings); },
                            [&] { EnforcementPass(control, uncached, settings); }},
                           quick ? 4 : 20, quick ? 5 : 10);
    const size_t processes = CountProcesses();
    PrintRow(scenario.name, "cached", processes, patterns.size(), costs[1], &costs[0]);
    WorstCachedRatio = std::max(WorstCachedRatio, costs[1].wallUs / costs[0].wallUs);
    PrintRow(scenario.name, "uncached", processes, patterns.size(), costs[2], &costs[0]);
  }
  return true;
}

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX of NtQuerySystemInformation(SystemExtendedHandleInformation).
// The fields keep the SDK's names.
// NOLINTBEGIN(readability-identifier-naming)
struct SystemHandleEntry {
  PVOID Object;
  ULONG_PTR UniqueProcessId;
  ULONG_PTR HandleValue;
  ULONG GrantedAccess;
  USHORT CreatorBackTraceIndex;
  USHORT ObjectTypeIndex;
  ULONG HandleAttributes;
  ULONG Reserved;
};
// NOLINTEND(readability-identifier-naming)
static_assert(sizeof(SystemHandleEntry) == 40);

// This process's handles as the kernel's handle table lists them; Wine's
// GetProcessHandleCount always reports 0, its handle table is real.
DWORD HandlesInSystemTable() {
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  auto query =
      reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  constexpr ULONG kSystemExtendedHandleInformation = 64;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<std::byte> buffer(1 << 20);
  ULONG length = 0;
  LONG status;
  while ((status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &length)) == kInfoLengthMismatch) {
    buffer.resize(buffer.size() * 2);
  }
  constexpr size_t kHeader = 2 * sizeof(ULONG_PTR);
  if (status != 0 || buffer.size() < kHeader) return 0;
  ULONG_PTR count = 0;
  std::memcpy(&count, buffer.data(), sizeof(count));
  count = std::min<ULONG_PTR>(count, (buffer.size() - kHeader) / sizeof(SystemHandleEntry));
  DWORD mine = 0;
  for (ULONG_PTR i = 0; i < count; ++i) {
    SystemHandleEntry entry;
    std::memcpy(&entry, buffer.data() + kHeader + i * sizeof(entry), sizeof(entry));
    if (entry.UniqueProcessId == ::GetCurrentProcessId()) ++mine;
  }
  return mine;
}

// RssAnon of the Wine process itself, in bytes; 0 outside Wine.
size_t WineAnonymousResident() {
  unique_hfile file(
      ::CreateFileW(L"Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 0;
  char text[8192] = {};
  DWORD read = 0;
  if (!::ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr)) return 0;
  const char* field = std::strstr(text, "RssAnon:");
  return field == nullptr ? 0 : std::strtoull(field + 8, nullptr, 10) * 1024;
}

struct Footprint {
  DWORD handles = 0;        // GetProcessHandleCount
  DWORD tableHandles = 0;   // the system handle table
  SIZE_T privateBytes = 0;  // GetProcessMemoryInfo's PrivateUsage
  size_t wineAnonymous = 0;
};

Footprint TakeFootprint() {
  Footprint footprint;
  ::GetProcessHandleCount(::GetCurrentProcess(), &footprint.handles);
  footprint.tableHandles = HandlesInSystemTable();
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof(counters))) {
    footprint.privateBytes = counters.PrivateUsage;
  }
  footprint.wineAnonymous = WineAnonymousResident();
  return footprint;
}

// The worker's matcher beside the shell's PathMatchSpecW on ordinary
// patterns (names and paths against file names, folder wildcards, '?').
void MatcherCost(bool quick) {
  const std::vector<std::wstring> names{L"notepad.exe", L"C:\\Program Files\\Vendor\\tool.exe",
                                        L"C:\\Windows\\System32\\svchost.exe", L"game.exe"};
  const std::vector<std::wstring> patterns{L"notepad.exe", L"C:\\Program Files\\*", L"*\\game.exe",
                                           L"sv?host.exe", L"C:\\Games\\*\\*.exe",  L"absent.exe"};
  const int rounds = quick ? 2000 : 20000;
  size_t matched = 0;
  auto perCall = [&](PathMatcher& matcher) {
    const double start = Now();
    for (int round = 0; round < rounds; ++round) {
      for (const auto& name : names) {
        for (const auto& pattern : patterns) matched += matcher.PathMatchSpecW(name.c_str(), pattern.c_str());
      }
    }
    return (Now() - start) * 1000 / (static_cast<double>(rounds) * names.size() * patterns.size());
  };
  const double shell = perCall(Win32PathMatcher());
  const double bounded = perCall(BoundedPathMatcher());
  std::printf("Matching one name against one ordinary pattern: shell %.0f ns, worker's matcher %.0f ns (%zu)\n", shell,
              bounded, matched);
}

// A list as large as a list file may be (16 MiB holds some 374,000 short
// entries): the first pass matches every process against all of it, the
// next ones only look up their results.
void LargeList(uint64_t performanceCoreMask) {
  for (size_t count : {size_t{100000}, size_t{374000}}) {
    std::vector<std::wstring> patterns;
    patterns.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      patterns.push_back(i % 2 ? L"C:\\Program Files\\Vendor " + std::to_wstring(i) + L"\\*"
                               : L"tool" + std::to_wstring(i) + L".exe");
    }
    WorkerControl control(performanceCoreMask);
    BenchSettings settings;
    PatternList list(std::move(patterns), control.matcher);
    double start = Now();
    EnforcementPass(control, list, settings);
    const double first = Now() - start;
    start = Now();
    EnforcementPass(control, list, settings);
    const double next = Now() - start;
    std::printf("A list of %zu patterns over %zu processes: first pass %.0f ms, next pass %.1f ms\n", count,
                CountProcesses(), first / 1000, next / 1000);
  }
}

bool Soak(ChildProcesses& children, uint64_t performanceCoreMask, bool quick) {
  const uint64_t passes = quick ? 300 : 3000;
  std::vector<std::wstring> patterns;
  patterns.reserve(45);
  for (int i = 0; i < 45; ++i) patterns.push_back(ChildName(L"absent", i));
  for (int i = 0; i < 4; ++i) patterns.push_back(ChildName(L"tw_child", i));
  patterns.push_back(L"tw_soak_*.exe");
  WorkerControl control(performanceCoreMask);
  BenchSettings settings(&control);
  unique_handle passDone(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  RegisterPassNotifyEvent(control, passDone.get());

  // Warm up the worker and the allocator before the first reading.
  if (!StartWorker(control, patterns, settings, 0)) return false;
  while (settings.Passes() < 20) ::WaitForSingleObject(passDone.get(), 5000);
  const Footprint start = TakeFootprint();
  const size_t startCache = settings.CacheSize();
  const uint64_t first = settings.Passes();
  int started = 0;
  uint64_t nextChurn = first;
  const double began = Now();
  while (settings.Passes() - first < passes) {
    ::WaitForSingleObject(passDone.get(), 5000);
    if (settings.Passes() >= nextChurn) {
      // Every 10 passes the oldest child ends and a new one starts.
      nextChurn = settings.Passes() + 10;
      children.End(0);
      if (children.Start(ChildName(L"tw_soak", started++ % 60)) == 0) {
        std::printf("could not start a soak child: %s\n", children.LastFailure().c_str());
        break;
      }
    }
  }
  StopWorker(control);
  const double seconds = (Now() - began) / 1e6;
  const Footprint end = TakeFootprint();
  const size_t live = CountProcesses();
  std::printf("\nSoak: %llu passes in %.1f s of the worker thread, %d children started and ended meanwhile\n",
              static_cast<unsigned long long>(settings.Passes() - first), seconds, started);
  std::printf("%-28s %12s %12s\n", "", "start", "end");
  const char* zeroUnderWine = WineAnonymousResident() != 0 ? "   (Wine reports 0)" : "";
  std::printf("%-28s %12lu %12lu%s\n", "handle count", start.handles, end.handles,
              start.handles == 0 ? zeroUnderWine : "");
  std::printf("%-28s %12lu %12lu\n", "handles in system table", start.tableHandles, end.tableHandles);
  std::printf("%-28s %12zu %12zu%s\n", "private bytes", static_cast<size_t>(start.privateBytes),
              static_cast<size_t>(end.privateBytes), start.privateBytes == 0 ? zeroUnderWine : "");
  if (start.wineAnonymous != 0) {
    std::printf("%-28s %12zu %12zu   (RssAnon of the Wine process)\n", "anonymous resident bytes", start.wineAnonymous,
                end.wineAnonymous);
  }
  std::printf("%-28s %12zu %12zu   (largest %zu)\n", "path cache entries", startCache, settings.CacheSize(),
              settings.MaxCacheSize());
  std::printf("%-28s %12s %12zu   (last pass scanned %u)\n", "live processes", "", live, settings.LastScanned());
  return true;
}

}  // namespace
}  // namespace tarnwick

int wmain(int argc, wchar_t** argv) {
  using namespace tarnwick;
  const bool quick = argc > 1 && std::wcscmp(argv[1], L"--quick") == 0;
  if (argc > 1 && std::wcscmp(argv[argc - 1], L"--window") == 0) {
    WindowRefresh(quick);
    return 0;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("Enforcement pass benchmark%s: median per pass in microseconds\n", quick ? " (quick)" : "");
  std::printf("wall = elapsed time, cpu = this thread's CPU time; ratio = pass / required platform calls\n");
  PrintRule();
  std::printf("%-30s %-9s %6s %6s %10s %10s %10s %10s %7s %7s\n", "scenario", "matching", "procs", "pats", "pass wall",
              "pass cpu", "req wall", "req cpu", "r wall", "r cpu");
  PrintRule();
  Synthetic(quick);
  const uint64_t performanceCoreMask = CoreMap().PerformanceCoreMask();
  ChildProcesses children(FindIdleChildProgram());
  if (!Real(children, performanceCoreMask, quick)) return 1;
  PrintRule();
  std::printf("Goal: cached wall ratio at most %.1f in both real scenarios: %s (worst %.2f)\n", kCachedRatioGoal,
              WorstCachedRatio <= kCachedRatioGoal ? "met" : "NOT met", WorstCachedRatio);
  std::printf("Goal: publishing adds at most %.0f%% to a cached synthetic pass: %s (%.1f%%)\n",
              100 * kPublishingShareGoal, PublishingShare <= kPublishingShareGoal ? "met" : "NOT met",
              100 * PublishingShare);
  WindowRefresh(quick);
  MatcherCost(quick);
  LargeList(performanceCoreMask);
  return Soak(children, performanceCoreMask, quick) ? 0 : 1;
}
