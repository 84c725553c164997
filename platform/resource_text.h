#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

// The string-table entry `id` of `module` (this program when null), read into
// 1024 characters; "ERROR" when the entry is missing.
[[nodiscard]] std::wstring LoadResourceText(UINT id, HINSTANCE module = nullptr);

// Each "%s" of `format`, in order, becomes the next of `values`; a text is
// never used as a printf format, and "%s" inside a value stays as it is.
[[nodiscard]] std::wstring FillTextFields(std::wstring format, std::initializer_list<std::wstring_view> values);

}  // namespace tarnwick
