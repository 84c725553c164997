// The graph's layout and painting arithmetic, as tables of cases.
#include "monitor/graph_geometry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnwick {

void PrintTo(const PanelSlot& slot, std::ostream* out) {
  *out << "{" << slot.x << ", " << slot.width << ", " << (slot.shown ? "shown" : "hidden") << "}";
}

namespace {

using ::testing::ElementsAre;

TEST(PanelSlots, ShareTheWidthAmongNodesWithProcessors) {
  const uint32_t one[] = {16};
  EXPECT_THAT(PanelSlots(one, 552), ElementsAre(PanelSlot{0, 552, true}));
  const uint32_t two[] = {8, 8};
  EXPECT_THAT(PanelSlots(two, 400), ElementsAre(PanelSlot{0, 200, true}, PanelSlot{200, 200, true}));
  const uint32_t gap[] = {4, 0, 4};
  EXPECT_THAT(PanelSlots(gap, 401),
              ElementsAre(PanelSlot{0, 200, true}, PanelSlot{0, 0, false}, PanelSlot{200, 200, true}));
  const uint32_t none[] = {0, 0};
  EXPECT_THAT(PanelSlots(none, 400), ElementsAre(PanelSlot{0, 0, false}, PanelSlot{0, 0, false}));
  EXPECT_THAT(PanelSlots({}, 400), ::testing::IsEmpty());
}

TEST(CellLayout, RowsColumnsAndPlacesFollowTheCellCountAndPanelSize) {
  struct Case {
    const char* name;
    size_t cells;
    RECT client;
    int rows, perRow, cellWidth, rowHeight;
    size_t probe;  // a cell whose place is checked
    int left, top;
    bool visible;
  } cases[] = {
      {"8 in 400 x 100: two rows of 4, second row", 8, {0, 0, 400, 100}, 2, 4, 95, 34, 5, 105, 56, true},
      {"8 in 400 x 100: first row", 8, {0, 0, 400, 100}, 2, 4, 95, 34, 3, 295, 20, true},
      {"6: two rows of 3", 6, {0, 0, 200, 100}, 2, 3, 60, 34, 3, 10, 56, true},
      {"7: one row of 7, spare pixels as margin", 7, {0, 0, 200, 100}, 1, 7, 25, 70, 6, 162, 20, true},
      {"2: two rows of 1", 2, {0, 0, 100, 100}, 2, 1, 80, 34, 1, 10, 56, true},
      {"1: one row", 1, {0, 0, 100, 100}, 1, 1, 80, 70, 0, 10, 20, true},
      {"one row too low to show", 7, {0, 0, 200, 35}, 1, 7, 25, 5, 0, 12, 20, false},
      {"one row just high enough", 7, {0, 0, 200, 36}, 1, 7, 25, 6, 0, 12, 20, true},
      {"two rows lower than 32: no row height, hidden", 8, {0, 0, 400, 20}, 2, 4, 95, 0, 4, 10, 22, false},
      {"two rows at 31", 8, {0, 0, 400, 31}, 2, 4, 95, 0, 0, 10, 20, false},
      {"narrower than the insets: no width, hidden", 4, {0, 0, 15, 100}, 2, 2, 0, 34, 0, 10, 20, false},
      {"client offset moves the cells", 1, {5, 7, 105, 107}, 1, 1, 80, 70, 0, 15, 27, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CellGrid grid = CellGridFor(c.cells, c.client);
    EXPECT_EQ(grid.rows, c.rows);
    EXPECT_EQ(grid.perRow, c.perRow);
    EXPECT_EQ(grid.cellWidth, c.cellWidth);
    EXPECT_EQ(grid.rowHeight, c.rowHeight);
    const CellPlacement place = PlaceCell(grid, c.probe);
    EXPECT_EQ(place.left, c.left);
    EXPECT_EQ(place.top, c.top);
    EXPECT_EQ(place.width, c.cellWidth);
    EXPECT_EQ(place.height, c.rowHeight);
    EXPECT_EQ(place.visible, c.visible);
  }
}

// The same panel at 125 %, 150 % and 200 %: insets, reserves, gap and the
// least height shown all grow with the DPI, so the cells keep their share.
TEST(CellLayout, InsetsRowsAndGapScaleWithTheDpi) {
  struct Case {
    int dpi;
    RECT client;
    int cellWidth, rowHeight;
    int secondRowLeft, secondRowTop;  // cell 5 of 8
  } cases[] = {
      {96, {0, 0, 400, 100}, 95, 34, 105, 56},
      {120, {0, 0, 500, 125}, 118, 42, 13 + 1 + 118, 25 + 42 + 3},
      {144, {0, 0, 600, 150}, 142, 51, 15 + 1 + 142, 30 + 51 + 3},
      {192, {0, 0, 800, 200}, 190, 68, 20 + 190, 40 + 68 + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const CellGrid grid = CellGridFor(8, c.client, c.dpi);
    EXPECT_EQ(grid.cellWidth, c.cellWidth);
    EXPECT_EQ(grid.rowHeight, c.rowHeight);
    EXPECT_EQ(grid.top, ScaleForDpi(20, c.dpi));
    const CellPlacement place = PlaceCell(grid, 5);
    EXPECT_EQ(place.left, c.secondRowLeft);
    EXPECT_EQ(place.top, c.secondRowTop);
    // One row is shown from 6 pixels (scaled) below the title and bottom edge.
    const int lowest = ScaleForDpi(30, c.dpi) + ScaleForDpi(6, c.dpi);
    EXPECT_TRUE(PlaceCell(CellGridFor(7, {0, 0, 400, lowest}, c.dpi), 0).visible);
    EXPECT_FALSE(PlaceCell(CellGridFor(7, {0, 0, 400, lowest - 1}, c.dpi), 0).visible);
  }
  EXPECT_TRUE(PanelBoxVisible(0, 1, 12, 192));
  EXPECT_FALSE(PanelBoxVisible(0, 1, 11, 192));
}

TEST(MarkerSize, TheLargestDrawnSizeNotAboveSixteenPixelsScaled) {
  const std::pair<int, int> cases[] = {{72, 16},  {96, 16},  {110, 16}, {120, 20}, {144, 24},
                                       {168, 24}, {192, 32}, {240, 32}, {288, 32}};
  for (const auto& [dpi, size] : cases) EXPECT_EQ(MarkerSizeForDpi(dpi), size) << dpi << " DPI";
  EXPECT_EQ(TipWrapWidth(96), 150);
  EXPECT_EQ(TipWrapWidth(192), 300);
}

TEST(ScaleForDpi, RoundsToTheNearestPixel) {
  EXPECT_EQ(ScaleForDpi(20, 96), 20);
  EXPECT_EQ(ScaleForDpi(2, 120), 3);    // 2.5
  EXPECT_EQ(ScaleForDpi(10, 120), 13);  // 12.5
  EXPECT_EQ(ScaleForDpi(30, 144), 45);
  EXPECT_EQ(ScaleForDpi(-3, 192), -6);
}

TEST(PanelBoxVisible, NeedsAPlaceAndOneBySixPixels) {
  EXPECT_TRUE(PanelBoxVisible(0, 1, 6));
  EXPECT_FALSE(PanelBoxVisible(0, 1, 5));
  EXPECT_FALSE(PanelBoxVisible(0, 0, 100));
  EXPECT_FALSE(PanelBoxVisible(-1, 100, 100));
}

TEST(BarFillHeight, IsThePercentOfTheInnerHeight) {
  struct Case {
    int position, low, high, height, fill;
  } cases[] = {
      {50, 0, 100, 42, 20},                         // inner 40
      {100, 0, 100, 42, 40},                        // reaches top + 2
      {0, 0, 100, 42, 0},    {33, 0, 100, 42, 13},  // 33 * 40 / 100 truncates
      {5, 0, 10, 42, 20},                           // another range
      {150, 0, 100, 42, 40},                        // out of range: held to it
      {50, 100, 100, 42, 0},                        // empty range
      {50, 100, 0, 42, 0},                          // reversed range
      {50, 0, 100, 2, 0},                           // no inner height
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BarFillHeight(c.position, c.low, c.high, c.height), c.fill)
        << c.position << " of " << c.low << ".." << c.high << " in " << c.height;
  }
}

TEST(PlaceMarker, CentresTheBitmapOrFallsBackToACircle) {
  using Kind = MarkerPlacement::Kind;
  struct Case {
    const char* name;
    int width, height;
    bool bitmap;
    int markerWidth, markerHeight;
    Kind kind;
    int x, y, size;
  } cases[] = {
      {"16 x 16 in 20 x 40", 20, 40, true, 16, 16, Kind::Bitmap, 2, 12, 16},
      {"in a 16-pixel-wide cell a circle of 8", 16, 40, true, 16, 16, Kind::Circle, 4, 16, 8},
      {"odd spare pixels truncate", 21, 41, true, 16, 16, Kind::Bitmap, 2, 12, 16},
      {"a marker as high as the cell", 40, 30, true, 16, 30, Kind::Circle, 10, 5, 20},
      {"a circle that does not fit", 40, 10, true, 16, 16, Kind::None, 0, 0, 0},
      {"an empty bitmap size", 40, 40, true, 0, 0, Kind::Circle, 10, 10, 20},
      {"no bitmap: no marker at all", 40, 40, false, 16, 16, Kind::None, 0, 0, 0},
      {"a cell 1 pixel wide", 1, 40, true, 16, 16, Kind::None, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MarkerPlacement place = PlaceMarker(c.width, c.height, c.bitmap, c.markerWidth, c.markerHeight);
    EXPECT_EQ(place.kind, c.kind);
    if (c.kind == Kind::None) continue;
    EXPECT_EQ(place.x, c.x);
    EXPECT_EQ(place.y, c.y);
    EXPECT_EQ(place.width, c.size);
  }
}

TEST(ComposeTipText, AddsEfficientAndParkedLinesAndCutsTheBaseToFit) {
  const std::wstring base = L"Node 0, Logical CPU 5";
  EXPECT_EQ(ComposeTipText(base, false, false, L"Efficient", L"Parked"), base);
  EXPECT_EQ(ComposeTipText(base, false, true, L"Efficient", L"Parked"), base + L"\nParked");
  EXPECT_EQ(ComposeTipText(base, true, true, L"Efficient", L"Parked"), base + L"\nEfficient\nParked");
  EXPECT_EQ(ComposeTipText(L"", true, true, L"Efficient", L"Parked"), L"Efficient\nParked");
  EXPECT_EQ(ComposeTipText(L"", false, false, L"Efficient", L"Parked"), L"");

  const std::wstring longBase(100, L'x');
  EXPECT_EQ(ComposeTipText(longBase, false, false, L"Efficient", L"Parked"), std::wstring(79, L'x'));
  const std::wstring cut = ComposeTipText(longBase, true, true, L"Efficient", L"Parked");
  EXPECT_EQ(cut.size(), 79u);
  EXPECT_EQ(cut, std::wstring(79 - 17, L'x') + L"\nEfficient\nParked") << "the added lines always show";
  EXPECT_LE(ComposeTipText(L"a", false, true, L"", std::wstring(200, L'p')).size(), 79u);
}

}  // namespace
}  // namespace tarnwick
