#include "ui/dialog_dpi.h"

#include <commctrl.h>

#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"
#include "platform/window_dpi.h"

namespace tarnwick {

namespace {

constexpr UINT_PTR kDialogDpiSubclassId = 0x0D91;
constexpr const wchar_t* kLayoutProperty = L"Tarnwick.DialogDpiLayout";
constexpr int kPointsPerInch = 72;

// Dialog base units: a dialog unit is a quarter of the first horizontally and
// an eighth of the second vertically.
struct BaseUnits {
  int x = 0;
  int y = 0;
};

// A control's place in dialog units, as its template gives it.
struct TemplateControl {
  HWND window = nullptr;
  RECT units{};               // left, top, width, height
  bool templateFont = false;  // it was given the dialog's font
};

struct DialogDpiLayout {
  LOGFONTW font{};
  int pointSize = 8;
  SIZE clientUnits{};
  SIZE clientPixels{};  // the template's client area at the current DPI
  std::vector<TemplateControl> controls;
  unique_hfont ownFont;  // the template's font at the last new DPI
};

// As the dialog manager measures a font: the mean width of the 52 letters
// (rounded) and the character height.
BaseUnits BaseUnitsOf(HWND dialog, HFONT font) noexcept {
  window_dc dc(dialog);
  if (!dc) return {};
  select_object_scope selected(dc.get(), font);
  TEXTMETRICW metrics{};
  SIZE letters{};
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  if (!::GetTextMetricsW(dc.get(), &metrics) ||
      !::GetTextExtentPoint32W(dc.get(), kLetters, static_cast<int>(std::size(kLetters) - 1), &letters)) {
    return {};
  }
  return {(letters.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
}

// The dialog manager places a control at MulDiv(units, base, 4 or 8): a
// base unit of 5 pixels or more (every font a dialog uses) maps the pixels
// back to exactly the template's units.
RECT UnitsOf(const RECT& pixels, BaseUnits base) noexcept {
  return {::MulDiv(pixels.left, 4, base.x), ::MulDiv(pixels.top, 8, base.y),
          ::MulDiv(pixels.right - pixels.left, 4, base.x), ::MulDiv(pixels.bottom - pixels.top, 8, base.y)};
}

RECT PixelsOf(const RECT& units, BaseUnits base) noexcept {
  const int left = ::MulDiv(units.left, base.x, 4);
  const int top = ::MulDiv(units.top, base.y, 8);
  return {left, top, left + ::MulDiv(units.right, base.x, 4), top + ::MulDiv(units.bottom, base.y, 8)};
}

DialogDpiLayout* LayoutOf(HWND dialog) noexcept {
  return static_cast<DialogDpiLayout*>(::GetPropW(dialog, kLayoutProperty));
}

LOGFONTW FontAtDpi(const DialogDpiLayout& layout, int dpi) noexcept {
  LOGFONTW font = layout.font;
  font.lfHeight = -::MulDiv(layout.pointSize, dpi, kPointsPerInch);
  return font;
}

// The template's controls at `dpi`, in the template's font at that DPI.
void LayOut(HWND dialog, DialogDpiLayout& layout, int dpi) noexcept {
  const LOGFONTW logical = FontAtDpi(layout, dpi);
  unique_hfont font(::CreateFontIndirectW(&logical));
  if (!font) return;
  const BaseUnits base = BaseUnitsOf(dialog, font.get());
  if (base.x <= 0 || base.y <= 0) return;
  for (const TemplateControl& control : layout.controls) {
    const RECT place = PixelsOf(control.units, base);
    ::SetWindowPos(control.window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (control.templateFont) {
      ::SendMessageW(control.window, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    }
  }
  layout.clientPixels = {::MulDiv(layout.clientUnits.cx, base.x, 4), ::MulDiv(layout.clientUnits.cy, base.y, 8)};
  // The former font is released only once no control uses it.
  layout.ownFont = std::move(font);
  ::InvalidateRect(dialog, nullptr, TRUE);
}

SIZE SizeAtDpi(HWND dialog, const DialogDpiLayout& layout, int dpi) noexcept {
  const LOGFONTW logical = FontAtDpi(layout, dpi);
  unique_hfont font(::CreateFontIndirectW(&logical));
  const BaseUnits base = font ? BaseUnitsOf(dialog, font.get()) : BaseUnits{};
  if (base.x <= 0 || base.y <= 0) return {};
  RECT frame = {0, 0, ::MulDiv(layout.clientUnits.cx, base.x, 4), ::MulDiv(layout.clientUnits.cy, base.y, 8)};
  // As the dialog manager sizes a dialog from its template: the frame of its
  // style, without a menu bar (the template has none).
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE));
  const auto extendedStyle = static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE));
  if (!AdjustWindowRectForDpi(frame, style, false, extendedStyle, dpi)) return {};
  return {frame.right - frame.left, frame.bottom - frame.top};
}

LRESULT CALLBACK DialogDpiProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR reference) noexcept {
  auto* layout = reinterpret_cast<DialogDpiLayout*>(reference);
  switch (message) {
    case WM_GETDPISCALEDSIZE: {
      auto* size = reinterpret_cast<SIZE*>(lParam);
      const SIZE wanted = SizeAtDpi(dialog, *layout, LOWORD(wParam));
      if (size == nullptr || wanted.cx <= 0 || wanted.cy <= 0) break;
      *size = wanted;
      // The dialog procedure adds what it put around the template.
      ::DefSubclassProc(dialog, message, wParam, lParam);
      return TRUE;
    }
    case WM_DPICHANGED: {
      const int dpi = LOWORD(wParam);
      if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        ::SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      }
      if (dpi > 0) LayOut(dialog, *layout, dpi);
      // The dialog procedure lays out what it made itself.
      ::DefSubclassProc(dialog, message, wParam, lParam);
      return 0;
    }
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(dialog, DialogDpiProc, id);
      ::RemovePropW(dialog, kLayoutProperty);
      delete layout;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(dialog, message, wParam, lParam);
}

BOOL CALLBACK RecordControl(HWND control, LPARAM parameter) noexcept {
  auto& record = *reinterpret_cast<std::pair<HWND, DialogDpiLayout*>*>(parameter);
  if (::GetParent(control) != record.first) return TRUE;
  RECT place{};
  ::GetWindowRect(control, &place);
  ::MapWindowPoints(HWND_DESKTOP, record.first, reinterpret_cast<POINT*>(&place), 2);
  // Base units are kept in the units rectangle's place until all are read.
  TemplateControl entry;
  entry.window = control;
  entry.units = place;
  entry.templateFont = ::SendMessageW(control, WM_GETFONT, 0, 0) == ::SendMessageW(record.first, WM_GETFONT, 0, 0);
  record.second->controls.push_back(entry);
  return TRUE;
}

// Off where Windows has it (10, 1703 on): this file lays the dialog out.
void TurnOffDialogManagerScaling(HWND dialog) noexcept {
  using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
  static const auto setBehaviour = [] {
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<SetDialogDpiChangeBehaviorFn>(reinterpret_cast<void (*)()>(
                                   ::GetProcAddress(user32, "SetDialogDpiChangeBehavior")));
  }();
  constexpr int kDdcDisableAll = 1;  // DDC_DISABLE_ALL
  if (setBehaviour != nullptr) (void)setBehaviour(dialog, kDdcDisableAll, kDdcDisableAll);
}

}  // namespace

