#include "enforce/process_matching.h"

#include "tests/fakes/fake_system.h"
#include "platform/win32_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <type_traits>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The rule itself, with the shell's matcher and with the fake's, which the
// other enforcement tests rely on.
TEST(ProcessMatches, FileNameThenImagePath) {
  struct Case {
    const wchar_t* pattern;
    const wchar_t* fileName;
    const wchar_t* imagePath;  // empty: not known
    bool matches;
  };
  const Case cases[] = {
      {L"NOTEPAD.exe", L"notepad.exe", L"", true},
      {L"note*.exe", L"notepad.exe", L"", true},
      {L"n?tepad.exe", L"notepad.exe", L"", true},
      {L"n?tepad.exe", L"nootepad.exe", L"", false},
      {L"notepad", L"notepad.exe", L"", false},
      {L"C:\\Tools\\*", L"app.exe", L"C:\\Tools\\sub\\app.exe", true},
      {L"c:\\tools\\*", L"app.exe", L"C:\\Tools\\app.exe", true},
      {L"C:\\Tools\\*", L"app.exe", L"", false},
      {L"C:\\Tools\\app.exe", L"app.exe", L"C:\\Tools\\app.exe", true},
      {L"other.exe", L"app.exe", L"C:\\Tools\\other.exe", false},  // a bare name never matches a path
      {L"*", L"app.exe", L"", true},
  };
  FakeSystem fake;
  PathMatcher* matchers[] = {&Win32PathMatcher(), &fake};
  for (PathMatcher* matcher : matchers) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (matcher == &fake ? "fake " : "shell ") << c.pattern << " / " << c.fileName
                                      << " / " << c.imagePath);
      ProcessRecord record;
      record.imagePath = c.imagePath;
      EXPECT_EQ(ProcessMatches(*matcher, c.fileName, record, c.pattern), c.matches);
    }
  }
}

// The worker's own matcher gives the shell's answers for every ordinary
// pattern: each name against each pattern, compared with PathMatchSpecW.
TEST(MatchesPathSpec, AnswersAsTheShellDoesForOrdinaryPatterns) {
  // The tables keep their rows.
  // clang-format off
  const wchar_t* names[] = {
      L"notepad.exe", L"NOTEPAD.EXE", L"note.pad.exe", L"a", L"ab", L"abc", L"x.y", L"xy", L"readme",
      L"C:\\Tools\\app.exe", L"C:\\Tools\\sub\\app.exe", L"D:\\Tools\\app.exe", L"caf\u00e9.exe",
      L"CAF\u00c9.EXE", L"a b.exe", L" lead.exe", L"semi;colon.exe", L"aaaaab", L"mississippi.exe", L".exe",
  };
  const wchar_t* patterns[] = {
      L"notepad.exe", L"NotePad.Exe", L"note*.exe", L"*pad*", L"n?tepad.exe", L"?", L"??", L"???", L"a*",
      L"*b", L"*a*b*", L"a?c", L"*.*", L"**.*", L"*.**", L"*.", L"*", L"**", L"*.exe", L"*.EXE", L"x.*",
      L"C:\\Tools\\*", L"c:\\tools\\*.exe", L"C:\\*\\app.exe", L"?:\\Tools\\app.exe", L"caf\u00c9.exe",
      L"a b.exe", L"a*b.exe", L"lead.exe", L" lead.exe", L"  notepad.exe", L"notepad.exe ", L"x.y;notepad.exe",
      L"none;*.exe", L"none; abc", L"abc;", L";abc", L";", L"", L" ", L"semi;colon.exe", L"*ss*ss*.exe",
      L"m*i*s*p*.exe", L"*a*a*b", L"a*a*a*a*b", L"*?", L"?*?", L"*.e?e", L"readme*", L"*readme",
  };
  // clang-format on
  for (const wchar_t* name : names) {
    for (const wchar_t* pattern : patterns) {
      EXPECT_EQ(MatchesPathSpec(name, pattern), Win32PathMatcher().PathMatchSpecW(name, pattern))
          << "name " << testing::PrintToString(std::wstring(name)) << " pattern "
          << testing::PrintToString(std::wstring(pattern));
    }
  }
}

