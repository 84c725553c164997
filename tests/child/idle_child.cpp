// An idle process for placement tests and benchmarks, or a busy one for the
// utilization graph's tests.
//   tarnwick_test_child.exe [parent-pid [ready-event-handle ["spin"]]]
// Signals the inherited ready event once it runs, then waits until the parent
// process ends (or forever without one), so that no child outlives its test.
// With "spin" it keeps one processor busy while it waits.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  DWORD parentId = 0;
  HANDLE ready = nullptr;
  bool spin = false;
  if (arguments != nullptr && count > 1) parentId = static_cast<DWORD>(std::wcstoul(arguments[1], nullptr, 10));
  if (arguments != nullptr && count > 2) {
    ready = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::wcstoull(arguments[2], nullptr, 10)));
  }
  if (arguments != nullptr && count > 3) spin = std::wcscmp(arguments[3], L"spin") == 0;
  ::LocalFree(arguments);
  HANDLE parent = parentId != 0 ? ::OpenProcess(SYNCHRONIZE, FALSE, parentId) : nullptr;
  if (ready != nullptr) {
    ::SetEvent(ready);
    ::CloseHandle(ready);
  }
  if (parent != nullptr) {
    // Busy between short looks at the parent: a look costs next to nothing.
    if (spin) {
      volatile unsigned long long work = 0;
      while (::WaitForSingleObject(parent, 0) == WAIT_TIMEOUT) {
        for (int i = 0; i < 1000000; ++i) work = work + i;
      }
    }
    ::WaitForSingleObject(parent, INFINITE);
    ::CloseHandle(parent);
    return 0;
  }
  if (parentId != 0) return 0;  // the parent is already gone
  ::Sleep(INFINITE);
  return 0;
}
