#include "ui/process_rows.h"

#include "platform/resource_text.h"
#include "res/resource.h"
#include "ui/list_edit.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace tarnwick {

namespace {

bool IsUnsupported(DWORD error) noexcept {
  // ERROR_PROC_NOT_FOUND: the worker found no such function in this Windows.
  return error == ERROR_PROC_NOT_FOUND || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

// The method a method column shows; the columns follow the methods' order.
const MethodResult& MethodIn(const ProcessResult& row, ProcessColumn column) noexcept {
  static_assert(static_cast<int>(ProcessColumn::CpuAffinity) - static_cast<int>(ProcessColumn::EfficiencyMode) ==
                    static_cast<int>(PlacementMethod::CpuAffinity) &&
                static_cast<int>(ProcessColumn::CpuSets) - static_cast<int>(ProcessColumn::EfficiencyMode) ==
                    static_cast<int>(PlacementMethod::CpuSets));
  return row.methods[static_cast<size_t>(static_cast<int>(column) - static_cast<int>(ProcessColumn::EfficiencyMode))];
}

int ClampedLength(std::wstring_view text) noexcept {
  return static_cast<int>(std::min<size_t>(text.size(), std::numeric_limits<int>::max()));
}

wchar_t AsciiUpper(wchar_t c) noexcept { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - (L'a' - L'A')) : c; }

// Ordinal, letter case ignored by the system's own upper-case table. Sorting
// 1000 paths compares about 10,000 pairs that share long beginnings, so ASCII,
// whose upper case is plain, is compared here; the system is asked from the
// first other character on.
int CompareText(const std::wstring& a, const std::wstring& b) noexcept {
  const size_t shared = std::min(a.size(), b.size());
  size_t at = 0;
  for (; at < shared; ++at) {
    if (a[at] == b[at]) continue;
    if (a[at] >= 0x80 || b[at] >= 0x80) break;
    const wchar_t left = AsciiUpper(a[at]);
    const wchar_t right = AsciiUpper(b[at]);
    if (left != right) return left < right ? -1 : 1;
  }
  if (at == shared) return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  const std::wstring_view restA = std::wstring_view(a).substr(at);
  const std::wstring_view restB = std::wstring_view(b).substr(at);
  return ::CompareStringOrdinal(restA.data(), ClampedLength(restA), restB.data(), ClampedLength(restB), TRUE) -
         CSTR_EQUAL;
}

// Equal, letter case ignored as CompareText ignores it; both of one length.
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
  for (size_t at = 0; at < a.size(); ++at) {
    if (a[at] == b[at]) continue;
    if (a[at] >= 0x80 || b[at] >= 0x80) {
      const std::wstring_view restA = a.substr(at);
      const std::wstring_view restB = b.substr(at);
      return ::CompareStringOrdinal(restA.data(), ClampedLength(restA), restB.data(), ClampedLength(restB), TRUE) ==
             CSTR_EQUAL;
    }
    if (AsciiUpper(a[at]) != AsciiUpper(b[at])) return false;
  }
  return true;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) noexcept {
  return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part) noexcept {
  if (part.empty()) return true;
  if (text.size() < part.size()) return false;
  // Most places fail at the first character: test it before the rest.
  const wchar_t first = part[0];
  const bool firstAscii = first < 0x80;
  const wchar_t firstUpper = AsciiUpper(first);
  for (size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (firstAscii && text[at] < 0x80 && AsciiUpper(text[at]) != firstUpper) continue;
    if (SameIgnoringCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

// Placed, then the refusals, then not applicable, then not run: what a
// reader looks for first.
int MethodRank(const MethodResult& result) noexcept {
  switch (result.outcome) {
    case MethodResult::Outcome::Placed:
      return 0;
    case MethodResult::Outcome::Failed:
      return 1;
    case MethodResult::Outcome::NotApplicable:
      return 2;
    case MethodResult::Outcome::NotRun:
      return 3;
  }
  return 3;
}

int CompareMethod(const MethodResult& a, const MethodResult& b) noexcept {
  if (MethodRank(a) != MethodRank(b)) return MethodRank(a) < MethodRank(b) ? -1 : 1;
  if (a.error != b.error) return a.error < b.error ? -1 : 1;
  if (a.priority != b.priority) return a.priority < b.priority ? -1 : 1;
  return 0;
}

int CompareColumn(const ProcessResult& a, const ProcessResult& b, ProcessColumn column) noexcept {
  switch (column) {
    case ProcessColumn::Process:
      return CompareText(a.fileName, b.fileName);
    case ProcessColumn::Pid:
      return a.processId == b.processId ? 0 : (a.processId < b.processId ? -1 : 1);
    case ProcessColumn::Pattern:
      // Matched rows before the empty pattern cells, whatever the patterns say.
      if (a.matched != b.matched) return a.matched ? -1 : 1;
      return CompareText(a.pattern, b.pattern);
    case ProcessColumn::EfficiencyMode:
    case ProcessColumn::CpuAffinity:
    case ProcessColumn::CpuSets:
      return CompareMethod(MethodIn(a, column), MethodIn(b, column));
    case ProcessColumn::Path:
      if (a.imagePath.empty() != b.imagePath.empty()) return a.imagePath.empty() ? 1 : -1;
      return CompareText(a.imagePath, b.imagePath);
  }
  return 0;
}

int CompareNameThenId(const ProcessResult& a, const ProcessResult& b) noexcept {
  const int byName = CompareText(a.fileName, b.fileName);
  if (byName != 0) return byName;
  return CompareColumn(a, b, ProcessColumn::Pid);
}

void AppendLine(std::wstring& text, const std::array<std::wstring, kProcessColumnCount>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) text += L'\t';
    // A tab or line end inside a cell would shift the columns of the copy.
    for (wchar_t c : cells[i]) text += (c == L'\t' || c == L'\r' || c == L'\n') ? L' ' : c;
  }
  text += L"\r\n";
}

}  // namespace

