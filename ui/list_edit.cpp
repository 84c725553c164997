#include "ui/list_edit.h"

#include <windows.h>

#include <algorithm>
#include <limits>

namespace tarnwick {

std::vector<std::wstring> EntriesToSave(std::span<const std::wstring> listed) {
  std::vector<std::wstring> kept;
  kept.reserve(listed.size());
  for (const std::wstring& entry : listed) {
    if (!entry.empty()) kept.push_back(entry);
  }
  return kept;
}

bool ListBoxCanHoldEntries(std::span<const std::wstring> entries) {
  return std::none_of(entries.begin(), entries.end(),
                      [](const std::wstring& entry) { return entry.find(L'\0') != std::wstring::npos; });
}

bool IsAlreadyListed(std::span<const std::wstring> listed, std::wstring_view candidate) {
  if (candidate.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
  const int candidateLength = static_cast<int>(candidate.size());
  return std::any_of(listed.begin(), listed.end(), [&](const std::wstring& entry) {
    // The system's own upper-case mapping, so letters beyond ASCII compare as
    // the list box compares them.
    return entry.size() == candidate.size() &&
           ::CompareStringOrdinal(entry.data(), static_cast<int>(entry.size()), candidate.data(), candidateLength,
                                  TRUE) == CSTR_EQUAL;
  });
}

AppliedChange ApplyListChange(const std::vector<std::wstring>& entries, const ListChange& change) {
  AppliedChange applied;
  applied.entries = entries;
  std::vector<std::wstring>& listed = applied.entries;
  const auto same = std::find(listed.begin(), listed.end(), change.entry);
  switch (change.kind) {
    case ListChange::Kind::Add:
      for (const std::wstring& text : change.added) {
        if (text.empty()) continue;
        if (IsAlreadyListed(listed, text)) {
          applied.duplicate = true;
          continue;
        }
        listed.push_back(text);
        applied.added.push_back(text);
      }
      applied.save = !applied.added.empty();
      break;
    case ListChange::Kind::Remove:
      if (same != listed.end()) listed.erase(same);
      applied.save = true;
      break;
    case ListChange::Kind::Edit: {
      if (change.replacement.empty() || change.replacement == change.entry) break;
      // The entry itself may change its letter case.
      std::vector<std::wstring> others = listed;
      if (same != listed.end()) others.erase(others.begin() + (same - listed.begin()));
      if (IsAlreadyListed(others, change.replacement)) {
        applied.duplicate = true;
        break;
      }
      if (same != listed.end()) {
        *same = change.replacement;
      } else {
        listed.push_back(change.replacement);
      }
      applied.added.push_back(change.replacement);
      applied.save = true;
      break;
    }
    case ListChange::Kind::Clear:
      listed.clear();
      applied.save = true;
      break;
  }
  return applied;
}

}  // namespace tarnwick
