#include "ui/process_rows.h"

#include "platform/path_matcher.h"
#include "tests/unit/process_result_rows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
std::vector<std::wstring> Names(const std::vector<ProcessResult>& rows, const std::vector<uint32_t>& order) {
  std::vector<std::wstring> names;
  for (uint32_t index : order) names.push_back(rows[index].fileName + L":" + std::to_wstring(rows[index].processId));
  return names;
}

TEST(ProcessRows, MethodCellWords) {
  const struct {
    MethodResult result;
    const wchar_t* text;
  } cases[] = {
      {kNotRun, L""},
      {kPlaced, L"Placed"},
      {kDenied, L"Denied"},
      // A function this Windows lacks, and the answers of a system that refuses the call as unsupported.
      {Failed(ERROR_PROC_NOT_FOUND), L"Not supported"},
      {Failed(ERROR_INVALID_FUNCTION), L"Not supported"},
      {Failed(ERROR_NOT_SUPPORTED), L"Not supported"},
      {Failed(ERROR_CALL_NOT_IMPLEMENTED), L"Not supported"},
      {Failed(ERROR_INVALID_PARAMETER), L"Failed (87)"},
      {Failed(0xC0000022), L"Failed (3221225506)"},
      // Efficiency mode that Task Manager had set: EcoQoS off and the Idle class raised, or left.
      {kPlacedPriorityNormal, L"Placed, priority Normal"},
      {PlacedPriorityLeftIdle(ERROR_ACCESS_DENIED), L"Placed, priority left Idle (denied)"},
      {PlacedPriorityLeftIdle(ERROR_INVALID_PARAMETER), L"Placed, priority left Idle (error 87)"},
      {kNotApplicable, L"Not applicable"},
  };
  for (const auto& c : cases) EXPECT_EQ(MethodCellText(c.result), c.text) << c.text;
}

class ProcessOrderTest : public ::testing::Test {
 protected:
  // Published order is the snapshot's, which the display never keeps.
  std::vector<ProcessResult> rows_ = {
      Row(8, L"zeta.exe"),
      Row(12, L"Game.exe", L"game.exe", L"C:\\Games\\Game.exe", {kPlaced, kDenied, {}}),
      Row(4, L"alpha.exe", L"", L"C:\\alpha.exe"),
      Row(30, L"anticheat.exe", L"C:\\Games\\*", L"C:\\Games\\anticheat.exe", {kDenied, kDenied, {}}),
      Row(9, L"game.exe", L"game.exe", L"", {kPlaced, kPlaced, {}}),
  };
  std::vector<uint32_t> order_;
};