std::wstring MethodCellText(const MethodResult& result) {
  switch (result.outcome) {
    case MethodResult::Outcome::NotRun:
      return std::wstring();
    case MethodResult::Outcome::Placed:
      switch (result.priority) {
        case MethodResult::Priority::Untouched:
          return LoadResourceText(IDS_METHOD_PLACED);
        case MethodResult::Priority::Normal:
          return LoadResourceText(IDS_METHOD_PLACED_PRIORITY_NORMAL);
        case MethodResult::Priority::StillIdle:
          return FillTextFields(
              LoadResourceText(IDS_METHOD_PLACED_PRIORITY_IDLE),
              {result.priorityError == ERROR_ACCESS_DENIED ? LoadResourceText(IDS_METHOD_PRIORITY_DENIED)
                                                           : FillTextFields(LoadResourceText(IDS_METHOD_PRIORITY_ERROR),
                                                                            {std::to_wstring(result.priorityError)})});
      }
      return LoadResourceText(IDS_METHOD_PLACED);
    case MethodResult::Outcome::Failed:
      if (result.error == ERROR_ACCESS_DENIED) {
        return LoadResourceText(result.deniedAsProtected ? IDS_METHOD_DENIED_PROTECTED : IDS_METHOD_DENIED);
      }
      if (IsUnsupported(result.error)) return LoadResourceText(IDS_METHOD_NOT_SUPPORTED);
      return FillTextFields(LoadResourceText(IDS_METHOD_FAILED), {std::to_wstring(result.error)});
    case MethodResult::Outcome::NotApplicable:
      return LoadResourceText(IDS_METHOD_NOT_APPLICABLE);
  }
  return std::wstring();
}

std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column) {
  switch (column) {
    case ProcessColumn::Process:
      return row.fileName;
    case ProcessColumn::Pid:
      return std::to_wstring(row.processId);
    case ProcessColumn::Pattern:
      return row.pattern;
    case ProcessColumn::EfficiencyMode:
    case ProcessColumn::CpuAffinity:
    case ProcessColumn::CpuSets:
      return MethodCellText(MethodIn(row, column));
    case ProcessColumn::Path:
      return row.imagePath;
  }
  return std::wstring();
}

std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column, const MethodsOn& on) {
  const int method = static_cast<int>(column) - static_cast<int>(ProcessColumn::EfficiencyMode);
  if (row.matched && method >= 0 && method < static_cast<int>(kPlacementMethodCount) &&
      !on[static_cast<size_t>(method)] && MethodIn(row, column).outcome == MethodResult::Outcome::NotRun) {
    return LoadResourceText(IDS_METHOD_OFF);
  }
  return ProcessCellText(row, column);
}

