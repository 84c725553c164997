#pragma once

#include <windows.h>

#include <string>

namespace tarnwick {

// The string-table entry `id` of `module` (this program when null), read into
// 1024 characters; "ERROR" when the entry is missing.
[[nodiscard]] std::wstring LoadResourceText(UINT id, HINSTANCE module = nullptr);

}  // namespace tarnwick
