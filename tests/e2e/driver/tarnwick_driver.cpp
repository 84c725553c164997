#include "tests/e2e/driver/tarnwick_driver.h"

#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"
#include "tests/support/gdi_object_count.h"
#include "ui/messages.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

namespace tarnwick::e2e {
namespace {

// Spelled out rather than taken from the program's globals: linking those
// would create the named close event in this process too.
constexpr const wchar_t* kTrayWindowClass = L"Tarnwick_TrayClass";

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  for (wchar_t c : argument) {
    if (c == L'"') quoted += L'\\';
    quoted += c;
  }
  return quoted + L"\"";
}

std::wstring CommandLineOf(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  std::wstring commandLine = QuoteArgument(program);
  for (const auto& argument : arguments) commandLine += L" " + QuoteArgument(argument);
  return commandLine;
}

unique_hfile OpenInheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return unique_hfile(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring TempFileName() {
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t name[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, folder);
  ::GetTempFileNameW(folder, L"twe", 0, name);
  return name;
}

std::wstring ClassNameOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  ::GetWindowTextW(window, text, 512);
  return text;
}

// The first visible top-level window of `processId` that `matches`.
HWND FindVisibleTopLevel(DWORD processId, const std::function<bool(HWND)>& matches) {
  struct Search {
    DWORD processId;
    const std::function<bool(HWND)>* matches;
    HWND found;
  } search{processId, &matches, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        if (WindowProcessId(window) != s.processId || !::IsWindowVisible(window) || !(*s.matches)(window)) {
          return TRUE;
        }
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// True while `window` or one of its children has a part still to paint.
bool NeedsPainting(HWND window) {
  bool pending = ::GetUpdateRect(window, nullptr, FALSE) != FALSE;
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM context) -> BOOL {
        if (::GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(context) = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&pending));
  return pending;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, Timeout timeout) {
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  while (true) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
}

std::wstring WindowsPathOf(const std::string& path) {
  if (path.empty() || path.front() != '/') return Widen(path);
  std::wstring windows = L"Z:" + Widen(path);
  for (wchar_t& c : windows) {
    if (c == L'/') c = L'\\';
  }
  return windows;
}

std::wstring TarnwickExePath() { return WindowsPathOf(TARNWICK_EXE_PATH); }

std::wstring ForcedDarkExePath() {
  std::wstring path = TarnwickExePath();
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tarnwick_forced_dark.exe";
}

TarnwickProcess::TarnwickProcess(const std::vector<std::wstring>& arguments, const std::wstring& exe, StartMode mode)
    : errorFile_(TempFileName()) {
  unique_hfile error = OpenInheritable(errorFile_, GENERIC_WRITE, CREATE_ALWAYS);
  unique_hfile nothing = OpenInheritable(L"NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.get();
  startup.hStdOutput = nothing.get();
  startup.hStdError = error.get();
  PROCESS_INFORMATION started{};
  std::wstring commandLine = CommandLineOf(exe, arguments);
  const DWORD flags = mode == StartMode::Suspended ? CREATE_SUSPENDED : 0;
  bool created = ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                  &startup, &started) != FALSE;
  if (!created && ::GetLastError() == ERROR_INTERNAL_ERROR) {
    // Wine's answer when the new process ended before any of its Windows code
    // ran: its Linux start failed, as it now and then does on a loaded
    // machine. Nothing of the program has run, so it is started once more.
    std::fprintf(stderr, "starting tarnwick.exe failed inside Wine (error 1359); starting it again\n");
    created = ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                               &startup, &started) != FALSE;
  }
  if (!created) {
    ADD_FAILURE() << "cannot start tarnwick.exe, error " << ::GetLastError();
    return;
  }
  if (mode == StartMode::Suspended) {
    suspendedThread_ = started.hThread;
  } else {
    ::CloseHandle(started.hThread);
  }
  process_ = started.hProcess;
  processId_ = started.dwProcessId;
}

TarnwickProcess::~TarnwickProcess() {
  End();
  if (suspendedThread_ != nullptr) ::CloseHandle(suspendedThread_);
  if (process_ != nullptr) ::CloseHandle(process_);
  ::DeleteFileW(errorFile_.c_str());
}

bool TarnwickProcess::IsRunning() const {
  return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool TarnwickProcess::WaitForExit(Timeout timeout) {
  return process_ != nullptr && WaitUntil([this] { return !IsRunning(); }, timeout);
}

std::optional<DWORD> TarnwickProcess::ExitCode() const {
  DWORD code = 0;
  if (process_ == nullptr || IsRunning() || !::GetExitCodeProcess(process_, &code)) return std::nullopt;
  return code;
}

std::string TarnwickProcess::StandardError() const { return ReadFileBytes(errorFile_).value_or(""); }

void TarnwickProcess::End() {
  if (!IsRunning()) return;
  ::TerminateProcess(process_, 0xDEAD);
  ::WaitForSingleObject(process_, 10000);
}

bool TarnwickProcess::Resume() {
  if (suspendedThread_ == nullptr) return false;
  const bool resumed = ::ResumeThread(suspendedThread_) != static_cast<DWORD>(-1);
  ::CloseHandle(suspendedThread_);
  suspendedThread_ = nullptr;
  return resumed;
}

HWND FindTrayWindow() { return ::FindWindowW(kTrayWindowClass, nullptr); }

DWORD WindowProcessId(HWND window) {
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  return processId;
}

HeldWindowThread::HeldWindowThread(HWND window)
    : thread_(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, ::GetWindowThreadProcessId(window, nullptr))) {
  held_ = thread_ != nullptr && ::SuspendThread(thread_) != static_cast<DWORD>(-1);
}

HeldWindowThread::~HeldWindowThread() {
  Release();
  if (thread_ != nullptr) ::CloseHandle(thread_);
}

bool HeldWindowThread::Release() {
  if (!held_) return false;
  held_ = false;
  return ::ResumeThread(thread_) != static_cast<DWORD>(-1);
}

HWND WaitForVisibleWindow(DWORD processId, const wchar_t* className, const wchar_t* title, Timeout timeout) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        found = FindVisibleTopLevel(processId, [&](HWND window) {
          return ClassNameOf(window) == className && (title == nullptr || TextOf(window) == title);
        });
        return found != nullptr;
      },
      timeout);
  return found;
}

