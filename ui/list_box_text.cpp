#include "ui/list_box_text.h"

#include <algorithm>

namespace tarnwick {

std::optional<std::wstring> ReadListBoxEntry(HWND list, LRESULT index) {
  if (index < 0) return std::nullopt;
  const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return std::nullopt;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied =
      ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  if (copied < 0) return std::nullopt;
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::vector<std::wstring> ReadListBoxEntries(HWND list) {
  std::vector<std::wstring> entries;
  const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    if (std::optional<std::wstring> entry = ReadListBoxEntry(list, index)) entries.push_back(std::move(*entry));
  }
  return entries;
}

void AddListBoxEntries(HWND list, const std::vector<std::wstring>& entries) noexcept {
  if (entries.empty()) return;
  // A sorted list box places each new entry by a binary search and moves
  // every entry after it: in its own order every entry goes to the end.
  // Sorted here with the comparison such a list box uses (its locale,
  // letter case ignored); another list box's order is left to it.
  std::vector<const std::wstring*> order;
  order.reserve(entries.size());
  for (const std::wstring& entry : entries) order.push_back(&entry);
  if (::GetWindowLongPtrW(list, GWL_STYLE) & LBS_SORT) {
    const auto locale = static_cast<LCID>(::SendMessageW(list, LB_GETLOCALE, 0, 0));
    std::stable_sort(order.begin(), order.end(), [locale](const std::wstring* a, const std::wstring* b) {
      return ::CompareStringW(locale, NORM_IGNORECASE, a->c_str(), static_cast<int>(a->size()), b->c_str(),
                              static_cast<int>(b->size())) == CSTR_LESS_THAN;
    });
  }
  size_t characters = 0;
  for (const std::wstring& entry : entries) characters += entry.size() + 1;
  // Only a hint: a list box that cannot reserve the room still adds each entry.
  ::SendMessageW(list, LB_INITSTORAGE, entries.size(), static_cast<LPARAM>(characters * sizeof(wchar_t)));
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  for (const std::wstring* entry : order) {
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry->c_str()));
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
}

}  // namespace tarnwick
