// The windows at the display scaling of the prefix this program runs in: the
// build registers it four times, at 96, 120, 144 and 192 DPI (100 % to 200 %;
// the launcher writes Wine's LogPixels before the start). In every dialog
// every label fits its control in the control's own font and no two controls
// overlap; the graph, the status bar, the fonts and the icons take the DPI's
// sizes; and a WM_DPICHANGED lays every dialog out for the new DPI and back
// again exactly as it opened.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "monitor/graph_geometry.h"
#include "monitor/graph_state.h"
#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"
#include "platform/window_dpi.h"
#include "res/resource.h"
#include "tests/support/window_tree.h"
#include "tests/unit/stand_in_tray.h"
#include "ui/dialog_dpi.h"
#include "ui/download_dialog.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/status_format.h"
#include "update/background_fetch.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;
constexpr UINT WMT_OPEN_DOWNLOAD_DIALOG = WM_APP + 1;

// The E-core marker drawn for each scaling this program runs at.
int DrawnMarkerSize(int dpi) {
  switch (dpi) {
    case 120:
      return 20;
    case 144:
      return 24;
    case 192:
      return 32;
    default:
      return 16;
  }
}

HWND WaitFor(const std::function<HWND()>& found) { return testing_support::WaitForWindow(found, kDeadline); }

bool WaitUntil(const std::function<bool()>& condition) {
  return WaitFor([&]() -> HWND { return condition() ? HWND_BOTTOM : nullptr; }) != nullptr;
}

// A download that runs until it is cancelled, as a silent server's does.
void RunHangingDownloadDialog() {
  BackgroundFetch fetch(
      [](FetchControl& control) -> std::optional<std::vector<std::byte>> {
        while (!control.Cancelled()) std::this_thread::sleep_for(5ms);
        return std::nullopt;
      },
      kVersionFileLimits);
  (void)RunDownloadDialog(nullptr, IDS_CHECKING_FOR_UPDATE, fetch);
}

std::atomic<DWORD> WindowThreadId{0};
std::atomic<int> OpeningsEnded{0};

LRESULT CALLBACK StandInTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WMU_OPEN_MAIN_WINDOW) {
    OpenMainWindow(ProgramMainWindowLinks());
    ++OpeningsEnded;
    return 0;
  }
  if (message == WMT_OPEN_DOWNLOAD_DIALOG) {
    RunHangingDownloadDialog();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// The windows live on the stand-in's thread (tests/unit/stand_in_tray.h).
HWND StandInTray() { return testing_support::StandInTrayWindow(StandInTrayProc, WindowThreadId, kDeadline); }

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return name;
}

bool IsClass(HWND window, const wchar_t* name) {
  return ::CompareStringOrdinal(ClassOf(window).c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

HWND FindDialog(DWORD thread, const wchar_t* caption) {
  struct Search {
    const wchar_t* caption;
    HWND found;
  } search{caption, nullptr};
  ::EnumThreadWindows(
      thread,
      [](HWND window, LPARAM parameter) noexcept -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        if (::IsWindowVisible(window) && ClassOf(window) == L"#32770" && TextOf(window) == s->caption) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int FontHeight(HFONT font) {
  LOGFONTW logical{};
  if (font == nullptr || ::GetObjectW(font, sizeof(logical), &logical) == 0) return 0;
  return std::abs(static_cast<int>(logical.lfHeight));
}

HFONT FontOf(HWND window) { return reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)); }

RECT ClientRectIn(HWND window, HWND top) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Where every window under `top` is, relative to its client area, and the
// height of its font: what a layout is.
struct Place {
  HWND window;
  RECT rect;
  int fontHeight;
  bool operator==(const Place& other) const {
    return window == other.window && ::EqualRect(&rect, &other.rect) && fontHeight == other.fontHeight;
  }
};

std::vector<Place> LayoutOf(HWND top) {
  std::vector<Place> places;
  for (HWND window : testing_support::DescendantsOf(top))
    places.push_back({window, ClientRectIn(window, top), FontHeight(FontOf(window))});
  return places;
}

std::string Describe(HWND control) {
  std::string text = "control " + std::to_string(::GetDlgCtrlID(control)) + " (";
  for (wchar_t c : ClassOf(control) + L" \"" + TextOf(control) + L"\"") text += static_cast<char>(c < 128 ? c : '?');
  return text + ")";
}

// The text extent in the control's own font, on one line or wrapped at the
// control's width.
SIZE TextExtent(HWND control, const std::wstring& text, bool wrap, int width) {
  window_dc dc(control);
  select_object_scope font(dc.get(), FontOf(control));
  RECT area{0, 0, width, 0};
  UINT flags = DT_CALCRECT | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : DT_SINGLELINE);
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &area, flags);
  return {area.right - area.left, area.bottom - area.top};
}

