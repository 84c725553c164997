// Measures what the utilization graph costs once a second and prints a table:
//  - one collection of the sampler: on this machine with its real counter
//    source (PDH, and the kernel's processor times where PDH has no counter),
//    and on a synthetic 4-node x 64-processor table whose counters come from
//    the fake source (the walk over 256 processors and their 512 counters);
//  - one graph tick (UpdateGraph) with nothing changed and with every cell
//    changed, on this machine's processors and on the synthetic table, with
//    the messages the tick sends to the cells and the time the cells then
//    take to handle them and repaint.
// Usage: tarnwick_graph_bench.exe [--quick]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <thread>
#include <vector>

#include "monitor/graph_state.h"
#include "monitor/utilization_sampler.h"
#include "platform/counter_source.h"
#include "tests/fakes/fake_counter_source.h"
#include "tests/fakes/fake_system.h"
#include "platform/win32_system.h"
#include "tests/unit/relationship_report.h"

namespace tarnwick {
namespace {

double NowUs() {
  static const double frequency = [] {
    LARGE_INTEGER value{};
    ::QueryPerformanceFrequency(&value);
    return static_cast<double>(value.QuadPart);
  }();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e6 / frequency;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

size_t ProcessorCount(const SampleTable& table) {
  size_t count = 0;
  for (const auto& node : table) count += node.size();
  return count;
}

// Median microseconds of one CollectSample over `rounds`, after one to prime
// the rate counters.
double CollectionUs(CounterSource& source, TopologyApi& topology, int rounds, size_t& processors) {
  SampleCollector collector(source, topology);
  processors = ProcessorCount(collector.UsageTable());
  collector.CollectSample();
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    const double start = NowUs();
    collector.CollectSample();
    times.push_back(NowUs() - start);
  }
  return Median(times);
}

// Messages the graph sent to the cells.
struct CellMessages {
  size_t positions = 0;  // PBM_SETPOS
  size_t states = 0;     // PBM_SETSTATE
};

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR reference) noexcept {
  auto* counts = reinterpret_cast<CellMessages*>(reference);
  if (message == PBM_SETPOS) ++counts->positions;
  if (message == PBM_SETSTATE) ++counts->states;
  return ::DefSubclassProc(window, message, wParam, lParam);
}

struct TickCost {
  double tickUs = 0.0;    // UpdateGraph itself
  double handleUs = 0.0;  // the cells handling what it sent, repaint included
  double messages = 0.0;  // sent per tick
};

// A graph over `topology` fed by the fake source, in a visible window.
class TickBench {
 public:
  TickBench(TopologyApi& topology, FakeCounterSource& counters) : counters_(counters), graph_(topology, counters) {
    counters_.SetRecording(false);
    parent_ = ::CreateWindowExW(0, L"Static", L"graph bench", WS_POPUP | WS_VISIBLE, 0, 0, 600, 200, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    RegisterGraphClass(graph_, ::GetModuleHandleW(nullptr));
    CreateGraph(graph_, parent_, 0, 0, 552, 150);
    GraphColours colours;
    SetGraphColours(graph_, colours, MarkerLook{});
    ShowGraph(graph_);
    for (const auto& panel : graph_.panels) {
      for (HWND cell : panel->cells) {
        ::SetWindowSubclass(cell, CountingProc, 99, reinterpret_cast<DWORD_PTR>(&messages_));
        cells_.push_back(cell);
      }
    }
    // Every processor known to the fake, so that the graph shows what it is given.
    for (size_t node = 0; node < graph_.panels.size(); ++node) {
      for (size_t k = 0; k < graph_.panels[node]->cells.size(); ++k) {
        paths_.push_back(UtilityCounterPath(static_cast<uint32_t>(node), static_cast<uint32_t>(k)));
        counters_.SetCounter(paths_.back(), 0);
      }
    }
    StartSampling(graph_);
    WaitForCollections(1);
  }
  ~TickBench() {
    StopSampling(graph_);
    ::DestroyWindow(parent_);
  }

  size_t Cells() const { return cells_.size(); }

  // Ticks with every value changed since the last tick (values alternate) or none.
  TickCost Measure(bool everyCellChanged, int rounds) {
    std::vector<double> ticks, handles;
    size_t sent = 0;
    for (int i = 0; i < rounds; ++i) {
      if (everyCellChanged) {
        ++round_;
        for (const std::wstring& path : paths_) counters_.SetCounter(path, round_ % 2 == 0 ? 25 : 75);
        const size_t done = graph_.sampler->CompletedCollections();
        graph_.sampler->RequestSample();
        WaitForCollections(done + 1);
      }
      PumpMessages();
      const CellMessages before = messages_;
      const double start = NowUs();
      UpdateGraph(graph_);
      const double ticked = NowUs();
      PumpMessages();
      for (HWND cell : cells_) ::UpdateWindow(cell);
      handles.push_back(NowUs() - ticked);
      ticks.push_back(ticked - start);
      sent += messages_.positions - before.positions + messages_.states - before.states;
    }
    return {Median(ticks), Median(handles), static_cast<double>(sent) / rounds};
  }

 private:
  void WaitForCollections(size_t count) {
    while (graph_.sampler->CompletedCollections() < count) std::this_thread::yield();
  }

  FakeCounterSource& counters_;
  GraphState graph_;
  HWND parent_ = nullptr;
  std::vector<HWND> cells_;
  std::vector<std::wstring> paths_;
  CellMessages messages_;
  int round_ = 0;
};

// Four NUMA nodes of 64 processors, node n in processor group n.
void MakeSyntheticMachine(FakeSystem& machine) {
  RelationshipReport report;
  for (WORD group = 0; group < 4; ++group) {
    for (int bit = 0; bit < 64; ++bit) report.Core(1, uint64_t{1} << bit, group);
  }
  for (WORD node = 0; node < 4; ++node) report.Node(node, {Affinity(~uint64_t{0}, node)}, 1);
  machine.relationshipReport = report.Groups().Bytes();
  machine.highestNumaNode = 3;
  machine.recording = false;
}

void PrintRow(const char* scenario, size_t cells, double collectionUs, const TickCost& same, const TickCost& all) {
  std::printf("%-28s %6zu %12.1f %12.1f %8.0f %12.1f %8.0f %12.1f\n", scenario, cells, collectionUs, same.tickUs,
              same.messages, all.tickUs, all.messages, all.handleUs);
}

}  // namespace
}  // namespace tarnwick

