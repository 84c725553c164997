// Measures how long filling the main window's list box takes for large lists
// and prints a table: one LB_ADDSTRING after another as the window did, and
// AddListBoxEntries (room reserved, one redraw). The list box has the main
// window's styles and is shown, so that its redraws count.
// Usage: tarnwick_list_box_bench.exe [--large] [--all] (scripts/bench.sh listbox ...)
//   --large adds 374,000 entries; --all also fills one by one above 10,000
//   entries (under Wine 10,000 one by one take about half a minute, and the
//   time grows faster than the count).
#include "ui/list_box_text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

double NowMs() {
  LARGE_INTEGER frequency, counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void PumpMessages() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

// Patterns as a user's list holds them: file names and folder wildcards.
std::vector<std::wstring> MakeEntries(size_t count, bool shuffled) {
  std::vector<std::wstring> entries;
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    entries.push_back(i % 2 ? L"C:\\Program Files\\Vendor " + std::to_wstring(i) + L"\\*"
                            : L"tool" + std::to_wstring(i) + L".exe");
  }
  if (shuffled) {
    std::shuffle(entries.begin(), entries.end(), std::mt19937(7));
  } else {
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
      return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_LESS_THAN;
    });
  }
  return entries;
}

// A fresh shown list box, filled by `fill`; the time until it has painted.
double TimeFill(const std::function<void(HWND)>& fill, size_t expected) {
  const HWND frame = ::CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                                       nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  const HWND list = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, L"LISTBOX", nullptr,
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_BORDER | WS_TABSTOP | LBS_SORT | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 10,
      10, 420, 200, frame, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  PumpMessages();
  const double start = NowMs();
  fill(list);
  ::UpdateWindow(list);
  PumpMessages();
  const double elapsed = NowMs() - start;
  if (static_cast<size_t>(::SendMessageW(list, LB_GETCOUNT, 0, 0)) != expected) std::printf("  (count differs)\n");
  ::DestroyWindow(frame);
  PumpMessages();
  return elapsed;
}

void AddOneByOne(HWND list, const std::vector<std::wstring>& entries) {
  for (const std::wstring& entry : entries) {
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
}

}  // namespace
}  // namespace tarnwick

int wmain(int argc, wchar_t** argv) {
  using namespace tarnwick;
  bool large = false;
  bool all = false;
  for (int i = 1; i < argc; ++i) {
    large = large || std::wcscmp(argv[i], L"--large") == 0;
    all = all || std::wcscmp(argv[i], L"--all") == 0;
  }
  constexpr size_t kOneByOneLimit = 10000;
  std::vector<size_t> sizes{1000, 10000, 100000};
  if (large) sizes.push_back(374000);
  std::printf("%-10s %-9s %16s %16s %8s\n", "entries", "order", "one by one (ms)", "batched (ms)", "ratio");
  std::printf("%s\n", std::string(63, '-').c_str());
  for (size_t size : sizes) {
    for (bool shuffled : {false, true}) {
      const std::vector<std::wstring> entries = MakeEntries(size, shuffled);
      const double batched = TimeFill([&](HWND list) { AddListBoxEntries(list, entries); }, size);
      if (size > kOneByOneLimit && !all) {
        std::printf("%-10zu %-9s %16s %16.1f %8s\n", size, shuffled ? "shuffled" : "sorted", "(skipped)", batched, "");
      } else {
        const double oneByOne = TimeFill([&](HWND list) { AddOneByOne(list, entries); }, size);
        std::printf("%-10zu %-9s %16.1f %16.1f %8.1f\n", size, shuffled ? "shuffled" : "sorted", oneByOne, batched,
                    oneByOne / batched);
      }
      std::fflush(stdout);
    }
  }
  return 0;
}