// Every visible static text, button, check box and group box title of
// `dialog` fits its control.
void ExpectLabelsFit(HWND dialog, int dpi) {
  for (HWND control = ::GetWindow(dialog, GW_CHILD); control != nullptr; control = ::GetWindow(control, GW_HWNDNEXT)) {
    const std::wstring text = TextOf(control);
    if (!::IsWindowVisible(control) || text.empty()) continue;
    RECT client{};
    ::GetClientRect(control, &client);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE));
    if (IsClass(control, L"Static")) {
      const DWORD kind = style & SS_TYPEMASK;
      const bool wraps = kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT;
      const SIZE extent = TextExtent(control, text, wraps, client.right);
      EXPECT_LE(extent.cx, client.right) << Describe(control) << " is too narrow for its text";
      EXPECT_LE(extent.cy, client.bottom) << Describe(control) << " is too low for its text";
    } else if (IsClass(control, L"Button")) {
      const DWORD kind = style & BS_TYPEMASK;
      const SIZE extent = TextExtent(control, text, false, 0);
      int room = client.right;
      if (kind == BS_GROUPBOX) {
        // The title sits between the frame's corners.
        room -= 2 * SystemMetricForDpi(SM_CXEDGE, dpi) + ScaleForDpi(8, dpi);
      } else if (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON ||
                 kind == BS_AUTORADIOBUTTON) {
        room -= SystemMetricForDpi(SM_CXMENUCHECK, dpi) + ScaleForDpi(4, dpi);
      } else {
        // Inside the push button's edges and focus rectangle.
        room -= 4 * SystemMetricForDpi(SM_CXEDGE, dpi);
        EXPECT_LE(extent.cy, client.bottom) << Describe(control) << " is too low for its text";
      }
      EXPECT_LE(extent.cx, room) << Describe(control) << " is too narrow for its text";
    }
  }
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

bool IsGroupBox(HWND window) {
  return IsClass(window, L"Button") &&
         (static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)) & BS_TYPEMASK) == BS_GROUPBOX;
}

// No two visible controls of `dialog` share a pixel, but for a control inside
// a group box; and every one lies inside the client area.
void ExpectNoOverlap(HWND dialog) {
  std::vector<HWND> controls;
  for (HWND control = ::GetWindow(dialog, GW_CHILD); control != nullptr; control = ::GetWindow(control, GW_HWNDNEXT)) {
    if (::IsWindowVisible(control)) controls.push_back(control);
  }
  RECT client{};
  ::GetClientRect(dialog, &client);
  for (size_t i = 0; i < controls.size(); ++i) {
    const RECT a = ClientRectIn(controls[i], dialog);
    EXPECT_TRUE(Contains(client, a)) << Describe(controls[i]) << " reaches out of the window";
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const RECT b = ClientRectIn(controls[j], dialog);
      RECT shared{};
      if (!::IntersectRect(&shared, &a, &b)) continue;
      const bool framed = (IsGroupBox(controls[i]) && Contains(a, b)) || (IsGroupBox(controls[j]) && Contains(b, a));
      EXPECT_TRUE(framed) << Describe(controls[i]) << " overlaps " << Describe(controls[j]);
    }
  }
}

SIZE FrameAt(HWND dialog, int dpi) {
  RECT frame{};
  AdjustWindowRectForDpi(frame, static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE)), false,
                         static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE)), dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// Moves `dialog` to a monitor of `dpi` as Windows would: the size it asks
