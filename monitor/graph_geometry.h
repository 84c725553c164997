// The arithmetic of the core utilization graph, apart from any window: how
// the graph's width is shared among the node panels, how a panel's cells are
// laid out in one or two rows, how much of a cell its bar fills, where the
// E-core marker goes, and what a cell's tooltip reads.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_dpi.h"

namespace tarnwick {

// Every length below is given at 96 DPI and scaled to the graph's DPI.

// A panel's place in the graph: panels sit side by side at y = 0.
struct PanelSlot {
  int x = 0;
  int width = 0;
  bool shown = false;  // false: the node has no processor and takes no width
  bool operator==(const PanelSlot&) const = default;
};

// The graph's width shared equally among the nodes that have processors, in
// node order. With no such node every panel is hidden and nothing is divided.
[[nodiscard]] std::vector<PanelSlot> PanelSlots(std::span<const uint32_t> processorCounts, int graphWidth);

// A group box or cell is shown only where the layout gave it a place inside
// its parent and at least 1 x 6 pixels (at 96 DPI).
[[nodiscard]] bool RoomToShow(int left, int top, int width, int height, int dpi = kDefaultDpi) noexcept;
// The same for a group box, which always sits at the top of the graph.
[[nodiscard]] bool PanelBoxVisible(int x, int width, int height, int dpi = kDefaultDpi) noexcept;

// How a panel's cells are arranged in its client rectangle.
struct CellGrid {
  int rows = 1;       // two when the cell count is even and above 1
  int perRow = 0;     // cells in each row
  int cellWidth = 0;  // never negative
  int rowHeight = 0;  // never negative: a panel too low for its rows gets 0 and hides its cells
  int left = 0;       // left edge of the first cell of a row, with the spare pixels' half as margin
  int top = 0;        // top of the first row
  int dpi = kDefaultDpi;
};
// Insets, reserves and the gap between rows scale with `dpi`.
[[nodiscard]] CellGrid CellGridFor(size_t cellCount, const RECT& client, int dpi = kDefaultDpi) noexcept;

struct CellPlacement {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool visible = false;  // inside the box and at least 1 x 6 pixels
};
[[nodiscard]] CellPlacement PlaceCell(const CellGrid& grid, size_t k) noexcept;

// Pixels of a cell's inner height (its height less the two frame lines) that
// its bar fills at `position` of the range low..high; 0 for an empty range.
[[nodiscard]] int BarFillHeight(int position, int low, int high, int cellHeight) noexcept;

// Where the E-core marker goes in a cell of width x height.
struct MarkerPlacement {
  enum class Kind { None, Bitmap, Circle } kind = Kind::None;
  int x = 0;
  int y = 0;
  int width = 0;  // the bitmap's size, or the circle's diameter
  int height = 0;
};
// The bitmap centred when it is smaller than the cell both ways; else a
// circle of half the cell's width, centred, when it fits; else nothing.
// Without a bitmap there is no marker at all.
[[nodiscard]] MarkerPlacement PlaceMarker(int cellWidth, int cellHeight, bool haveBitmap, int markerWidth,
                                          int markerHeight) noexcept;

// The E-core marker bitmaps come in these sizes (square, in pixels); the
// first is the one drawn at 96 DPI.
inline constexpr int kMarkerSizes[] = {16, 20, 24, 32};
// The marker for `dpi`: the largest size not above 16 pixels scaled to it,
// so the badge never outgrows the cells it was drawn for; 16 below 96 DPI.
[[nodiscard]] int MarkerSizeForDpi(int dpi) noexcept;

// The width at which a cell's tooltip wraps its lines.
[[nodiscard]] int TipWrapWidth(int dpi) noexcept;

// A tooltip text holds at most this many characters besides its terminator.
inline constexpr size_t kTipTextCapacity = 80;
// The base text, then an "efficient" line for an E-core and a "parked" line
// for a parked cell. Longer than the tooltip holds, the base text is cut so
// that the added lines always show.
[[nodiscard]] std::wstring ComposeTipText(std::wstring_view base, bool efficient, bool parked,
                                          std::wstring_view efficientLabel, std::wstring_view parkedLabel);

}  // namespace tarnwick
