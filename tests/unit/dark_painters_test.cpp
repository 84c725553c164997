// The dark menu bar and status bar painters, drawing into a memory device
// context under Wine with synthetic records (Wine never sends 0x0091 or
// 0x0092), and their pure rules: state numbers, text flags, rectangles.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/gdi_object_count.h"
#include "platform/gdi_scope.h"
#include "tests/unit/canvas.h"
#include "tests/unit/dark_mode_fixture.h"
#include "ui/dark_painters.h"

namespace tarnwick {
namespace {

constexpr COLORREF kUntouched = RGB(255, 0, 255);

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// --- Pure rules ---------------------------------------------------------------------

TEST(MenuBarRules, StateNumbersLaterTestsOverrideEarlierOnes) {
  const struct {
    UINT itemState;
    int state;
  } cases[] = {
      {0, 0},
      {ODS_INACTIVE, 1},
      {ODS_DEFAULT, 1},
      {ODS_HOTLIGHT, 2},
      {ODS_SELECTED, 2},
      {ODS_HOTLIGHT | ODS_INACTIVE, 2},
      {ODS_GRAYED, 3},
      {ODS_DISABLED, 3},
      {ODS_DISABLED | ODS_HOTLIGHT | ODS_SELECTED, 3},
      {ODS_NOACCEL | ODS_FOCUS, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(MenuBarItemState(c.itemState), c.state) << std::hex << c.itemState;
}

TEST(MenuBarRules, TextFlagsHideTheAccessKeyOnlyWhenAsked) {
  EXPECT_EQ(MenuBarItemTextFlags(0), 0x25u);
  EXPECT_EQ(MenuBarItemTextFlags(ODS_HOTLIGHT | ODS_SELECTED), 0x25u);
  EXPECT_EQ(MenuBarItemTextFlags(ODS_NOACCEL), 0x25u | DT_HIDEPREFIX);
}

TEST(MenuBarRules, BarRectangleInWindowCoordinatesOnePixelHigherAndTheLineBelowIt) {
  EXPECT_TRUE(SameRect(MenuBarPaintRect({110, 130, 410, 150}, {100, 100, 420, 400}), RECT{10, 29, 310, 50}));
  EXPECT_TRUE(SameRect(MenuBarBottomLine({110, 151, 410, 390}, {100, 100, 420, 400}), RECT{10, 50, 310, 51}));
  // At 200 % the system may leave more than one row under the bar: all are covered, and always the last.
  EXPECT_TRUE(SameRect(MenuBarBottomLine({110, 151, 410, 390}, {100, 100, 420, 400}, 149), RECT{10, 49, 310, 51}));
  EXPECT_TRUE(SameRect(MenuBarBottomLine({110, 151, 410, 390}, {100, 100, 420, 400}, 151), RECT{10, 50, 310, 51}));
}

TEST(StatusBarRules, PartStripsLeaveTheGapAndTheBorder) {
  const StatusPartStrips strips = StatusPartLayout({0, 2, 100, 22}, 2, 3);
  EXPECT_TRUE(SameRect(strips.text, RECT{2, 2, 97, 22}));
  EXPECT_TRUE(SameRect(strips.separator, RECT{97, 2, 100, 22}));
}

TEST(MenuBarRules, ItemColoursFromThePalette) {
  for (const int state : {0, 1}) {
    EXPECT_EQ(MenuBarItemColours(state, kDarkPalette).background, 0x383838u);
    EXPECT_EQ(MenuBarItemColours(state, kDarkPalette).text, 0xFFFFFFu);
  }
  EXPECT_EQ(MenuBarItemColours(2, kDarkPalette).background, 0x444444u);
  EXPECT_EQ(MenuBarItemColours(3, kDarkPalette).text, 0xACACACu);
}

// --- Painting -----------------------------------------------------------------------

// A picture of w x h pixels filled with kUntouched, so whatever a painter
// leaves alone shows.
class UntouchedCanvas : public Canvas {
 public:
  UntouchedCanvas(int width, int height) : Canvas(width, height) {
    unique_hbrush fill(::CreateSolidBrush(kUntouched));
    const RECT all = {0, 0, width, height};
    ::FillRect(Dc(), &all, fill.get());
  }
  [[nodiscard]] int Count(const RECT& area, COLORREF colour) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += At(x, y) == colour ? 1 : 0;
    }
    return count;
  }
};

// A window with a two-item menu bar, the painter installed, dark mode on.
class MenuBarPainterTest : public DarkModeFixture {
 protected:
  void SetUp() override {
    DarkModeFixture::SetUp();
    StartUp();
    ApplyPalette(true);
    menu_ = ::CreateMenu();
    ::AppendMenuW(menu_, MF_STRING, 1, L"&File");
    ::AppendMenuW(menu_, MF_STRING, 2, L"&Help");
    window_ = ::CreateWindowExW(0, L"STATIC", L"menu", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 300, 200, nullptr,
                                menu_, nullptr, nullptr);
    ASSERT_NE(window_, nullptr) << "error " << ::GetLastError();
    Fake().NameWindow(window_, "main");
    InstallMenuBarPainter(window_);
  }
  void TearDown() override {
    ::DestroyWindow(window_);  // the menu goes with it
    DarkModeFixture::TearDown();
  }