// for at that DPI, at its place. Wine draws the frame at the system's DPI
// whatever the message says, so the client area gets what Windows would give
// it: the frame's difference is made up.
void SendDpiChanged(HWND dialog, int dpi, const RECT* place = nullptr) {
  RECT suggested{};
  if (place != nullptr) {
    suggested = *place;
  } else {
    ::GetWindowRect(dialog, &suggested);
    // The size the dialog asks for at that DPI, as Windows asks it before the move.
    SIZE size{};
    ::SendMessageW(dialog, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size));
    const SIZE drawn = FrameAt(dialog, WindowDpi(dialog));
    const SIZE asked = FrameAt(dialog, dpi);
    suggested.right = suggested.left + size.cx - asked.cx + drawn.cx;
    suggested.bottom = suggested.top + size.cy - asked.cy + drawn.cy;
  }
  ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

class DpiLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ListFilePath = std::wstring(folder) + L"tarnwick-dpi-layout-test.txt";
    ::DeleteFileW(ListFilePath.c_str());
    dpi_ = WindowDpi(nullptr);
    other_ = dpi_ == 192 ? 96 : 192;
  }

  void TearDown() override {
    for (HWND dialog : {FindDialog(WindowThreadId, L"Add New Entry"), FindDialog(WindowThreadId, L"About Tarnwick")}) {
      if (dialog != nullptr) ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    if (HWND main = MainWindowHandle.load()) {
      ::PostMessageW(main, WM_CLOSE, 0, 0);
      EXPECT_TRUE(WaitUntil([&] { return OpeningsEnded == openingsAsked_; })) << "the main window stayed open";
    }
    ::DeleteFileW(ListFilePath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
  }

  HWND OpenMain() {
    HWND tray = StandInTray();
    if (tray == nullptr) return nullptr;
    openingsAsked_ = OpeningsEnded + 1;
    ::PostMessageW(tray, WMU_OPEN_MAIN_WINDOW, 0, 0);
    return WaitFor([] { return FindDialog(WindowThreadId, L"Tarnwick"); });
  }

  // The template controls of a dialog scaled from one DPI to the other, and
  // their labels still fitting; then back, exactly as it opened.
  void ExpectDpiChangeAndBack(HWND dialog) {
    const std::vector<Place> opened = LayoutOf(dialog);
    RECT openedPlace{};
    ::GetWindowRect(dialog, &openedPlace);
    SIZE asked{openedPlace.right - openedPlace.left, openedPlace.bottom - openedPlace.top};
    ASSERT_TRUE(
        ::SendMessageW(dialog, WM_GETDPISCALEDSIZE, static_cast<WPARAM>(dpi_), reinterpret_cast<LPARAM>(&asked)));
    EXPECT_EQ(asked.cx, openedPlace.right - openedPlace.left) << "the size asked for at the opening DPI";
    EXPECT_EQ(asked.cy, openedPlace.bottom - openedPlace.top) << "the size asked for at the opening DPI";

    SendDpiChanged(dialog, other_);
    RECT moved{};
    ::GetWindowRect(dialog, &moved);
    const double ratio = static_cast<double>(other_) / dpi_;
    EXPECT_NEAR(moved.right - moved.left, (openedPlace.right - openedPlace.left) * ratio,
                0.15 * (openedPlace.right - openedPlace.left) * ratio)
        << "the window takes the suggested size";
    const std::vector<Place> scaled = LayoutOf(dialog);
    ASSERT_EQ(scaled.size(), opened.size());
    for (size_t i = 0; i < opened.size(); ++i) {
      if (!::IsWindowVisible(opened[i].window) || ::GetParent(opened[i].window) != dialog) continue;
      const int width = opened[i].rect.right - opened[i].rect.left;
      const int newWidth = scaled[i].rect.right - scaled[i].rect.left;
      EXPECT_NEAR(newWidth, width * ratio, 0.12 * width * ratio + 2) << Describe(opened[i].window) << " width";
      EXPECT_NEAR(scaled[i].rect.top, opened[i].rect.top * ratio, 0.12 * opened[i].rect.top * ratio + 2)
          << Describe(opened[i].window) << " top";
      if (opened[i].fontHeight != 0) {
        EXPECT_NEAR(scaled[i].fontHeight, opened[i].fontHeight * ratio, 0.15 * opened[i].fontHeight * ratio + 1)
            << Describe(opened[i].window) << " font";
      }
    }
    ExpectLabelsFit(dialog, other_);
    ExpectNoOverlap(dialog);

    SendDpiChanged(dialog, dpi_, &openedPlace);
    EXPECT_EQ(LayoutOf(dialog), opened) << "back at the opening DPI, the dialog is laid out as it opened";
  }

  int dpi_ = kDefaultDpi;
  int other_ = 192;
  int openingsAsked_ = OpeningsEnded;
};

TEST_F(DpiLayoutTest, MainWindowLabelsFitNothingOverlapsAndTheGraphAndStatusBarTakeTheDpi) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr) << "the main window did not show";
  ExpectLabelsFit(main, dpi_);
  ExpectNoOverlap(main);

  // The graph: insets, rows and marker at this DPI.
  GraphState& graph = SharedGraphState();
  ASSERT_FALSE(graph.panels.empty());
  EXPECT_EQ(graph.dpi, dpi_);
  EXPECT_EQ(graph.marker.width, DrawnMarkerSize(dpi_)) << "the E-core marker drawn for this DPI";
  const NodePanel& panel = *graph.panels[0];
  ASSERT_FALSE(panel.cells.empty());
  RECT box{};
  ::GetClientRect(panel.groupBox, &box);
  const RECT cell = ClientRectIn(panel.cells[0], panel.groupBox);
  EXPECT_EQ(cell.top, ScaleForDpi(20, dpi_)) << "the first row sits under the panel's title";
  EXPECT_GE(cell.left, ScaleForDpi(10, dpi_));
  EXPECT_LT(cell.left, ScaleForDpi(10, dpi_) + static_cast<int>(panel.cells.size()));
  const int rows = panel.cells.size() > 1 && panel.cells.size() % 2 == 0 ? 2 : 1;
  const int reserve = ScaleForDpi(rows == 2 ? 32 : 30, dpi_);
  EXPECT_EQ(cell.bottom - cell.top, (box.bottom - reserve) / rows);
  EXPECT_EQ(FontHeight(graph.GraphFont.get()), [&] {
    NONCLIENTMETRICSW metrics{};
    return NonClientMetricsForDpi(dpi_, metrics) ? std::abs(static_cast<int>(metrics.lfCaptionFont.lfHeight)) : -1;
  }()) << "the panel titles in the caption font of this DPI";

  // The status bar: each part its text's width in the bar's font and the padding of this DPI.
  HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  ASSERT_NE(statusBar, nullptr);
  int edges[kStatusPartCount] = {};
  ASSERT_EQ(::SendMessageW(statusBar, SB_GETPARTS, kStatusPartCount, reinterpret_cast<LPARAM>(edges)),
            static_cast<LRESULT>(kStatusPartCount));
  int left = 0;
  for (size_t part = 0; part + 1 < kStatusPartCount; ++part) {
    wchar_t text[256] = {};
    ::SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
    const SIZE extent = TextExtent(statusBar, text, false, 0);
    EXPECT_EQ(edges[part] - left, extent.cx + ScaleForDpi(kStatusPartPadding, dpi_)) << "status part " << part;
    left = edges[part];
  }
  RECT bar{};
  ::GetClientRect(statusBar, &bar);
  EXPECT_GE(bar.bottom, FontHeight(FontOf(statusBar))) << "the status bar is as high as its font";

  ExpectDpiChangeAndBack(main);
}

