// Reading the texts of a list box. LB_GETTEXT is copied across processes by
// the system, so this also reads another program's list box.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// The text of entry `index`; nullopt when the list box has no such entry or
// refuses the query.
[[nodiscard]] std::optional<std::wstring> ReadListBoxEntry(HWND list, LRESULT index);

// Every entry's text in the list box's order; an entry that cannot be read is skipped.
[[nodiscard]] std::vector<std::wstring> ReadListBoxEntries(HWND list);

}  // namespace tarnwick