bool TrayIconPresent(HWND trayWindow, UINT iconId) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = trayWindow;
  data.uID = iconId;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool DeleteTrayIcon(HWND trayWindow, UINT iconId) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = trayWindow;
  data.uID = iconId;
  return ::Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

void PostTrayCallback(HWND trayWindow, UINT mouseMessage) {
  ::PostMessageW(trayWindow, WMU_TRAY_CALLBACK, 0, static_cast<LPARAM>(mouseMessage));
}

HWND WaitForPopupMenu(DWORD processId, Timeout timeout) {
  return WaitForVisibleWindow(processId, L"#32768", nullptr, timeout);
}

void ChooseMenuItem(HWND menuWindow, wchar_t key) {
  // The menu's modal loop reads the keyboard messages of its thread.
  ::PostMessageW(menuWindow, WM_CHAR, key, 1);
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
  unique_hkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& path, const std::wstring& name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

void WriteRegistryDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
  ASSERT_EQ(::RegSetKeyValueW(root, path.c_str(), name.c_str(), REG_DWORD, &value, sizeof(value)), ERROR_SUCCESS);
}

void DeleteRegistryTree(HKEY root, const std::wstring& path) {
  ::RegDeleteTreeW(root, path.c_str());
  ::RegDeleteKeyW(root, path.c_str());
}

std::wstring ListFilePath() {
  unique_cotaskmem folder;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, reinterpret_cast<PWSTR*>(folder.put())))) {
    return {};
  }
  return std::wstring(static_cast<const wchar_t*>(folder.get())) + L"\\Tarnwick\\config\\p-core-list.txt";
}