TEST_F(DpiLayoutTest, AfterADpiChangeTheGraphStatusBarAndFontsAreThoseOfTheNewDpi) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr) << "the main window did not show";
  const int countFont = FontHeight(FontOf(::GetDlgItem(main, IDC_COUNT_LABEL)));
  SendDpiChanged(main, other_);
  GraphState& graph = SharedGraphState();
  EXPECT_EQ(graph.dpi, other_);
  EXPECT_EQ(graph.marker.width, DrawnMarkerSize(other_));
  ASSERT_FALSE(graph.panels.empty());
  const NodePanel& panel = *graph.panels[0];
  ASSERT_FALSE(panel.cells.empty());
  EXPECT_EQ(ClientRectIn(panel.cells[0], panel.groupBox).top, ScaleForDpi(20, other_));
  // The graph still covers the placeholder, which moved with the template.
  const RECT placeholder = ClientRectIn(::GetDlgItem(main, IDC_GRAPH_PLACEHOLDER), main);
  const RECT graphPlace = ClientRectIn(graph.graphWindow, main);
  EXPECT_TRUE(::EqualRect(&placeholder, &graphPlace)) << "the graph lies over its placeholder";
  NONCLIENTMETRICSW metrics{};
  ASSERT_TRUE(NonClientMetricsForDpi(other_, metrics));
  EXPECT_EQ(FontHeight(FontOf(::GetDlgItem(main, IDC_STATUS_BAR))),
            std::abs(static_cast<int>(metrics.lfStatusFont.lfHeight)));
  EXPECT_EQ(FontHeight(FontOf(::GetDlgItem(main, IDC_COUNT_LABEL))),
            2 * std::abs(static_cast<int>(metrics.lfCaptionFont.lfHeight)));
  EXPECT_NE(FontHeight(FontOf(::GetDlgItem(main, IDC_COUNT_LABEL))), countFont);
  // The status bar docks at the bottom of the new client area.
  RECT client{};
  ::GetClientRect(main, &client);
  EXPECT_EQ(ClientRectIn(::GetDlgItem(main, IDC_STATUS_BAR), main).bottom, client.bottom);
}

