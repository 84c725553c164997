// The rows of the Running Processes window, apart from the list view: the
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
#include <vector>

namespace tarnwick {

enum class ProcessColumn : int {
  kProcess,
  kPid,
  kPattern,
  kEfficiencyMode,
  kCpuAffinity,
  kCpuSets,
  kPath,
};
inline constexpr int kProcessColumnCount = 7;

using ProcessColumnTitles = std::array<std::wstring, kProcessColumnCount>;

// "Placed" (with ", priority Normal" when efficiency mode's Idle class was
// raised too, or why it was left Idle), "Denied", "Not supported",
// "Failed (N)", "Not applicable", or empty for a method that did not run.
[[nodiscard]] std::wstring MethodCellText(const MethodResult& result);

[[nodiscard]] std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column);

// No column: matched rows first, then by name. A column: by that column,
// descending when asked, ties broken by name and then by id.
struct ProcessSort {
  int column = -1;
  bool descending = false;
};

// The next sort after a click on `column`'s header: that column ascending,
// or reversed when it was the sort column already.
[[nodiscard]] ProcessSort SortAfterHeaderClick(ProcessSort current, int column) noexcept;

// The indices into `rows` to show, in display order.
void OrderProcessRows(std::span<const ProcessResult> rows, bool onlyMatched, ProcessSort sort,
                      std::vector<uint32_t>& order);

// Who a row is across refreshes: an id may be reused by another program.
struct ProcessRowKey {
  DWORD processId = 0;
  std::wstring fileName;
  friend bool operator==(const ProcessRowKey&, const ProcessRowKey&) = default;
};

[[nodiscard]] ProcessRowKey KeyOf(const ProcessResult& row);

// The display positions of `keys` in the new order, ascending; keys whose
// process is gone are left out.
[[nodiscard]] std::vector<int> PositionsOfKeys(std::span<const ProcessResult> rows,
                                               std::span<const uint32_t> order,
                                               std::span<const ProcessRowKey> keys);

// The selected rows as tab-separated text: a line of the column titles, then
// one line per row in the order given, every line ending in CR LF.
[[nodiscard]] std::wstring ProcessRowsCopyText(const ProcessColumnTitles& titles,
                                               std::span<const ProcessResult> rows,
                                               std::span<const uint32_t> selected);

// The list entry that matches `text` (a file name or path, which holds no '*'
// or '?') as itself. The matcher reads ';' as a separator of patterns and
// skips the spaces that begin a pattern, so a process named "a;*.exe" would
// otherwise add a pattern matching every process: each such character
// becomes '?', which matches it and nothing wider than one character.
[[nodiscard]] std::wstring PatternMatchingItself(std::wstring text);

// What "Add Name" or "Add Path" would add for the selected rows: their file
// names or full paths in display order as patterns matching themselves, each
// once (letter case ignored), rows without a readable path giving no path.
enum class AddWhat { kName, kPath };
[[nodiscard]] std::vector<std::wstring> EntriesToAdd(std::span<const ProcessResult> rows,
                                                     std::span<const uint32_t> selected, AddWhat what);

}  // namespace tarnwick
