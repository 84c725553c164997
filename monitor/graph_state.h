// The core utilization graph: a child window of class
// "Ombrix_CPUCoreUtilizationGraph" holding one group box (a NodePanel) per
// NUMA node and in it one vertical progress bar (a cell) per logical
// processor, with a tooltip each. Once a second the main window asks the
// sampler for a collection and copies the tables into the cells; a cell
// changes only when its value or its parked state changed.
//
// All of it lives in one process-wide GraphState, built on first use on the
// user-interface thread and kept for the life of the process; each opening of
// the main window creates a new graph window and new panels in it.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "monitor/utilization_sampler.h"
#include "platform/counter_source.h"
#include "platform/topology_api.h"
#include "platform/unique_handle.h"
#include "platform/window_dpi.h"
#include "topology/core_map.h"

namespace tarnwick {

inline constexpr const wchar_t* kGraphWindowClass = L"Ombrix_CPUCoreUtilizationGraph";

// Private messages of the graph window.
inline constexpr UINT WMG_START_SAMPLING = 0x8001;
inline constexpr UINT WMG_STOP_SAMPLING = 0x8002;
inline constexpr UINT WMG_SET_CELL_TEXT = 0x8003;  // lParam: const CellTextRequest*; see SetCellText

// What WMG_SET_CELL_TEXT points to.
struct CellTextRequest {
  uint32_t node;
  uint32_t cell;
  uint64_t unused;
  const wchar_t* text;  // null: empty
};

// Sets the base tooltip text of one cell by sending WMG_SET_CELL_TEXT from
// the graph window's own thread; returns the message's result (0 when the
// graph took or bounded the request). Windows does not marshal the pointer of
// a private message, so the graph window reads a request only when it comes
// through this call: one sent from another thread or process, posted, or
// sent without this call is ignored (result 1).
LRESULT SetCellText(HWND graphWindow, const CellTextRequest& request) noexcept;

// The six colours of the graph.
struct GraphColours {
  COLORREF text = 0xFFFFFF;            // group-box titles
  COLORREF bar = 0xFFFFFF;             // utilization bar
  COLORREF cellBackground = 0xFFFFFF;  // empty part of a bar
  COLORREF frame = 0xFFFFFF;           // cell border and the circle marker
  COLORREF boxBackground = 0x000000;   // graph window and group boxes
  COLORREF parked = 0xFFFFFF;          // fill of a parked cell
};

// The graph's colours taken from the theme palette's slots.
[[nodiscard]] GraphColours GraphColoursFromPalette(std::span<const COLORREF, 8> palette) noexcept;

// Brushes a panel paints with; owned by GraphState, copied into each panel.
struct GraphBrushes {
  HBRUSH cellBackground = nullptr;
  HBRUSH bar = nullptr;
  HBRUSH frame = nullptr;
  HBRUSH parked = nullptr;
  HBRUSH boxBackground = nullptr;
};

// The E-core marker: a 24-bit bitmap drawn with SRCAND (white leaves the cell
// as it is) or with black and white transparent (the other pixels OR-ed on).
struct MarkerLook {
  HBITMAP bitmap = nullptr;  // not owned
  int width = 0;
  int height = 0;
  bool blendWithAnd = false;
};

inline constexpr UINT_PTR kCellSubclassId = 67;
inline constexpr UINT_PTR kPanelBoxSubclassId = 0;

// One NUMA node's group box and cells. Invariant: cells, tips, ShownUsage,
// ActiveBits and EfficientBits have one entry per cell.
struct NodePanel {
  std::mutex panelLock;  // guards ShownUsage, ActiveBits and EfficientBits
  std::mutex buildLock;  // held while the panel creates its windows
  HWND parent = nullptr;
  HWND groupBox = nullptr;
  std::vector<HWND> cells;
  std::vector<HWND> tips;  // an entry may be null: that cell has no tooltip
  std::map<HWND, std::wstring> tipTexts;
  std::map<HWND, uint32_t> cellIndex;
  std::vector<uint32_t> ShownUsage;  // last bar position handed to each cell
  std::vector<bool> ActiveBits;      // 1: normal, 0: parked
  std::vector<bool> EfficientBits;   // 1: the cell shows an E-core
  GraphBrushes brushes;
  MarkerLook marker;
  std::wstring parkedLabel;
  std::wstring efficientLabel;
  int dpi = kDefaultDpi;  // the graph's: the panel is laid out at it
};

struct GraphState {
  // topology and counters must outlive the state.
  GraphState(TopologyApi& topology, CounterSource& counters);
  ~GraphState();
  GraphState(const GraphState&) = delete;
  GraphState& operator=(const GraphState&) = delete;

