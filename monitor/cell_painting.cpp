#include "monitor/cell_painting.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "monitor/graph_geometry.h"
#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"

namespace tarnwick {

namespace {

void DrawMarkerBitmap(HDC dc, const MarkerPlacement& place, const MarkerLook& marker) noexcept {
  unique_hdc markerDc(::CreateCompatibleDC(dc));
  if (!markerDc) return;
  select_object_scope markerSelected(markerDc.get(), marker.bitmap);
  if (marker.blendWithAnd) {
    // White pixels leave the cell as it is, darker ones darken it.
    ::BitBlt(dc, place.x, place.y, place.width, place.height, markerDc.get(), 0, 0, SRCAND);
    return;
  }
  // Black and white pixels leave the cell as it is; the others are OR-ed on.
  // Worked on a copy, so that the shared marker bitmap is never changed.
  unique_hdc copyDc(::CreateCompatibleDC(dc));
  unique_hbitmap copy(::CreateCompatibleBitmap(dc, place.width, place.height));
  unique_hdc maskDc(::CreateCompatibleDC(dc));
  unique_hbitmap mask(::CreateBitmap(place.width, place.height, 1, 1, nullptr));
  if (!copyDc || !copy || !maskDc || !mask) return;
  select_object_scope copySelected(copyDc.get(), copy.get());
  select_object_scope maskSelected(maskDc.get(), mask.get());
  ::BitBlt(copyDc.get(), 0, 0, place.width, place.height, markerDc.get(), 0, 0, SRCCOPY);
  // White becomes 1 in the mask, everything else 0; inverting the copy
  // through the mask turns its white pixels black.
  ::SetBkColor(copyDc.get(), 0xFFFFFF);
  ::BitBlt(maskDc.get(), 0, 0, place.width, place.height, copyDc.get(), 0, 0, SRCCOPY);
  ::SetTextColor(copyDc.get(), 0x000000);
  ::SetBkColor(copyDc.get(), 0xFFFFFF);
  ::BitBlt(copyDc.get(), 0, 0, place.width, place.height, maskDc.get(), 0, 0, SRCINVERT);
  ::BitBlt(dc, place.x, place.y, place.width, place.height, copyDc.get(), 0, 0, SRCPAINT);
}

void DrawMarker(HDC dc, int width, int height, const GraphBrushes& brushes, const MarkerLook& marker) noexcept {
  const MarkerPlacement place = PlaceMarker(width, height, marker.bitmap != nullptr, marker.width, marker.height);
  switch (place.kind) {
    case MarkerPlacement::Kind::None:
      return;
    case MarkerPlacement::Kind::Bitmap:
      DrawMarkerBitmap(dc, place, marker);
      return;
    case MarkerPlacement::Kind::Circle: {
      select_object_scope fill(dc, brushes.frame);
      ::Ellipse(dc, place.x, place.y, place.x + place.width, place.y + place.height);
      return;
    }
  }
}

NodePanel& PanelOf(DWORD_PTR reference) noexcept { return *reinterpret_cast<NodePanel*>(reference); }

// Paints the cell into `target` through a back buffer, from the bar's own
// range and position and the panel's record of its parked and E-core state.
LRESULT PaintCellWindow(HWND cell, NodePanel& panel, HDC target) noexcept {
  RECT client{};
  ::GetClientRect(cell, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (target == nullptr || width <= 0 || height <= 0) return 0;
  unique_hdc memory(::CreateCompatibleDC(target));
  unique_hbitmap buffer(::CreateCompatibleBitmap(target, width, height));
  if (!memory || !buffer) return 0;
  select_object_scope selected(memory.get(), buffer.get());

  CellView view;
  // The panel keeps the parked state itself: not every progress bar keeps
  // PBM_SETSTATE (Wine's ignores it).
  view.parked = !IsCellActive(panel, cell);
  PBRANGE range{};
  ::SendMessageW(cell, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range));
  view.rangeLow = range.iLow;
  view.rangeHigh = range.iHigh;
  view.position = static_cast<int>(::SendMessageW(cell, PBM_GETPOS, 0, 0));
  view.efficient = IsCellEfficient(panel, cell);
  PaintCell(memory.get(), width, height, view, panel.brushes, panel.marker);
  ::BitBlt(target, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
  return 0;
}

LRESULT OnTipText(NodePanel& panel, NMTTDISPINFOW& info) noexcept {
  ::SendMessageW(info.hdr.hwndFrom, TTM_SETMAXTIPWIDTH, 0, TipWrapWidth(panel.dpi));
  info.szText[0] = L'\0';
  const auto cell = reinterpret_cast<HWND>(info.hdr.idFrom);
  const auto base = panel.tipTexts.find(cell);
  if (base == panel.tipTexts.end()) return 0;
  const std::wstring text = ComposeTipText(base->second, IsCellEfficient(panel, cell), !IsCellActive(panel, cell),
                                           panel.efficientLabel, panel.parkedLabel);
  const size_t length = std::min(text.size(), std::size(info.szText) - 1);
  std::wmemcpy(info.szText, text.data(), length);
  info.szText[length] = L'\0';
  return 0;
}

}  // namespace

void PaintCell(HDC dc, int width, int height, const CellView& view, const GraphBrushes& brushes,
               const MarkerLook& marker) noexcept {
  const RECT client{0, 0, width, height};
  if (view.parked) {
    ::FillRect(dc, &client, brushes.parked);
    ::FrameRect(dc, &client, brushes.frame);
  } else {
    ::FillRect(dc, &client, brushes.cellBackground);
    ::FrameRect(dc, &client, brushes.frame);
    const int fill = BarFillHeight(view.position, view.rangeLow, view.rangeHigh, height);
    if (fill > 0 && width > 2) {
      // The bar grows from the bottom edge, over the bottom frame line.
      const RECT bar{1, height - fill, width - 1, height};
      ::FillRect(dc, &bar, brushes.bar);
    }
  }
  if (view.efficient) DrawMarker(dc, width, height, brushes, marker);
}

LRESULT CALLBACK CellProc(HWND cell, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                          DWORD_PTR panel) noexcept {
  switch (message) {
    case WM_PAINT: {
      paint_scope paint(cell);
      return PaintCellWindow(cell, PanelOf(panel), paint.get());
    }
    case WM_PRINTCLIENT:
      return PaintCellWindow(cell, PanelOf(panel), reinterpret_cast<HDC>(wParam));
    case WM_ERASEBKGND:
      return 0;  // painting covers every pixel
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(cell, CellProc, id);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(cell, message, wParam, lParam);
}

LRESULT CALLBACK PanelBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR panel) noexcept {
  switch (message) {
    case WM_ERASEBKGND: {
      HBRUSH background = PanelOf(panel).brushes.boxBackground;
      if (background == nullptr) break;
      RECT client{};
      ::GetClientRect(box, &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, background);
      return 1;
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header != nullptr && header->code == TTN_GETDISPINFOW) {
        return OnTipText(PanelOf(panel), *reinterpret_cast<NMTTDISPINFOW*>(lParam));
      }
      break;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(box, PanelBoxProc, id);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(box, message, wParam, lParam);
}

}  // namespace tarnwick
