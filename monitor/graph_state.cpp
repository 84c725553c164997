#include "monitor/graph_state.h"

namespace tarnwick {

GraphState& SharedGraphState() {
  static GraphState state;
  return state;
}

bool RegisterGraphClass(GraphState& graph, HINSTANCE) noexcept { return graph.classRegistered; }

bool CreateGraph(GraphState& graph, HWND, int, int, int, int) noexcept {
  if (!graph.classRegistered) return false;
  graph.panels.clear();
  return false;
}

bool StartSampling(GraphState& graph) noexcept { return graph.classRegistered; }

void SampleTick(GraphState& graph) noexcept {
  // Nothing to ask or show until the sampler and the graph exist.
  std::lock_guard lock(graph.SamplerLock);
  (void)graph.sampler;
}

void ShowGraphInPalette(GraphState& graph, std::span<const COLORREF, 8>, bool) noexcept {
  if (graph.graphWindow == nullptr) return;
  ::ShowWindow(graph.graphWindow, SW_SHOWNORMAL);
}

void StopGraph(GraphState& graph) noexcept {
  std::lock_guard lock(graph.SamplerLock);
  graph.sampler.reset();
  graph.graphWindow = nullptr;
}

CoreClassMean MeanUsageOfClass(const std::vector<std::vector<bool>>& efficientByCell,
                               const UsageTable& usage, bool efficient) {
  double sum = 0.0;
  uint32_t count = 0;
  for (size_t node = 0; node < efficientByCell.size() && node < usage.size(); ++node) {
    const std::vector<bool>& marks = efficientByCell[node];
    const std::vector<int32_t>& values = usage[node];
    for (size_t k = 0; k < marks.size() && k < values.size(); ++k) {
      if (marks[k] != efficient || values[k] == NoValue) continue;
      sum += static_cast<double>(values[k]);
      ++count;
    }
  }
  return {count == 0 ? 0.0 : sum / count, count};
}

CoreClassMean CoreClassMeanUsage(GraphState& graph, bool efficient) {
  std::vector<std::vector<bool>> efficientByCell;
  efficientByCell.reserve(graph.panels.size());
  for (const auto& panel : graph.panels) {
    std::lock_guard lock(panel->panelLock);
    std::vector<bool> marks(panel->cellCount, false);
    for (size_t k = 0; k < marks.size() && k < panel->EfficientBits.size(); ++k) {
      marks[k] = panel->EfficientBits[k];
    }
    efficientByCell.push_back(std::move(marks));
  }
  std::lock_guard lock(graph.SamplerLock);
  if (!graph.sampler) return {};
  return MeanUsageOfClass(efficientByCell, graph.sampler->usage, efficient);
}

}  // namespace tarnwick
