#include "platform/win32_program_starter.h"

#include "platform/com_initialization.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shlguid.h>

namespace tarnwick {
namespace {

// The desktop's shell dispatch object: the shell window of the desktop, its
// view's automation object, and that object's Application.
com_ptr<IShellDispatch2> DesktopShellDispatch() {
  com_ptr<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.put_void()))) {
    return {};
  }
  VARIANT location{};
  ::VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT empty{};
  ::VariantInit(&empty);
  long window = 0;
  com_ptr<IDispatch> desktopDispatch;
  if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktopDispatch.put()) !=
          S_OK ||
      !desktopDispatch) {
    return {};
  }
  com_ptr<IServiceProvider> services;
  com_ptr<IShellBrowser> browser;
  com_ptr<IShellView> view;
  com_ptr<IDispatch> viewDispatch;
  com_ptr<IShellFolderViewDual> folderView;
  com_ptr<IDispatch> application;
  com_ptr<IShellDispatch2> shell;
  if (FAILED(desktopDispatch->QueryInterface(IID_IServiceProvider, services.put_void())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
      FAILED(browser->QueryActiveShellView(view.put())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, viewDispatch.put_void())) ||
      FAILED(viewDispatch->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
      FAILED(folderView->get_Application(application.put())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
    return {};
  }
  return shell;
}

}  // namespace

bool Win32ProgramStarter::IsElevated() {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
  const unique_handle token(rawToken);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

bool Win32ProgramStarter::StartProgram(const std::wstring& path, const std::wstring& arguments,
                                       const std::wstring& folder) {
  std::wstring commandLine = L"\"" + path + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
    return false;
  }
  const unique_handle process(started.hProcess);
  const unique_handle thread(started.hThread);
  return true;
}

bool Win32ProgramStarter::StartElevated(const std::wstring& path, const std::wstring& arguments) {
  SHELLEXECUTEINFOW launch{};
  launch.cbSize = sizeof(launch);
  launch.fMask = SEE_MASK_NOCLOSEPROCESS;
  launch.lpVerb = L"runas";
  launch.lpFile = path.c_str();
  launch.lpParameters = arguments.c_str();
  launch.nShow = SW_SHOWNORMAL;
  const bool started = ::ShellExecuteExW(&launch) != FALSE;
  const unique_handle process(launch.hProcess);
  return started && process;
}

namespace {

// Opens `file` with `arguments` as the desktop's user: directly when this
// process is not elevated, else through the desktop's shell.
bool ShellOpenAsDesktopUser(bool elevated, const std::wstring& file, const std::wstring& arguments) {
  if (!elevated) {
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, nullptr, file.c_str(),
                                                     arguments.empty() ? nullptr : arguments.c_str(), nullptr,
                                                     SW_SHOWNORMAL)) > 32;
  }
  // The window's thread has its apartment already; another caller gets one.
  const ScopedComInitialization com(kWindowThreadApartment);
  const com_ptr<IShellDispatch2> shell = DesktopShellDispatch();
  if (!shell) return false;
  const unique_bstr shellFile(file.c_str());
  VARIANT nothing{};
  ::VariantInit(&nothing);
  if (arguments.empty()) return SUCCEEDED(shell->ShellExecute(shellFile.get(), nothing, nothing, nothing, nothing));
  const unique_bstr shellArguments(arguments.c_str());
  VARIANT argumentsVariant{};
  ::VariantInit(&argumentsVariant);
  argumentsVariant.vt = VT_BSTR;
  argumentsVariant.bstrVal = shellArguments.get();  // still owned by shellArguments
  return SUCCEEDED(shell->ShellExecute(shellFile.get(), argumentsVariant, nothing, nothing, nothing));
}

}  // namespace

bool Win32ProgramStarter::OpenWebPage(const std::wstring& url) { return ShellOpenAsDesktopUser(IsElevated(), url, {}); }

bool Win32ProgramStarter::ShowFileInFolder(const std::wstring& path) {
  // A file name holds no '"'; a path that did could end the quotes early.
  if (path.empty() || path.find(L'"') != std::wstring::npos) return false;
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  return ShellOpenAsDesktopUser(IsElevated(), std::wstring(windows) + L"\\explorer.exe", L"/select,\"" + path + L"\"");
}

}  // namespace tarnwick
