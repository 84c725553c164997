// A stand-in for the tray window, for tests that open the main window and its
// dialogs in their own process: a message-only window with the test's
// procedure, registered as TrayWindowHandle, on a thread that lives as long
// as the test program, as the tray window's thread lives as long as Tarnwick.
// Under Wine a window thread that ends closes its X connection, and the X
// server hands that connection's window ids to the next client, another Wine
// program on the display included. Wine asks for a drawing context of a
// window on a connection of its own as the window is closed; a request still
// queued there when the thread has ended can meet the other program's window
// of the same id and end this program with an X error (BadMatch at X_CreateGC).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/globals.h"
#include "platform/detached_thread.h"

namespace tarnwick::testing_support {

// Waits until `found` yields a window, or `deadline` passes (null).
inline HWND WaitForWindow(const std::function<HWND()>& found, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (HWND window = found()) return window;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

// The stand-in, made on the first call with `procedure`; null when its thread
// or window could not be made. `threadId` receives the thread's id.
inline HWND StandInTrayWindow(WNDPROC procedure, std::atomic<DWORD>& threadId, std::chrono::milliseconds deadline) {
  static std::atomic<HWND> standIn{nullptr};
  static const bool started = StartDetachedThread([procedure, &threadId]() noexcept {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnwickStandInTray";
    HWND tray = ::CreateWindowExW(0, MAKEINTATOM(::RegisterClassW(&windowClass)), L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (tray == nullptr) return;
    TrayWindowHandle = tray;
    threadId = ::GetCurrentThreadId();
    standIn = tray;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  });
  return started ? WaitForWindow([] { return standIn.load(); }, deadline) : nullptr;
}

}  // namespace tarnwick::testing_support
