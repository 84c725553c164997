// The rows of the Running processes window, apart from the list view: the
// text of each cell, the order of the rows (an index into the published rows,
// sorted and filtered, so a refresh never moves the rows themselves), the
// copy text and the keys that keep a selection across refreshes.
#pragma once

#include "enforce/pass_results.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum class ProcessColumn : int {
  Process,
  Pid,
  Pattern,
  EfficiencyMode,
  CpuAffinity,
  CpuSets,
  Path,
};
inline constexpr int kProcessColumnCount = 7;

using ProcessColumnTitles = std::array<std::wstring, kProcessColumnCount>;

// "Placed" (with ", priority Normal" when efficiency mode's Idle class was
// raised too, or why it was left Idle), "Denied" ("Denied (protected)" for a
// process Windows protects), "Not supported",
// "Failed (N)", "Not applicable", or empty for a method that did not run.
[[nodiscard]] std::wstring MethodCellText(const MethodResult& result);

[[nodiscard]] std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column);
// As shown for a pass with the methods `on`: a matched row's cell of a method
// that was switched off reads "Off", so that a blank cell means "not matched".
[[nodiscard]] std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column, const MethodsOn& on);

// The tip of a method cell: what its word means and what the user can do.
// `systemMessage` is the system's own text for a failure's error code
// (FormatMessageW). Empty for a row that matched nothing and other columns.
[[nodiscard]] std::wstring MethodCellTip(const ProcessResult& row, ProcessColumn column, const MethodsOn& on,
                                         std::wstring_view systemMessage);

// No column: matched rows first, then by name. A column: by that column,
// descending when asked, ties broken by name and then by id.
struct ProcessSort {
  int column = -1;
  bool descending = false;
};

// The next sort after a click on `column`'s header: that column ascending,
// then descending, then back to the default order (matched first).
[[nodiscard]] ProcessSort SortAfterHeaderClick(ProcessSort current, int column) noexcept;

// True when the row's name, path or pattern contains `filter`, letter case
// ignored; an empty filter passes every row.
[[nodiscard]] bool RowPassesFilter(const ProcessResult& row, std::wstring_view filter);

// The indices into `rows` to show, in display order: matched rows only when
// asked, and only rows that pass `filter`.
void OrderProcessRows(std::span<const ProcessResult> rows, bool onlyMatched, ProcessSort sort,
                      std::vector<uint32_t>& order, std::wstring_view filter = {});

// "460 processes, 226 matched, 6 shown".
[[nodiscard]] std::wstring ProcessCountText(size_t processes, size_t matched, size_t shown);

// Type-to-find: the first display position from `start` on, wrapping round
// to the top, whose cell in the sort column (the process name in the default
// order) starts with `prefix`, letter case ignored; -1 when none does.
[[nodiscard]] int FindRowStartingWith(std::span<const ProcessResult> rows, std::span<const uint32_t> order,
                                      ProcessSort sort, std::wstring_view prefix, size_t start);

// Who a row is across refreshes: an id may be reused by another program.
struct ProcessRowKey {
  DWORD processId = 0;
  std::wstring fileName;
  friend bool operator==(const ProcessRowKey&, const ProcessRowKey&) = default;
};

[[nodiscard]] ProcessRowKey KeyOf(const ProcessResult& row);

// The display positions of `keys` in the new order, ascending; keys whose
// process is gone (or is filtered out) are left out.
[[nodiscard]] std::vector<int> PositionsOfKeys(std::span<const ProcessResult> rows, std::span<const uint32_t> order,
                                               std::span<const ProcessRowKey> keys);

// Where the focus goes when its row is gone from the new order: to the
// nearest row below it in the old order that is still shown, else to the
// nearest one above it; -1 when none is left.
[[nodiscard]] int NeighbourPosition(std::span<const ProcessResult> oldRows, std::span<const uint32_t> oldOrder,
                                    size_t oldPosition, std::span<const ProcessResult> newRows,
                                    std::span<const uint32_t> newOrder);

// The selected rows as tab-separated text: a line of the column titles, then
// one line per row in the order given, every line ending in CR LF.
[[nodiscard]] std::wstring ProcessRowsCopyText(const ProcessColumnTitles& titles, std::span<const ProcessResult> rows,
                                               std::span<const uint32_t> selected,
                                               const MethodsOn& on = {true, true, true});

// The list entry that matches `text` (a file name or path, which holds no '*'
// or '?') as itself. The matcher reads ';' as a separator of patterns and
// skips the spaces that begin a pattern, so a process named "a;*.exe" would
// otherwise add a pattern matching every process: each such character
// becomes '?', which matches it and nothing wider than one character.
[[nodiscard]] std::wstring PatternMatchingItself(std::wstring text);

enum class AddWhat { Name, Path };

// An add from the window ("Add Name" or "Add Path" on the selected rows),
// decided before anything is added: the entries that are new to the list,
// those listed already (as the list would hold them), and the names that had
// to change to match themselves. The entries are the rows' file names or full
// paths in display order as patterns matching themselves, each once (letter
// case ignored); rows without a readable path give no path.
struct AddPlan {
  struct Renamed {
    std::wstring from;
    std::wstring to;
  };
  std::vector<std::wstring> entries;
  std::vector<std::wstring> alreadyListed;
  std::vector<Renamed> renamed;  // of the new entries only
};
[[nodiscard]] AddPlan PlanAdd(std::span<const ProcessResult> rows, std::span<const uint32_t> selected, AddWhat what,
                              std::span<const std::wstring> listed);

// The question asked before more than one entry is added ("Add 8 entries to
// the list?", with what the report would say); empty when one entry or none
// is to be added.
[[nodiscard]] std::wstring AddQuestionText(const AddPlan& plan);
// What is said after an add that asked no question: the entries listed
// already and the renamed one; empty when there is nothing to say.
[[nodiscard]] std::wstring AddReportText(const AddPlan& plan);

// "Remove From List": the patterns that matched the selected rows, each
// once, with the other running processes each one matches too.
struct PatternToRemove {
  std::wstring pattern;
  std::vector<std::wstring> alsoMatches;  // the names of unselected matched rows
};
[[nodiscard]] std::vector<PatternToRemove> PlanRemove(std::span<const ProcessResult> rows,
                                                      std::span<const uint32_t> selected);
// The question asked before patterns that match other running processes too
// are removed; empty when none does.
[[nodiscard]] std::wstring RemoveQuestionText(std::span<const PatternToRemove> patterns);

}  // namespace tarnwick