// Patterns on which the shell backtracks for minutes per name are answered at
// once; a hang here ends the test program at its time-out.
TEST(MatchesPathSpec, ManyStarsCostNoMoreThanOne) {
  const std::wstring stars(16, L'*');
  EXPECT_TRUE(MatchesPathSpec(L"abcz", (stars + L"z").c_str()));
  EXPECT_FALSE(MatchesPathSpec(L"abcy", (stars + L"z").c_str()));
  const std::wstring longPath = L"C:\\" + std::wstring(1000, L'a') + L".exe";
  EXPECT_FALSE(MatchesPathSpec(longPath.c_str(), (stars + L"z").c_str()));
  std::wstring alternating;
  for (int i = 0; i < 40; ++i) alternating += L"*a";
  EXPECT_TRUE(MatchesPathSpec(longPath.c_str(), (alternating + L"*").c_str()));
  EXPECT_FALSE(MatchesPathSpec(longPath.c_str(), (alternating + L"b").c_str()));
  // A mask with more characters than the name cannot match, however long.
  const std::wstring huge = L"*" + std::wstring(1 << 20, L'x') + L"*";
  EXPECT_FALSE(MatchesPathSpec(longPath.c_str(), huge.c_str()));
}

class PathCacheTest : public ::testing::Test {
 protected:
  // One pass as the worker runs it: resolve every process, then purge.
  void Pass() {
    for (const FakeProcess& process : system_.processes) {
      cache_.Resolve(system_, process.id, process.parentId, process.fileName.c_str());
    }
    cache_.Purge();
  }
  size_t QueriesOf(DWORD id) { return system_.CountCalls("OpenProcess 0x1000 " + std::to_string(id)); }

  FakeSystem system_;
  ProcessPathCache cache_;
};

TEST_F(PathCacheTest, QueriesEachPathOnceAndClosesTheHandle) {
  system_.processes = {{7, L"app.exe", L"C:\\Tools\\app.exe"}};
  Pass();
  Pass();
  EXPECT_THAT(system_.Calls(),
              ElementsAre("OpenProcess 0x1000 7", "QueryFullProcessImageNameW 7 0 1024", "CloseHandle process 7"));
  EXPECT_EQ(cache_.Find(7)->imagePath, L"C:\\Tools\\app.exe");
}

TEST_F(PathCacheTest, GivesUpAfterFiveAttempts) {
  system_.processes = {{7, L"protected.exe", L"C:\\p.exe", 1, /*canQuery=*/false}};
  for (int pass = 0; pass < 8; ++pass) Pass();
  EXPECT_EQ(QueriesOf(7), 5u);
  EXPECT_EQ(cache_.Find(7)->lookupAttempts, 8);
}

TEST_F(PathCacheTest, PathWithoutTerminatingZeroStopsAtTheBuffer) {
  FakeProcess process{7, L"app.exe", L"C:\\Tools\\app.exe"};
  process.pathFillsBuffer = true;
  system_.processes = {process};
  Pass();
  EXPECT_EQ(cache_.Find(7)->imagePath.size(), kImagePathCapacity);
}

TEST_F(PathCacheTest, PurgesEndedProcesses) {
  system_.processes = {{7, L"a.exe", L""}, {8, L"b.exe", L""}};
  Pass();
  system_.processes.pop_back();
  Pass();
  EXPECT_EQ(cache_.Size(), 1u);
  EXPECT_EQ(cache_.Find(8), nullptr);
  system_.processes.push_back({8, L"b.exe", L"C:\\b.exe"});
  Pass();
  EXPECT_EQ(cache_.Find(8)->imagePath, L"C:\\b.exe");
}

TEST_F(PathCacheTest, ReusedIdStartsAfreshUnderAnotherName) {
  system_.processes = {{7, L"old.exe", L"C:\\Old\\old.exe"}};
  Pass();
  // Within one interval old.exe ended and new.exe got its id.
  system_.processes = {{7, L"NEW.exe", L"C:\\New\\NEW.exe"}};
  Pass();
  EXPECT_EQ(cache_.Find(7)->imagePath, L"C:\\New\\NEW.exe");
  EXPECT_EQ(QueriesOf(7), 2u);
  // A process that exhausted its attempts does not pass them on either.
  system_.processes = {{9, L"locked.exe", L"", 1, false}};
  for (int pass = 0; pass < 6; ++pass) Pass();
  system_.processes = {{9, L"open.exe", L"C:\\open.exe"}};
  Pass();
  EXPECT_EQ(cache_.Find(9)->imagePath, L"C:\\open.exe");
  // Only the letter case differs: the same program.
  system_.processes = {{9, L"OPEN.EXE", L"C:\\open.exe"}};
  Pass();
  EXPECT_EQ(QueriesOf(9), 6u);
}

TEST_F(PathCacheTest, ReusedIdStartsAfreshUnderTheSameNameFromAnotherParent) {
  // A build starts cl.exe after cl.exe; an id freed by one is taken by the next.
  FakeProcess first{7, L"cl.exe", L"C:\\VS\\x64\\cl.exe"};
  first.parentId = 100;
  system_.processes = {first};
  Pass();
  FakeProcess second{7, L"cl.exe", L"C:\\VS\\x86\\cl.exe"};
  second.parentId = 200;
  system_.processes = {second};
  Pass();
  EXPECT_EQ(cache_.Find(7)->imagePath, L"C:\\VS\\x86\\cl.exe");
  EXPECT_EQ(QueriesOf(7), 2u);
  Pass();
  EXPECT_EQ(QueriesOf(7), 2u) << "the same process in the next pass";
}

