#include "monitor/graph_state.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <cwchar>
#include <system_error>
#include <utility>

#include "monitor/cell_painting.h"
#include "monitor/graph_geometry.h"
#include "platform/win32_system.h"

namespace tarnwick {

namespace {

HINSTANCE ModuleInstance() noexcept { return ::GetModuleHandleW(nullptr); }

GraphState* StateOf(HWND graphWindow) noexcept {
  return reinterpret_cast<GraphState*>(::GetWindowLongPtrW(graphWindow, 0));
}

// A panel title or a cell's tooltip text; empty when it does not fit.
template <typename... Numbers>
std::wstring FormatText(const wchar_t* format, Numbers... numbers) {
  wchar_t text[64] = {};
  const int length = std::swprintf(text, std::size(text), format, numbers...);
  return length < 0 ? std::wstring() : std::wstring(text, static_cast<size_t>(length));
}

ULONG HighestNode(TopologyApi& topology) noexcept {
  ULONG highest = 0;
  return topology.GetNumaHighestNodeNumber(highest) ? highest : 0;
}

// --- Panels ---------------------------------------------------------------

// A vertical progress bar (range 0 to 100) with a tooltip; its index or -1.
int AddCell(NodePanel& panel) {
  if (panel.groupBox == nullptr) return -1;
  HWND cell = ::CreateWindowExW(WS_EX_CONTROLPARENT, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_VERTICAL, 0,
                                0, 0, 0, panel.groupBox, nullptr, ModuleInstance(), nullptr);
  if (cell == nullptr) return -1;
  ::ShowWindow(cell, SW_HIDE);
  ::SetWindowPos(cell, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER);
  HWND tip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0, 0,
                               panel.groupBox, nullptr, ModuleInstance(), nullptr);
  if (tip != nullptr) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = panel.groupBox;
    tool.uId = reinterpret_cast<UINT_PTR>(cell);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  std::lock_guard lock(panel.panelLock);
  panel.ActiveBits.push_back(true);
  panel.cells.push_back(cell);
  panel.tips.push_back(tip);
  panel.ShownUsage.push_back(0);
  panel.EfficientBits.push_back(false);
  const auto index = static_cast<uint32_t>(panel.cells.size() - 1);
  panel.cellIndex[cell] = index;
  return static_cast<int>(index);
}

void BuildPanel(NodePanel& panel, HWND graphWindow, uint32_t count, const std::wstring& title,
                const GraphBrushes& brushes) {
  std::lock_guard build(panel.buildLock);
  panel.parent = graphWindow;
  panel.brushes = brushes;
  panel.groupBox = ::CreateWindowExW(0, L"Button", title.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX,
                                     0, 0, 0, 0, graphWindow, nullptr, ModuleInstance(), nullptr);
  if (panel.groupBox == nullptr) return;
  // Without visual styles the title takes the colours of WM_CTLCOLORSTATIC.
  ::SetWindowTheme(panel.groupBox, L"", L"");
  ::SetWindowSubclass(panel.groupBox, PanelBoxProc, kPanelBoxSubclassId, reinterpret_cast<DWORD_PTR>(&panel));
  for (uint32_t k = 0; k < count; ++k) AddCell(panel);
  for (HWND cell : panel.cells) {
    ::SetWindowSubclass(cell, CellProc, kCellSubclassId, reinterpret_cast<DWORD_PTR>(&panel));
  }
}

GraphBrushes CurrentBrushes(const GraphState& graph) noexcept {
  return {graph.cellBackgroundBrush.get(), graph.barBrush.get(), graph.frameBrush.get(), graph.parkedBrush.get(),
          graph.boxBackgroundBrush.get()};
}

// Whether the layout left the window room to show (see LayoutPanel).
bool LaidOutToShow(HWND window, int dpi) noexcept {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return RoomToShow(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, dpi);
}

// Showing keeps hidden what the layout hid for want of room, so that a panel
// too small for its cells never shows them squeezed.
void SetPanelVisibility(NodePanel& panel, bool show) noexcept {
  std::lock_guard lock(panel.panelLock);
  if (panel.groupBox == nullptr) return;
  auto apply = [show, dpi = panel.dpi](HWND window) {
    ::ShowWindow(window, show && LaidOutToShow(window, dpi) ? SW_SHOWNORMAL : SW_HIDE);
  };
  for (HWND cell : panel.cells) apply(cell);
  apply(panel.groupBox);
}

// --- The graph window -------------------------------------------------------

LRESULT OnEraseBackground(HWND window, HDC dc) noexcept {
  const auto brush = reinterpret_cast<HBRUSH>(::GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
  if (brush == nullptr) return ::DefWindowProcW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  ::GetClientRect(window, &client);
  ::FillRect(dc, &client, brush);
  return 1;
}

LRESULT OnControlColour(HWND window, HDC dc) noexcept {
  if (const GraphState* graph = StateOf(window)) {
    ::SetTextColor(dc, graph->colours.text);
    ::SetBkMode(dc, TRANSPARENT);
  }
  return static_cast<LRESULT>(::GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
}

// The request SetCellText is handing to a graph window on this thread, the
// only pointer WMG_SET_CELL_TEXT reads.
thread_local const CellTextRequest* RequestInFlight = nullptr;

LRESULT OnSetCellText(GraphState* graph, LPARAM lParam) noexcept {
  // Anything else would let another program choose an address in this
  // process for the graph to read: a cross-thread or cross-process send
  // (InSendMessageEx) or a posted message (not the request in flight).
  const auto* request = reinterpret_cast<const CellTextRequest*>(lParam);
  if (::InSendMessageEx(nullptr) != ISMEX_NOSEND || request == nullptr || request != RequestInFlight) return 1;
  if (graph == nullptr) return 1;
  if (request->node >= graph->panels.size()) return 0;
  NodePanel& panel = *graph->panels[request->node];
  if (request->cell >= panel.cells.size()) return 0;
  panel.tipTexts[panel.cells[request->cell]] = request->text != nullptr ? request->text : L"";
  return 0;
}

LRESULT CALLBACK GraphWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  GraphState* graph = StateOf(window);
  switch (message) {
    case WM_CREATE:
      ::SetWindowLongPtrW(window, 0,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      return 0;
    case WM_DESTROY:
      return 0;
    case WM_NCDESTROY:
      // The children are gone by now: no panel outlives its windows.
      if (graph != nullptr && graph->graphWindow == window) {
        graph->panels.clear();
        graph->graphWindow = nullptr;
      }
      return 0;
    case WM_ERASEBKGND:
      return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return OnControlColour(window, reinterpret_cast<HDC>(wParam));
    case WMG_START_SAMPLING:
      if (graph == nullptr) return 1;
      StartSampling(*graph);
      return 0;
    case WMG_STOP_SAMPLING:
      if (graph == nullptr) return 1;
      StopSampling(*graph);
      return 0;
    case WMG_SET_CELL_TEXT:
      return OnSetCellText(graph, lParam);
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

GraphColours GraphColoursFromPalette(std::span<const COLORREF, 8> palette) noexcept {
  GraphColours colours;
  colours.text = palette[3];
  colours.bar = palette[5];
  colours.cellBackground = palette[6];
  colours.frame = palette[4];
  colours.boxBackground = palette[2];
  colours.parked = palette[7];
  return colours;
}

GraphState::GraphState(TopologyApi& topologyApi, CounterSource& counterSource)
    : topology(topologyApi), counters(counterSource), coreMap(topologyApi) {}

GraphState::~GraphState() {
  if (graphWindow != nullptr && ::IsWindow(graphWindow)) ::DestroyWindow(graphWindow);
  std::lock_guard lock(SamplerLock);
  sampler.reset();
}

GraphState& SharedGraphState() {
  static GraphState state(Win32TopologyApi(), Win32CounterSource());
  return state;
}

LRESULT SetCellText(HWND graphWindow, const CellTextRequest& request) noexcept {
  const CellTextRequest* former = std::exchange(RequestInFlight, &request);
  const LRESULT result = ::SendMessageW(graphWindow, WMG_SET_CELL_TEXT, 0, reinterpret_cast<LPARAM>(&request));
  RequestInFlight = former;
  return result;
}

bool RegisterGraphClass(GraphState& graph, HINSTANCE instance) noexcept {
  if (graph.classRegistered) return true;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = GraphWndProc;
  windowClass.cbWndExtra = sizeof(GraphState*);  // NOLINT(bugprone-sizeof-expression): the extra bytes hold the pointer
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kGraphWindowClass;
  // A class left behind by an earlier state of this process serves as well.
  graph.classRegistered = ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return graph.classRegistered;
}

namespace {

// One panel per NUMA node, each cell named after its node and position and
// marked when it shows an E-core.
void BuildPanels(GraphState& graph) {
  // The highest node number is asked again for every node, as the system may add one.
  for (uint32_t node = 0; node <= HighestNode(graph.topology); ++node) {
    auto panel = std::make_unique<NodePanel>();
    panel->dpi = graph.dpi;
    panel->parkedLabel = graph.parkedLabel;
    panel->efficientLabel = graph.efficientLabel;
    const std::wstring title =
        HighestNode(graph.topology) >= 1 ? FormatText(graph.nodeTitleFormat.c_str(), node) : graph.singleNodeTitle;
    BuildPanel(*panel, graph.graphWindow, graph.coreMap.NodeProcessorCount(node), title, CurrentBrushes(graph));
    for (uint32_t k = 0; k < panel->cells.size(); ++k) {
      panel->tipTexts[panel->cells[k]] = FormatText(L"Node %u, Logical CPU %u", node, k);
      int32_t group = 0, number = 0;
      if (graph.coreMap.NodeProcessorAt(node, static_cast<int32_t>(k), group, number)) {
        const bool efficient = graph.coreMap.IsEfficiencyCore(group < 0 ? 0 : group, number);
        std::lock_guard lock(panel->panelLock);
        panel->EfficientBits[k] = efficient;
      }
    }
    graph.panels.push_back(std::move(panel));
  }
}

// The caption font at the graph's DPI, for the titles and cells: made once
// per DPI and kept across openings.
void SetGraphFont(GraphState& graph) noexcept {
  unique_hfont former;
  if (!graph.GraphFont || graph.fontDpi != graph.dpi) {
    NONCLIENTMETRICSW metrics{};
    if (NonClientMetricsForDpi(graph.dpi, metrics)) {
      if (unique_hfont font{::CreateFontIndirectW(&metrics.lfCaptionFont)}) {
        // The former font goes once no control draws with it any more.
        former = std::exchange(graph.GraphFont, std::move(font));
        graph.fontDpi = graph.dpi;
      }
    }
  }
  if (!graph.GraphFont) return;
  const auto font = reinterpret_cast<WPARAM>(graph.GraphFont.get());
  for (const auto& panel : graph.panels) {
    ::SendMessageW(panel->groupBox, WM_SETFONT, font, TRUE);
    for (HWND cell : panel->cells) ::SendMessageW(cell, WM_SETFONT, font, TRUE);
  }
  ::SendMessageW(graph.graphWindow, WM_SETFONT, font, TRUE);
}

// Panels side by side, the width shared by the nodes that have processors.
void LayoutPanels(GraphState& graph, int width, int height) {
  std::vector<uint32_t> counts;
  for (const auto& panel : graph.panels) counts.push_back(static_cast<uint32_t>(panel->cells.size()));
  const std::vector<PanelSlot> slots = PanelSlots(counts, width);
  for (size_t node = 0; node < graph.panels.size(); ++node) {
    if (slots[node].shown) {
      LayoutPanel(*graph.panels[node], slots[node].x, slots[node].width, height);
    } else {
      HidePanel(*graph.panels[node]);
    }
  }
}

}  // namespace

bool CreateGraph(GraphState& graph, HWND parent, int x, int y, int width, int height) noexcept {
  if (!graph.classRegistered) return false;
  // A graph window still open is replaced; its panels go with it.
  if (graph.graphWindow != nullptr) ::DestroyWindow(graph.graphWindow);
  graph.panels.clear();
  graph.dpi = WindowDpi(parent);
  graph.graphWindow = ::CreateWindowExW(0, kGraphWindowClass, nullptr, WS_CHILD | WS_CLIPCHILDREN, x, y, width, height,
                                        parent, nullptr, ModuleInstance(), &graph);
  if (graph.graphWindow == nullptr) return false;
  BuildPanels(graph);
  SetGraphFont(graph);
  ApplyGraphColours(graph);
  ::SetWindowPos(graph.graphWindow, nullptr, x, y, width, height, SWP_NOZORDER);
  LayoutPanels(graph, width, height);
  return true;
}

void LayoutGraphAtDpi(GraphState& graph, int dpi, int x, int y, int width, int height) noexcept {
  if (graph.graphWindow == nullptr || dpi <= 0) return;
  graph.dpi = dpi;
  for (const auto& panel : graph.panels) panel->dpi = dpi;
  SetGraphFont(graph);
  ::SetWindowPos(graph.graphWindow, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutPanels(graph, width, height);
  ::RedrawWindow(graph.graphWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void LayoutPanel(NodePanel& panel, int x, int width, int height) noexcept {
  if (panel.groupBox == nullptr) return;
  ::ShowWindow(panel.groupBox, PanelBoxVisible(x, width, height, panel.dpi) ? SW_SHOWNORMAL : SW_HIDE);
  ::SetWindowPos(panel.groupBox, nullptr, x, 0, width, height, SWP_NOZORDER);
  if (panel.cells.empty()) return;
  RECT client{};
  ::GetClientRect(panel.groupBox, &client);
  const CellGrid grid = CellGridFor(panel.cells.size(), client, panel.dpi);
  for (size_t k = 0; k < panel.cells.size(); ++k) {
    const CellPlacement place = PlaceCell(grid, k);
    ::ShowWindow(panel.cells[k], place.visible ? SW_SHOWNORMAL : SW_HIDE);
    ::SetWindowPos(panel.cells[k], nullptr, place.left, place.top, place.width, place.height, SWP_NOZORDER);
  }
}

void ShowPanel(NodePanel& panel) noexcept { SetPanelVisibility(panel, true); }
void HidePanel(NodePanel& panel) noexcept { SetPanelVisibility(panel, false); }

std::vector<HWND> PanelCells(NodePanel& panel) {
  std::lock_guard lock(panel.panelLock);
  return panel.cells;
}

bool IsCellEfficient(NodePanel& panel, HWND cell) noexcept {
  const auto found = panel.cellIndex.find(cell);
  if (found == panel.cellIndex.end()) return false;
  std::lock_guard lock(panel.panelLock);
  return found->second < panel.EfficientBits.size() && panel.EfficientBits[found->second];
}

bool IsCellActive(NodePanel& panel, HWND cell) noexcept {
  const auto found = panel.cellIndex.find(cell);
  if (found == panel.cellIndex.end()) return true;
  std::lock_guard lock(panel.panelLock);
  return found->second >= panel.ActiveBits.size() || panel.ActiveBits[found->second];
}

void SetCellUsage(NodePanel& panel, size_t k, uint32_t usage) noexcept {
  std::lock_guard lock(panel.panelLock);
  if (k >= panel.cells.size() || k >= panel.ShownUsage.size() || panel.ShownUsage[k] == usage) return;
  if (panel.cells[k] == nullptr) return;
  ::PostMessageW(panel.cells[k], PBM_SETPOS, usage, 0);
  panel.ShownUsage[k] = usage;
}

void MarkCellActive(NodePanel& panel, size_t k) noexcept {
  {
    std::lock_guard lock(panel.panelLock);
    if (k >= panel.ActiveBits.size() || k >= panel.cells.size() || panel.ActiveBits[k]) return;
    panel.ActiveBits[k] = true;
  }
  ::SendMessageW(panel.cells[k], PBM_SETSTATE, PBST_NORMAL, 0);
  ::RedrawWindow(panel.cells[k], nullptr, nullptr, RDW_INVALIDATE);
}

void MarkCellParked(NodePanel& panel, size_t k) noexcept {
  {
    std::lock_guard lock(panel.panelLock);
    if (k >= panel.ActiveBits.size() || k >= panel.cells.size() || !panel.ActiveBits[k]) return;
  }
  SetCellUsage(panel, k, 0);
  {
    std::lock_guard lock(panel.panelLock);
    panel.ActiveBits[k] = false;
  }
  ::SendMessageW(panel.cells[k], PBM_SETSTATE, PBST_ERROR, 0);
  ::RedrawWindow(panel.cells[k], nullptr, nullptr, RDW_INVALIDATE);
}

bool StartSampling(GraphState& graph) noexcept {
  if (!graph.classRegistered) return false;
  StopSampling(graph);
  std::lock_guard lock(graph.SamplerLock);
  try {
    graph.sampler = std::make_unique<UtilizationSampler>(graph.counters, graph.topology);
  } catch (const std::system_error&) {
    // No events or thread for it: the graph stays still.
    return false;
  }
  return true;
}

void StopSampling(GraphState& graph) noexcept {
  std::lock_guard lock(graph.SamplerLock);
  graph.sampler.reset();
}

void SampleTick(GraphState& graph) noexcept {
  {
    std::lock_guard lock(graph.SamplerLock);
    if (graph.sampler) graph.sampler->RequestSample();
  }
  UpdateGraph(graph);
}

void UpdateGraph(GraphState& graph) noexcept {
  if (!graph.sampler || graph.updateInProgress) return;
  std::lock_guard lock(graph.SamplerLock);
  if (!graph.sampler) return;
  graph.updateInProgress = true;
  const SampleTable& usage = graph.sampler->UsageTable();
  const SampleTable& parking = graph.sampler->ParkingTable();
  for (size_t node = 0; node < usage.size() && node < graph.panels.size(); ++node) {
    for (size_t k = 0; k < usage[node].size(); ++k) {
      const int32_t value = ReadEntry(usage[node][k]);
      if (value >= 0) SetCellUsage(*graph.panels[node], k, static_cast<uint32_t>(value));
    }
  }
  for (size_t node = 0; node < parking.size() && node < graph.panels.size(); ++node) {
    NodePanel& panel = *graph.panels[node];
    for (size_t k = 0; k < parking[node].size(); ++k) {
      // Parked is shown only while the bar stands at 0: a parked processor
      // that still shows load is drawn as normal.
      if (ReadEntry(parking[node][k]) < 1) {
        MarkCellActive(panel, k);
        continue;
      }
      uint32_t shown = 0;
      {
        std::lock_guard panelLock(panel.panelLock);
        if (k < panel.ShownUsage.size()) shown = panel.ShownUsage[k];
      }
      if (shown != 0) {
        MarkCellActive(panel, k);
      } else {
        MarkCellParked(panel, k);
      }
    }
  }
  graph.updateInProgress = false;
}

void ApplyGraphColours(GraphState& graph) noexcept {
  graph.cellBackgroundBrush.reset(::CreateSolidBrush(graph.colours.cellBackground));
  graph.frameBrush.reset(::CreateSolidBrush(graph.colours.frame));
  graph.barBrush.reset(::CreateSolidBrush(graph.colours.bar));
  graph.boxBackgroundBrush.reset(::CreateSolidBrush(graph.colours.boxBackground));
  graph.parkedBrush.reset(::CreateSolidBrush(graph.colours.parked));
  if (graph.graphWindow != nullptr) {
    ::SetClassLongPtrW(graph.graphWindow, GCLP_HBRBACKGROUND,
                       reinterpret_cast<LONG_PTR>(graph.boxBackgroundBrush.get()));
  }
  const GraphBrushes brushes = CurrentBrushes(graph);
  for (const auto& panel : graph.panels) {
    panel->brushes = brushes;
    if (graph.marker.bitmap != nullptr) panel->marker = graph.marker;
  }
}

void SetGraphColours(GraphState& graph, const GraphColours& colours, const MarkerLook& marker) noexcept {
  graph.colours = colours;
  graph.marker = marker;
  BITMAP size{};
  if (marker.bitmap != nullptr && ::GetObjectW(marker.bitmap, sizeof(size), &size) == sizeof(size)) {
    graph.marker.width = size.bmWidth;
    graph.marker.height = size.bmHeight;
  }
  ApplyGraphColours(graph);
  if (graph.graphWindow != nullptr) {
    ::RedrawWindow(graph.graphWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

void ShowGraph(GraphState& graph) noexcept {
  if (graph.graphWindow == nullptr) return;
  // A node without processors was given no place, so its panel stays hidden.
  for (const auto& panel : graph.panels) ShowPanel(*panel);
  ::ShowWindow(graph.graphWindow, SW_SHOWNORMAL);
}

void StopGraph(GraphState& graph) noexcept { StopSampling(graph); }

CoreClassMean CoreClassMeanUsage(GraphState& graph, bool efficient) {
  std::vector<std::vector<bool>> efficientByCell;
  efficientByCell.reserve(graph.panels.size());
  for (const auto& panel : graph.panels) {
    std::lock_guard lock(panel->panelLock);
    std::vector<bool> marks(panel->cells.size(), false);
    for (size_t k = 0; k < marks.size() && k < panel->EfficientBits.size(); ++k) marks[k] = panel->EfficientBits[k];
    efficientByCell.push_back(std::move(marks));
  }
  std::lock_guard lock(graph.SamplerLock);
  if (!graph.sampler) return {};
  return MeanUsageOfClass(efficientByCell, graph.sampler->UsageTable(), efficient);
}

}  // namespace tarnwick
