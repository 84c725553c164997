// The rules of the main window's list editing, apart from the list box: which
// entries a save writes, when a text counts as already listed, and what one
// edit of the user's makes of the entries the list file holds.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Entries this long or longer are not edited by a double-click: the Add New
// Entry dialog takes at most kMaxEntryLength - 1 characters, and the user is
// told instead. A save keeps them like any other.
inline constexpr size_t kMaxEntryLength = 1024;

// The entries a save writes, in list order: empty entries are left out,
// every other entry is written as it is, whatever its length.
[[nodiscard]] std::vector<std::wstring> EntriesToSave(std::span<const std::wstring> listed);

// False when an entry holds a character that a list box cannot hold (a zero
// character ends its text there): such a list is shown but never saved from it.
[[nodiscard]] bool ListBoxCanHoldEntries(std::span<const std::wstring> entries);

// True when `candidate` equals a whole listed entry, letter case ignored.
[[nodiscard]] bool IsAlreadyListed(std::span<const std::wstring> listed, std::wstring_view candidate);

// One edit of the user's, to be applied to what the list file holds when it
// is saved: another program may have changed the file since the window showed it.
struct ListChange {
  enum class Kind { Add, Remove, Edit, Clear };
  Kind kind = Kind::Add;
  std::vector<std::wstring> added;  // Add: the texts to add, in order
  std::wstring entry;               // Remove: the entry taken out; Edit: the entry changed
  std::wstring replacement;         // Edit: its new text
};

// What an edit makes of the entries a file holds.
struct AppliedChange {
  std::vector<std::wstring> entries;  // the entries to save
  std::vector<std::wstring> added;    // the texts that went in
  bool duplicate = false;             // a text was refused as already listed
  bool save = false;                  // the file is to be written
};

// Add: every text not empty and not already listed (letter case ignored) is
// appended; a listed one sets `duplicate`; saved when one went in. Remove: the
// first entry equal to `entry` goes, if it is still there; always saved.
// Edit: the first entry equal to `entry` becomes `replacement` (which is
// added when `entry` is gone meanwhile); nothing changes for an empty
// replacement, an unchanged one, or one that another entry already is
// (`duplicate`). Clear: no entries; always saved.
[[nodiscard]] AppliedChange ApplyListChange(const std::vector<std::wstring>& entries, const ListChange& change);

}  // namespace tarnwick
