// The graph control in this process with real windows and real GDI under a
// scripted topology and counter source: panels and cells as laid out, the
// tooltips, the messages a tick sends, the parked state, the colours, and
// the pixels a cell paints.
#include "monitor/cell_painting.h"
#include "monitor/graph_state.h"

#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "tests/fakes/fake_counter_source.h"
#include "tests/fakes/fake_system.h"
#include "platform/gdi_scope.h"
#include "tests/support/gdi_object_count.h"
#include "tests/unit/canvas.h"
#include "tests/unit/relationship_report.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  ::GetWindowTextW(window, text, 256);
  return text;
}

// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool HasVisibleStyle(HWND window) { return (::GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// What a cell was told by the graph.
struct CellMessages {
  int positions = 0;  // PBM_SETPOS
  int states = 0;     // PBM_SETSTATE
  WPARAM lastState = 0;
};

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR reference) noexcept {
  auto* counts = reinterpret_cast<CellMessages*>(reference);
  if (message == PBM_SETPOS) ++counts->positions;
  if (message == PBM_SETSTATE) {
    ++counts->states;
    counts->lastState = wParam;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

constexpr COLORREF kBackground = RGB(220, 220, 220);
constexpr COLORREF kBar = RGB(50, 130, 25);
constexpr COLORREF kFrame = RGB(204, 204, 204);
constexpr COLORREF kParked = RGB(172, 172, 172);

class GraphWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = ::CreateWindowExW(0, L"Static", L"graph test", WS_POPUP, 0, 0, 600, 300, nullptr, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(parent_, nullptr);
    ASSERT_TRUE(RegisterGraphClass(graph_, ::GetModuleHandleW(nullptr)));
  }
  void TearDown() override {
    StopSampling(graph_);
    if (::IsWindow(parent_)) ::DestroyWindow(parent_);
  }

  // NUMA nodes with their processor masks (group 0); `efficient` masks are of class 0, the rest of class 1.
  void Machine(const std::vector<uint64_t>& nodeMasks, uint64_t efficient = 0) {
    RelationshipReport report;
    uint64_t all = 0;
    for (const uint64_t mask : nodeMasks) all |= mask;
    for (int bit = 0; bit < 64; ++bit) {
      const uint64_t processor = uint64_t{1} << bit;
      if (all & processor) report.Core((efficient & processor) ? 0 : 1, processor);
    }
    for (size_t node = 0; node < nodeMasks.size(); ++node) {
      if (nodeMasks[node] != 0) report.Node(static_cast<DWORD>(node), {Affinity(nodeMasks[node])}, 1);
    }
    topology_.relationshipReport = report.Groups().Bytes();
    topology_.highestNumaNode = static_cast<ULONG>(nodeMasks.size() - 1);
    graph_.coreMap = CoreMap(topology_);
  }

  HWND Create(int width = 400, int height = 100) {
    EXPECT_TRUE(CreateGraph(graph_, parent_, 0, 0, width, height));
    return graph_.graphWindow;
  }

  // Starts sampling and waits for the first collection.
  void StartAndCollect() {
    ASSERT_TRUE(StartSampling(graph_));
    ASSERT_TRUE(WaitForCollections(1));
  }
  // One more collection with the values scripted now.
  void Collect() {
    const size_t done = graph_.sampler->CompletedCollections();
    graph_.sampler->RequestSample();
    ASSERT_TRUE(WaitForCollections(done + 1));
  }
  bool WaitForCollections(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (graph_.sampler->CompletedCollections() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  void Tick() {
    UpdateGraph(graph_);
    PumpMessages();
  }

  std::vector<CellMessages> CountMessages(NodePanel& panel) {
    std::vector<CellMessages> counts(panel.cells.size());
    for (size_t k = 0; k < panel.cells.size(); ++k) {
      ::SetWindowSubclass(panel.cells[k], CountingProc, 99, reinterpret_cast<DWORD_PTR>(&counts[k]));
    }
    return counts;
  }

  // The colour at the middle of the cell as it paints itself.
  COLORREF PrintedCentre(HWND cell) {
    RECT client{};
    ::GetClientRect(cell, &client);
    Canvas canvas(client.right, client.bottom);
    ::SendMessageW(cell, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    return canvas.At(client.right / 2, client.bottom / 2);
  }

  // What the cell's tooltip shows, asked of the tooltip itself.
  std::wstring TipText(NodePanel& panel, size_t k) {
    wchar_t text[256] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = panel.groupBox;
    tool.uId = reinterpret_cast<UINT_PTR>(panel.cells[k]);
    tool.lpszText = text;
    ::SendMessageW(panel.tips[k], TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
    return text;
  }

  FakeSystem topology_;
  FakeCounterSource counters_;
  GraphState graph_{topology_, counters_};
  HWND parent_ = nullptr;
};

TEST_F(GraphWindowTest, TwoNodesOfEightShareTheWidthInTwoRowsOfFour) {
  Machine({0x00FF, 0xFF00});
  const HWND graph = Create(400, 100);
  ASSERT_NE(graph, nullptr);
  ASSERT_EQ(graph_.panels.size(), 2u);
  for (size_t node = 0; node < 2; ++node) {
    NodePanel& panel = *graph_.panels[node];
    SCOPED_TRACE(node);
    EXPECT_EQ(TextOf(panel.groupBox), L"Node " + std::to_wstring(node));
    const RECT box = RectInParent(panel.groupBox);
    EXPECT_EQ(box.left, static_cast<LONG>(200 * node));
    EXPECT_EQ(box.right - box.left, 200);
    EXPECT_EQ(box.bottom - box.top, 100);
    ASSERT_EQ(panel.cells.size(), 8u);
    // Inner width 180 in 4 columns of 45; rows of (100 - 32) / 2 = 34.
    const RECT fifth = RectInParent(panel.cells[5]);
    EXPECT_EQ(fifth.left, 10 + 45);
    EXPECT_EQ(fifth.top, 56);
    EXPECT_EQ(fifth.right - fifth.left, 45);
    EXPECT_EQ(fifth.bottom - fifth.top, 34);
    EXPECT_EQ(TipText(panel, 5), L"Node " + std::to_wstring(node) + L", Logical CPU 5");
  }
  EXPECT_FALSE(HasVisibleStyle(graph)) << "shown only once coloured";
  ShowGraph(graph_);
  EXPECT_TRUE(HasVisibleStyle(graph));
  EXPECT_TRUE(HasVisibleStyle(graph_.panels[1]->cells[7]));
}

TEST_F(GraphWindowTest, OneNodeIsOnePanelTitledCpuAcrossTheWholeWidth) {
  Machine({0x3F});
  Create(552, 150);
  ASSERT_EQ(graph_.panels.size(), 1u);
  NodePanel& panel = *graph_.panels[0];
  EXPECT_EQ(TextOf(panel.groupBox), L"% CPU");
  const RECT box = RectInParent(panel.groupBox);
  EXPECT_EQ(box.right - box.left, 552);
  EXPECT_EQ(panel.cells.size(), 6u);
  EXPECT_EQ(RectInParent(panel.cells[3]).top, 20 + (150 - 32) / 2 + 2) << "6 cells: two rows of 3";
}

TEST_F(GraphWindowTest, ANodeWithoutProcessorsTakesNoWidthAndNoneAtAllDividesNothing) {
  Machine({0x3, 0, 0xC});
  Create(400, 100);
  ASSERT_EQ(graph_.panels.size(), 3u);
  EXPECT_EQ(TextOf(graph_.panels[1]->groupBox), L"Node 1");
  EXPECT_FALSE(HasVisibleStyle(graph_.panels[1]->groupBox));
  EXPECT_EQ(RectInParent(graph_.panels[2]->groupBox).left, 200);
  ShowGraph(graph_);
  EXPECT_FALSE(HasVisibleStyle(graph_.panels[1]->groupBox)) << "an empty node stays hidden when the graph shows";

  // A machine whose nodes report no processor at all.
  topology_.relationshipReport = RelationshipReport().Core(1, 0x1).Groups().Bytes();
  topology_.highestNumaNode = 1;
  graph_.coreMap = CoreMap(topology_);
  ASSERT_TRUE(CreateGraph(graph_, parent_, 0, 0, 400, 100));
  ASSERT_EQ(graph_.panels.size(), 2u);
  for (const auto& panel : graph_.panels) EXPECT_FALSE(HasVisibleStyle(panel->groupBox));
  StartAndCollect();
  Tick();
  EXPECT_DOUBLE_EQ(CoreClassMeanUsage(graph_, false).mean, 0.0);
}

TEST_F(GraphWindowTest, ATooLowPanelHidesItsCellsWhateverItsRows) {
  Machine({0xFF, 0x7F00});
  Create(400, 30);
  ShowGraph(graph_);
  for (const auto& panel : graph_.panels) {
    EXPECT_TRUE(HasVisibleStyle(panel->groupBox));
    for (HWND cell : panel->cells) {
      EXPECT_FALSE(HasVisibleStyle(cell)) << "hidden by the layout, and still when the graph shows";
      EXPECT_EQ(RectInParent(cell).bottom - RectInParent(cell).top, 0) << "no wrapped-around row height";
    }
  }

  // One row 3 pixels high, and a box lower than 6 pixels.
  for (const int height : {33, 5}) {
    SCOPED_TRACE(height);
    ASSERT_TRUE(CreateGraph(graph_, parent_, 0, 0, 400, height));
    ShowGraph(graph_);
    EXPECT_EQ(HasVisibleStyle(graph_.panels[1]->groupBox), height >= 6);
    EXPECT_FALSE(HasVisibleStyle(graph_.panels[1]->cells[0]));
  }
}

TEST_F(GraphWindowTest, ATickSendsOnlyWhatChanged) {
  Machine({0xF});
  Create();
  NodePanel& panel = *graph_.panels[0];
  std::vector<CellMessages> counts = CountMessages(panel);
  for (uint32_t k = 0; k < 4; ++k) counters_.SetCounter(ProcessorTimeCounterPath(0, k), 10 * k);
  StartAndCollect();
  Tick();
  EXPECT_EQ(counts[0].positions, 0) << "0 is what the bar already shows";
  EXPECT_EQ(counts[1].positions, 1);
  EXPECT_EQ(counts[3].positions, 1);
  EXPECT_EQ(::SendMessageW(panel.cells[3], PBM_GETPOS, 0, 0), 30);

  Tick();
  Collect();
  Tick();
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(counts[k].positions, k == 0 ? 0 : 1) << "cell " << k << ": the same value again";
    EXPECT_EQ(counts[k].states, 0) << "cell " << k;
  }

  // No reading leaves the bar where it was.
  counters_.SetCounter(ProcessorTimeCounterPath(0, 2), std::nullopt);
  counters_.SetCounter(ProcessorTimeCounterPath(0, 3), 31);
  Collect();
  Tick();
  EXPECT_EQ(counts[2].positions, 1);
  EXPECT_EQ(::SendMessageW(panel.cells[2], PBM_GETPOS, 0, 0), 20);
  EXPECT_EQ(counts[3].positions, 2);
}

TEST_F(GraphWindowTest, AParkedProcessorShowsParkedOnlyWhileItsBarStandsAtZero) {
  Machine({0x3});
  Create();
  GraphColours colours;
  colours.cellBackground = kBackground;
  colours.parked = kParked;
  SetGraphColours(graph_, colours, MarkerLook{});
  NodePanel& panel = *graph_.panels[0];
  std::vector<CellMessages> counts = CountMessages(panel);
  counters_.SetCounter(UtilityCounterPath(0, 0), 12);
  counters_.SetCounter(ParkingStatusCounterPath(0, 0), 1);
  StartAndCollect();
  Tick();
  EXPECT_TRUE(IsCellActive(panel, panel.cells[0])) << "parked but showing load";
  EXPECT_EQ(counts[0].states, 0);
  EXPECT_EQ(PrintedCentre(panel.cells[0]), kBackground);

  counters_.SetCounter(UtilityCounterPath(0, 0), 0);
  Collect();
  Tick();
  EXPECT_FALSE(IsCellActive(panel, panel.cells[0]));
  EXPECT_EQ(counts[0].states, 1);
  EXPECT_EQ(counts[0].lastState, static_cast<WPARAM>(PBST_ERROR));
  EXPECT_EQ(TipText(panel, 0), L"Node 0, Logical CPU 0\nParked");
  // The painter takes the parked state from the panel, whatever the bar keeps of PBM_SETSTATE.
  EXPECT_EQ(PrintedCentre(panel.cells[0]), kParked);
  Tick();
  EXPECT_EQ(counts[0].states, 1) << "no state change on a steady tick";

  counters_.SetCounter(ParkingStatusCounterPath(0, 0), 0);
  Collect();
  Tick();
  EXPECT_TRUE(IsCellActive(panel, panel.cells[0]));
  EXPECT_EQ(counts[0].states, 2);
  EXPECT_EQ(counts[0].lastState, static_cast<WPARAM>(PBST_NORMAL));
  EXPECT_EQ(TipText(panel, 0), L"Node 0, Logical CPU 0");
  EXPECT_EQ(counts[1].states, 0) << "a processor with no parking reading stays normal";
}

TEST_F(GraphWindowTest, ECoresAreMarkedInTheirTooltipAndInTheClassMeans) {
  Machine({0x3F}, 0x30);
  Create();
  NodePanel& panel = *graph_.panels[0];
  EXPECT_FALSE(IsCellEfficient(panel, panel.cells[3]));
  EXPECT_TRUE(IsCellEfficient(panel, panel.cells[5]));
  EXPECT_FALSE(IsCellEfficient(panel, graph_.graphWindow)) << "not a cell";
  EXPECT_EQ(TipText(panel, 3), L"Node 0, Logical CPU 3");
  EXPECT_EQ(TipText(panel, 5), L"Node 0, Logical CPU 5\nEfficient");

  for (uint32_t k = 0; k < 6; ++k) counters_.SetCounter(UtilityCounterPath(0, k), k < 4 ? 40 + k : 10 * k);
  counters_.SetCounter(UtilityCounterPath(0, 1), std::nullopt);
  counters_.SetCounter(ParkingStatusCounterPath(0, 5), 0);
  StartAndCollect();
  const CoreClassMean p = CoreClassMeanUsage(graph_, false);
  EXPECT_EQ(p.count, 3u) << "a processor without a reading is left out";
  EXPECT_DOUBLE_EQ(p.mean, (40.0 + 42.0 + 43.0) / 3);
  EXPECT_DOUBLE_EQ(CoreClassMeanUsage(graph_, true).mean, 45.0);

  counters_.SetCounter(ParkingStatusCounterPath(0, 5), 2);
  counters_.SetCounter(UtilityCounterPath(0, 5), 0);
  Collect();
  Tick();
  EXPECT_EQ(TipText(panel, 5), L"Node 0, Logical CPU 5\nEfficient\nParked");
}

// Node 1 lies in processor group 1, where number 1 is an E-core; number 1 of
// group 0 is a P-core.
TEST_F(GraphWindowTest, ECoresOutsideGroupZeroAreMarkedByTheirOwnGroup) {
  topology_.relationshipReport = RelationshipReport()
                                     .Core(1, 0x3)
                                     .Core(1, 0x1, 1)
                                     .Core(0, 0x2, 1)
                                     .Node(0, {Affinity(0x3)}, 1)
                                     .Node(1, {Affinity(0x3, 1)}, 1)
                                     .Groups()
                                     .Bytes();
  topology_.highestNumaNode = 1;
  graph_.coreMap = CoreMap(topology_);
  Create();
  ASSERT_EQ(graph_.panels.size(), 2u);
  NodePanel& groupZero = *graph_.panels[0];
  NodePanel& groupOne = *graph_.panels[1];
  EXPECT_FALSE(IsCellEfficient(groupZero, groupZero.cells[1]));
  EXPECT_FALSE(IsCellEfficient(groupOne, groupOne.cells[0]));
  EXPECT_TRUE(IsCellEfficient(groupOne, groupOne.cells[1]));
  EXPECT_EQ(TipText(groupOne, 1), L"Node 1, Logical CPU 1\nEfficient");
}

TEST_F(GraphWindowTest, CellTextRequestsOutsideThePanelsChangeNothing) {
  Machine({0x3, 0xC});
  const HWND graph = Create();
  NodePanel& panel = *graph_.panels[1];
  CellTextRequest request{1, 1, 0, L"renamed"};
  EXPECT_EQ(SetCellText(graph, request), 0);
  EXPECT_EQ(TipText(panel, 1), L"renamed");
  for (const CellTextRequest& outside : {CellTextRequest{2, 0, 0, L"x"}, CellTextRequest{1, 2, 0, L"x"}}) {
    EXPECT_EQ(SetCellText(graph, outside), 0);
  }
  EXPECT_EQ(TipText(panel, 0), L"Node 1, Logical CPU 0");
  EXPECT_EQ(TipText(graph_.panels[0].operator*(), 1), L"Node 0, Logical CPU 1");
  EXPECT_EQ(::SendMessageW(graph, WMG_SET_CELL_TEXT, 0, 0), 1) << "no request";
  request = {1, 1, 0, nullptr};
  SetCellText(graph, request);
  EXPECT_EQ(TipText(panel, 1), L"");

  EXPECT_EQ(::SendMessageW(graph, WMG_START_SAMPLING, 0, 0), 0);
  EXPECT_NE(graph_.sampler, nullptr);
  EXPECT_EQ(::SendMessageW(graph, WMG_STOP_SAMPLING, 0, 0), 0);
  EXPECT_EQ(graph_.sampler, nullptr);
}

// The request is a pointer, which Windows does not marshal: another thread
// (as another process would) or a posted message could make the graph read
// any address of this process. Only SetCellText on the window's thread counts.
TEST_F(GraphWindowTest, ACellTextRequestSentFromAnotherThreadPostedOrSentByHandIsIgnored) {
  Machine({0x3});
  const HWND graph = Create();
  NodePanel& panel = *graph_.panels[0];
  const CellTextRequest request{0, 1, 0, L"planted"};
  const auto lParam = reinterpret_cast<LPARAM>(&request);

  std::atomic<bool> sent{false};
  std::atomic<LRESULT> otherResult{0};
  std::thread other([&] {
    otherResult = ::SendMessageW(graph, WMG_SET_CELL_TEXT, 0, lParam);
    sent = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!sent && std::chrono::steady_clock::now() < deadline) {
    PumpMessages();  // a send from another thread is taken here
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
  }
  other.join();
  EXPECT_EQ(otherResult, 1);
  EXPECT_EQ(TipText(panel, 1), L"Node 0, Logical CPU 1") << "sent from another thread";

  ASSERT_TRUE(::PostMessageW(graph, WMG_SET_CELL_TEXT, 0, lParam));
  PumpMessages();
  EXPECT_EQ(TipText(panel, 1), L"Node 0, Logical CPU 1") << "posted";

  EXPECT_EQ(::SendMessageW(graph, WMG_SET_CELL_TEXT, 0, lParam), 1);
  EXPECT_EQ(TipText(panel, 1), L"Node 0, Logical CPU 1") << "sent by hand";
  EXPECT_EQ(SetCellText(graph, request), 0);
  EXPECT_EQ(TipText(panel, 1), L"planted");
}

TEST_F(GraphWindowTest, ClosingTheWindowClearsThePanelsAndANewOpeningStartsAfresh) {
  Machine({0x3});
  Create();
  StartAndCollect();
  ::DestroyWindow(parent_);
  EXPECT_TRUE(graph_.panels.empty());
  EXPECT_EQ(graph_.graphWindow, nullptr);
  UpdateGraph(graph_);  // a late tick finds nothing to touch
  StopGraph(graph_);
  EXPECT_EQ(graph_.sampler, nullptr);

  SetUp();
  Create();
  EXPECT_EQ(graph_.panels.size(), 1u);
}

TEST_F(GraphWindowTest, OpeningsPaintingAndRecolouringLeaveNoGdiObjectBehind) {
  Machine({0xFF}, 0xF0);
  const unique_hbitmap marker(::CreateBitmap(16, 16, 1, 32, nullptr));
  // One opening as the main window makes it: created, coloured, shown, painted, closed.
  auto openAndClose = [&](bool blendWithAnd) {
    ::ShowWindow(parent_, SW_SHOWNOACTIVATE);
    Create(400, 100);
    GraphColours colours;
    colours.bar = blendWithAnd ? RGB(10, 20, 30) : RGB(30, 20, 10);
    SetGraphColours(graph_, colours, MarkerLook{marker.get(), 0, 0, blendWithAnd});
    ShowGraph(graph_);
    ::UpdateWindow(parent_);
    ::RedrawWindow(parent_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (HWND cell : graph_.panels[0]->cells) PrintedCentre(cell);
    ::DestroyWindow(parent_);
    PumpMessages();
    SetUp();
  };
  // The first openings make what the graph keeps for the process: its brushes and font.
  openAndClose(false);
  openAndClose(true);
  const std::optional<size_t> kept = CountLiveGdiObjects(::GetCurrentProcess());
  ASSERT_TRUE(kept.has_value()) << "the GDI handle table cannot be read";
  for (int opening = 0; opening < 4; ++opening) openAndClose(opening % 2 == 0);
  EXPECT_EQ(CountLiveGdiObjects(::GetCurrentProcess()), kept);
}

TEST_F(GraphWindowTest, ColoursReachTheGraphWindowAndEveryPanelWithTheMarkersSize) {
  Machine({0x3, 0xC});
  const HWND graph = Create();
  unique_hbitmap marker(::CreateBitmap(16, 12, 1, 32, nullptr));
  GraphColours colours;
  colours.boxBackground = 0x123456;
  SetGraphColours(graph_, colours, MarkerLook{marker.get(), 0, 0, true});
  EXPECT_EQ(graph_.marker.width, 16);
  EXPECT_EQ(graph_.marker.height, 12);
  const auto classBrush = reinterpret_cast<HBRUSH>(::GetClassLongPtrW(graph, GCLP_HBRBACKGROUND));
  EXPECT_EQ(classBrush, graph_.boxBackgroundBrush.get());
  LOGBRUSH brush{};
  ::GetObjectW(classBrush, sizeof(brush), &brush);
  EXPECT_EQ(brush.lbColor, 0x123456u);
  for (const auto& panel : graph_.panels) {
    EXPECT_EQ(panel->brushes.boxBackground, classBrush);
    EXPECT_EQ(panel->brushes.bar, graph_.barBrush.get());
    EXPECT_EQ(panel->marker.bitmap, marker.get());
    EXPECT_EQ(panel->marker.height, 12);
    EXPECT_TRUE(panel->marker.blendWithAnd);
  }
  // Titles in the text colour on the box background, which the boxes fill themselves with.
  colours.text = RGB(1, 2, 3);
  SetGraphColours(graph_, colours, MarkerLook{marker.get(), 0, 0, true});
  Canvas canvas(8, 8);
  const LRESULT titleBrush = ::SendMessageW(graph, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(canvas.Dc()),
                                            reinterpret_cast<LPARAM>(graph_.panels[0]->groupBox));
  EXPECT_EQ(titleBrush, reinterpret_cast<LRESULT>(graph_.boxBackgroundBrush.get()));
  EXPECT_EQ(::GetTextColor(canvas.Dc()), RGB(1, 2, 3));
  EXPECT_EQ(::GetBkMode(canvas.Dc()), TRANSPARENT);
  EXPECT_EQ(::SendMessageW(graph_.panels[1]->groupBox, WM_ERASEBKGND, reinterpret_cast<WPARAM>(canvas.Dc()), 0), 1);
  EXPECT_EQ(canvas.At(4, 4), 0x123456u);

  const std::array<COLORREF, 8> palette = {1, 2, 3, 4, 5, 6, 7, 8};
  const GraphColours fromPalette = GraphColoursFromPalette(palette);
  EXPECT_EQ(fromPalette.text, 4u);
  EXPECT_EQ(fromPalette.bar, 6u);
  EXPECT_EQ(fromPalette.cellBackground, 7u);
  EXPECT_EQ(fromPalette.frame, 5u);
  EXPECT_EQ(fromPalette.boxBackground, 3u);
  EXPECT_EQ(fromPalette.parked, 8u);
}

// --- Pixels -------------------------------------------------------------------

class CellPaintingTest : public ::testing::Test {
 protected:
  GraphBrushes Brushes() { return {background_.get(), bar_.get(), frame_.get(), parked_.get(), nullptr}; }
  // A 16 x 16 24-bit marker: rows 0-3 `top`, rows 4-7 `middle`, the rest `bottom`.
  unique_hbitmap Marker(COLORREF top, COLORREF middle, COLORREF bottom) {
    unique_hbitmap marker(::CreateCompatibleBitmap(screen_.get(), 16, 16));
    unique_hdc dc(::CreateCompatibleDC(screen_.get()));
    select_object_scope selected(dc.get(), marker.get());
    const std::pair<RECT, COLORREF> bands[] = {{{0, 0, 16, 4}, top}, {{0, 4, 16, 8}, middle}, {{0, 8, 16, 16}, bottom}};
    for (const auto& [rect, colour] : bands) {
      unique_hbrush brush(::CreateSolidBrush(colour));
      ::FillRect(dc.get(), &rect, brush.get());
    }
    return marker;
  }

  window_dc screen_{nullptr};
  unique_hbrush background_{::CreateSolidBrush(kBackground)};
  unique_hbrush bar_{::CreateSolidBrush(kBar)};
  unique_hbrush frame_{::CreateSolidBrush(kFrame)};
  unique_hbrush parked_{::CreateSolidBrush(kParked)};
};

TEST_F(CellPaintingTest, TheBarGrowsFromTheBottomInsideTheFrame) {
  struct Case {
    int position;
    int firstBarRow;  // 42 when there is no bar
  } cases[] = {{50, 22}, {100, 2}, {0, 42}, {1, 42}, {3, 41}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    Canvas canvas(20, 42);
    PaintCell(canvas.Dc(), 20, 42, CellView{false, c.position, 0, 100, false}, Brushes(), MarkerLook{});
    EXPECT_EQ(canvas.At(10, 0), kFrame) << "top frame line";
    EXPECT_EQ(canvas.At(0, 20), kFrame) << "left frame line";
    EXPECT_EQ(canvas.At(19, 41), kFrame) << "the bar leaves the side frame lines";
    EXPECT_EQ(canvas.At(10, 1), kBackground) << "one background line below the top frame";
    if (c.firstBarRow > 2 && c.firstBarRow < 42) {
      EXPECT_EQ(canvas.At(10, c.firstBarRow - 1), kBackground);
    }
    if (c.firstBarRow < 42) {
      EXPECT_EQ(canvas.At(1, c.firstBarRow), kBar);
      EXPECT_EQ(canvas.At(18, 41), kBar) << "the bar covers the bottom frame line";
    } else {
      EXPECT_EQ(canvas.At(10, 41), kFrame);
    }
  }
}

TEST_F(CellPaintingTest, AParkedCellShowsOnlyTheParkedFillAndTheFrame) {
  Canvas canvas(20, 42);
  PaintCell(canvas.Dc(), 20, 42, CellView{true, 80, 0, 100, false}, Brushes(), MarkerLook{});
  EXPECT_EQ(canvas.At(0, 0), kFrame);
  EXPECT_EQ(canvas.At(19, 41), kFrame);
  EXPECT_EQ(canvas.At(10, 1), kParked);
  EXPECT_EQ(canvas.At(10, 40), kParked) << "no bar whatever the position";
}

TEST_F(CellPaintingTest, TheLightMarkerDarkensTheCellAtItsCentredPlace) {
  const unique_hbitmap marker = Marker(RGB(255, 255, 255), RGB(0, 0, 255), RGB(255, 0, 0));
  Canvas canvas(20, 40);
  PaintCell(canvas.Dc(), 20, 40, CellView{false, 0, 0, 100, true}, Brushes(), MarkerLook{marker.get(), 16, 16, true});
  // The marker sits at x 2, y 12.
  EXPECT_EQ(canvas.At(2, 12), kBackground) << "white leaves the cell as it is";
  EXPECT_EQ(canvas.At(2, 16), RGB(0, 0, 220)) << "blue AND the background";
  EXPECT_EQ(canvas.At(17, 27), RGB(220, 0, 0));
  EXPECT_EQ(canvas.At(1, 16), kBackground) << "left of the marker";
  EXPECT_EQ(canvas.At(18, 27), kBackground) << "right of the marker";
  EXPECT_EQ(canvas.At(10, 28), kBackground) << "below the marker";
}

TEST_F(CellPaintingTest, TheDarkMarkerIsBlackAndWhiteTransparentAndStaysAsItWas) {
  const unique_hbitmap marker = Marker(RGB(0, 0, 0), RGB(255, 255, 255), RGB(1, 2, 35));
  Canvas canvas(20, 40);
  PaintCell(canvas.Dc(), 20, 40, CellView{false, 0, 0, 100, true}, Brushes(), MarkerLook{marker.get(), 16, 16, false});
  EXPECT_EQ(canvas.At(5, 13), kBackground) << "black is transparent";
  EXPECT_EQ(canvas.At(5, 17), kBackground) << "white is transparent";
  EXPECT_EQ(canvas.At(5, 22), RGB(221, 222, 255)) << "other colours are OR-ed on";

  // The shared bitmap itself keeps its white.
  unique_hdc dc(::CreateCompatibleDC(screen_.get()));
  select_object_scope selected(dc.get(), marker.get());
  EXPECT_EQ(::GetPixel(dc.get(), 5, 5), RGB(255, 255, 255));
}

TEST_F(CellPaintingTest, ACellTooNarrowForTheMarkerGetsACircleInTheFrameColour) {
  const unique_hbitmap marker = Marker(RGB(0, 0, 255), RGB(0, 0, 255), RGB(0, 0, 255));
  Canvas canvas(16, 40);
  PaintCell(canvas.Dc(), 16, 40, CellView{false, 0, 0, 100, true}, Brushes(), MarkerLook{marker.get(), 16, 16, true});
  // Diameter 8 at x 4, y 16.
  EXPECT_EQ(canvas.At(8, 20), kFrame) << "inside the circle";
  EXPECT_EQ(canvas.At(2, 20), kBackground) << "left of the circle";
  EXPECT_EQ(canvas.At(8, 14), kBackground) << "above the circle";
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 16; ++x) ASSERT_NE(canvas.At(x, y), RGB(0, 0, 255)) << "the bitmap is not drawn";
  }

  Canvas noMarker(20, 40);
  PaintCell(noMarker.Dc(), 20, 40, CellView{false, 0, 0, 100, true}, Brushes(), MarkerLook{});
  EXPECT_EQ(noMarker.At(10, 20), kBackground) << "without a bitmap no marker at all";
}

}  // namespace
}  // namespace tarnwick
