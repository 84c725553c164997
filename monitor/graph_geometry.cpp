#include "monitor/graph_geometry.h"

#include <algorithm>

namespace tarnwick {

namespace {

// Group-box insets: the cells start 10 pixels in from either side and 20
// below the top, under the title.
constexpr int kSideInset = 10;
constexpr int kTopInset = 20;
// Height taken by title and bottom edge: one row gets h - 30, two rows
// share h - 32 with a 2-pixel gap between them.
constexpr int kOneRowReserve = 30;
constexpr int kTwoRowReserve = 32;
constexpr int kRowGap = 2;
constexpr int kMinimumVisibleHeight = 6;
constexpr int kTipWrapWidth = 150;

}  // namespace

std::vector<PanelSlot> PanelSlots(std::span<const uint32_t> processorCounts, int graphWidth) {
  std::vector<PanelSlot> slots(processorCounts.size());
  const auto populated = static_cast<int>(
      std::count_if(processorCounts.begin(), processorCounts.end(), [](uint32_t count) { return count > 0; }));
  if (populated == 0) return slots;
  const int width = std::max(graphWidth, 0) / populated;
  int x = 0;
  for (size_t node = 0; node < processorCounts.size(); ++node) {
    if (processorCounts[node] == 0) continue;
    slots[node] = {x, width, true};
    x += width;
  }
  return slots;
}

bool RoomToShow(int left, int top, int width, int height, int dpi) noexcept {
  return left >= 0 && top >= 0 && width >= 1 && height >= ScaleForDpi(kMinimumVisibleHeight, dpi);
}

bool PanelBoxVisible(int x, int width, int height, int dpi) noexcept { return RoomToShow(x, 0, width, height, dpi); }

CellGrid CellGridFor(size_t cellCount, const RECT& client, int dpi) noexcept {
  CellGrid grid;
  grid.dpi = dpi;
  if (cellCount == 0) return grid;
  const int sideInset = ScaleForDpi(kSideInset, dpi);
  grid.rows = cellCount > 1 && cellCount % 2 == 0 ? 2 : 1;
  const int height = static_cast<int>(client.bottom - client.top);
  grid.rowHeight = std::max(
      0, grid.rows == 2 ? (height - ScaleForDpi(kTwoRowReserve, dpi)) / 2 : height - ScaleForDpi(kOneRowReserve, dpi));
  const int innerWidth = std::max(0, static_cast<int>((client.right - sideInset) - (client.left + sideInset)));
  grid.perRow = static_cast<int>(cellCount) / grid.rows;
  grid.cellWidth = innerWidth / grid.perRow;
  const int spare = innerWidth % grid.perRow;
  grid.left = static_cast<int>(client.left) + sideInset + spare / 2;
  grid.top = static_cast<int>(client.top) + ScaleForDpi(kTopInset, dpi);
  return grid;
}

CellPlacement PlaceCell(const CellGrid& grid, size_t k) noexcept {
  CellPlacement cell;
  const auto index = static_cast<int>(k);
  const bool secondRow = grid.rows == 2 && index >= grid.perRow;
  const int column = secondRow ? index - grid.perRow : index;
  cell.left = grid.left + column * grid.cellWidth;
  cell.top = secondRow ? grid.top + grid.rowHeight + ScaleForDpi(kRowGap, grid.dpi) : grid.top;
  cell.width = grid.cellWidth;
  cell.height = grid.rowHeight;
  cell.visible = RoomToShow(cell.left, cell.top, cell.width, cell.height, grid.dpi);
  return cell;
}

int BarFillHeight(int position, int low, int high, int cellHeight) noexcept {
  if (high <= low || cellHeight <= 2) return 0;
  const auto range = static_cast<uint32_t>(high - low);
  const auto offset = static_cast<uint32_t>(std::clamp(position, low, high) - low);
  const uint32_t percent = offset * 100u / range;
  const auto inner = static_cast<uint32_t>(cellHeight - 2);
  return static_cast<int>(percent * inner / 100u);
}

MarkerPlacement PlaceMarker(int cellWidth, int cellHeight, bool haveBitmap, int markerWidth,
                            int markerHeight) noexcept {
  MarkerPlacement marker;
  if (!haveBitmap) return marker;
  if (markerWidth > 0 && markerHeight > 0 && markerWidth < cellWidth && markerHeight < cellHeight) {
    marker = {MarkerPlacement::Kind::Bitmap, (cellWidth - markerWidth) / 2, (cellHeight - markerHeight) / 2,
              markerWidth, markerHeight};
    return marker;
  }
  const int diameter = cellWidth / 2;
  const int x = (cellWidth - diameter) / 2;
  const int y = (cellHeight - diameter) / 2;
  if (diameter > 0 && x >= 0 && y >= 0 && x + diameter <= cellWidth && y + diameter <= cellHeight) {
    marker = {MarkerPlacement::Kind::Circle, x, y, diameter, diameter};
  }
  return marker;
}

int MarkerSizeForDpi(int dpi) noexcept {
  const int wanted = ScaleForDpi(kMarkerSizes[0], dpi);
  int chosen = kMarkerSizes[0];
  for (const int size : kMarkerSizes) {
    if (size <= wanted) chosen = size;
  }
  return chosen;
}

int TipWrapWidth(int dpi) noexcept { return ScaleForDpi(kTipWrapWidth, dpi); }

std::wstring ComposeTipText(std::wstring_view base, bool efficient, bool parked, std::wstring_view efficientLabel,
                            std::wstring_view parkedLabel) {
  std::wstring added;
  auto addLine = [&](std::wstring_view label) {
    added += L'\n';
    added += label;
  };
  if (efficient) addLine(efficientLabel);
  if (parked) addLine(parkedLabel);
  constexpr size_t kRoom = kTipTextCapacity - 1;
  if (added.size() > kRoom) added.resize(kRoom);
  std::wstring text(base.substr(0, kRoom - added.size()));
  // An empty base takes no line of its own.
  if (text.empty() && !added.empty()) added.erase(0, 1);
  return text + added;
}

}  // namespace tarnwick