int wmain(int argc, wchar_t** argv) {
  using namespace tarnwick;
  const bool quick = argc > 1 && std::wcscmp(argv[1], L"--quick") == 0;
  const int rounds = quick ? 20 : 200;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);

  std::printf("Utilization graph benchmark%s: median microseconds, messages per tick\n", quick ? " (quick)" : "");
  std::printf("collection = one CollectSample; tick = UpdateGraph; msgs = PBM_SETPOS and PBM_SETSTATE sent;\n");
  std::printf("handled = the cells handling those messages and repainting\n");
  std::printf("%-28s %6s %12s %12s %8s %12s %8s %12s\n", "scenario", "cells", "collection", "tick same", "msgs",
              "tick all", "msgs", "handled");
  std::printf("%s\n", std::string(106, '-').c_str());

  size_t processors = 0;
  const double machineCollection = CollectionUs(Win32CounterSource(), Win32TopologyApi(), rounds, processors);
  {
    FakeCounterSource counters;
    TickBench bench(Win32TopologyApi(), counters);
    const TickCost same = bench.Measure(false, rounds);
    const TickCost all = bench.Measure(true, rounds);
    char scenario[64];
    std::snprintf(scenario, sizeof(scenario), "this machine (%zu processors)", processors);
    PrintRow(scenario, bench.Cells(), machineCollection, same, all);
  }
  {
    FakeSystem machine;
    MakeSyntheticMachine(machine);
    FakeCounterSource counters;
    counters.SetRecording(false);
    for (uint32_t node = 0; node < 4; ++node) {
      for (uint32_t k = 0; k < 64; ++k) {
        counters.SetCounter(UtilityCounterPath(node, k), 50);
        counters.SetCounter(ParkingStatusCounterPath(node, k), 0);
      }
    }
    const double syntheticCollection = CollectionUs(counters, machine, rounds, processors);
    FakeCounterSource tickCounters;
    TickBench bench(machine, tickCounters);
    const TickCost same = bench.Measure(false, rounds);
    const TickCost all = bench.Measure(true, rounds);
    PrintRow("synthetic 4 x 64 (fake src)", bench.Cells(), syntheticCollection, same, all);
  }
  return 0;
}
