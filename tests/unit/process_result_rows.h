// Rows of pass results as the worker publishes them, for the tests of the
// pass that fills them and of the windows that show them.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "enforce/pass_results.h"

namespace tarnwick {

inline constexpr MethodResult kNotRun{};
inline constexpr MethodResult kPlaced{MethodResult::Outcome::Placed, ERROR_SUCCESS};
inline constexpr MethodResult kDenied{MethodResult::Outcome::Failed, ERROR_ACCESS_DENIED};
// Denied on a process that Windows protects.
inline constexpr MethodResult kDeniedProtected{MethodResult::Outcome::Failed, ERROR_ACCESS_DENIED,
                                               MethodResult::Priority::Untouched, ERROR_SUCCESS, true};
// What a method reports when its function is missing from the system.
inline constexpr MethodResult kUnsupported{MethodResult::Outcome::Failed, ERROR_PROC_NOT_FOUND};

constexpr MethodResult Failed(DWORD error) { return MethodResult{MethodResult::Outcome::Failed, error}; }
// Efficiency mode off for a process in Task Manager's efficiency mode: its
// Idle priority class raised to Normal too, or left for `error`.
inline constexpr MethodResult kPlacedPriorityNormal{MethodResult::Outcome::Placed, ERROR_SUCCESS,
                                                    MethodResult::Priority::Normal};
constexpr MethodResult PlacedPriorityLeftIdle(DWORD error) {
  return MethodResult{MethodResult::Outcome::Placed, ERROR_SUCCESS, MethodResult::Priority::StillIdle, error};
}
// CPU sets with no Id known for any P-core: no call made.
inline constexpr MethodResult kNotApplicable{MethodResult::Outcome::NotApplicable, ERROR_SUCCESS};

// A process row; an empty pattern means it matched none.
inline ProcessResult Row(DWORD id, std::wstring name, std::wstring pattern = L"", std::wstring path = L"",
                         MethodResults methods = {}) {
  ProcessResult row;
  row.processId = id;
  row.fileName = std::move(name);
  row.matched = !pattern.empty();
  row.pattern = std::move(pattern);
  row.imagePath = std::move(path);
  row.methods = methods;
  return row;
}

}  // namespace tarnwick
