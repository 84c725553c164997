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
  com_ptr<IDispatch> desktop_dispatch;
  if (windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop_dispatch.put()) !=
          S_OK ||
      !desktop_dispatch) {
    return {};
  }
  com_ptr<IServiceProvider> services;
  com_ptr<IShellBrowser> browser;
  com_ptr<IShellView> view;
  com_ptr<IDispatch> view_dispatch;
  com_ptr<IShellFolderViewDual> folder_view;
  com_ptr<IDispatch> application;
  com_ptr<IShellDispatch2> shell;
  if (FAILED(desktop_dispatch->QueryInterface(IID_IServiceProvider, services.put_void())) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
      FAILED(browser->QueryActiveShellView(view.put())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, view_dispatch.put_void())) ||
      FAILED(view_dispatch->QueryInterface(IID_IShellFolderViewDual, folder_view.put_void())) ||
      FAILED(folder_view->get_Application(application.put())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, shell.put_void()))) {
    return {};
  }
  return shell;
}

}  // namespace

bool Win32ProgramStarter::IsElevated() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token)) return false;
  const unique_handle token(raw_token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
         elevation.TokenIsElevated != 0;
}

bool Win32ProgramStarter::StartProgram(const std::wstring& path, const std::wstring& arguments,
                                       const std::wstring& folder) {
  std::wstring command_line = L"\"" + path + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
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

bool Win32ProgramStarter::OpenWebPage(const std::wstring& url) {
  if (!IsElevated()) {
    return reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr,
                                                     SW_SHOWNORMAL)) > 32;
  }
  // The window's thread has its apartment already; another caller gets one.
  const ScopedComInitialization com(kWindowThreadApartment);
  const com_ptr<IShellDispatch2> shell = DesktopShellDispatch();
  if (!shell) return false;
  const unique_bstr file(url.c_str());
  VARIANT nothing{};
  ::VariantInit(&nothing);
  return SUCCEEDED(shell->ShellExecute(file.get(), nothing, nothing, nothing, nothing));
}

}  // namespace tarnwick
