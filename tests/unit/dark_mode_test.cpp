// The dark-mode decisions over the recording fake: whether dark mode is
// supported, whether the windows are dark, the palette, the title bar, the
// scroll-bar hook, and the calls a theme or settings change makes, in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/unit/dark_mode_fixture.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr DWORD kBuildFlags = 0xF0000000;

// --- The support decision --------------------------------------------------------

struct SupportCase {
  const char* name;
  std::function<void(FakeDarkModeApi&)> script;
  bool supported;
  bool active;
  // The process's dark allowance as called, empty when none is.
  const char* appCall;
};

class DarkModeSupport : public DarkModeFixture, public ::testing::WithParamInterface<SupportCase> {};

TEST_P(DarkModeSupport, DecidesOnceAtStartUp) {
  const SupportCase& c = GetParam();
  c.script(Fake());
  InitDarkMode(Fake());
  EXPECT_EQ(DarkModeSupported(), c.supported);
  EXPECT_EQ(DarkModeActive(), c.active);
  EXPECT_EQ(ComputeDarkMode(), c.active);
  const std::vector<std::string> appCalls = [&] {
    std::vector<std::string> calls = Fake().CallsStartingWith("AllowAppDark");
    for (const std::string& call : Fake().CallsStartingWith("SetAppDarkMode")) calls.push_back(call);
    return calls;
  }();
  if (*c.appCall == '\0') {
    EXPECT_THAT(appCalls, IsEmpty());
    EXPECT_THAT(Fake().CallsStartingWith("RefreshImmersivePolicy"), IsEmpty());
  } else {
    EXPECT_THAT(appCalls, ElementsAre(c.appCall));
    // The allowance comes before the policy is read and the first decision made.
    const std::vector<std::string>& calls = Fake().Calls();
    const auto app = std::find(calls.begin(), calls.end(), c.appCall);
    ASSERT_NE(app, calls.end());
    EXPECT_EQ(*(app + 1), "RefreshImmersivePolicy");
    EXPECT_EQ(*(app + 2), "QueryAppsDark");
  }
}

void Build(FakeDarkModeApi& fake, DWORD build) { fake.version = NtVersionNumbers{10, 0, kBuildFlags | build}; }

INSTANTIATE_TEST_SUITE_P(
    Table, DarkModeSupport,
    ::testing::Values(
        SupportCase{"Build17762", [](FakeDarkModeApi& f) { Build(f, 17762); }, false, false, ""},
        SupportCase{"Build17763", [](FakeDarkModeApi& f) { Build(f, 17763); }, true, true, "AllowAppDark 1"},
        SupportCase{"Build18361", [](FakeDarkModeApi& f) { Build(f, 18361); }, true, true, "AllowAppDark 1"},
        SupportCase{"Build18362", [](FakeDarkModeApi& f) { Build(f, 18362); }, true, true, "SetAppDarkMode 1"},
        SupportCase{"Windows81",
                    [](FakeDarkModeApi& f) {
                      f.version = NtVersionNumbers{6, 3, 19045};
                    },
                    false, false, ""},
        SupportCase{"NoVersionFunction", [](FakeDarkModeApi& f) { f.version.reset(); }, false, false, ""},
        SupportCase{"No49", [](FakeDarkModeApi& f) { f.entryPoints.openNonClientTheme = false; }, false, false, ""},
        SupportCase{"No104", [](FakeDarkModeApi& f) { f.entryPoints.refreshImmersivePolicy = false; }, false, false,
                    ""},
        SupportCase{"No132", [](FakeDarkModeApi& f) { f.entryPoints.queryAppsDark = false; }, false, false, ""},
        SupportCase{"No133", [](FakeDarkModeApi& f) { f.entryPoints.allowWindowDark = false; }, false, false, ""},
        SupportCase{"No135", [](FakeDarkModeApi& f) { f.entryPoints.appDarkMode = false; }, false, false, ""},
        SupportCase{"No137", [](FakeDarkModeApi& f) { f.entryPoints.queryWindowDarkAllowed = false; }, false, false,
                    ""},
        SupportCase{"No106IsOptional", [](FakeDarkModeApi& f) { f.entryPoints.refreshContrastCache = false; }, true,
                    true, "SetAppDarkMode 1"},
        SupportCase{"NoCompositionAttributeIsOptional",
                    [](FakeDarkModeApi& f) { f.entryPoints.setWindowCompositionAttribute = false; }, true, true,
                    "SetAppDarkMode 1"},
        SupportCase{"SettingOn", [](FakeDarkModeApi& f) { f.darkModeDisabled = true; }, false, false, ""},
        SupportCase{"HighContrastOn", [](FakeDarkModeApi& f) { f.highContrast = true; }, true, false,
                    "SetAppDarkMode 1"},
        SupportCase{"UserChoseLight", [](FakeDarkModeApi& f) { f.appsDark = false; }, true, false, "SetAppDarkMode 1"}),
    [](const ::testing::TestParamInfo<SupportCase>& test) { return std::string(test.param.name); });