void WriteListFile(const std::vector<std::wstring>& entries) {
  std::wstring text;
  for (const auto& entry : entries) text += entry + L"\r\n";
  const std::wstring path = ListFilePath();
  ::SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
  WriteFileBytes(path, std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
}

std::optional<std::vector<std::wstring>> ReadListFile() {
  const auto bytes = ReadFileBytes(ListFilePath());
  if (!bytes) return std::nullopt;
  std::wstring text(bytes->size() / sizeof(wchar_t), L'\0');
  std::copy_n(bytes->data(), text.size() * sizeof(wchar_t), reinterpret_cast<char*>(text.data()));
  std::vector<std::wstring> entries;
  std::wstring line;
  for (wchar_t c : text) {
    if (c == L'\n') {
      entries.push_back(line);
      line.clear();
    } else if (c != L'\r') {
      line += c;
    }
  }
  return entries;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
  unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  unique_hfile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << "cannot create the file, error " << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

bool RunUnixProgram(const std::string& program, const std::vector<std::wstring>& arguments) {
  // Wine starts a Unix program given by its Z: path like any other program.
  const std::wstring path = WindowsPathOf(program);
  std::wstring commandLine = CommandLineOf(path, arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    return false;
  }
  unique_handle process(started.hProcess);
  unique_handle thread(started.hThread);
  if (process) ::WaitForSingleObject(process.get(), static_cast<DWORD>(kDefaultTimeout.count()));
  return true;
}

std::wstring TaskFile(const std::wstring& name) {
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\Tasks\\" + name;
}

bool CreateLogonTaskWithSchtasks(const std::wstring& name, const std::wstring& program) {
  std::string command;
  for (const wchar_t c : program) command += static_cast<char>(c < 0x80 ? c : '?');
  const std::string task =
      "<?xml version=\"1.0\"?>\n"
      "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
      "  <RegistrationInfo><Author>Ombrix LLC</Author></RegistrationInfo>\n"
      "  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>\n"
      "  <Principals><Principal id=\"Author\"><GroupId>S-1-5-32-545</GroupId>"
      "<RunLevel>HighestAvailable</RunLevel></Principal></Principals>\n"
      "  <Settings><Enabled>true</Enabled></Settings>\n"
      "  <Actions Context=\"Author\"><Exec><Command>\"" +
      command +
      "\"</Command>"
      "<Arguments>-tray</Arguments></Exec></Actions>\n"
      "</Task>\n";
  const std::wstring definition = TempFileName();
  WriteFileBytes(definition, task);
  wchar_t system[MAX_PATH] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring schtasks = std::wstring(system) + L"\\schtasks.exe";
  (void)RunCommandLine(CommandLineOf(schtasks, {L"/create", L"/xml", definition, L"/tn", name}), kDefaultTimeout);
  ::DeleteFileW(definition.c_str());
  return FileExists(TaskFile(name));
}

std::optional<DWORD> RunCommandLine(const std::wstring& commandLine, Timeout timeout,
                                    const std::wstring& workingFolder) {
  std::wstring writable = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &started)) {
    return std::nullopt;
  }
  unique_handle process(started.hProcess);
  unique_handle thread(started.hThread);
  if (::WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.get(), &code)) return std::nullopt;
  return code;
}

std::wstring UnixPathOf(const std::wstring& windowsPath) {
  using UnixFileName = char* (*)(const wchar_t*);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto convert = kernel ? reinterpret_cast<UnixFileName>(
                                    reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "wine_get_unix_file_name")))
                              : nullptr;
  if (convert == nullptr) return {};
  char* unixPath = convert(windowsPath.c_str());
  if (unixPath == nullptr) return {};
  std::wstring result = Widen(unixPath);
  ::HeapFree(::GetProcessHeap(), 0, unixPath);
  return result;
}

namespace {

// Saves the display, or `window`'s rectangle of it, as `picture`: a Unix path
// whose extension, or an ImageMagick prefix such as "bmp3:", names the
// format. `picturePath` is the same file's Windows path.
bool CaptureDisplay(const std::string& picture, const std::wstring& picturePath, HWND window,
                    bool repaintFirst = true) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return false;
  ::DeleteFileW(picturePath.c_str());
  // A window that has only just shown may not have painted yet: it is
  // repainted whole, and the picture waits until nothing of it is left to
  // paint. Its thread puts the painting on the screen when it is idle again.
  if (window != nullptr && repaintFirst) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    WaitUntil([window] { return !NeedsPainting(window); });
  }
  // Lets every window's thread get through what is queued, its painting
  // included, so the picture shows the screen as it now stands.
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutW(HWND_BROADCAST, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  std::vector<std::wstring> arguments = {L"-display", Widen(display), L"-window", L"root"};
  RECT area{};
  if (window != nullptr && ::GetWindowRect(window, &area)) {
    // The virtual desktop sits at the display's origin, so screen and display coordinates agree.
    arguments.insert(arguments.end(), {L"-crop", std::to_wstring(area.right - area.left) + L"x" +
                                                     std::to_wstring(area.bottom - area.top) + L"+" +
                                                     std::to_wstring(area.left) + L"+" + std::to_wstring(area.top)});
  }
  arguments.push_back(Widen(picture));
  if (!RunUnixProgram("/usr/bin/import", arguments)) return false;
  // The picture is complete once import has exited, or, when Wine gives no
  // handle to wait on, once its size stops changing.
  std::optional<size_t> lastSize;
  return WaitUntil([&] {
    const auto bytes = ReadFileBytes(picturePath);
    if (!bytes || bytes->empty()) return false;
    const bool settled = lastSize == bytes->size();
    lastSize = bytes->size();
    return settled;
  });
}

}  // namespace

bool TakeScreenshot(const std::string& name, HWND window) {
  const char* artifacts = std::getenv("TARNWICK_ARTIFACTS");
  if (artifacts == nullptr || *artifacts == '\0') return false;
  const std::string picture = std::string(artifacts) + "/" + name + ".png";
  return CaptureDisplay(picture, WindowsPathOf(picture), window);
}

