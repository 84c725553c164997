// How the graph's cells and group boxes look: the cells are progress bars
// whose painting is taken over whole (frame, background, bar from the bottom,
// parked fill, E-core marker), and the group boxes paint their background and
// compose the cells' tooltip texts.
#pragma once

#include <windows.h>

#include "monitor/graph_state.h"

namespace tarnwick {

// What one cell shows.
struct CellView {
  bool parked = false;
  int position = 0;
  int rangeLow = 0;
  int rangeHigh = 100;
  bool efficient = false;
};

// Paints a cell of width x height at the origin of `dc`, covering every pixel.
void PaintCell(HDC dc, int width, int height, const CellView& view, const GraphBrushes& brushes,
               const MarkerLook& marker) noexcept;

// Subclass procedures attached to every cell (id kCellSubclassId) and every
// group box (id kPanelBoxSubclassId), both with the NodePanel as reference data.
LRESULT CALLBACK CellProc(HWND cell, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR panel) noexcept;
LRESULT CALLBACK PanelBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR panel) noexcept;

}  // namespace tarnwick