std::wstring MethodCellTip(const ProcessResult& row, ProcessColumn column, const MethodsOn& on,
                           std::wstring_view systemMessage) {
  const int method = static_cast<int>(column) - static_cast<int>(ProcessColumn::EfficiencyMode);
  if (!row.matched || method < 0 || method >= static_cast<int>(kPlacementMethodCount)) return std::wstring();
  // The method's name is its column's title.
  static constexpr std::array<UINT, kPlacementMethodCount> kNames = {
      IDS_PROCESS_COLUMN_EFFICIENCY_MODE, IDS_PROCESS_COLUMN_CPU_AFFINITIES, IDS_PROCESS_COLUMN_CPU_SETS};
  static constexpr std::array<UINT, kPlacementMethodCount> kPlaced = {
      IDS_TIP_EFFICIENCY_MODE_PLACED, IDS_TIP_CPU_AFFINITY_PLACED, IDS_TIP_CPU_SETS_PLACED};
  const std::wstring name = LoadResourceText(kNames[static_cast<size_t>(method)]);
  const MethodResult& result = MethodIn(row, column);
  switch (result.outcome) {
    case MethodResult::Outcome::NotRun:
      if (!on[static_cast<size_t>(method)])
        return FillTextFields(LoadResourceText(IDS_TIP_METHOD_SWITCHED_OFF), {name});
      return FillTextFields(LoadResourceText(IDS_TIP_PROCESS_ENDED), {name});
    case MethodResult::Outcome::Placed:
      if (result.priority == MethodResult::Priority::Normal) {
        return FillTextFields(LoadResourceText(IDS_TIP_PRIORITY_RAISED),
                              {LoadResourceText(kPlaced[static_cast<size_t>(method)])});
      }
      return LoadResourceText(kPlaced[static_cast<size_t>(method)]);
    case MethodResult::Outcome::NotApplicable:
      return LoadResourceText(IDS_TIP_NO_CPU_SET);
    case MethodResult::Outcome::Failed:
      break;
  }
  if (result.error == ERROR_ACCESS_DENIED && result.deniedAsProtected) return LoadResourceText(IDS_TIP_PROTECTED);
  if (result.error == ERROR_ACCESS_DENIED) return LoadResourceText(IDS_TIP_ACCESS_DENIED);
  if (IsUnsupported(result.error)) return FillTextFields(LoadResourceText(IDS_TIP_NOT_OFFERED), {name});
  const std::wstring error = std::to_wstring(result.error);
  if (systemMessage.empty()) return FillTextFields(LoadResourceText(IDS_TIP_REFUSED), {error});
  return FillTextFields(LoadResourceText(IDS_TIP_REFUSED_BECAUSE), {error, systemMessage});
}

ProcessSort SortAfterHeaderClick(ProcessSort current, int column) noexcept {
  if (column < 0 || column >= kProcessColumnCount) return current;
  if (current.column != column) return {column, false};
  if (!current.descending) return {column, true};
  return {};
}

bool RowPassesFilter(const ProcessResult& row, std::wstring_view filter) {
  return filter.empty() || ContainsIgnoringCase(row.fileName, filter) || ContainsIgnoringCase(row.imagePath, filter) ||
         ContainsIgnoringCase(row.pattern, filter);
}

void OrderProcessRows(std::span<const ProcessResult> rows, bool onlyMatched, ProcessSort sort,
                      std::vector<uint32_t>& order, std::wstring_view filter) {
  order.clear();
  for (size_t i = 0; i < rows.size() && i < std::numeric_limits<uint32_t>::max(); ++i) {
    if ((!onlyMatched || rows[i].matched) && RowPassesFilter(rows[i], filter))
      order.push_back(static_cast<uint32_t>(i));
  }
  const bool byColumn = sort.column >= 0 && sort.column < kProcessColumnCount;
  std::sort(order.begin(), order.end(), [&](uint32_t left, uint32_t right) {
    const ProcessResult& a = rows[left];
    const ProcessResult& b = rows[right];
    if (!byColumn) {
      if (a.matched != b.matched) return a.matched;
      return CompareNameThenId(a, b) < 0;
    }
    int result = CompareColumn(a, b, static_cast<ProcessColumn>(sort.column));
    if (sort.descending) result = -result;
    if (result == 0) result = CompareNameThenId(a, b);
    return result < 0;
  });
}

std::wstring ProcessCountText(size_t processes, size_t matched, size_t shown) {
  return FillTextFields(LoadResourceText(processes == 1 ? IDS_PROCESS_COUNT_ONE : IDS_PROCESS_COUNT),
                        {std::to_wstring(processes), std::to_wstring(matched), std::to_wstring(shown)});
}

