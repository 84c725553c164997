// The rules of the main window's list editing, apart from the list box: which
// entries a save writes, when a text counts as already listed, and what the
// add flow does with the Add New Entry dialog's answer.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Entries this long or longer are not edited by a double-click (the Add New
// Entry dialog takes less); a save keeps them like any other.
inline constexpr size_t kMaxEntryLength = 1024;

// The entries a save writes, in list order: empty entries are left out,
// every other entry is written as it is, whatever its length.
[[nodiscard]] std::vector<std::wstring> EntriesToSave(std::span<const std::wstring> listed);

// False when an entry holds a character that a list box cannot hold (a zero
// character ends its text there): such a list is shown but never saved from it.
[[nodiscard]] bool ListBoxCanHoldEntries(std::span<const std::wstring> entries);

// True when `candidate` equals a whole listed entry, letter case ignored.
[[nodiscard]] bool IsAlreadyListed(std::span<const std::wstring> listed, std::wstring_view candidate);

// What the add flow does once the Add New Entry dialog has ended.
struct AddFlowSteps {
  bool showDuplicateMessage = false;
  std::optional<std::wstring> insert;  // the text to put into the list box
  bool saveAndAnnounce = false;        // save the list and tell the tray window
};

// `accepted`: the dialog ended with OK. `entry`: its text. `pending`: the entry
// taken out of the list box by a double-click, if the flow edits one.
// `duplicate`: `entry` is already listed (the pending entry is out of the list).
// An edit that is cancelled, confirmed empty or confirmed as a duplicate puts
// the former entry back, so that the list box keeps agreeing with the file.
[[nodiscard]] AddFlowSteps DecideAddFlow(bool accepted, std::wstring_view entry,
                                         const std::optional<std::wstring>& pending, bool duplicate);

}  // namespace tarnwick
