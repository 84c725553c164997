// Run by the test launcher in a fresh prefix before an end-to-end test: exit
// code 0 once the desktop's shell serves its windows over COM (the elevated
// program opens web pages as the desktop's user through them), 1 when it
// still does not after the deadline.
#include "platform/com_initialization.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <exdisp.h>
#include <shlguid.h>

namespace {

bool DesktopShellServesWindows() {
  tarnwick::com_ptr<IShellWindows> windows;
  return SUCCEEDED(
      ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.put_void()));
}

}  // namespace

int main() {
  const tarnwick::ScopedComInitialization com(COINIT_APARTMENTTHREADED);
  if (FAILED(com.Status())) return 1;
  // The desktop's explorer registers them a moment after its start.
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  while (!DesktopShellServesWindows()) {
    if (::GetTickCount64() >= deadline) return 1;
    ::Sleep(50);
  }
  return 0;
}