  LRESULT PaintItem(HDC dc, UINT itemState, const RECT& area, int position = 0) {
    MenuBarItemRecord record = {};
    record.item.itemState = itemState;
    record.item.rcItem = area;
    record.menu.menu = menu_;
    record.menu.dc = dc;
    record.place.position = position;
    return ::SendMessageW(window_, kMenuBarItemPaintMessage, 0, reinterpret_cast<LPARAM>(&record));
  }
  LRESULT PaintItem(UntouchedCanvas& canvas, UINT itemState, const RECT& area) {
    return PaintItem(canvas.Dc(), itemState, area);
  }
  LRESULT PaintBar(HDC dc) {
    MenuBarRecord record = {menu_, dc, 0};
    return ::SendMessageW(window_, kMenuBarPaintMessage, 0, reinterpret_cast<LPARAM>(&record));
  }
  RECT BarRect() {
    MENUBARINFO bar = {};
    bar.cbSize = sizeof(bar);
    EXPECT_TRUE(::GetMenuBarInfo(window_, OBJID_MENU, 0, &bar));
    RECT windowRect = {};
    ::GetWindowRect(window_, &windowRect);
    return MenuBarPaintRect(bar.rcBar, windowRect);
  }
  // The theme calls in the fake's log (only openings and closings unless
  // `drawing`), and a clean log.
  std::vector<std::string> TakeThemeCalls(bool drawing = true) {
    std::vector<std::string> calls;
    for (const std::string& call : Fake().Calls()) {
      if (call.rfind("OpenThemeData", 0) == 0 || call.rfind("CloseThemeData", 0) == 0 ||
          (drawing && call.rfind("DrawTheme", 0) == 0)) {
        calls.push_back(call);
      }
    }
    Fake().ClearCalls();
    return calls;
  }

