// Dark mode as a user sees it, in the test build whose dark-mode entry points
// are a stand-in (Wine has none): the main window, Add New Entry and About in
// the dark palette, the switch back to light when the user's choice changes
// ("ImmersiveColorSet"), and no GDI object left behind by a hundred switches.
#include <gmock/gmock.h>

#include <functional>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
constexpr const wchar_t* kPersonalizeKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// The dark palette's slots as the windows use them.
constexpr COLORREF kDarkDialog = 0x383838;
constexpr COLORREF kDarkList = 0x1E1E1E;
constexpr COLORREF kDarkCell = 0x303030;

std::string Hex(std::optional<COLORREF> colour) {
  if (!colour) return "outside";
  char text[16];
  std::snprintf(text, sizeof(text), "%06lX", static_cast<unsigned long>(*colour));
  return text;
}

// The screen point `inset` pixels inside a window's rectangle from its corner
// at the left and the top (or bottom, when `fromBottom`).
POINT Inside(HWND window, int inset, bool fromBottom = false) {
  RECT area{};
  ::GetWindowRect(window, &area);
  return {area.left + inset, fromBottom ? area.bottom - 1 - inset : area.top + inset};
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
  struct Search {
    const wchar_t* className;
    HWND found;
  } search{className, nullptr};
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM parameter) noexcept -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        wchar_t name[64] = {};
        ::GetClassNameW(child, name, 64);
        if (::IsWindowVisible(child) && ::CompareStringOrdinal(name, -1, s->className, -1, TRUE) == CSTR_EQUAL) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// What the main window shows at five places.
struct MainWindowColours {
  std::optional<COLORREF> dialog, list, graphBox, cell, statusBar;
};

class UiDarkMode : public TarnwickTest {
 protected:
  UiDarkMode() { executable_ = ForcedDarkExePath(); }

  void SetUp() override {
    ForgetUserState();
    // Away from the graph: a cell's tooltip would come and go with GDI objects of its own.
    ::SetCursorPos(1, 1);
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    ForgetUserState();
  }

  static void ForgetUserState() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kPersonalizeKey, L"AppsUseLightTheme");
    ::DeleteFileW(ListFilePath().c_str());
  }

  HWND StartAndOpen() {
    instance_ = &StartInstance();
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main, nullptr) << "a click on the icon opens no main window";
    return main;
  }

  // The user switches Windows to light or dark; the system tells every window.
  void UserChooses(HWND window, bool dark) {
    WriteRegistryDword(HKEY_CURRENT_USER, kPersonalizeKey, L"AppsUseLightTheme", dark ? 0 : 1);
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(window, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"),
                                      SMTO_ABORTIFHUNG, 10000, &ignored));
    WaitForWindowIdle(window);
  }

  // The colours once the screen shows what `shown` wants, or the last ones
  // seen at the deadline: a window just opened or switched may not be on the
  // display yet.
  MainWindowColours ColoursOnceShown(HWND main, const std::function<bool(const MainWindowColours&)>& shown) {
    MainWindowColours colours;
    WaitUntil([&] {
      colours = ColoursOf(main);
      return shown(colours);
    });
    return colours;
  }

  // The first of `points` (screen) of `window` that is not `wanted` once all
  // are, or at the deadline; nullopt without a picture.
  std::optional<COLORREF> PixelsOnceShown(HWND window, const std::vector<POINT>& points, COLORREF wanted) {
    std::optional<COLORREF> seen;
    WaitUntil([&] {
      const std::optional<WindowPicture> picture = CaptureWindowPicture(window);
      if (!picture) return false;
      for (const POINT point : points) {
        seen = picture->AtScreen(point);
        if (seen != wanted) return false;
      }
      return true;
    });
    return seen;
  }

  static POINT ClientPoint(HWND window, POINT point) {
    ::ClientToScreen(window, &point);
    return point;
  }

  MainWindowColours ColoursOf(HWND main) {
    MainWindowColours colours;
    const std::optional<WindowPicture> picture = CaptureWindowPicture(main);
    EXPECT_TRUE(picture.has_value()) << "no picture of the main window";
    if (!picture) return colours;
    colours.dialog = picture->AtClient(main, {4, 4});
    colours.list = picture->AtScreen(Inside(::GetDlgItem(main, IDC_PROCESS_LIST), 6));
    const HWND graph = FindChildOfClass(main, L"Ombrix_CPUCoreUtilizationGraph");
    EXPECT_NE(graph, nullptr) << "no graph";
    if (graph != nullptr) {
      colours.graphBox = picture->AtScreen(Inside(graph, 4, /*fromBottom=*/true));
      // Below a cell's top frame line, which even a full bar leaves free.
      if (const HWND cell = FindChildOfClass(graph, L"msctls_progress32")) {
        RECT area{};
        ::GetWindowRect(cell, &area);
        colours.cell = picture->AtScreen({(area.left + area.right) / 2, area.top + 1});
      }
    }
    colours.statusBar = picture->AtScreen(Inside(::GetDlgItem(main, IDC_STATUS_BAR), 3));
    return colours;
  }

  // The program's GDI objects once two readings agree: a cell painting in
  // its back buffer at the moment of a reading holds two objects more.
  std::optional<size_t> SettledGdiCount(HWND main) {
    WaitForWindowIdle(main);
    std::optional<size_t> last;
    std::optional<size_t> settled;
    WaitUntil([&] {
      const std::optional<size_t> now = LiveGdiObjects(*instance_);
      if (now && now == last) settled = now;
      last = now;
      return settled.has_value();
    });
    return settled;
  }

  TarnwickProcess* instance_ = nullptr;
};

