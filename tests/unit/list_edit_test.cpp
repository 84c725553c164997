#include "ui/list_edit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;

TEST(ListSave, LeavesOutEmptyEntriesAndKeepsEveryOtherWholeInOrder) {
  const std::vector<std::wstring> listed = {
      L"", L" spaced ", std::wstring(1023, L'a'), std::wstring(1024, L'b'), L"notepad.exe",
      std::wstring(5000, L'c'), L"C:\\Tools\\app.exe", L""};
  EXPECT_THAT(EntriesToSave(listed),
              ElementsAre(L" spaced ", std::wstring(1023, L'a'), std::wstring(1024, L'b'), L"notepad.exe",
                          std::wstring(5000, L'c'), L"C:\\Tools\\app.exe"));
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
      {L"ABC.EXE", true},
      {L"abc.exe", true},
      {L"abc", false},
      {L"abc.exe ", false},
      {L"c:\\games\\*.EXE", true},
      {L"\u00C9T\u00C9.EXE", true},
      {L"", true},
      {L"notepad.exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAlreadyListed(listed, c.candidate), c.listed)
        << "candidate " << testing::PrintToString(std::wstring(c.candidate));
  }
  EXPECT_FALSE(IsAlreadyListed(std::vector<std::wstring>{}, L"abc.exe"));
}

// What the list box gains after the Add New Entry dialog ends.
TEST(AddFlow, NewEntriesAreSavedAndAnEditedEntryNeverVanishes) {
  struct Case {
    const char* what;
    bool accepted;
    std::wstring entry;
    std::optional<std::wstring> pending;
    bool duplicate;
    bool message;
    std::optional<std::wstring> insert;
    bool save;
  };
  const Case cases[] = {
      {"add confirmed", true, L"notepad.exe", std::nullopt, false, false, L"notepad.exe", true},
      {"add cancelled", false, L"", std::nullopt, false, false, std::nullopt, false},
      {"add confirmed empty", true, L"", std::nullopt, false, false, std::nullopt, false},
      {"add of a listed text", true, L"NOTEPAD.EXE", std::nullopt, true, true, std::nullopt, false},
      {"edit confirmed", true, L"calc.exe", L"notepad.exe", false, false, L"calc.exe", true},
      {"edit cancelled", false, L"notepad.exe", L"notepad.exe", false, false, L"notepad.exe", false},
      {"edit confirmed empty", true, L"", L"notepad.exe", false, false, L"notepad.exe", false},
      {"edit to a listed text", true, L"CALC.EXE", L"notepad.exe", true, true, L"notepad.exe", false},
      {"edit of an empty entry cancelled", false, L"", L"", false, false, L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const AddFlowSteps steps = DecideAddFlow(c.accepted, c.entry, c.pending, c.duplicate);
    EXPECT_EQ(steps.showDuplicateMessage, c.message);
    EXPECT_EQ(steps.insert, c.insert);
    EXPECT_EQ(steps.saveAndAnnounce, c.save);
  }
}

}  // namespace
}  // namespace tarnwick