void EnableDialogDpiScaling(HWND dialog) noexcept {
  if (dialog == nullptr || LayoutOf(dialog) != nullptr) return;
  auto layout = std::make_unique<DialogDpiLayout>();
  const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
  if (dialogFont == nullptr || ::GetObjectW(dialogFont, sizeof(layout->font), &layout->font) == 0) return;
  const int dpi = WindowDpi(dialog);
  const int height = layout->font.lfHeight < 0 ? -layout->font.lfHeight : layout->font.lfHeight;
  layout->pointSize = ::MulDiv(height, kPointsPerInch, dpi);
  RECT unit = {0, 0, 4, 8};
  if (!::MapDialogRect(dialog, &unit) || unit.right < 1 || unit.bottom < 1) return;
  const BaseUnits base = {static_cast<int>(unit.right), static_cast<int>(unit.bottom)};
  RECT client{};
  ::GetClientRect(dialog, &client);
  const RECT clientUnits = UnitsOf(client, base);
  layout->clientUnits = {clientUnits.right, clientUnits.bottom};
  layout->clientPixels = {client.right, client.bottom};
  std::pair<HWND, DialogDpiLayout*> record(dialog, layout.get());
  ::EnumChildWindows(dialog, RecordControl, reinterpret_cast<LPARAM>(&record));
  for (TemplateControl& control : layout->controls) control.units = UnitsOf(control.units, base);
  if (!::SetPropW(dialog, kLayoutProperty, layout.get())) return;
  if (!::SetWindowSubclass(dialog, DialogDpiProc, kDialogDpiSubclassId, reinterpret_cast<DWORD_PTR>(layout.get()))) {
    ::RemovePropW(dialog, kLayoutProperty);
    return;
  }
  (void)layout.release();  // the subclass owns it now
  TurnOffDialogManagerScaling(dialog);
}

SIZE DialogTemplateClientSize(HWND dialog) noexcept {
  const DialogDpiLayout* layout = dialog != nullptr ? LayoutOf(dialog) : nullptr;
  return layout != nullptr ? layout->clientPixels : SIZE{};
}

}  // namespace tarnwick