std::optional<WindowPicture> CaptureWindowPicture(HWND window, bool repaintFirst) {
  const char* artifacts = std::getenv("TARNWICK_ARTIFACTS");
  RECT area{};
  if (artifacts == nullptr || *artifacts == '\0' || !::GetWindowRect(window, &area)) return std::nullopt;
  static int taken = 0;
  const std::string picture = std::string(artifacts) + "/pixels-" + std::to_string(::GetCurrentProcessId()) + "-" +
                              std::to_string(++taken) + ".bmp";
  const std::wstring picturePath = WindowsPathOf(picture);
  // ImageMagick writes a plain 24-bit BMP with the "bmp3:" prefix, which LoadImageW reads.
  if (!repaintFirst) WaitUntil([window] { return !NeedsPainting(window); });
  if (!CaptureDisplay("bmp3:" + picture, picturePath, window, repaintFirst)) return std::nullopt;
  unique_hbitmap bitmap(static_cast<HBITMAP>(
      ::LoadImageW(nullptr, picturePath.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  ::DeleteFileW(picturePath.c_str());
  BITMAP described{};
  if (!bitmap || ::GetObjectW(bitmap.get(), sizeof(described), &described) != sizeof(described)) return std::nullopt;
  WindowPicture result;
  result.origin = {area.left, area.top};
  result.width = described.bmWidth;
  result.height = described.bmHeight;
  result.pixels.resize(static_cast<size_t>(result.width) * static_cast<size_t>(result.height));
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = result.width;
  format.bmiHeader.biHeight = -result.height;  // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  window_dc screen(nullptr);
  if (::GetDIBits(screen.get(), bitmap.get(), 0, static_cast<UINT>(result.height), result.pixels.data(), &format,
                  DIB_RGB_COLORS) != result.height) {
    return std::nullopt;
  }
  // GetDIBits gives 0x00RRGGBB; COLORREF is 0x00BBGGRR.
  for (COLORREF& pixel : result.pixels) pixel = RGB(GetBValue(pixel), GetGValue(pixel), GetRValue(pixel));
  return result;
}

std::optional<COLORREF> WindowPicture::AtScreen(POINT point) const {
  const int x = point.x - origin.x;
  const int y = point.y - origin.y;
  if (x < 0 || y < 0 || x >= width || y >= height) return std::nullopt;
  return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

std::optional<COLORREF> WindowPicture::AtClient(HWND window, POINT point) const {
  ::ClientToScreen(window, &point);
  return AtScreen(point);
}

std::optional<size_t> LiveGdiObjects(const TarnwickProcess& process) {
  unique_handle opened(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process.Id()));
  if (!opened) return std::nullopt;
  return CountLiveGdiObjects(opened.get());
}

TarnwickProcess& TarnwickTest::Start(const std::vector<std::wstring>& arguments) {
  started_.push_back(std::make_unique<TarnwickProcess>(arguments, executable_));
  return *started_.back();
}

TarnwickProcess& TarnwickTest::StartSuspended(const std::vector<std::wstring>& arguments) {
  started_.push_back(std::make_unique<TarnwickProcess>(arguments, executable_, StartMode::Suspended));
  return *started_.back();
}

RunResult TarnwickTest::Run(const std::vector<std::wstring>& arguments, Timeout timeout) {
  const auto begin = std::chrono::steady_clock::now();
  TarnwickProcess& process = Start(arguments);
  RunResult result;
  result.exited = process.WaitForExit(timeout);
  result.duration = std::chrono::duration_cast<Timeout>(std::chrono::steady_clock::now() - begin);
  result.exitCode = process.ExitCode().value_or(STILL_ACTIVE);
  result.standardError = process.StandardError();
  process.End();
  return result;
}

TarnwickProcess& TarnwickTest::StartInstance(const std::vector<std::wstring>& arguments) {
  TarnwickProcess& process = Start(arguments);
  HWND tray = nullptr;
  EXPECT_TRUE(WaitUntil([&] {
    tray = FindTrayWindow();
    return tray != nullptr && WindowProcessId(tray) == process.Id() && TrayIconPresent(tray, process.Id());
  })) << "no tray window with an icon";
  return process;
}

std::string TarnwickTest::ArtifactName(const std::string& label) {
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  return std::string(test->test_suite_name()) + "." + test->name() + "-" + label;
}

void TarnwickTest::TearDown() {
  if (HasFailure()) TakeScreenshot(ArtifactName("failure"));
  for (auto& process : started_) process->End();
  started_.clear();
}

}  // namespace tarnwick::e2e