  bool classRegistered = false;
  bool updateInProgress = false;
  std::mutex SamplerLock;  // guards sampler, its requests and the per-tick copy
  TopologyApi& topology;
  CounterSource& counters;
  CoreMap coreMap;
  std::unique_ptr<UtilizationSampler> sampler;
  unique_hbrush barBrush;
  unique_hbrush cellBackgroundBrush;
  unique_hbrush boxBackgroundBrush;
  unique_hbrush parkedBrush;
  unique_hbrush frameBrush;
  GraphColours colours;
  unique_hfont GraphFont;
  int dpi = kDefaultDpi;  // the graph window's, set by CreateGraph and LayoutGraphAtDpi
  int fontDpi = 0;        // the DPI GraphFont was made for
  MarkerLook marker;      // EfficiencyMarkBitmap, its size and blend
  HWND graphWindow = nullptr;
  std::vector<std::unique_ptr<NodePanel>> panels;  // index = NUMA node
  std::wstring nodeTitleFormat = L"Node %u";
  std::wstring singleNodeTitle = L"% CPU";
  std::wstring parkedLabel = L"Parked";
  std::wstring efficientLabel = L"Efficient";
};

// The process's graph, over this machine's topology and counters.
[[nodiscard]] GraphState& SharedGraphState();

// Registers the graph window class once per process and notes it in `graph`.
bool RegisterGraphClass(GraphState& graph, HINSTANCE instance) noexcept;
// Creates the graph window (hidden) over the given client rectangle of
// `parent`, one panel per NUMA node, coloured with the current brushes and
// laid out at the parent's DPI. False without a registered class or when the
// window cannot be made.
bool CreateGraph(GraphState& graph, HWND parent, int x, int y, int width, int height) noexcept;
// Lays the graph out again at `dpi` over the given client rectangle of its
// parent: its font, its panels and their cells (the parent moved to a monitor
// of another scaling). The caller gives the marker of that DPI.
void LayoutGraphAtDpi(GraphState& graph, int dpi, int x, int y, int width, int height) noexcept;
// Replaces the sampler with a new one; false without a registered class or
// when the sampler cannot start.
bool StartSampling(GraphState& graph) noexcept;
// Destroys the sampler, if any.
void StopSampling(GraphState& graph) noexcept;
// The timer tick: asks the sampler for a collection, then shows the last one.
void SampleTick(GraphState& graph) noexcept;
// Copies the sampler's tables into the cells: changed bars are posted
// PBM_SETPOS, cells whose parked state flips are sent PBM_SETSTATE.
void UpdateGraph(GraphState& graph) noexcept;

// Sets the six colours and the E-core marker (the marker's size is read from
// the bitmap), remakes the brushes, hands them to every panel and repaints.
// This is how the main window colours the graph, light or dark.
void SetGraphColours(GraphState& graph, const GraphColours& colours, const MarkerLook& marker) noexcept;
// Remakes the five brushes from the colours and hands them and the marker to
// the graph window and every panel; no repaint.
void ApplyGraphColours(GraphState& graph) noexcept;
// Shows every panel and the graph window.
void ShowGraph(GraphState& graph) noexcept;

// Panel operations.
void LayoutPanel(NodePanel& panel, int x, int width, int height) noexcept;
// Shows the box and its cells, each where the layout left it room to show.
void ShowPanel(NodePanel& panel) noexcept;
void HidePanel(NodePanel& panel) noexcept;
[[nodiscard]] std::vector<HWND> PanelCells(NodePanel& panel);
[[nodiscard]] bool IsCellEfficient(NodePanel& panel, HWND cell) noexcept;
// The panel's own record: false for a cell shown parked.
[[nodiscard]] bool IsCellActive(NodePanel& panel, HWND cell) noexcept;
void SetCellUsage(NodePanel& panel, size_t k, uint32_t usage) noexcept;
void MarkCellActive(NodePanel& panel, size_t k) noexcept;
void MarkCellParked(NodePanel& panel, size_t k) noexcept;

// The main window's teardown: destroys the sampler.
void StopGraph(GraphState& graph) noexcept;

struct CoreClassMean {
  double mean = 0.0;
  uint32_t count = 0;  // processors averaged
};

// Mean usage over the cells whose E-core mark equals `efficient`, skipping
// NoValue entries. efficientByCell[node][k] is the mark of cell k of a
// node's panel; a usage entry missing from the table counts as NoValue.
template <typename Table>
[[nodiscard]] CoreClassMean MeanUsageOfClass(const std::vector<std::vector<bool>>& efficientByCell, const Table& usage,
                                             bool efficient) {
  double sum = 0.0;
  uint32_t count = 0;
  for (size_t node = 0; node < efficientByCell.size() && node < usage.size(); ++node) {
    const std::vector<bool>& marks = efficientByCell[node];
    for (size_t k = 0; k < marks.size() && k < usage[node].size(); ++k) {
      const int32_t value = ReadEntry(usage[node][k]);
      if (marks[k] != efficient || value == NoValue) continue;
      sum += static_cast<double>(value);
      ++count;
    }
  }
  return {count == 0 ? 0.0 : sum / count, count};
}

// The same over the graph's panels and the current sampler's usage table,
// read under their locks. 0 processors and 0.0 without a sampler.
[[nodiscard]] CoreClassMean CoreClassMeanUsage(GraphState& graph, bool efficient);

}  // namespace tarnwick
