// The program at the display scaling of the user's monitor, as Windows gives
// it to a per-monitor DPI aware program: its manifest says so; its main window
// at 200 % is the template laid out at twice the size; a window opened at
// 100 % and told it moved to a 200 % monitor (WM_DPICHANGED) is laid out as
// one that opened there; pictures of both, light and dark, for the eye.
#include <gmock/gmock.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"
#include "tests/support/window_tree.h"

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kDesktopKey = L"Control Panel\\Desktop";

// One window under the main window: its class, its id and its place in the
// main window's client area.
struct Place {
  std::wstring className;
  int id;
  RECT rect;
  bool operator==(const Place& other) const {
    return className == other.className && id == other.id && ::EqualRect(&rect, &other.rect);
  }
};

void PrintTo(const Place& place, std::ostream* out) {
  *out << std::string(place.className.begin(), place.className.end()) << " " << place.id << " [" << place.rect.left
       << ", " << place.rect.top << ", " << place.rect.right << ", " << place.rect.bottom << "]";
}

std::vector<Place> LayoutOf(HWND top) {
  std::vector<Place> places;
  for (HWND window : testing_support::DescendantsOf(top)) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    RECT rect{};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(HWND_DESKTOP, top, reinterpret_cast<POINT*>(&rect), 2);
    places.push_back({name, ::GetDlgCtrlID(window), rect});
  }
  return places;
}

SIZE SizeOf(const RECT& rect) { return {rect.right - rect.left, rect.bottom - rect.top}; }

// A main window as it opened: its layout and sizes.
struct Opened {
  std::vector<Place> layout;
  RECT window{};
  RECT client{};
};

class DpiScaling : public TarnwickTest {
 protected:
  void SetUp() override {
    // The driver reads the program's windows in physical pixels.
    using SetAwarenessFn = BOOL(WINAPI*)(HANDLE);
    if (const auto set = reinterpret_cast<SetAwarenessFn>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")))) {
      (void)set(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    ::DeleteFileW(ListFilePath().c_str());
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    WriteRegistryDword(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", 96);
    DeleteRegistryTree(HKEY_CURRENT_USER, L"Software\\Tarnwick");
  }

  // Tarnwick started with the prefix at `dpi`, its main window open.
  HWND OpenAt(int dpi) {
    WriteRegistryDword(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", static_cast<DWORD>(dpi));
    instance_ = &StartInstance();
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main, nullptr) << "a click on the icon opens no main window at " << dpi << " DPI";
    if (main != nullptr) WaitForWindowIdle(main);
    return main;
  }

  static Opened Record(HWND main) {
    Opened opened;
    opened.layout = LayoutOf(main);
    ::GetWindowRect(main, &opened.window);
    ::GetClientRect(main, &opened.client);
    return opened;
  }

  void End() {
    const HWND tray = FindTrayWindow();
    instance_->End();
    WaitForWindowGone(tray);
  }

  void ExpectMovedTo200PercentAsOpenedThere(bool dark);

  TarnwickProcess* instance_ = nullptr;
};

// Windows reads the awareness from the manifest of the program's file, before
// any of its code runs: the activation context of its manifest holds it.
TEST(DpiManifest, DeclaresPerMonitorV2AwarenessAndTrueSlashPmForOlderWindows) {
  const std::wstring program = TarnwickExePath();
  ACTCTXW context{};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = program.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE handle = ::CreateActCtxW(&context);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  auto setting = [&](const wchar_t* ns, const wchar_t* name) {
    wchar_t value[128] = {};
    SIZE_T written = 0;
    if (!::QueryActCtxSettingsW(0, handle, ns, name, value, std::size(value), &written)) return std::wstring(L"-");
    return std::wstring(value);
  };
  EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
            L"PerMonitorV2, PerMonitor");
  EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), L"true/pm");
  ::ReleaseActCtx(handle);
}

void DpiScaling::ExpectMovedTo200PercentAsOpenedThere(bool dark) {
  if (dark) executable_ = ForcedDarkExePath();
  const std::string look = dark ? "dark" : "light";
  const HWND at192 = OpenAt(192);
  ASSERT_NE(at192, nullptr);
  EXPECT_TRUE(TakeScreenshot(ArtifactName("192-dpi-" + look), at192) || std::getenv("TARNWICK_ARTIFACTS") == nullptr);
  const Opened opened192 = Record(at192);
  End();

  const HWND at96 = OpenAt(96);
  ASSERT_NE(at96, nullptr);
  EXPECT_TRUE(TakeScreenshot(ArtifactName("96-dpi-" + look), at96) || std::getenv("TARNWICK_ARTIFACTS") == nullptr);
  const Opened opened96 = Record(at96);

  // The template at twice the DPI: every control of it about twice as large.
  ASSERT_EQ(opened96.layout.size(), opened192.layout.size());
  for (size_t i = 0; i < opened96.layout.size(); ++i) {
    const Place& small = opened96.layout[i];
    if (small.id <= 0 || small.id > 0xFFFF) continue;
    const SIZE a = SizeOf(small.rect);
    const SIZE b = SizeOf(opened192.layout[i].rect);
    EXPECT_NEAR(b.cx, 2 * a.cx, 0.12 * 2 * a.cx + 2) << "control " << small.id;
    EXPECT_NEAR(b.cy, 2 * a.cy, 0.12 * 2 * a.cy + 2) << "control " << small.id;
  }

  // Moved to a monitor at 200 %: Windows suggests the size the window asks
  // for there, a client area as large as that of a window opened there.
  const SIZE frame96 = {SizeOf(opened96.window).cx - opened96.client.right,
                        SizeOf(opened96.window).cy - opened96.client.bottom};
  const RECT suggested = {opened96.window.left, opened96.window.top,
                          opened96.window.left + opened192.client.right + frame96.cx,
                          opened96.window.top + opened192.client.bottom + frame96.cy};
  ASSERT_TRUE(SendDpiChanged(at96, 192, suggested));
  WaitForWindowIdle(at96);
  EXPECT_TRUE(TakeScreenshot(ArtifactName("96-dpi-moved-to-192-" + look), at96) ||
              std::getenv("TARNWICK_ARTIFACTS") == nullptr);
  // Wine's status bar takes part of its height from the system's small-icon
  // size, which a process keeps at the DPI it started at: its height is the
  // one thing Wine cannot show moved (Windows' status bar measures at the
  // window's DPI). Its top, its width and everything else must match.
  std::vector<Place> moved = LayoutOf(at96);
  std::vector<Place> expected = opened192.layout;
  for (std::vector<Place>* layout : {&moved, &expected}) {
    for (Place& place : *layout) {
      if (place.id == IDC_STATUS_BAR) place.rect.bottom = place.rect.top;
    }
  }
  EXPECT_EQ(moved, expected);
}

TEST_F(DpiScaling, LightMainWindowMovedTo200PercentIsLaidOutAsOneOpenedThere) {
  ExpectMovedTo200PercentAsOpenedThere(/*dark=*/false);
}

TEST_F(DpiScaling, DarkMainWindowMovedTo200PercentIsLaidOutAsOneOpenedThere) {
  ExpectMovedTo200PercentAsOpenedThere(/*dark=*/true);
}

}  // namespace
}  // namespace tarnwick::e2e