using DarkModeTest = DarkModeFixture;

TEST_F(DarkModeTest, TheSettingStopsStartUpBeforeAnythingIsLookedUp) {
  Fake().darkModeDisabled = true;
  InitDarkMode(Fake());
  EXPECT_THAT(Fake().Calls(), ElementsAre("DarkModeDisabledSetting"));
}

TEST_F(DarkModeTest, UnsupportedDarkModeAsksNothingAndLeavesTheColoursToTheSystem) {
  Build(Fake(), 17762);
  StartUp();
  EXPECT_FALSE(ComputeDarkMode());
  EXPECT_FALSE(QueryAppsDark());
  PaletteBrush brush(kDialogBackgroundSlot);
  EXPECT_EQ(ColorDialogControl(nullptr, brush), FALSE);
  EXPECT_EQ(ColorListBox(nullptr, brush), FALSE);
  EXPECT_THAT(Fake().Calls(), IsEmpty());
}

// --- The palette --------------------------------------------------------------------

TEST_F(DarkModeTest, PaletteSlotsLightAndDark) {
  EXPECT_EQ(ThemePalette, LightPalette()) << "start-up fills the light values";
  ApplyPalette(true);
  EXPECT_THAT(ThemePalette,
              ElementsAre(0xC8C8C8, 0x1E1E1E, 0x383838, 0xFFFFFF, 0x444444, 0x30CC30, 0x303030, 0xACACAC));
  ApplyPalette(false);
  EXPECT_THAT(ThemePalette,
              ElementsAre(::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_MENU),
                          ::GetSysColor(COLOR_WINDOWTEXT), 0xCCCCCC, 0x198232, 0xDCDCDC, 0xACACAC));
}

TEST_F(DarkModeTest, ColourMessagesWhileDarkSetTheContextAndReturnTheSlotBrush) {
  StartUp();
  ApplyPalette(true);
  HDC dc = ::CreateCompatibleDC(nullptr);
  PaletteBrush dialog(kDialogBackgroundSlot);
  PaletteBrush list(kListBackgroundSlot);
  const auto brush = reinterpret_cast<HBRUSH>(ColorDialogControl(dc, dialog));
  ASSERT_NE(brush, nullptr);
  LOGBRUSH made = {};
  ASSERT_EQ(::GetObjectW(brush, sizeof(made), &made), static_cast<int>(sizeof(made)));
  EXPECT_EQ(made.lbColor, 0x383838u);
  EXPECT_EQ(::GetTextColor(dc), 0xFFFFFFu);
  EXPECT_EQ(::GetBkColor(dc), 0x383838u);
  EXPECT_EQ(ColorDialogControl(dc, dialog), reinterpret_cast<INT_PTR>(brush)) << "made once, then cached";
  ASSERT_NE(ColorListBox(dc, list), FALSE);
  EXPECT_EQ(::GetTextColor(dc), 0xC8C8C8u);
  EXPECT_EQ(::GetBkColor(dc), 0x1E1E1Eu);
  ::DeleteDC(dc);
}

// --- Title bars and the scroll-bar hook ------------------------------------------------

struct TitleBarCase {
  const char* name;
  DWORD build;
  bool compositionAttribute;
  bool windowAllowed;
  bool appsDark;
  std::vector<std::string> calls;  // after the three queries
};

class TitleBar : public DarkModeFixture, public ::testing::WithParamInterface<TitleBarCase> {};

