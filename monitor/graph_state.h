// The process-wide state of the core utilization graph and its sampler, as far
// as the main window uses it: the sampler's lock and tables, the per-node
// panels with their E-core marks, and the mean usage of a core class.
//
// The graph control and the counter sampler themselves are not built yet: the
// graph class is never registered, so no graph window, panel or sampler comes
// into being and the means average nothing (0.00).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace tarnwick {

// A usage or parking entry for which the counter gave no value.
inline constexpr int32_t NoValue = -1;

// Indexed by NUMA node, then by the processor's position within its node.
using UsageTable = std::vector<std::vector<int32_t>>;

struct UtilizationSampler {
  UsageTable usage;
};

// One NUMA node's group box of core cells.
struct NodePanel {
  std::mutex panelLock;          // guards EfficientBits
  size_t cellCount = 0;
  std::vector<bool> EfficientBits;  // 1: the cell shows an E-core
};

struct GraphState {
  bool classRegistered = false;
  std::mutex SamplerLock;  // guards sampler and the reading of its tables
  std::unique_ptr<UtilizationSampler> sampler;
  std::vector<std::unique_ptr<NodePanel>> panels;
  HWND graphWindow = nullptr;
};

// Built on first use, on the user-interface thread, and kept until the process ends.
[[nodiscard]] GraphState& SharedGraphState();

// Registers the graph window class once per process; false while the graph
// control does not exist, which leaves the main window working without it.
bool RegisterGraphClass(GraphState& graph, HINSTANCE instance) noexcept;
// Creates the graph over the given client rectangle of `parent`; false
// without a registered class.
bool CreateGraph(GraphState& graph, HWND parent, int x, int y, int width, int height) noexcept;
// Creates the sampler; false without a registered class.
bool StartSampling(GraphState& graph) noexcept;
// The timer tick: asks the sampler for a new collection and shows the last one.
void SampleTick(GraphState& graph) noexcept;
// Colours the graph from the palette (light or dark values) and shows it;
// nothing without a graph window.
void ShowGraphInPalette(GraphState& graph, std::span<const COLORREF, 8> palette, bool dark) noexcept;
// The main window's teardown: destroys the sampler; the graph window died with its parent.
void StopGraph(GraphState& graph) noexcept;

struct CoreClassMean {
  double mean = 0.0;
  uint32_t count = 0;  // processors averaged
};

// Mean usage over the cells whose E-core mark equals `efficient`, skipping
// NoValue entries. efficientByCell[node][k] is the mark of cell k of a node's
// panel; a usage entry missing from the table counts as NoValue.
[[nodiscard]] CoreClassMean MeanUsageOfClass(const std::vector<std::vector<bool>>& efficientByCell,
                                             const UsageTable& usage, bool efficient);

// The same over the graph's panels and the current sampler's table, read
// under their locks. 0 processors and 0.0 without a sampler.
[[nodiscard]] CoreClassMean CoreClassMeanUsage(GraphState& graph, bool efficient);

}  // namespace tarnwick