TEST_F(DpiLayoutTest, AddAndAboutDialogsFitAndFollowADpiChange) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr) << "the main window did not show";
  ::PostMessageW(::GetDlgItem(main, IDC_ADD), BM_CLICK, 0, 0);
  HWND add = WaitFor([] { return FindDialog(WindowThreadId, L"Add New Entry"); });
  ASSERT_NE(add, nullptr);
  ExpectLabelsFit(add, dpi_);
  ExpectNoOverlap(add);
  ExpectDpiChangeAndBack(add);
  ::PostMessageW(add, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(add); }));

  ::PostMessageW(main, WM_COMMAND, IDM_ABOUT, 0);
  HWND about = WaitFor([] { return FindDialog(WindowThreadId, L"About Tarnwick"); });
  ASSERT_NE(about, nullptr);
  ExpectLabelsFit(about, dpi_);
  ExpectNoOverlap(about);
  ExpectDpiChangeAndBack(about);
  ::PostMessageW(about, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(about); }));
}

TEST_F(DpiLayoutTest, DownloadDialogFitsAndFollowsADpiChange) {
  HWND tray = StandInTray();
  ASSERT_NE(tray, nullptr);
  ::PostMessageW(tray, WMT_OPEN_DOWNLOAD_DIALOG, 0, 0);
  HWND dialog = WaitFor([] { return FindDialog(WindowThreadId, L"Tarnwick"); });
  ASSERT_NE(dialog, nullptr) << "the download dialog did not show";
  ExpectLabelsFit(dialog, dpi_);
  ExpectNoOverlap(dialog);
  ExpectDpiChangeAndBack(dialog);
  ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
}

// The tray icon and the main window's icon at the sizes of every scaling.
TEST(DpiIcons, SmallAndBigIconsHaveTheSizesOfTheDpi) {
  struct Case {
    int dpi;
    int small;
    int big;
  };
  for (const Case& c : {Case{96, 16, 32}, Case{120, 20, 40}, Case{144, 24, 48}, Case{192, 32, 64}}) {
    for (const auto& [metric, size] : {std::pair{SM_CXSMICON, c.small}, std::pair{SM_CXICON, c.big}}) {
      unique_hicon icon = LoadIconForDpi(::GetModuleHandleW(nullptr), IDI_TARNWICK, metric, c.dpi);
      ASSERT_TRUE(icon) << "at " << c.dpi << " DPI";
      ICONINFO info{};
      ASSERT_TRUE(::GetIconInfo(icon.get(), &info));
      unique_hbitmap colour(info.hbmColor);
      unique_hbitmap mask(info.hbmMask);
      BITMAP bitmap{};
      ASSERT_NE(::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap), 0);
      EXPECT_EQ(bitmap.bmWidth, size) << "at " << c.dpi << " DPI";
      EXPECT_EQ(bitmap.bmHeight, size) << "at " << c.dpi << " DPI";
    }
  }
}

}  // namespace
}  // namespace tarnwick