TEST_P(TitleBar, FollowsTheWindowTheUserAndHighContrast) {
  const TitleBarCase& c = GetParam();
  Build(Fake(), c.build);
  Fake().entryPoints.setWindowCompositionAttribute = c.compositionAttribute;
  StartUp();
  Fake().windowDarkAllowed = c.windowAllowed;
  Fake().appsDark = c.appsDark;
  HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  Fake().NameWindow(window, "w");
  ApplyTitleBarTheme(window);
  std::vector<std::string> calls = Fake().Calls();
  calls.erase(std::remove_if(calls.begin(), calls.end(),
                             [](const std::string& call) {
                               return call == "QueryWindowDarkAllowed w" || call == "QueryAppsDark" ||
                                      call == "IsHighContrastOn";
                             }),
              calls.end());
  EXPECT_EQ(calls, c.calls);
  ::DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TitleBar,
    ::testing::Values(
        TitleBarCase{
            "Build17763ByProperty", 17763, true, true, true, {"SetWindowProperty w \"UseImmersiveDarkModeColors\" 1"}},
        TitleBarCase{
            "Build17763Light", 17763, true, true, false, {"SetWindowProperty w \"UseImmersiveDarkModeColors\" 0"}},
        TitleBarCase{"Build18362ByAttribute", 18362, true, true, true, {"SetWindowCompositionAttribute w 26 1"}},
        TitleBarCase{"WindowNotAllowed", 18362, true, false, true, {"SetWindowCompositionAttribute w 26 0"}},
        TitleBarCase{"NoAttributeStaysLight", 18362, false, true, true, {}}),
    [](const ::testing::TestParamInfo<TitleBarCase>& test) { return std::string(test.param.name); });

TEST_F(DarkModeTest, HighContrastKeepsTheTitleBarLight) {
  StartUp();
  Fake().highContrast = true;
  ApplyTitleBarTheme(nullptr);
  EXPECT_THAT(Fake().CallsStartingWith("SetWindowCompositionAttribute"),
              ElementsAre("SetWindowCompositionAttribute null 26 0"));
}

TEST_F(DarkModeTest, ScrollBarHookPassesEverythingThroughWhileLight) {
  Fake().appsDark = false;
  StartUp();
  HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1230));
  Fake().NameWindow(window, "w");
  EXPECT_EQ(ScrollBarThemeHook(window, L"ScrollBar"), FakeDarkModeApi::kFakeTheme);
  EXPECT_THAT(Fake().Calls(), ElementsAre("OpenNonClientTheme w \"ScrollBar\""));
}

TEST_F(DarkModeTest, ScrollBarHookGivesOnlyExactlyScrollBarTheDarkThemeWhileDark) {
  StartUp();
  HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1230));
  Fake().NameWindow(window, "w");
  ScrollBarThemeHook(window, L"ScrollBar");
  ScrollBarThemeHook(window, L"ScrollBarX");
  ScrollBarThemeHook(window, L"scrollbar");
  ScrollBarThemeHook(window, nullptr);
  EXPECT_THAT(Fake().Calls(),
              ElementsAre("OpenNonClientTheme null \"Explorer::ScrollBar\"", "OpenNonClientTheme w \"ScrollBarX\"",
                          "OpenNonClientTheme w \"scrollbar\"", "OpenNonClientTheme w null"));
}

// --- Theme and settings changes of a dialog ---------------------------------------------

// A window with the two buttons of the Add New Entry dialog, ids 1 and 2.
class DialogThemeChange : public DarkModeFixture {
 protected:
  void SetUp() override {
    DarkModeFixture::SetUp();
    dialog_ =
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CAPTION, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ok_ = ::CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD, 0, 0, 10, 10, dialog_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), nullptr, nullptr);
    cancel_ = ::CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD, 0, 0, 10, 10, dialog_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)), nullptr, nullptr);
    Fake().NameWindow(dialog_, "dialog");
    Fake().NameWindow(ok_, "ok");
    Fake().NameWindow(cancel_, "cancel");
  }
  void TearDown() override {
    ::DestroyWindow(dialog_);
    DarkModeFixture::TearDown();
  }

  std::optional<INT_PTR> Send(UINT message, LPARAM lParam = 0) {
    return HandleDialogThemeMessage(dialog_, message, 0, lParam, brush_, {IDOK, IDCANCEL});
  }

  // What the dialog's WM_THEMECHANGED calls while dark.
  static std::vector<std::string> DarkThemeChange() {
    return {"QueryAppsDark",
            "IsHighContrastOn",
            "AllowWindowDark dialog 1",
            "QueryWindowDarkAllowed dialog",
            "QueryAppsDark",
            "IsHighContrastOn",
            "SetWindowCompositionAttribute dialog 26 1",
            "AllowWindowDark ok 1",
            "SetWindowTheme ok \"Explorer\" null",
            "AllowWindowDark cancel 1",
            "SetWindowTheme cancel \"Explorer\" null"};
  }

  HWND dialog_ = nullptr;
  HWND ok_ = nullptr;
  HWND cancel_ = nullptr;
  PaletteBrush brush_{kDialogBackgroundSlot};
};