TEST_F(UiDarkMode, WindowsFollowTheUsersChoiceLiveAndSwitchingLeavesNoGdiObjectBehind) {
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);

  const MainWindowColours dark = ColoursOnceShown(main, [](const MainWindowColours& c) {
    return c.dialog == kDarkDialog && c.list == kDarkList && c.graphBox == kDarkDialog && c.cell == kDarkCell &&
           c.statusBar == kDarkDialog;
  });
  EXPECT_EQ(Hex(dark.dialog), Hex(kDarkDialog)) << "dialog background";
  EXPECT_EQ(Hex(dark.list), Hex(kDarkList)) << "list box";
  EXPECT_EQ(Hex(dark.graphBox), Hex(kDarkDialog)) << "graph box";
  EXPECT_EQ(Hex(dark.cell), Hex(kDarkCell)) << "graph cell";
  EXPECT_EQ(Hex(dark.statusBar), Hex(kDarkDialog)) << "status bar";
  TakeScreenshot(ArtifactName("main-window-dark"), main);

  ClickButton(main, IDC_ADD);
  const HWND add = WaitForDialog(instance_->Id(), L"Add New Entry");
  ASSERT_NE(add, nullptr);
  TypeText(add, IDC_ENTRY_EDIT, L"C:\\Games\\*.exe");
  const HWND edit = ::GetDlgItem(add, IDC_ENTRY_EDIT);
  EXPECT_EQ(Hex(PixelsOnceShown(add, {ClientPoint(add, {4, 4}), Inside(edit, 3, /*fromBottom=*/true)}, kDarkDialog)),
            Hex(kDarkDialog))
      << "Add New Entry and its edit field";
  TakeScreenshot(ArtifactName("add-dialog-dark"), add);
  ClickButton(add, IDCANCEL);
  ASSERT_TRUE(WaitForWindowGone(add));

  ::PostMessageW(main, WM_COMMAND, IDM_ABOUT, 0);
  const HWND about = WaitForDialog(instance_->Id(), L"About Tarnwick");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Hex(PixelsOnceShown(about, {ClientPoint(about, {4, 4})}, kDarkDialog)), Hex(kDarkDialog)) << "About";
  TakeScreenshot(ArtifactName("about-dialog-dark"), about);
  ClickButton(about, IDOK);
  ASSERT_TRUE(WaitForWindowGone(about));

  // The user switches to light while the window is open.
  UserChooses(main, /*dark=*/false);
  const MainWindowColours light = ColoursOnceShown(main, [](const MainWindowColours& c) {
    return c.dialog == ::GetSysColor(COLOR_BTNFACE) && c.list == ::GetSysColor(COLOR_WINDOW) &&
           c.graphBox == ::GetSysColor(COLOR_MENU) && c.cell == 0xDCDCDCu && c.statusBar != kDarkDialog;
  });
  EXPECT_EQ(Hex(light.dialog), Hex(::GetSysColor(COLOR_BTNFACE))) << "dialog background";
  EXPECT_EQ(Hex(light.list), Hex(::GetSysColor(COLOR_WINDOW))) << "list box";
  EXPECT_EQ(Hex(light.graphBox), Hex(::GetSysColor(COLOR_MENU))) << "graph box";
  EXPECT_EQ(Hex(light.cell), Hex(0xDCDCDC)) << "graph cell";
  EXPECT_NE(Hex(light.statusBar), Hex(kDarkDialog)) << "status bar";
  TakeScreenshot(ArtifactName("main-window-light-again"), main);

  const std::optional<size_t> afterFirst = SettledGdiCount(main);
  ASSERT_TRUE(afterFirst.has_value()) << "the program's GDI table cannot be read";
  for (int switches = 0; switches < 100; ++switches) UserChooses(main, /*dark=*/switches % 2 == 0);
  EXPECT_EQ(SettledGdiCount(main), afterFirst) << "GDI objects after 100 switches between light and dark";
  const MainWindowColours last =
      ColoursOnceShown(main, [](const MainWindowColours& c) { return c.dialog == ::GetSysColor(COLOR_BTNFACE); });
  EXPECT_EQ(Hex(last.dialog), Hex(::GetSysColor(COLOR_BTNFACE))) << "the hundredth switch was to light";
}

}  // namespace
}  // namespace tarnwick::e2e
