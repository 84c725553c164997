#include "ui/process_rows.h"

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
  static_assert(static_cast<int>(ProcessColumn::kCpuAffinity) - static_cast<int>(ProcessColumn::kEfficiencyMode) ==
                    static_cast<int>(PlacementMethod::kCpuAffinity) &&
                static_cast<int>(ProcessColumn::kCpuSets) - static_cast<int>(ProcessColumn::kEfficiencyMode) ==
                    static_cast<int>(PlacementMethod::kCpuSets));
  return row.methods[static_cast<size_t>(static_cast<int>(column) - static_cast<int>(ProcessColumn::kEfficiencyMode))];
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

// Placed, then the refusals, then not applicable, then not run: what a
// reader looks for first.
int MethodRank(const MethodResult& result) noexcept {
  switch (result.outcome) {
    case MethodResult::Outcome::kPlaced: return 0;
    case MethodResult::Outcome::kFailed: return 1;
    case MethodResult::Outcome::kNotApplicable: return 2;
    case MethodResult::Outcome::kNotRun: return 3;
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
    case ProcessColumn::kProcess: return CompareText(a.fileName, b.fileName);
    case ProcessColumn::kPid: return a.processId == b.processId ? 0 : (a.processId < b.processId ? -1 : 1);
    case ProcessColumn::kPattern:
      // Matched rows before the empty pattern cells, whatever the patterns say.
      if (a.matched != b.matched) return a.matched ? -1 : 1;
      return CompareText(a.pattern, b.pattern);
    case ProcessColumn::kEfficiencyMode:
    case ProcessColumn::kCpuAffinity:
    case ProcessColumn::kCpuSets: return CompareMethod(MethodIn(a, column), MethodIn(b, column));
    case ProcessColumn::kPath:
      if (a.imagePath.empty() != b.imagePath.empty()) return a.imagePath.empty() ? 1 : -1;
      return CompareText(a.imagePath, b.imagePath);
  }
  return 0;
}

int CompareNameThenId(const ProcessResult& a, const ProcessResult& b) noexcept {
  const int byName = CompareText(a.fileName, b.fileName);
  if (byName != 0) return byName;
  return CompareColumn(a, b, ProcessColumn::kPid);
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
    case MethodResult::Outcome::kNotRun: return std::wstring();
    case MethodResult::Outcome::kPlaced:
      switch (result.priority) {
        case MethodResult::Priority::kUntouched: return L"Placed";
        case MethodResult::Priority::kNormal: return L"Placed, priority Normal";
        case MethodResult::Priority::kStillIdle:
          return L"Placed, priority left Idle (" +
                 (result.priorityError == ERROR_ACCESS_DENIED ? std::wstring(L"denied")
                                                              : L"error " + std::to_wstring(result.priorityError)) +
                 L")";
      }
      return L"Placed";
    case MethodResult::Outcome::kFailed:
      if (result.error == ERROR_ACCESS_DENIED) return L"Denied";
      if (IsUnsupported(result.error)) return L"Not supported";
      return L"Failed (" + std::to_wstring(result.error) + L")";
    case MethodResult::Outcome::kNotApplicable: return L"Not applicable";
  }
  return std::wstring();
}

std::wstring ProcessCellText(const ProcessResult& row, ProcessColumn column) {
  switch (column) {
    case ProcessColumn::kProcess: return row.fileName;
    case ProcessColumn::kPid: return std::to_wstring(row.processId);
    case ProcessColumn::kPattern: return row.pattern;
    case ProcessColumn::kEfficiencyMode:
    case ProcessColumn::kCpuAffinity:
    case ProcessColumn::kCpuSets: return MethodCellText(MethodIn(row, column));
    case ProcessColumn::kPath: return row.imagePath;
  }
  return std::wstring();
}

ProcessSort SortAfterHeaderClick(ProcessSort current, int column) noexcept {
  if (column < 0 || column >= kProcessColumnCount) return current;
  if (current.column == column) return {column, !current.descending};
  return {column, false};
}

void OrderProcessRows(std::span<const ProcessResult> rows, bool onlyMatched, ProcessSort sort,
                      std::vector<uint32_t>& order) {
  order.clear();
  for (size_t i = 0; i < rows.size() && i < std::numeric_limits<uint32_t>::max(); ++i) {
    if (!onlyMatched || rows[i].matched) order.push_back(static_cast<uint32_t>(i));
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

std::wstring ProcessRowsCopyText(const ProcessColumnTitles& titles, std::span<const ProcessResult> rows,
                                 std::span<const uint32_t> selected) {
  std::wstring text;
  AppendLine(text, titles);
  std::array<std::wstring, kProcessColumnCount> cells;
  for (uint32_t index : selected) {
    if (index >= rows.size()) continue;
    for (int column = 0; column < kProcessColumnCount; ++column) {
      cells[static_cast<size_t>(column)] = ProcessCellText(rows[index], static_cast<ProcessColumn>(column));
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

std::vector<std::wstring> EntriesToAdd(std::span<const ProcessResult> rows, std::span<const uint32_t> selected,
                                       AddWhat what) {
  std::vector<std::wstring> entries;
  for (uint32_t index : selected) {
    if (index >= rows.size()) continue;
    const std::wstring& text = what == AddWhat::kName ? rows[index].fileName : rows[index].imagePath;
    if (text.empty()) continue;
    std::wstring entry = PatternMatchingItself(text);
    if (!IsAlreadyListed(entries, entry)) entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace tarnwick