int FindRowStartingWith(std::span<const ProcessResult> rows, std::span<const uint32_t> order, ProcessSort sort,
                        std::wstring_view prefix, size_t start) {
  if (order.empty() || prefix.empty()) return -1;
  const ProcessColumn column = sort.column >= 0 && sort.column < kProcessColumnCount
                                   ? static_cast<ProcessColumn>(sort.column)
                                   : ProcessColumn::Process;
  const size_t from = start < order.size() ? start : 0;
  for (size_t step = 0; step < order.size(); ++step) {
    const size_t position = (from + step) % order.size();
    if (order[position] >= rows.size()) continue;
    const ProcessResult& row = rows[order[position]];
    // The two columns that are rows' own strings are not copied for the test.
    const bool found = column == ProcessColumn::Process ? StartsWithIgnoringCase(row.fileName, prefix)
                       : column == ProcessColumn::Path  ? StartsWithIgnoringCase(row.imagePath, prefix)
                                                        : StartsWithIgnoringCase(ProcessCellText(row, column), prefix);
    if (found) return static_cast<int>(position);
  }
  return -1;
}

ProcessRowKey KeyOf(const ProcessResult& row) { return {row.processId, row.fileName}; }

std::vector<int> PositionsOfKeys(std::span<const ProcessResult> rows, std::span<const uint32_t> order,
                                 std::span<const ProcessRowKey> keys) {
  std::vector<int> positions;
  if (keys.empty()) return positions;
  std::unordered_multimap<DWORD, const ProcessRowKey*> wanted;
  for (const ProcessRowKey& key : keys) wanted.emplace(key.processId, &key);
  for (size_t position = 0; position < order.size(); ++position) {
    const ProcessResult& row = rows[order[position]];
    auto [first, last] = wanted.equal_range(row.processId);
    for (auto it = first; it != last; ++it) {
      if (it->second->fileName == row.fileName) {
        positions.push_back(static_cast<int>(position));
        break;
      }
    }
  }
  return positions;
}

int NeighbourPosition(std::span<const ProcessResult> oldRows, std::span<const uint32_t> oldOrder, size_t oldPosition,
                      std::span<const ProcessResult> newRows, std::span<const uint32_t> newOrder) {
  if (oldPosition >= oldOrder.size() || newOrder.empty()) return -1;
  std::unordered_multimap<DWORD, size_t> shown;
  for (size_t position = 0; position < newOrder.size(); ++position) {
    shown.emplace(newRows[newOrder[position]].processId, position);
  }
  auto positionOf = [&](size_t old) -> int {
    const ProcessResult& row = oldRows[oldOrder[old]];
    auto [first, last] = shown.equal_range(row.processId);
    for (auto it = first; it != last; ++it) {
      if (newRows[newOrder[it->second]].fileName == row.fileName) return static_cast<int>(it->second);
    }
    return -1;
  };
  for (size_t below = oldPosition + 1; below < oldOrder.size(); ++below) {
    if (const int position = positionOf(below); position >= 0) return position;
  }
  for (size_t above = oldPosition; above-- > 0;) {
    if (const int position = positionOf(above); position >= 0) return position;
  }
  return -1;
}

std::wstring ProcessRowsCopyText(const ProcessColumnTitles& titles, std::span<const ProcessResult> rows,
                                 std::span<const uint32_t> selected, const MethodsOn& on) {
  std::wstring text;
  AppendLine(text, titles);
  std::array<std::wstring, kProcessColumnCount> cells;
  for (uint32_t index : selected) {
    if (index >= rows.size()) continue;
    for (int column = 0; column < kProcessColumnCount; ++column) {
      cells[static_cast<size_t>(column)] = ProcessCellText(rows[index], static_cast<ProcessColumn>(column), on);
    }
    AppendLine(text, cells);
  }
  return text;
}

std::wstring PatternMatchingItself(std::wstring text) {
  bool leading = true;
  for (wchar_t& c : text) {
    if (c == L';') {
      c = L'?';
      leading = true;  // the next pattern's leading spaces are skipped too
    } else if (c == L' ' && leading) {
      c = L'?';
    } else {
      leading = false;
    }
  }
  return text;
}

