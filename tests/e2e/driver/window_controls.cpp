#include "tests/e2e/driver/window_controls.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cwchar>

#include "platform/unique_handle.h"

namespace tarnwick::e2e {

namespace {

ULONGLONG Ticks(FILETIME time) { return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

// Memory in another process, for controls that write their answer through a
// pointer that must be valid in their own process.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, SIZE_T bytes) : bytes_(bytes) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    process_.reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (process_) address_ = ::VirtualAllocEx(process_.get(), nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) ::VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  explicit operator bool() const { return address_ != nullptr; }
  // The address at `offset` as the other process sees it.
  [[nodiscard]] void* At(SIZE_T offset = 0) const { return static_cast<char*>(address_) + offset; }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    SIZE_T written = 0;
    return offset + size <= bytes_ && ::WriteProcessMemory(process_.get(), At(offset), data, size, &written);
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    SIZE_T read = 0;
    return offset + size <= bytes_ && ::ReadProcessMemory(process_.get(), At(offset), data, size, &read);
  }

 private:
  SIZE_T bytes_;
  unique_handle process_;
  void* address_ = nullptr;
};

}  // namespace

std::wstring StatusBarPartText(HWND statusBar, int part) {
  constexpr SIZE_T kBufferBytes = 4096;
  RemoteBuffer remote(statusBar, kBufferBytes);
  if (!remote) return {};
  std::wstring text;
  const LRESULT result = ::SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
  const size_t length = LOWORD(result);
  if (length * sizeof(wchar_t) < kBufferBytes) {
    ::SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(remote.At()));
    text.resize(length);
    if (!remote.Read(0, text.data(), length * sizeof(wchar_t))) text.clear();
  }
  return text;
}

bool SendDpiChanged(HWND window, int dpi, const RECT& suggested) {
  RemoteBuffer remote(window, sizeof(RECT));
  if (!remote || !remote.Write(0, &suggested, sizeof(suggested))) return false;
  DWORD_PTR ignored = 0;
  return ::SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote.At()),
                               SMTO_ABORTIFHUNG, static_cast<UINT>(kDefaultTimeout.count()), &ignored) != 0;
}

std::vector<std::vector<std::wstring>> ListViewRows(HWND listView, int columns) {
  constexpr SIZE_T kTextOffset = 256;
  constexpr size_t kTextCharacters = 2048;
  RemoteBuffer remote(listView, kTextOffset + kTextCharacters * sizeof(wchar_t));
  std::vector<std::vector<std::wstring>> rows;
  if (!remote) return rows;
  const int count = static_cast<int>(::SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::vector<std::wstring> cells;
    for (int column = 0; column < columns; ++column) {
      LVITEMW item = {};
      item.iSubItem = column;
      item.pszText = static_cast<wchar_t*>(remote.At(kTextOffset));
      item.cchTextMax = static_cast<int>(kTextCharacters);
      std::wstring text(kTextCharacters, L'\0');
      if (remote.Write(0, &item, sizeof(item)) &&
          ::SendMessageW(listView, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At())) >=
              0 &&
          remote.Read(kTextOffset, text.data(), text.size() * sizeof(wchar_t))) {
        text.resize(std::wcslen(text.c_str()));
      } else {
        text.clear();
      }
      cells.push_back(std::move(text));
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

void SelectListViewRows(HWND listView, const std::vector<int>& rows) {
  RemoteBuffer remote(listView, sizeof(LVITEMW));
  if (!remote) return;
  auto set = [&](int row, UINT state) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = state;
    if (remote.Write(0, &item, sizeof(item))) {
      ::SendMessageW(listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At()));
    }
  };
  set(-1, 0);
  for (size_t i = 0; i < rows.size(); ++i) set(rows[i], LVIS_SELECTED | (i == 0 ? LVIS_FOCUSED : 0));
}

std::vector<GraphPanel> GraphPanels(HWND mainWindow) {
  std::vector<GraphPanel> panels;
  const HWND graph = ::FindWindowExW(mainWindow, nullptr, L"Ombrix_CPUCoreUtilizationGraph", nullptr);
  // Children are listed in creation order: panels by node, cells by position.
  for (HWND box = ::FindWindowExW(graph, nullptr, L"Button", nullptr); box != nullptr;
       box = ::FindWindowExW(graph, box, L"Button", nullptr)) {
    GraphPanel panel{box, WindowTextOf(box), {}};
    for (HWND cell = ::FindWindowExW(box, nullptr, PROGRESS_CLASSW, nullptr); cell != nullptr;
         cell = ::FindWindowExW(box, cell, PROGRESS_CLASSW, nullptr)) {
      panel.cells.push_back(cell);
    }
    panels.push_back(std::move(panel));
  }
  return panels;
}

int ProgressPosition(HWND progressBar) { return static_cast<int>(::SendMessageW(progressBar, PBM_GETPOS, 0, 0)); }

std::wstring ToolTipText(HWND toolWindow, HWND tool) {
  constexpr SIZE_T kTextOffset = 256;
  constexpr size_t kTextCharacters = 256;
  RemoteBuffer remote(toolWindow, kTextOffset + kTextCharacters * sizeof(wchar_t));
  if (!remote) return {};
  struct Search {
    DWORD processId;
    std::vector<HWND> tips;
  } search{WindowProcessId(toolWindow), {}};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        if (WindowProcessId(window) == s.processId && ClassOf(window) == TOOLTIPS_CLASSW) s.tips.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  for (HWND tip : search.tips) {
    TOOLINFOW toolInfo{};
    toolInfo.cbSize = sizeof(toolInfo);
    toolInfo.hwnd = toolWindow;
    toolInfo.uId = reinterpret_cast<UINT_PTR>(tool);
    toolInfo.lpszText = static_cast<wchar_t*>(remote.At(kTextOffset));
    std::wstring text(kTextCharacters, L'\0');
    if (!remote.Write(0, &toolInfo, sizeof(toolInfo)) ||
        !remote.Write(kTextOffset, text.data(), text.size() * sizeof(wchar_t))) {
      return {};
    }
    // Only the tooltip that holds the tool writes its text.
    ::SendMessageW(tip, TTM_GETTEXTW, kTextCharacters, reinterpret_cast<LPARAM>(remote.At()));
    if (!remote.Read(kTextOffset, text.data(), text.size() * sizeof(wchar_t))) return {};
    text.resize(text.find(L'\0'));
    if (!text.empty()) return text;
  }
  return {};
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

void ClickButton(HWND dialog, int buttonId) { ::PostMessageW(::GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0); }

void TypeText(HWND dialog, int editId, const std::wstring& text) {
  ::SendDlgItemMessageW(dialog, editId, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DoubleClickListEntry(HWND list, int index) {
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::PostMessageW(::GetParent(list), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
}

HWND WaitForDialog(DWORD processId, const wchar_t* caption, HWND except, Timeout timeout) {
  struct Search {
    DWORD processId;
    const wchar_t* caption;
    HWND except;
    HWND found;
  } search{processId, caption, except, nullptr};
  WaitUntil(
      [&] {
        search.found = nullptr;
        ::EnumWindows(
            [](HWND window, LPARAM context) -> BOOL {
              auto& s = *reinterpret_cast<Search*>(context);
              if (window == s.except || WindowProcessId(window) != s.processId || !::IsWindowVisible(window) ||
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

bool ThreadStartedAfter(DWORD processId, FILETIME moment) {
  unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return false;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    unique_handle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID));
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (thread && ::GetThreadTimes(thread.get(), &created, &exited, &kernel, &user) && Ticks(created) > Ticks(moment)) {
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
