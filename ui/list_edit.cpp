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
           ::CompareStringOrdinal(entry.data(), static_cast<int>(entry.size()), candidate.data(),
                                  candidateLength, TRUE) == CSTR_EQUAL;
  });
}

AddFlowSteps DecideAddFlow(bool accepted, std::wstring_view entry,
                           const std::optional<std::wstring>& pending, bool duplicate) {
  AddFlowSteps steps;
  if (accepted && !entry.empty()) {
    if (!duplicate) {
      steps.insert = std::wstring(entry);
      steps.saveAndAnnounce = true;
      return steps;
    }
    steps.showDuplicateMessage = true;
  }
  // Nothing new goes in: an entry taken out for editing returns unchanged, and
  // the file, which still holds it, needs no rewrite.
  if (pending) steps.insert = *pending;
  return steps;
}

}  // namespace tarnwick
