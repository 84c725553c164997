// The named close event that every instance of every user on the PC shares:
// "--close" and installers set it, and each running instance's close watcher
// waits on it.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

namespace tarnwick {

// Set by any instance to close every running instance.
inline constexpr const wchar_t* kCloseEventName = L"Global\\{f372ebd9-2e97-4246-87b2-febe6486ee32}";
// Held by the running instance of this session (and waited for by a start
// that finds it taken), so that simultaneous starts make one instance.
inline constexpr const wchar_t* kInstanceMutexName = L"Local\\{f372ebd9-2e97-4246-87b2-febe6486ee32}-instance";

// What every holder of the close event needs: wait on it and set it.
inline constexpr DWORD kCloseEventAccess = SYNCHRONIZE | EVENT_MODIFY_STATE;

// Creates the manual-reset event `name`, or opens it when another instance
// (of any user) made it. A new event lets every interactive user wait on it
// and set it, at medium integrity, so that one user's elevated instance does
// not lock out another user's start. Null when the event can be neither made
// nor opened: the caller then runs without a close watcher.
[[nodiscard]] unique_handle CreateCloseRequestEvent(const wchar_t* name);

}  // namespace tarnwick
