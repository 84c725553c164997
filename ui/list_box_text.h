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

// The index of the first entry whose text is exactly `text` (letter case
// counts), or -1.
[[nodiscard]] LRESULT FindListBoxEntry(HWND list, const std::wstring& text);

// Sorts entries as a sorted list box orders them (its locale, letter case
// ignored; equal ones keep their order); another list box's order is left.
void SortLikeListBox(HWND list, std::vector<std::wstring>& entries);

// Adds every entry with LB_ADDSTRING (a sorted list box places each), with
// room for all reserved at once and one redraw at the end instead of one per
// entry: a list of 100,000 entries would otherwise hold the window for seconds.
void AddListBoxEntries(HWND list, const std::vector<std::wstring>& entries) noexcept;

}  // namespace tarnwick
