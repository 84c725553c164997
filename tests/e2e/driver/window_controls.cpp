#include "tests/e2e/driver/window_controls.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include "platform/unique_handle.h"

namespace tarnwick::e2e {

namespace {

ULONGLONG Ticks(FILETIME time) { return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

std::wstring StatusBarPartText(HWND status_bar, int part) {
  DWORD process_id = 0;
  ::GetWindowThreadProcessId(status_bar, &process_id);
  unique_handle process(
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id));
  if (!process) return {};
  constexpr SIZE_T kBufferBytes = 4096;
  void* remote = ::VirtualAllocEx(process.get(), nullptr, kBufferBytes, MEM_COMMIT, PAGE_READWRITE);
  if (remote == nullptr) return {};
  std::wstring text;
  const LRESULT result =
      ::SendMessageW(status_bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
  const size_t length = LOWORD(result);
  if (length * sizeof(wchar_t) < kBufferBytes) {
    ::SendMessageW(status_bar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(remote));
    text.resize(length);
    SIZE_T read = 0;
    if (!::ReadProcessMemory(process.get(), remote, text.data(), length * sizeof(wchar_t), &read)) text.clear();
  }
  ::VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
  return text;
}

std::wstring WindowTextOf(HWND window) {
  // Asked of the window itself: GetWindowTextW reads only the caption the
  // system keeps for another process's window, never an edit field's text.
  const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied = ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied < 0 ? 0 : static_cast<size_t>(copied));
  return text;
}

std::vector<std::wstring> StaticTextsOf(HWND dialog) {
  std::vector<std::wstring> texts;
  ::EnumChildWindows(
      dialog,
      [](HWND child, LPARAM context) -> BOOL {
        if (::CompareStringOrdinal(ClassOf(child).c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
          reinterpret_cast<std::vector<std::wstring>*>(context)->push_back(WindowTextOf(child));
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

void ClickButton(HWND dialog, int button_id) {
  ::PostMessageW(::GetDlgItem(dialog, button_id), BM_CLICK, 0, 0);
}

void TypeText(HWND dialog, int edit_id, const std::wstring& text) {
  ::SendDlgItemMessageW(dialog, edit_id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DoubleClickListEntry(HWND list, int index) {
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::PostMessageW(::GetParent(list), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
}

HWND WaitForDialog(DWORD process_id, const wchar_t* caption, HWND except, Timeout timeout) {
  struct Search {
    DWORD process_id;
    const wchar_t* caption;
    HWND except;
    HWND found;
  } search{process_id, caption, except, nullptr};
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
              auto& s = *reinterpret_cast<Search*>(context);
              if (window == s.except || WindowProcessId(window) != s.process_id || !::IsWindowVisible(window) ||
                  ClassOf(window) != L"#32770" || WindowTextOf(window) != s.caption) {
                return TRUE;
              }
              s.found = window;
              return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeout);
  return search.found;
}

bool WaitForWindowGone(HWND window, Timeout timeout) {
  return WaitUntil([&] { return !::IsWindow(window); }, timeout);
}

void WaitForWindowIdle(HWND window) {
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(kDefaultTimeout.count()), &ignored);
}

FILETIME Now() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return now;
}

bool ThreadStartedAfter(DWORD process_id, FILETIME moment) {
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return false;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != process_id) continue;
    unique_handle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (thread && ::GetThreadTimes(thread.get(), &created, &exited, &kernel, &user) &&
        Ticks(created) > Ticks(moment)) {
      return true;
    }
  }
  return false;
}

std::optional<FILETIME> ListFileLastWrite() {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(ListFilePath().c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return data.ftLastWriteTime;
}

}  // namespace tarnwick::e2e