TEST_F(ProcessOrderTest, SortsAndFilters) {
  const struct {
    ProcessSort sort;
    bool onlyMatched;
    std::vector<std::wstring> expected;
  } cases[] = {
      // Matched first, each group by name (letter case ignored), then id.
      {{}, false, {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8"}},
      {{}, true, {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12"}},
      {{static_cast<int>(ProcessColumn::kPid), false},
       false, {L"alpha.exe:4", L"zeta.exe:8", L"game.exe:9", L"Game.exe:12", L"anticheat.exe:30"}},
      {{static_cast<int>(ProcessColumn::kPid), true},
       false, {L"anticheat.exe:30", L"Game.exe:12", L"game.exe:9", L"zeta.exe:8", L"alpha.exe:4"}},
      // Placed before refused before not run; ties by name.
      {{static_cast<int>(ProcessColumn::kCpuAffinity), false},
       false, {L"game.exe:9", L"anticheat.exe:30", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8"}},
      // Rows without a pattern stay last under the pattern column, rows without a path under the path column.
      {{static_cast<int>(ProcessColumn::kPattern), false},
       false, {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8"}},
      {{static_cast<int>(ProcessColumn::kPath), false},
       false, {L"alpha.exe:4", L"anticheat.exe:30", L"Game.exe:12", L"game.exe:9", L"zeta.exe:8"}},
      {{static_cast<int>(ProcessColumn::kProcess), true},
       true, {L"game.exe:9", L"Game.exe:12", L"anticheat.exe:30"}},
  };
  for (const auto& c : cases) {
    OrderProcessRows(rows_, c.onlyMatched, c.sort, order_);
    EXPECT_EQ(Names(rows_, order_), c.expected) << "column " << c.sort.column << " descending "
                                                << c.sort.descending << " only matched " << c.onlyMatched;
  }
}

// Paths and names sort as the system's ordinal comparison with letter case
// ignored would sort them: upper case (so "_" and "`" come after "Z"), the
// beginning of a longer text first, and outside ASCII the system's own table.
TEST(ProcessRows, TextSortsAsTheSystemsOrdinalIgnoringCase) {
  const std::vector<std::wstring> paths = {
      L"C:\\Program Files\\Vendor 1\\a.exe", L"c:\\program files\\vendor 1\\B.exe", L"C:\\Program Files\\Vendor 1",
      L"C:\\x\\a_.exe", L"C:\\x\\aZ.exe", L"C:\\x\\a`.exe", L"C:\\x\\az.exe", L"C:\\x\\a{.exe", L"C:\\x\\A.EXE",
      L"C:\\x\\\u00e4.exe", L"C:\\X\\\u00c4.exe", L"C:\\x\\\u0131.exe", L"C:\\x\\I.exe", L"C:\\x\\\u212a.exe",
      L"C:\\x\\k.exe", L"C:\\x\\\U0001F600.exe", L"C:\\x\\\uff41.exe", L"C:\\x\\\u00e4", L"C:\\x\\a.exe\u00e4",
      L"C:\\x\\@.exe", L"C:\\x\\[.exe", L"C:\\x\\\u0080.exe",
  };
  auto ordinal = [](const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE);
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = 0; j < paths.size(); ++j) {
      // The same name for both, so that only the text decides, else the id.
      const std::vector<ProcessResult> pair = {Row(1, L"same.exe", L"", paths[i]), Row(2, L"same.exe", L"", paths[j])};
      std::vector<uint32_t> order;
      OrderProcessRows(pair, false, {static_cast<int>(ProcessColumn::kPath), false}, order);
      const bool firstBefore = ordinal(paths[i], paths[j]) != CSTR_GREATER_THAN;
      EXPECT_EQ(order[0], firstBefore ? 0u : 1u) << i << " " << j;
      const std::vector<ProcessResult> named = {Row(1, paths[i]), Row(2, paths[j])};
      OrderProcessRows(named, false, {static_cast<int>(ProcessColumn::kProcess), false}, order);
      EXPECT_EQ(order[0], firstBefore ? 0u : 1u) << i << " " << j << " by name";
    }
  }
}

TEST_F(ProcessOrderTest, HeaderClicksSortThenReverse) {
  ProcessSort sort;
  sort = SortAfterHeaderClick(sort, 1);
  EXPECT_EQ(sort.column, 1);
  EXPECT_FALSE(sort.descending);
  sort = SortAfterHeaderClick(sort, 1);
  EXPECT_TRUE(sort.descending);
  sort = SortAfterHeaderClick(sort, 6);
  EXPECT_EQ(sort.column, 6);
  EXPECT_FALSE(sort.descending);
  EXPECT_EQ(SortAfterHeaderClick(sort, kProcessColumnCount).column, 6) << "a header that is not a column";
}

// The selection follows its processes by id and name: a process that ended is
// dropped, and an id now used by another program is not the same row.
TEST_F(ProcessOrderTest, SelectionFollowsItsProcessesAcrossARefresh) {
  OrderProcessRows(rows_, false, {}, order_);
  const std::vector<ProcessRowKey> selected = {KeyOf(rows_[order_[0]]), KeyOf(rows_[order_[2]]),
                                               KeyOf(rows_[order_[4]])};  // anticheat 30, Game 12, zeta 8

  std::vector<ProcessResult> next = rows_;
  next.erase(next.begin() + 3);                   // anticheat.exe ended
  next[0] = Row(8, L"reused.exe");                // zeta.exe ended, its id reused
  next.push_back(Row(2, L"aaa.exe", L"aaa.exe"));  // a new process sorts in before the selection
  std::vector<uint32_t> order;
  OrderProcessRows(next, false, {}, order);
  const std::vector<int> positions = PositionsOfKeys(next, order, selected);
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(next[order[static_cast<size_t>(positions[0])]].processId, 12u);
  EXPECT_EQ(positions[0], 2) << "aaa.exe and game.exe 9 come first now";
}

TEST_F(ProcessOrderTest, CopyTextHasAHeaderAndTheSelectedRowsInDisplayOrder) {
  rows_[1].imagePath = L"C:\\odd\tname\r\n.exe";
  OrderProcessRows(rows_, false, {}, order_);
  const std::vector<uint32_t> selected = {order_[2], order_[3]};
  const ProcessColumnTitles titles = {L"Process", L"PID",      L"Pattern", L"Efficiency Mode Off",
                                      L"CPU Affinities", L"CPU Sets", L"Path"};
  EXPECT_EQ(ProcessRowsCopyText(titles, rows_, selected),
            L"Process\tPID\tPattern\tEfficiency Mode Off\tCPU Affinities\tCPU Sets\tPath\r\n"
            L"Game.exe\t12\tgame.exe\tPlaced\tDenied\t\tC:\\odd name  .exe\r\n"
            L"alpha.exe\t4\t\t\t\t\tC:\\alpha.exe\r\n");
}

TEST_F(ProcessOrderTest, EntriesToAddSkipMissingPathsAndRepeats) {
  const std::vector<uint32_t> selected = {1, 4, 2, 0};  // Game.exe, game.exe (no path), alpha.exe, zeta.exe
  EXPECT_THAT(EntriesToAdd(rows_, selected, AddWhat::kName),
              ElementsAre(L"Game.exe", L"alpha.exe", L"zeta.exe"));
  EXPECT_THAT(EntriesToAdd(rows_, selected, AddWhat::kPath),
              ElementsAre(L"C:\\Games\\Game.exe", L"C:\\alpha.exe"));
}

// A name or path the matcher would read as something wider goes in as a
// pattern that matches the process itself and (almost) nothing else.
TEST(ProcessRows, AddedEntriesMatchTheirProcessOnly) {
  const struct {
    const wchar_t* text;
    const wchar_t* entry;
  } cases[] = {
      {L"game.exe", L"game.exe"},
      {L"a;*.exe", L"a?*.exe"},  // two patterns otherwise, the second matching everything
      {L"x; *.exe", L"x??*.exe"},
      {L"  lead.exe", L"??lead.exe"},
      {L"C:\\Tools;Old\\my tool.exe", L"C:\\Tools?Old\\my tool.exe"},
  };
  for (const auto& c : cases) {
    const std::vector<ProcessResult> rows = {Row(1, c.text, L"", c.text)};
    const std::vector<uint32_t> selected = {0};
    EXPECT_THAT(EntriesToAdd(rows, selected, AddWhat::kName), ElementsAre(c.entry)) << c.text;
    EXPECT_TRUE(MatchesPathSpec(c.text, c.entry)) << c.text;
    EXPECT_FALSE(MatchesPathSpec(L"other.exe", c.entry)) << c.text;
  }
}

// Characters outside the BMP and names at the snapshot's length limit pass through unchanged.
TEST(ProcessRows, LongAndSupplementaryNamesPassThrough) {
  const std::wstring name = std::wstring(L"\U0001F3AE") + std::wstring(255, L'x') + L".exe";
  const std::wstring path = L"\\\\?\\C:\\" + std::wstring(32000, L'p') + L"\\" + name;
  const std::vector<ProcessResult> rows = {Row(1, name, name, path)};
  EXPECT_EQ(ProcessCellText(rows[0], ProcessColumn::kProcess), name);
  EXPECT_EQ(ProcessCellText(rows[0], ProcessColumn::kPath), path);
  const std::vector<uint32_t> selected = {0};
  EXPECT_THAT(EntriesToAdd(rows, selected, AddWhat::kPath), ElementsAre(path));
}

}  // namespace
}  // namespace tarnwick
