// COM initialised on this thread for the life of a scope, and uninitialised
// only when the initialisation succeeded.
#pragma once

#include <objbase.h>

namespace tarnwick {

// What a thread with windows needs before it calls the shell
// (ShellExecuteExW, Shell_NotifyIconW, the desktop's shell dispatch): a
// single-threaded apartment, without the OLE 1 DDE window.
inline constexpr DWORD kWindowThreadApartment = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;

class ScopedComInitialization {
 public:
  explicit ScopedComInitialization(DWORD model = COINIT_MULTITHREADED) noexcept
      : status_(::CoInitializeEx(nullptr, model)) {}
  ~ScopedComInitialization() {
    if (SUCCEEDED(status_)) ::CoUninitialize();
  }
  ScopedComInitialization(const ScopedComInitialization&) = delete;
  ScopedComInitialization& operator=(const ScopedComInitialization&) = delete;

  [[nodiscard]] HRESULT Status() const noexcept { return status_; }

 private:
  HRESULT status_;
};

}  // namespace tarnwick
