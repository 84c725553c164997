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

LRESULT FindListBoxEntry(HWND list, const std::wstring& text) {
  // LB_FINDSTRINGEXACT ignores letter case: each candidate is read back.
  LRESULT first = -1;
  LRESULT index = -1;
  while (true) {
    index =
        ::SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0 || index == first) return -1;
    if (first < 0) first = index;
    if (ReadListBoxEntry(list, index) == text) return index;
  }
}

namespace {

// Ranks entries as a sorted list box does; nothing for another list box.
bool SortsLikeListBox(HWND list, LCID& locale) {
  if ((::GetWindowLongPtrW(list, GWL_STYLE) & LBS_SORT) == 0) return false;
  locale = static_cast<LCID>(::SendMessageW(list, LB_GETLOCALE, 0, 0));
  return true;
}

bool ListBoxOrderLess(LCID locale, const std::wstring& a, const std::wstring& b) {
  return ::CompareStringW(locale, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                          static_cast<int>(b.size())) == CSTR_LESS_THAN;
}

}  // namespace

void SortLikeListBox(HWND list, std::vector<std::wstring>& entries) {
  LCID locale = 0;
  if (!SortsLikeListBox(list, locale)) return;
  std::stable_sort(entries.begin(), entries.end(),
                   [locale](const std::wstring& a, const std::wstring& b) { return ListBoxOrderLess(locale, a, b); });
}

void AddListBoxEntries(HWND list, const std::vector<std::wstring>& entries) noexcept {
  if (entries.empty()) return;
  // A sorted list box places each new entry by a binary search and moves
  // every entry after it: in its own order every entry goes to the end.
  std::vector<const std::wstring*> order;
  order.reserve(entries.size());
  for (const std::wstring& entry : entries) order.push_back(&entry);
  LCID locale = 0;
  if (SortsLikeListBox(list, locale)) {
    std::stable_sort(order.begin(), order.end(), [locale](const std::wstring* a, const std::wstring* b) {
      return ListBoxOrderLess(locale, *a, *b);
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