// The dialog's procedure sends WM_THEMECHANGED to itself; this window has
// none, so the test stands in for it.
LRESULT CALLBACK ForwardThemeChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR reference) noexcept {
  if (message == WM_THEMECHANGED) {
    auto* brush = reinterpret_cast<PaletteBrush*>(reference);
    return HandleDialogThemeMessage(window, message, wParam, lParam, *brush, {IDOK, IDCANCEL}).value_or(0);
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

TEST_F(DialogThemeChange, CallsInOrderAndSwitchesThePalette) {
  StartUp();
  const HBRUSH before = brush_.Get();
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(Send(WM_THEMECHANGED), 0);
  EXPECT_THAT(Fake().Calls(), ElementsAreArray(DarkThemeChange()));
  EXPECT_EQ(ThemePalette, kDarkPalette);
  LOGBRUSH made = {};
  ASSERT_EQ(::GetObjectW(brush_.Get(), sizeof(made), &made), static_cast<int>(sizeof(made)));
  EXPECT_EQ(made.lbColor, 0x383838u) << "the brush of the former palette was dropped";

  Fake().appsDark = false;
  Fake().ClearCalls();
  Send(WM_THEMECHANGED);
  EXPECT_THAT(Fake().CallsStartingWith("AllowWindowDark"),
              ElementsAre("AllowWindowDark dialog 0", "AllowWindowDark ok 0", "AllowWindowDark cancel 0"));
  EXPECT_EQ(ThemePalette, LightPalette());
  EXPECT_EQ(Send(WM_CTLCOLORDLG), FALSE) << "light: the system's colours";
}

// The title bar takes the new look at once, not at the next activation.
TEST_F(DialogThemeChange, TheFrameIsRedrawnAtTheEndOfAThemeChange) {
  StartUp();
  ::ShowWindow(dialog_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(dialog_);
  int framePaints = 0;
  ASSERT_TRUE(::SetWindowSubclass(dialog_, CountFramePaints, 2, reinterpret_cast<DWORD_PTR>(&framePaints)));
  Send(WM_THEMECHANGED);
  ::UpdateWindow(dialog_);
  EXPECT_GE(framePaints, 1);
  ::RemoveWindowSubclass(dialog_, CountFramePaints, 2);
}

TEST_F(DialogThemeChange, ImmersiveColorSetRefreshesThePolicyThenThemes) {
  StartUp();
  ::SetWindowSubclass(dialog_, ForwardThemeChange, 1, reinterpret_cast<DWORD_PTR>(&brush_));
  EXPECT_EQ(Send(WM_SETTINGCHANGE, reinterpret_cast<LPARAM>(L"immersivecolorset")), 0);
  std::vector<std::string> expected = {"RefreshImmersivePolicy", "RefreshContrastCache 1"};
  for (const std::string& call : DarkThemeChange()) expected.push_back(call);
  EXPECT_THAT(Fake().Calls(), ElementsAreArray(expected));

  for (const LPARAM other :
       {reinterpret_cast<LPARAM>(L"ImmersiveColorSetX"), reinterpret_cast<LPARAM>(L"Policy"), LPARAM{0}}) {
    Fake().ClearCalls();
    Send(WM_SETTINGCHANGE, other);
    EXPECT_THAT(Fake().Calls(), ElementsAre("RefreshContrastCache 1"));
  }
  ::RemoveWindowSubclass(dialog_, ForwardThemeChange, 1);
}

TEST_F(DialogThemeChange, UnsupportedDarkModeIgnoresBothMessages) {
  Build(Fake(), 17134);
  StartUp();
  ::SetWindowSubclass(dialog_, ForwardThemeChange, 1, reinterpret_cast<DWORD_PTR>(&brush_));
  Send(WM_SETTINGCHANGE, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  Send(WM_THEMECHANGED);
  EXPECT_THAT(Fake().Calls(), IsEmpty());
  EXPECT_EQ(ThemePalette, LightPalette());
  ::RemoveWindowSubclass(dialog_, ForwardThemeChange, 1);
}

}  // namespace
}  // namespace tarnwick