class PatternListTest : public PathCacheTest {
 protected:
  std::vector<size_t> MatchesOf(PatternList& list, DWORD id) {
    const FakeProcess* process = nullptr;
    for (const FakeProcess& p : system_.processes) {
      if (p.id == id) process = &p;
    }
    ProcessRecord& record = cache_.Resolve(system_, id, process->parentId, process->fileName.c_str());
    std::vector<size_t> found;
    list.ForEachMatch(record, process->fileName.c_str(), [&](size_t index) { found.push_back(index); });
    return found;
  }
};

TEST_F(PatternListTest, CachedResultsEqualTheRuleAndAreComputedOnce) {
  system_.processes = {{7, L"app.exe", L"C:\\Tools\\app.exe"}};
  std::vector<std::wstring> patterns{L"APP.EXE", L"x.exe", L"C:\\Tools\\*", L"app.exe"};
  for (int i = 0; i < 70; ++i) patterns.push_back(L"filler" + std::to_wstring(i) + L".exe");
  patterns.push_back(L"*.exe");
  PatternList cached(patterns, system_);
  PatternList uncached(patterns, system_, MatchCaching::Uncached);
  EXPECT_THAT(MatchesOf(cached, 7), ElementsAre(0, 2, 3, 74));
  const uint64_t afterFirst = system_.PathMatchCalls();
  EXPECT_THAT(MatchesOf(cached, 7), ElementsAre(0, 2, 3, 74));
  EXPECT_EQ(system_.PathMatchCalls(), afterFirst) << "a known process is only looked up";
  EXPECT_THAT(MatchesOf(uncached, 7), ElementsAre(0, 2, 3, 74));
}

TEST_F(PatternListTest, ImagePathArrivingLaterIsMatchedOnce) {
  system_.processes = {{7, L"app.exe", L"C:\\Tools\\app.exe", 1, /*canQuery=*/false}};
  PatternList list({L"C:\\Tools\\*", L"app.exe"}, system_);
  EXPECT_THAT(MatchesOf(list, 7), ElementsAre(1));
  system_.processes[0].canQuery = true;
  EXPECT_THAT(MatchesOf(list, 7), ElementsAre(0, 1));
  const uint64_t calls = system_.PathMatchCalls();
  EXPECT_THAT(MatchesOf(list, 7), ElementsAre(0, 1));
  EXPECT_EQ(system_.PathMatchCalls(), calls);
}

TEST_F(PatternListTest, ANewListAndAReusedIdStartWithFreshResults) {
  system_.processes = {{7, L"app.exe", L"C:\\Tools\\app.exe"}};
  PatternList first({L"app.exe"}, system_);
  EXPECT_THAT(MatchesOf(first, 7), ElementsAre(0));
  PatternList second({L"other.exe", L"C:\\Tools\\*"}, system_);
  EXPECT_THAT(MatchesOf(second, 7), ElementsAre(1));
  cache_.Purge();
  system_.processes = {{7, L"other.exe", L"D:\\other.exe"}};
  EXPECT_THAT(MatchesOf(second, 7), ElementsAre(0));
}

TEST_F(PatternListTest, ReusedIdOfTheSameNameDropsTheOldResults) {
  FakeProcess first{7, L"python.exe", L"C:\\Tools\\python.exe"};
  first.parentId = 100;
  system_.processes = {first};
  PatternList list({L"C:\\Tools\\*"}, system_);
  EXPECT_THAT(MatchesOf(list, 7), ElementsAre(0));
  cache_.Purge();
  FakeProcess second{7, L"python.exe", L"C:\\Other\\python.exe"};
  second.parentId = 300;
  system_.processes = {second};
  EXPECT_THAT(MatchesOf(list, 7), IsEmpty());
}

// Match bits name their list by its generation: a list that could be copied
// would share it, and a moved-from list would leave bits past its end.
static_assert(!std::is_copy_constructible_v<PatternList> && !std::is_copy_assignable_v<PatternList>);
static_assert(!std::is_move_constructible_v<PatternList> && !std::is_move_assignable_v<PatternList>);

TEST_F(PatternListTest, EmptyListMatchesNothing) {
  system_.processes = {{7, L"app.exe", L"C:\\Tools\\app.exe"}};
  PatternList list({}, system_);
  EXPECT_THAT(MatchesOf(list, 7), IsEmpty());
}

}  // namespace
}  // namespace tarnwick
