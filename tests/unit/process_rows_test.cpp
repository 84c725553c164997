#include "ui/process_rows.h"

#include "platform/path_matcher.h"
#include "tests/unit/process_result_rows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

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
      {kDeniedProtected, L"Denied (protected)"},
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

// A matched row's cell of a method switched off for the pass reads "Off";
// an unmatched row's cells stay blank, and a method that ran says what it did.
TEST(ProcessRows, OffCellsOnMatchedRowsOnly) {
  const ProcessResult matched = Row(1, L"game.exe", L"game.exe", L"", {kPlaced, kNotRun, kNotRun});
  const ProcessResult unmatched = Row(2, L"other.exe");
  const MethodsOn onlyEfficiency = {true, false, false};
  const MethodsOn none = {false, false, false};
  const struct {
    const ProcessResult* row;
    MethodsOn on;
    ProcessColumn column;
    const wchar_t* text;
  } cases[] = {
      {&matched, onlyEfficiency, ProcessColumn::EfficiencyMode, L"Placed"},
      {&matched, onlyEfficiency, ProcessColumn::CpuAffinity, L"Off"},
      {&matched, onlyEfficiency, ProcessColumn::CpuSets, L"Off"},
      {&matched, none, ProcessColumn::EfficiencyMode, L"Placed"},       // placed before it was switched off
      {&matched, {true, true, true}, ProcessColumn::CpuAffinity, L""},  // on, but the process had ended
      {&unmatched, none, ProcessColumn::CpuAffinity, L""},
      {&matched, none, ProcessColumn::Pattern, L"game.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProcessCellText(*c.row, c.column, c.on), c.text)
        << c.row->fileName << " column " << static_cast<int>(c.column);
  }
  const std::vector<ProcessResult> rows = {matched};
  const std::vector<uint32_t> selected = {0};
  const ProcessColumnTitles titles = {L"a", L"b", L"c", L"d", L"e", L"f", L"g"};
  EXPECT_EQ(ProcessRowsCopyText(titles, rows, selected, onlyEfficiency),
            L"a\tb\tc\td\te\tf\tg\r\ngame.exe\t1\tgame.exe\tPlaced\tOff\tOff\t\r\n");
}

// Each method cell explains itself, with the system's own words for a failure.
TEST(ProcessRows, MethodCellTips) {
  const MethodsOn all = {true, true, true};
  const struct {
    MethodResult result;
    ProcessColumn column;
    MethodsOn on;
    const wchar_t* systemMessage;
    const wchar_t* tip;
  } cases[] = {
      {kPlaced, ProcessColumn::CpuAffinity, all, L"", L"The process may run only on the P-cores."},
      {kNotRun,
       ProcessColumn::CpuSets,
       {true, true, false},
       L"",
       L"CPU Sets is switched off in the Methods menu of the main window."},
      {kNotRun, ProcessColumn::EfficiencyMode, all, L"",
       L"Efficiency Mode Off was not applied: the process had ended."},
      {kUnsupported, ProcessColumn::CpuSets, all, L"", L"CPU Sets is not offered by this version of Windows."},
      {Failed(87), ProcessColumn::CpuAffinity, all, L"The parameter is incorrect.",
       L"Windows refused the call with error 87: The parameter is incorrect."},
      {Failed(1234), ProcessColumn::CpuAffinity, all, L"", L"Windows refused the call with error 1234"},
      {kDeniedProtected, ProcessColumn::EfficiencyMode, all, L"Access is denied.",
       L"Windows protects this process and refuses this change to every program, administrators included. Only CPU "
       L"Sets can still be applied to it (switched on in the Methods menu of the main window)."},
  };
  for (const auto& c : cases) {
    const ProcessResult row = Row(1, L"game.exe", L"game.exe", L"", {c.result, c.result, c.result});
    EXPECT_EQ(MethodCellTip(row, c.column, c.on, c.systemMessage), c.tip)
        << testing::PrintToString(std::wstring(c.tip));
  }
  const ProcessResult denied = Row(1, L"game.exe", L"game.exe", L"", {kDenied, kNotRun, kNotRun});
  EXPECT_THAT(MethodCellTip(denied, ProcessColumn::EfficiencyMode, all, L""),
              ::testing::StartsWith(L"Windows denied access to this process."));
  EXPECT_EQ(MethodCellTip(Row(2, L"other.exe"), ProcessColumn::CpuSets, all, L""), L"") << "not matched";
  EXPECT_EQ(MethodCellTip(denied, ProcessColumn::Path, all, L""), L"") << "not a method column";
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
      {{static_cast<int>(ProcessColumn::Pid), false},
       false,
       {L"alpha.exe:4", L"zeta.exe:8", L"game.exe:9", L"Game.exe:12", L"anticheat.exe:30"}},
      {{static_cast<int>(ProcessColumn::Pid), true},
       false,
       {L"anticheat.exe:30", L"Game.exe:12", L"game.exe:9", L"zeta.exe:8", L"alpha.exe:4"}},
      // Placed before refused before not run; ties by name.
      {{static_cast<int>(ProcessColumn::CpuAffinity), false},
       false,
       {L"game.exe:9", L"anticheat.exe:30", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8"}},
      // Rows without a pattern stay last under the pattern column, rows without a path under the path column.
      {{static_cast<int>(ProcessColumn::Pattern), false},
       false,
       {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8"}},
      {{static_cast<int>(ProcessColumn::Path), false},
       false,
       {L"alpha.exe:4", L"anticheat.exe:30", L"Game.exe:12", L"game.exe:9", L"zeta.exe:8"}},
      {{static_cast<int>(ProcessColumn::Process), true}, true, {L"game.exe:9", L"Game.exe:12", L"anticheat.exe:30"}},
  };
  for (const auto& c : cases) {
    OrderProcessRows(rows_, c.onlyMatched, c.sort, order_);
    EXPECT_EQ(Names(rows_, order_), c.expected)
        << "column " << c.sort.column << " descending " << c.sort.descending << " only matched " << c.onlyMatched;
  }
}

// Paths and names sort as the system's ordinal comparison with letter case
// ignored would sort them: upper case (so "_" and "`" come after "Z"), the
// beginning of a longer text first, and outside ASCII the system's own table.
TEST(ProcessRows, TextSortsAsTheSystemsOrdinalIgnoringCase) {
  const std::vector<std::wstring> paths = {
      L"C:\\Program Files\\Vendor 1\\a.exe",
      L"c:\\program files\\vendor 1\\B.exe",
      L"C:\\Program Files\\Vendor 1",
      L"C:\\x\\a_.exe",
      L"C:\\x\\aZ.exe",
      L"C:\\x\\a`.exe",
      L"C:\\x\\az.exe",
      L"C:\\x\\a{.exe",
      L"C:\\x\\A.EXE",
      L"C:\\x\\\u00e4.exe",
      L"C:\\X\\\u00c4.exe",
      L"C:\\x\\\u0131.exe",
      L"C:\\x\\I.exe",
      L"C:\\x\\\u212a.exe",
      L"C:\\x\\k.exe",
      L"C:\\x\\\U0001F600.exe",
      L"C:\\x\\\uff41.exe",
      L"C:\\x\\\u00e4",
      L"C:\\x\\a.exe\u00e4",
      L"C:\\x\\@.exe",
      L"C:\\x\\[.exe",
      L"C:\\x\\\u0080.exe",
  };
  auto ordinal = [](const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE);
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    for (size_t j = 0; j < paths.size(); ++j) {
      // The same name for both, so that only the text decides, else the id.
      const std::vector<ProcessResult> pair = {Row(1, L"same.exe", L"", paths[i]), Row(2, L"same.exe", L"", paths[j])};
      std::vector<uint32_t> order;
      OrderProcessRows(pair, false, {static_cast<int>(ProcessColumn::Path), false}, order);
      const bool firstBefore = ordinal(paths[i], paths[j]) != CSTR_GREATER_THAN;
      EXPECT_EQ(order[0], firstBefore ? 0u : 1u) << i << " " << j;
      const std::vector<ProcessResult> named = {Row(1, paths[i]), Row(2, paths[j])};
      OrderProcessRows(named, false, {static_cast<int>(ProcessColumn::Process), false}, order);
      EXPECT_EQ(order[0], firstBefore ? 0u : 1u) << i << " " << j << " by name";
    }
  }
}

TEST_F(ProcessOrderTest, HeaderClicksSortThenReverseThenGoBackToTheDefaultOrder) {
  ProcessSort sort;
  sort = SortAfterHeaderClick(sort, 1);
  EXPECT_EQ(sort.column, 1);
  EXPECT_FALSE(sort.descending);
  sort = SortAfterHeaderClick(sort, 1);
  EXPECT_TRUE(sort.descending);
  sort = SortAfterHeaderClick(sort, 1);
  EXPECT_EQ(sort.column, -1) << "a third click: matched first again";
  EXPECT_FALSE(sort.descending);
  sort = SortAfterHeaderClick(SortAfterHeaderClick(sort, 1), 6);
  EXPECT_EQ(sort.column, 6);
  EXPECT_FALSE(sort.descending);
  EXPECT_EQ(SortAfterHeaderClick(sort, kProcessColumnCount).column, 6) << "a header that is not a column";
}

// The filter box: name, path or pattern contain the text, letter case
// ignored (outside ASCII as the system's table ignores it); it combines with
// "Only matched processes".
TEST_F(ProcessOrderTest, TheFilterFindsNamePathOrPatternIgnoringCase) {
  rows_.push_back(Row(40, L"\u00c4rger.exe", L"", L"D:\\Spiele\\\u00c4rger.exe"));
  const struct {
    const wchar_t* filter;
    bool onlyMatched;
    std::vector<std::wstring> expected;
  } cases[] = {
      {L"",
       false,
       {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12", L"alpha.exe:4", L"zeta.exe:8", L"\u00c4rger.exe:40"}},
      {L"GAME", false, {L"anticheat.exe:30", L"game.exe:9", L"Game.exe:12"}},  // anticheat by its path
      {L"c:\\games\\*", false, {L"anticheat.exe:30"}},                         // by its pattern
      {L"ALPHA.EXE", false, {L"alpha.exe:4"}},
      {L"\u00e4rg", false, {L"\u00c4rger.exe:40"}},
      {L"spiele\\\u00e4", false, {L"\u00c4rger.exe:40"}},
      {L"eta", false, {L"zeta.exe:8"}},
      {L"a.exe", false, {L"alpha.exe:4", L"zeta.exe:8"}},
      {L"a.exe", true, {}},
      {L"e.exe", true, {L"game.exe:9", L"Game.exe:12"}},
      {L"nothing", false, {}},
      {L"zeta.exe ", false, {}},
  };
  for (const auto& c : cases) {
    OrderProcessRows(rows_, c.onlyMatched, {}, order_, c.filter);
    EXPECT_EQ(Names(rows_, order_), c.expected) << testing::PrintToString(std::wstring(c.filter));
    for (const ProcessResult& row : rows_) {
      const bool shown = std::any_of(order_.begin(), order_.end(), [&](uint32_t i) { return &rows_[i] == &row; });
      EXPECT_EQ(shown, RowPassesFilter(row, c.filter) && (!c.onlyMatched || row.matched));
    }
  }
}

TEST(ProcessRows, CountLine) {
  EXPECT_EQ(ProcessCountText(460, 226, 6), L"460 processes, 226 matched, 6 shown");
  EXPECT_EQ(ProcessCountText(1, 0, 1), L"1 process, 0 matched, 1 shown");
  EXPECT_EQ(ProcessCountText(0, 0, 0), L"0 processes, 0 matched, 0 shown");
}

// Type-to-find looks in the sort column (the name in the default order) from
// the given row on and wraps round.
TEST_F(ProcessOrderTest, TypeToFindLooksInTheSortColumnFromTheGivenRow) {
  const struct {
    ProcessSort sort;
    const wchar_t* prefix;
    size_t start;
    int expected;
  } cases[] = {
      // Default order: anticheat.exe, game.exe, Game.exe, alpha.exe, zeta.exe.
      {{}, L"g", 0, 1},
      {{}, L"G", 2, 2},
      {{}, L"g", 3, 1},  // wraps round
      {{}, L"ALPHA", 0, 3},
      {{}, L"alphax", 0, -1},
      {{}, L"", 0, -1},
      {{}, L"z", 99, 4},  // a start past the end is the top
      // By path: alpha (C:\alpha), anticheat, Game (C:\Games\Game.exe), game (no path), zeta (none).
      {{static_cast<int>(ProcessColumn::Path), false}, L"c:\\games\\g", 0, 2},
      // By PID: 4, 8, 9, 12, 30.
      {{static_cast<int>(ProcessColumn::Pid), false}, L"1", 0, 3},
      {{static_cast<int>(ProcessColumn::Pid), false}, L"3", 0, 4},
      // By a method column, the cell's word: game 9, Game 12 (placed), anticheat (denied), alpha, zeta.
      {{static_cast<int>(ProcessColumn::EfficiencyMode), false}, L"den", 0, 2},
  };
  for (const auto& c : cases) {
    OrderProcessRows(rows_, false, c.sort, order_);
    EXPECT_EQ(FindRowStartingWith(rows_, order_, c.sort, c.prefix, c.start), c.expected)
        << testing::PrintToString(std::wstring(c.prefix)) << " from " << c.start << " column " << c.sort.column;
  }
}

// When the focused row is gone, the focus goes to the row that was below it
// and is still shown, or, at the end, to the one above.
TEST_F(ProcessOrderTest, AFocusWhoseRowIsGoneMovesToItsNeighbour) {
  OrderProcessRows(rows_, false, {}, order_);  // anticheat 30, game 9, Game 12, alpha 4, zeta 8
  const struct {
    const char* name;
    std::vector<DWORD> ended;
    size_t focused;
    bool onlyMatched;
    int expected;  // new position, -1 for none
  } cases[] = {
      {"the middle row ends", {9}, 1, false, 1},           // Game 12 moves up into its place
      {"it and the row below end", {9, 12}, 1, false, 1},  // alpha 4
      {"the last row ends", {8}, 4, false, 3},             // alpha 4, above it
      {"the first row ends", {30}, 0, false, 0},
      {"every row ends", {30, 9, 12, 4, 8}, 2, false, -1},
      {"hidden by the filter", {}, 3, true, 2},  // alpha hidden: Game 12 is the last matched row
  };
  for (const auto& c : cases) {
    std::vector<ProcessResult> next;
    for (const ProcessResult& row : rows_) {
      if (std::find(c.ended.begin(), c.ended.end(), row.processId) == c.ended.end()) next.push_back(row);
    }
    std::vector<uint32_t> order;
    OrderProcessRows(next, c.onlyMatched, {}, order);
    EXPECT_EQ(NeighbourPosition(rows_, order_, c.focused, next, order), c.expected) << c.name;
  }
}

// Adding from the window: what is new is added, what is listed is named, a
// name that had to change is said, and more than one new entry is asked about.
TEST_F(ProcessOrderTest, AnAddNamesWhatIsListedAndAsksForMoreThanOne) {
  rows_.push_back(Row(50, L"a;b.exe"));
  const struct {
    const char* name;
    std::vector<uint32_t> selected;
    std::vector<std::wstring> listed;
    std::vector<std::wstring> entries;
    std::wstring question;
    std::wstring report;
  } cases[] = {
      {"one new", {2}, {}, {L"alpha.exe"}, L"", L""},
      {"one listed", {2}, {L"ALPHA.EXE"}, {}, L"", L"alpha.exe is already in the list."},
      {"two new, one listed",
       {1, 2, 0},
       {L"alpha.exe"},
       {L"Game.exe", L"zeta.exe"},
       L"Add 2 entries to the list?\nGame.exe\nzeta.exe\n\nalpha.exe is already in the list.",
       L""},
      {"one new, two listed",
       {1, 2, 0},
       {L"zeta.exe", L"game.exe"},
       {L"alpha.exe"},
       L"",
       L"Already in the list:\nGame.exe\nzeta.exe"},
      {"a name with ';'",
       {5},
       {},
       {L"a?b.exe"},
       L"",
       L"a;b.exe is listed as a?b.exe\n(';' would begin a new pattern, and spaces at its start are left out.)"},
      {"renamed among two",
       {5, 0},
       {},
       {L"a?b.exe", L"zeta.exe"},
       L"Add 2 entries to the list?\na?b.exe\nzeta.exe\n\na;b.exe is listed as a?b.exe\n(';' would begin a new "
       L"pattern, and spaces at its start are left out.)",
       L""},
      {"a renamed name listed already", {5}, {L"a?b.exe"}, {}, L"", L"a?b.exe is already in the list."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AddPlan plan = PlanAdd(rows_, c.selected, AddWhat::Name, c.listed);
    EXPECT_EQ(plan.entries, c.entries);
    EXPECT_EQ(AddQuestionText(plan), c.question);
    EXPECT_EQ(AddReportText(plan), c.report);
  }
  std::vector<ProcessResult> many;
  std::vector<uint32_t> all;
  for (DWORD id = 0; id < 12; ++id) {
    many.push_back(Row(id, L"p" + std::to_wstring(id) + L".exe"));
    all.push_back(id);
  }
  const std::wstring question = AddQuestionText(PlanAdd(many, all, AddWhat::Name, {}));
  EXPECT_THAT(question, ::testing::StartsWith(L"Add 12 entries to the list?\np0.exe\n"));
  EXPECT_THAT(question, ::testing::EndsWith(L"\np9.exe\n(and 2 more)"));
}

// Remove From List takes the patterns of the selected matched rows, once
// each, and asks only when a pattern matches other running processes too.
TEST_F(ProcessOrderTest, RemoveAsksWhenAPatternMatchesOtherProcessesToo) {
  const std::vector<uint32_t> both = {1, 4};  // Game.exe 12 and game.exe 9, both by game.exe
  const std::vector<PatternToRemove> alone = PlanRemove(rows_, both);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(alone[0].pattern, L"game.exe");
  EXPECT_TRUE(alone[0].alsoMatches.empty());
  EXPECT_EQ(RemoveQuestionText(alone), L"");

  const std::vector<uint32_t> one = {1, 3, 0};  // Game.exe 12, anticheat.exe, zeta.exe (not matched)
  const std::vector<PatternToRemove> shared = PlanRemove(rows_, one);
  ASSERT_EQ(shared.size(), 2u);
  EXPECT_THAT(shared[0].alsoMatches, ElementsAre(L"game.exe"));
  EXPECT_EQ(RemoveQuestionText(shared),
            L"Remove 2 entries from the list?\n\ngame.exe also matches 1 other running process:\ngame.exe");
  EXPECT_TRUE(PlanRemove(rows_, std::vector<uint32_t>{0, 2}).empty()) << "no matched row";
}

// The selection follows its processes by id and name: a process that ended is
// dropped, and an id now used by another program is not the same row.
TEST_F(ProcessOrderTest, SelectionFollowsItsProcessesAcrossARefresh) {
  OrderProcessRows(rows_, false, {}, order_);
  const std::vector<ProcessRowKey> selected = {KeyOf(rows_[order_[0]]), KeyOf(rows_[order_[2]]),
                                               KeyOf(rows_[order_[4]])};  // anticheat 30, Game 12, zeta 8

  std::vector<ProcessResult> next = rows_;
  next.erase(next.begin() + 3);                    // anticheat.exe ended
  next[0] = Row(8, L"reused.exe");                 // zeta.exe ended, its id reused
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
  const ProcessColumnTitles titles = {L"Process",        L"PID",      L"Pattern", L"Efficiency Mode Off",
                                      L"CPU Affinities", L"CPU Sets", L"Path"};
  EXPECT_EQ(ProcessRowsCopyText(titles, rows_, selected),
            L"Process\tPID\tPattern\tEfficiency Mode Off\tCPU Affinities\tCPU Sets\tPath\r\n"
            L"Game.exe\t12\tgame.exe\tPlaced\tDenied\t\tC:\\odd name  .exe\r\n"
            L"alpha.exe\t4\t\t\t\t\tC:\\alpha.exe\r\n");
}

TEST_F(ProcessOrderTest, AnAddSkipsMissingPathsAndRepeats) {
  const std::vector<uint32_t> selected = {1, 4, 2, 0};  // Game.exe, game.exe (no path), alpha.exe, zeta.exe
  EXPECT_THAT(PlanAdd(rows_, selected, AddWhat::Name, {}).entries, ElementsAre(L"Game.exe", L"alpha.exe", L"zeta.exe"));
  EXPECT_THAT(PlanAdd(rows_, selected, AddWhat::Path, {}).entries,
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
    EXPECT_THAT(PlanAdd(rows, selected, AddWhat::Name, {}).entries, ElementsAre(c.entry)) << c.text;
    EXPECT_TRUE(MatchesPathSpec(c.text, c.entry)) << c.text;
    EXPECT_FALSE(MatchesPathSpec(L"other.exe", c.entry)) << c.text;
  }
}

// Characters outside the BMP and names at the snapshot's length limit pass through unchanged.
TEST(ProcessRows, LongAndSupplementaryNamesPassThrough) {
  const std::wstring name = std::wstring(L"\U0001F3AE") + std::wstring(255, L'x') + L".exe";
  const std::wstring path = L"\\\\?\\C:\\" + std::wstring(32000, L'p') + L"\\" + name;
  const std::vector<ProcessResult> rows = {Row(1, name, name, path)};
  EXPECT_EQ(ProcessCellText(rows[0], ProcessColumn::Process), name);
  EXPECT_EQ(ProcessCellText(rows[0], ProcessColumn::Path), path);
  const std::vector<uint32_t> selected = {0};
  EXPECT_THAT(PlanAdd(rows, selected, AddWhat::Path, {}).entries, ElementsAre(path));
}

}  // namespace
}  // namespace tarnwick
