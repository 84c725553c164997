#include "ui/list_edit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;

TEST(ListSave, LeavesOutEmptyEntriesAndKeepsEveryOtherWholeInOrder) {
  const std::vector<std::wstring> listed = {L"",
                                            L" spaced ",
                                            std::wstring(1023, L'a'),
                                            std::wstring(1024, L'b'),
                                            L"notepad.exe",
                                            std::wstring(5000, L'c'),
                                            L"C:\\Tools\\app.exe",
                                            L""};
  EXPECT_THAT(EntriesToSave(listed), ElementsAre(L" spaced ", std::wstring(1023, L'a'), std::wstring(1024, L'b'),
                                                 L"notepad.exe", std::wstring(5000, L'c'), L"C:\\Tools\\app.exe"));
  EXPECT_TRUE(EntriesToSave(std::vector<std::wstring>{}).empty());
  EXPECT_TRUE(ListBoxCanHoldEntries(listed));
  EXPECT_FALSE(ListBoxCanHoldEntries(std::vector<std::wstring>{L"a.exe", std::wstring(L"b\0.exe", 6)}));
}

TEST(ListDuplicates, WholeEntriesCompareWithoutRegardToCase) {
  const std::vector<std::wstring> listed = {L"abc.exe", L"C:\\Games\\*.exe", L"\u00E9t\u00E9.exe", L""};
  struct Case {
    const wchar_t* candidate;
    bool listed;
  };
  const Case cases[] = {
      {L"ABC.EXE", true},          {L"abc.exe", true},           {L"abc", false}, {L"abc.exe ", false},
      {L"c:\\games\\*.EXE", true}, {L"\u00C9T\u00C9.EXE", true}, {L"", true},     {L"notepad.exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAlreadyListed(listed, c.candidate), c.listed)
        << "candidate " << testing::PrintToString(std::wstring(c.candidate));
  }
  EXPECT_FALSE(IsAlreadyListed(std::vector<std::wstring>{}, L"abc.exe"));
}

// What one edit makes of the entries the file holds now, which another
// program may have changed since the window showed them.
TEST(ListChanges, AnEditAppliesToWhatTheFileHoldsAndNeverDropsAnotherEntry) {
  using Kind = ListChange::Kind;
  const std::vector<std::wstring> file = {L"calc.exe", L"notepad.exe", L"", L"gamma.exe"};
  struct Case {
    const char* what;
    ListChange change;
    std::vector<std::wstring> entries;
    bool duplicate;
    bool save;
  };
  const Case cases[] = {
      {"add",
       {Kind::Add, {L"new.exe"}, {}, {}},
       {L"calc.exe", L"notepad.exe", L"", L"gamma.exe", L"new.exe"},
       false,
       true},
      {"add of a listed text", {Kind::Add, {L"NOTEPAD.EXE"}, {}, {}}, file, true, false},
      {"add of two, one listed",
       {Kind::Add, {L"Gamma.exe", L"b.exe", L""}, {}, {}},
       {L"calc.exe", L"notepad.exe", L"", L"gamma.exe", L"b.exe"},
       true,
       true},
      {"remove", {Kind::Remove, {}, L"notepad.exe", {}}, {L"calc.exe", L"", L"gamma.exe"}, false, true},
      {"remove of an entry already gone", {Kind::Remove, {}, L"gone.exe", {}}, file, false, true},
      {"edit",
       {Kind::Edit, {}, L"calc.exe", L"calc2.exe"},
       {L"calc2.exe", L"notepad.exe", L"", L"gamma.exe"},
       false,
       true},
      {"edit of the letter case",
       {Kind::Edit, {}, L"calc.exe", L"Calc.exe"},
       {L"Calc.exe", L"notepad.exe", L"", L"gamma.exe"},
       false,
       true},
      {"edit to another listed text", {Kind::Edit, {}, L"calc.exe", L"GAMMA.EXE"}, file, true, false},
      {"edit confirmed unchanged", {Kind::Edit, {}, L"calc.exe", L"calc.exe"}, file, false, false},
      {"edit confirmed empty", {Kind::Edit, {}, L"calc.exe", L""}, file, false, false},
      {"edit of an entry another program removed",
       {Kind::Edit, {}, L"gone.exe", L"back.exe"},
       {L"calc.exe", L"notepad.exe", L"", L"gamma.exe", L"back.exe"},
       false,
       true},
      {"edit of an empty line",
       {Kind::Edit, {}, L"", L"blank.exe"},
       {L"calc.exe", L"notepad.exe", L"blank.exe", L"gamma.exe"},
       false,
       true},
      {"clear", {Kind::Clear, {}, {}, {}}, {}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const AppliedChange applied = ApplyListChange(file, c.change);
    EXPECT_EQ(applied.entries, c.entries);
    EXPECT_EQ(applied.duplicate, c.duplicate);
    EXPECT_EQ(applied.save, c.save);
  }
}

}  // namespace
}  // namespace tarnwick