  HMENU menu_ = nullptr;
  HWND window_ = nullptr;
};

std::string Corners(const RECT& area) {
  return std::to_string(area.left) + ',' + std::to_string(area.top) + ',' + std::to_string(area.right) + ',' +
         std::to_string(area.bottom);
}

TEST_F(MenuBarPainterTest, TheThemeDrawsTheBarAndEachItemInItsState) {
  Canvas canvas(300, 200);
  EXPECT_EQ(PaintBar(canvas.Dc()), 0);
  EXPECT_THAT(TakeThemeCalls(), testing::ElementsAre("OpenThemeData main \"Menu\" theme1",
                                                     "DrawThemeBackground theme1 14 1 " + Corners(BarRect())));

  const RECT area = {10, 10, 70, 34};
  const std::string at = Corners(area);
  const struct {
    UINT itemState;
    const char* state;
    const char* flags;
  } cases[] = {
      {0, "0", "0x25"},
      {ODS_INACTIVE, "1", "0x25"},
      {ODS_HOTLIGHT, "2", "0x25"},
      {ODS_SELECTED | ODS_DEFAULT, "2", "0x25"},
      {ODS_DISABLED | ODS_HOTLIGHT | ODS_SELECTED, "3", "0x25"},
      {ODS_GRAYED, "3", "0x25"},
      {ODS_NOACCEL, "0", "0x100025"},
      {ODS_NOACCEL | ODS_HOTLIGHT, "2", "0x100025"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.itemState);
    EXPECT_EQ(PaintItem(canvas.Dc(), c.itemState, area), 0);
    const std::string state = c.state;
    // Two expected lines a case.
    // NOLINTBEGIN(performance-inefficient-string-concatenation)
    EXPECT_THAT(TakeThemeCalls(),
                testing::ElementsAre("DrawThemeBackground theme1 14 " + state + " " + at,
                                     "DrawThemeText theme1 14 " + state + " \"&File\" 5 " + c.flags + " 0x0 " + at))
        << "drawn with the theme opened once";
    // NOLINTEND(performance-inefficient-string-concatenation)
  }
  PaintItem(canvas.Dc(), 0, area, 1);
  EXPECT_THAT(TakeThemeCalls(), testing::Contains("DrawThemeText theme1 14 0 \"&Help\" 5 0x25 0x0 " + at));
}

TEST_F(MenuBarPainterTest, TheThemeIsClosedAtEveryThemeChangeAndWithTheWindow) {
  Canvas canvas(300, 200);
  PaintBar(canvas.Dc());
  ::SendMessageW(window_, WM_THEMECHANGED, 0, 0);
  EXPECT_EQ(Fake().OpenThemes(), 0u);
  PaintItem(canvas.Dc(), 0, {10, 10, 70, 34});
  EXPECT_THAT(TakeThemeCalls(false), testing::ElementsAre("OpenThemeData main \"Menu\" theme1", "CloseThemeData theme1",
                                                          "OpenThemeData main \"Menu\" theme2"));

  // A change to light also drops it: the next dark paint opens the new theme.
  Fake().appsDark = false;
  ::SendMessageW(window_, WM_THEMECHANGED, 0, 0);
  EXPECT_THAT(TakeThemeCalls(), testing::ElementsAre("CloseThemeData theme2"));
  PaintBar(canvas.Dc());
  EXPECT_THAT(TakeThemeCalls(), testing::IsEmpty()) << "light: the system draws";

  Fake().appsDark = true;
  PaintBar(canvas.Dc());
  ASSERT_EQ(Fake().OpenThemes(), 1u);
  ::DestroyWindow(window_);
  window_ = nullptr;
  EXPECT_THAT(TakeThemeCalls(false),
              testing::ElementsAre("OpenThemeData main \"Menu\" theme3", "CloseThemeData theme3"));
  EXPECT_EQ(Fake().OpenThemes(), 0u) << "no theme outlives the window";
}

// Without a "Menu" theme the painter draws the bar in the palette's colours.
TEST_F(MenuBarPainterTest, WithoutAThemeTheBarIsFilledDarkWhereTheMenuBarIs) {
  Fake().themeDataAvailable = false;
  const RECT area = BarRect();
  UntouchedCanvas canvas(300, 200);
  EXPECT_EQ(PaintBar(canvas.Dc()), 0);
  EXPECT_EQ(canvas.At(area.left + 1, area.top), 0x383838u) << "the line above the bar too";
  EXPECT_EQ(canvas.At((area.left + area.right) / 2, area.bottom - 1), 0x383838u);
  EXPECT_EQ(canvas.At(area.left, area.bottom + 2), kUntouched) << "nothing below the bar";
  EXPECT_EQ(canvas.At(area.left, area.top - 2), kUntouched) << "nothing above it";
}

TEST_F(MenuBarPainterTest, WithoutAThemeItemsHotAndSelectedAreLighterDisabledOnesGrey) {
  Fake().themeDataAvailable = false;
  const RECT area = {10, 10, 70, 34};
  const struct {
    UINT itemState;
    COLORREF background;
    COLORREF text;
  } cases[] = {
      {0, 0x383838, 0xFFFFFF},
      {ODS_HOTLIGHT, 0x444444, 0xFFFFFF},
      {ODS_SELECTED, 0x444444, 0xFFFFFF},
      {ODS_INACTIVE, 0x383838, 0xFFFFFF},
      {ODS_GRAYED | ODS_HOTLIGHT, 0x383838, 0xACACAC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.itemState);
    UntouchedCanvas canvas(100, 50);
    EXPECT_EQ(PaintItem(canvas, c.itemState, area), 0);
    EXPECT_EQ(canvas.At(area.left, area.top), c.background);
    EXPECT_EQ(canvas.At(area.right - 1, area.bottom - 1), c.background);
    EXPECT_EQ(canvas.At(area.right, area.bottom), kUntouched) << "nothing outside the item";
    EXPECT_GT(canvas.Count(area, c.text), 0) << "the item's text";
    EXPECT_EQ(canvas.Count({0, 0, 100, 50}, c.text == 0xFFFFFFu ? 0xACACACu : 0xFFFFFFu), 0);
  }
}

// The default frame painting leaves a light line between the bar and the
// client area, which neither menu bar message covers.
TEST_F(MenuBarPainterTest, TheLineUnderTheBarTakesTheBarsBackgroundAfterEveryFramePainting) {
  RECT windowRect = {};
  RECT client = {};
  ::GetWindowRect(window_, &windowRect);
  ::GetClientRect(window_, &client);
  ::MapWindowPoints(window_, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  const RECT line = MenuBarBottomLine(client, windowRect);
  const auto overpaint = [&] {
    window_dc dc(window_, window_dc::whole_window);
    unique_hbrush magenta(::CreateSolidBrush(kUntouched));
    ::FillRect(dc.get(), &line, magenta.get());
  };
  const auto lineShows = [&](COLORREF colour) {
    return ShownAt(window_, line.left, line.top) == colour && ShownAt(window_, line.right - 1, line.top) == colour;
  };
  const auto framePainted = [&] {
    ::RedrawWindow(window_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  };

  Fake().themeDataAvailable = false;
  overpaint();
  ASSERT_TRUE(lineShows(kUntouched)) << "the window's pixels cannot be read back";
  framePainted();
  EXPECT_TRUE(lineShows(0x383838)) << "after WM_NCPAINT";
  overpaint();
  ::SendMessageW(window_, WM_NCACTIVATE, FALSE, 0);
  EXPECT_TRUE(lineShows(0x383838)) << "after WM_NCACTIVATE";

  // With a "Menu" theme the line is drawn as the bar is.
  Fake().themeDataAvailable = true;
  Fake().ClearCalls();
  framePainted();
  EXPECT_THAT(TakeThemeCalls(), testing::Contains("DrawThemeBackground theme1 14 1 " + Corners(line)));

  Fake().appsDark = false;
  InitDarkMode(Fake());
  overpaint();
  framePainted();
  EXPECT_FALSE(lineShows(0x383838)) << "light: the system's own line";
}

TEST_F(MenuBarPainterTest, WhileLightTheSystemDraws) {
  Fake().appsDark = false;
  InitDarkMode(Fake());
  UntouchedCanvas canvas(100, 50);
  PaintItem(canvas, ODS_HOTLIGHT, {10, 10, 70, 34});
  PaintBar(canvas.Dc());
  EXPECT_EQ(canvas.Count({0, 0, 100, 50}, kUntouched), 100 * 50) << "passed on, and Wine draws nothing for them";
  EXPECT_THAT(TakeThemeCalls(), testing::IsEmpty());
}

// A status bar of three parts with texts, dark mode on.
class StatusBarPainterTest : public DarkModeFixture {
 protected:
  void SetUp() override {
    DarkModeFixture::SetUp();
    StartUp();
    ApplyPalette(true);
    parent_ = ::CreateWindowExW(0, L"STATIC", L"status", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 200, nullptr,
                                nullptr, nullptr, nullptr);
    statusBar_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                                   parent_, nullptr, nullptr, nullptr);
    ASSERT_NE(statusBar_, nullptr) << "error " << ::GetLastError();
    const int edges[] = {120, 250, -1};
    ::SendMessageW(statusBar_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
    ::SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"MONITORING"));
    ::SendMessageW(statusBar_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"P-Core usage: 0.00%"));
    ::SendMessageW(statusBar_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"Matched"));
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    font_.reset(::CreateFontIndirectW(&metrics.lfCaptionFont));
  }
  void TearDown() override {
    ::DestroyWindow(parent_);
    DarkModeFixture::TearDown();
  }