AddPlan PlanAdd(std::span<const ProcessResult> rows, std::span<const uint32_t> selected, AddWhat what,
                std::span<const std::wstring> listed) {
  AddPlan plan;
  for (uint32_t index : selected) {
    if (index >= rows.size()) continue;
    const std::wstring& text = what == AddWhat::Name ? rows[index].fileName : rows[index].imagePath;
    if (text.empty()) continue;
    std::wstring entry = PatternMatchingItself(text);
    if (IsAlreadyListed(plan.entries, entry) || IsAlreadyListed(plan.alreadyListed, entry)) continue;
    if (IsAlreadyListed(listed, entry)) {
      plan.alreadyListed.push_back(std::move(entry));
      continue;
    }
    if (entry != text) plan.renamed.push_back({text, entry});
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

namespace {

// A message box stays readable: longer lists name their first few.
constexpr size_t kNamesInABox = 10;

void AppendNames(std::wstring& text, std::span<const std::wstring> names) {
  for (size_t i = 0; i < names.size() && i < kNamesInABox; ++i) text += L"\n" + names[i];
  if (names.size() > kNamesInABox) {
    text += L"\n" + FillTextFields(LoadResourceText(IDS_AND_MORE), {std::to_wstring(names.size() - kNamesInABox)});
  }
}

// The renamed entries and those listed already, one paragraph each.
std::wstring AddNotes(const AddPlan& plan) {
  std::wstring text;
  for (size_t i = 0; i < plan.renamed.size() && i < kNamesInABox; ++i) {
    if (!text.empty()) text += L"\n";
    text += FillTextFields(LoadResourceText(IDS_LISTED_AS), {plan.renamed[i].from, plan.renamed[i].to});
  }
  if (!plan.renamed.empty()) text += L"\n" + LoadResourceText(IDS_LISTED_AS_WHY);
  if (plan.alreadyListed.size() == 1) {
    if (!text.empty()) text += L"\n\n";
    text += FillTextFields(LoadResourceText(IDS_ALREADY_LISTED_ONE), {plan.alreadyListed[0]});
  } else if (plan.alreadyListed.size() > 1) {
    if (!text.empty()) text += L"\n\n";
    text += LoadResourceText(IDS_ALREADY_LISTED);
    AppendNames(text, plan.alreadyListed);
  }
  return text;
}

}  // namespace

std::wstring AddQuestionText(const AddPlan& plan) {
  if (plan.entries.size() < 2) return std::wstring();
  std::wstring text =
      FillTextFields(LoadResourceText(IDS_ADD_ENTRIES_QUESTION), {std::to_wstring(plan.entries.size())});
  AppendNames(text, plan.entries);
  const std::wstring notes = AddNotes(plan);
  if (!notes.empty()) text += L"\n\n" + notes;
  return text;
}

std::wstring AddReportText(const AddPlan& plan) {
  if (plan.entries.size() >= 2) return std::wstring();
  return AddNotes(plan);
}

std::vector<PatternToRemove> PlanRemove(std::span<const ProcessResult> rows, std::span<const uint32_t> selected) {
  std::vector<PatternToRemove> patterns;
  std::vector<bool> isSelected(rows.size(), false);
  for (uint32_t index : selected) {
    if (index < rows.size()) isSelected[index] = true;
  }
  for (uint32_t index : selected) {
    if (index >= rows.size() || !rows[index].matched) continue;
    const std::wstring& pattern = rows[index].pattern;
    if (std::any_of(patterns.begin(), patterns.end(), [&](const PatternToRemove& p) { return p.pattern == pattern; })) {
      continue;
    }
    PatternToRemove remove{pattern, {}};
    for (size_t other = 0; other < rows.size(); ++other) {
      if (!isSelected[other] && rows[other].matched && rows[other].pattern == pattern) {
        remove.alsoMatches.push_back(rows[other].fileName);
      }
    }
    patterns.push_back(std::move(remove));
  }
  return patterns;
}

std::wstring RemoveQuestionText(std::span<const PatternToRemove> patterns) {
  std::wstring text;
  for (const PatternToRemove& remove : patterns) {
    if (remove.alsoMatches.empty()) continue;
    if (!text.empty()) text += L"\n\n";
    text += FillTextFields(LoadResourceText(remove.alsoMatches.size() == 1 ? IDS_ALSO_MATCHES_ONE : IDS_ALSO_MATCHES),
                           {remove.pattern, std::to_wstring(remove.alsoMatches.size())});
    AppendNames(text, remove.alsoMatches);
  }
  if (text.empty()) return text;
  const std::wstring question =
      patterns.size() == 1
          ? FillTextFields(LoadResourceText(IDS_REMOVE_ENTRY_QUESTION), {patterns[0].pattern})
          : FillTextFields(LoadResourceText(IDS_REMOVE_ENTRIES_QUESTION), {std::to_wstring(patterns.size())});
  return question + L"\n\n" + text;
}

}  // namespace tarnwick
