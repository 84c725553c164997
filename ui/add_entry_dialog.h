// The Add New Entry dialog: edits one entry of the process list.
#pragma once

#include <windows.h>

#include <string>

namespace tarnwick {

// Runs the dialog modally, owned by `owner`, showing `entry`. Returns 0 when
// "OK" was pressed, and `entry` then holds the edit field's text whole
// (possibly empty); 1 for "Cancel", Escape or the close box, with `entry`
// unchanged. The field takes at most 1023 characters: `entry` must not be
// longer, or it would be cut.
INT_PTR RunAddEntryDialog(HWND owner, std::wstring& entry) noexcept;

}  // namespace tarnwick