  std::unique_ptr<StatusBarPaintData> DarkData() {
    auto data = std::make_unique<StatusBarPaintData>();
    data->background.reset(::CreateSolidBrush(0x383838));
    data->separator.reset(::CreateSolidBrush(0x444444));
    data->font = font_.get();
    data->text = 0xFFFFFF;
    return data;
  }

  RECT PartRect(int part) {
    RECT area = {};
    ::SendMessageW(statusBar_, SB_GETRECT, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(&area));
    return area;
  }

  HWND parent_ = nullptr;
  HWND statusBar_ = nullptr;
  unique_hfont font_;
};

TEST_F(StatusBarPainterTest, DarkBackgroundWhiteTextAndSeparatorsAtThePartsRightEdges) {
  InstallStatusBarPainter(statusBar_, DarkData());
  EXPECT_EQ(StatusBarPainterFont(statusBar_), font_.get());
  RECT client = {};
  ::GetClientRect(statusBar_, &client);
  UntouchedCanvas canvas(client.right, client.bottom);
  ::SendMessageW(statusBar_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
  int borders[3] = {};
  ::SendMessageW(statusBar_, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
  ASSERT_GT(borders[1], 0);
  for (int part = 0; part < 2; ++part) {
    SCOPED_TRACE(part);
    const RECT area = PartRect(part);
    const int middle = (area.top + area.bottom) / 2;
    EXPECT_EQ(canvas.At(area.right - 1, middle), 0x444444u) << "separator";
    EXPECT_EQ(canvas.At(area.right - borders[1], area.top), 0x444444u) << "separator, full height";
    EXPECT_EQ(canvas.At(area.right - borders[1] - 1, area.top), 0x383838u) << "background left of it";
    EXPECT_GT(canvas.Count(area, 0xFFFFFF), 0) << "text";
  }
  EXPECT_EQ(canvas.Count(client, kUntouched), 0) << "the whole bar is painted";
}

// Counts SB_GETTEXTW per part: the painter reads the text of the parts it draws.
LRESULT CALLBACK CountTextReads(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR reference) noexcept {
  auto* reads = reinterpret_cast<std::array<int, 3>*>(reference);
  if (message == SB_GETTEXTW && LOWORD(wParam) < reads->size()) ++(*reads)[LOWORD(wParam)];
  return ::DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(StatusBarPainterTest, APartialPaintDrawsThePartsItMeetsExactlyAsAWholePaintDoes) {
  InstallStatusBarPainter(statusBar_, DarkData());
  std::array<int, 3> reads = {};
  ASSERT_TRUE(::SetWindowSubclass(statusBar_, CountTextReads, 77, reinterpret_cast<DWORD_PTR>(&reads)));
  RECT client = {};
  ::GetClientRect(statusBar_, &client);
  const auto shown = [&] {
    auto picture = std::make_unique<UntouchedCanvas>(client.right, client.bottom);
    window_dc dc(statusBar_);
    ::BitBlt(picture->Dc(), 0, 0, client.right, client.bottom, dc.get(), 0, 0, SRCCOPY);
    return picture;
  };
  ::RedrawWindow(statusBar_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  const auto whole = shown();
  ASSERT_GT(whole->Count(client, 0x383838), 0) << "the window's pixels cannot be read back";
  {
    window_dc dc(statusBar_);
    unique_hbrush magenta(::CreateSolidBrush(kUntouched));
    ::FillRect(dc.get(), &client, magenta.get());
  }

  // From the middle of part 1's text to its separator.
  const RECT part = PartRect(1);
  const RECT area = {(part.left + part.right) / 2 - 20, client.top, part.right, client.bottom};
  reads = {};
  ::InvalidateRect(statusBar_, &area, TRUE);
  ::UpdateWindow(statusBar_);
  const auto partial = shown();
  EXPECT_THAT(reads, testing::ElementsAre(0, 1, 0)) << "parts outside the paint rectangle are not drawn";
  int differing = 0;
  for (int y = client.top; y < client.bottom; ++y) {
    for (int x = client.left; x < client.right; ++x) {
      const POINT at = {x, y};
      const COLORREF expected = ::PtInRect(&area, at) ? whole->At(x, y) : kUntouched;
      differing += partial->At(x, y) == expected ? 0 : 1;
    }
  }
  EXPECT_EQ(differing, 0) << "inside: as the whole paint drew it; outside: untouched";
  ::RemoveWindowSubclass(statusBar_, CountTextReads, 77);
}

TEST_F(StatusBarPainterTest, RemovedOrLightTheSystemDrawsAgain) {
  InstallStatusBarPainter(statusBar_, DarkData());
  Fake().appsDark = false;
  InitDarkMode(Fake());
  RECT client = {};
  ::GetClientRect(statusBar_, &client);
  UntouchedCanvas light(client.right, client.bottom);
  ::SendMessageW(statusBar_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(light.Dc()), PRF_CLIENT);
  EXPECT_EQ(light.Count(client, 0x383838), 0);

  Fake().appsDark = true;
  InitDarkMode(Fake());
  RemoveStatusBarPainter(statusBar_);
  EXPECT_EQ(StatusBarPainterFont(statusBar_), nullptr);
  UntouchedCanvas removed(client.right, client.bottom);
  ::SendMessageW(statusBar_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(removed.Dc()), PRF_CLIENT);
  EXPECT_EQ(removed.Count(client, 0x383838), 0);
}

TEST_F(StatusBarPainterTest, ReplacingAndClosingFreeEveryBrush) {
  const std::optional<size_t> before = CountLiveGdiObjects(::GetCurrentProcess());
  ASSERT_TRUE(before.has_value());
  for (int switches = 0; switches < 20; ++switches) InstallStatusBarPainter(statusBar_, DarkData());
  EXPECT_EQ(CountLiveGdiObjects(::GetCurrentProcess()), *before + 2) << "one painter's two brushes";
  RemoveStatusBarPainter(statusBar_);
  EXPECT_EQ(CountLiveGdiObjects(::GetCurrentProcess()), before);

  // A status bar that is destroyed takes its painter and brushes with it.
  // (The count is taken before it is created: the control has objects of its own.)
  const auto makeStatusBar = [this] {
    return ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent_, nullptr, nullptr,
                             nullptr);
  };
  ::DestroyWindow(makeStatusBar());
  const std::optional<size_t> beforeSecond = CountLiveGdiObjects(::GetCurrentProcess());
  HWND second = makeStatusBar();
  InstallStatusBarPainter(second, DarkData());
  ::DestroyWindow(second);
  EXPECT_EQ(CountLiveGdiObjects(::GetCurrentProcess()), beforeSecond) << "the brushes ended with the status bar";
}

}  // namespace
}  // namespace tarnwick
