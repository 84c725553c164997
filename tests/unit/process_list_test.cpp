#include "config/process_list.h"

#include "platform/unique_handle.h"
#include "tests/fakes/fake_limited_token.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::byte> Bytes(std::initializer_list<int> values) {
  std::vector<std::byte> bytes;
  for (int value : values) bytes.push_back(static_cast<std::byte>(value));
  return bytes;
}

// The UTF-16 little endian bytes of text.
std::vector<std::byte> Utf16(const std::wstring& text) {
  std::vector<std::byte> bytes;
  for (wchar_t unit : text) {
    bytes.push_back(static_cast<std::byte>(unit & 0xFF));
    bytes.push_back(static_cast<std::byte>((unit >> 8) & 0xFF));
  }
  return bytes;
}

class ProcessListFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        std::filesystem::temp_directory_path() / ("tarnwick-list-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    path_ = (folder_ / "p-core-list.txt").wstring();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteRaw(const std::vector<std::byte>& bytes) {
    unique_hfile file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  }
  std::vector<std::byte> ReadRaw() const {
    unique_hfile file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::vector<std::byte> bytes(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty()) {
      EXPECT_TRUE(::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr));
    }
    return bytes;
  }
  // Written back by the program, every entry reads back unaltered.
  void ExpectWrittenBackUnaltered(const std::vector<std::wstring>& entries) {
    ASSERT_EQ(SaveProcessList(path_, entries), static_cast<int32_t>(entries.size()));
    std::vector<std::wstring> again;
    EXPECT_EQ(ReadProcessListFile(path_, again), ListFileStatus::Read);
    EXPECT_EQ(again, entries);
  }
  std::vector<std::wstring> FolderContents() const {
    std::vector<std::wstring> names;
    for (const auto& item : std::filesystem::directory_iterator(folder_))
      names.push_back(item.path().filename().wstring());
    return names;
  }

  std::filesystem::path folder_;
  std::wstring path_;
};

TEST_F(ProcessListFile, SavesEachEntryWithCrLfAndLoadsItBack) {
  EXPECT_EQ(SaveProcessList(path_, {L"notepad.exe", L"C:\\Tools\\app.exe"}), 2);
  EXPECT_EQ(ReadRaw(), Utf16(L"notepad.exe\r\nC:\\Tools\\app.exe\r\n"));
  std::vector<std::wstring> entries;
  EXPECT_EQ(LoadProcessList(path_, entries), 2);
  EXPECT_THAT(entries, ElementsAre(L"notepad.exe", L"C:\\Tools\\app.exe"));
}

TEST_F(ProcessListFile, EmptyListIsAZeroLengthFile) {
  WriteRaw(Utf16(L"old.exe\r\n"));
  EXPECT_EQ(SaveProcessList(path_, {}), 0);
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
  std::vector<std::wstring> entries;
  EXPECT_EQ(LoadProcessList(path_, entries), 0);
}

// The bytes of text in the system's ANSI code page.
std::vector<std::byte> Ansi(const std::wstring& text) {
  std::string bytes(text.size() * 2, '\0');
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(static_cast<size_t>(std::max(length, 0)));
  std::vector<std::byte> result;
  for (char c : bytes) result.push_back(static_cast<std::byte>(c));
  return result;
}

std::vector<std::byte> operator+(std::vector<std::byte> a, const std::vector<std::byte>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The UTF-16 big endian bytes of text.
std::vector<std::byte> Utf16Be(const std::wstring& text) {
  std::vector<std::byte> bytes = Utf16(text);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

TEST_F(ProcessListFile, EveryFileIsReadAsWhatItsBytesSayOrRefused) {
  const std::wstring longEntry = std::wstring(1990, L'x') + L"\\app.exe";
  const bool ansiIs1252 = ::GetACP() == 1252;
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::optional<std::vector<std::wstring>> expected;  // nullopt: cannot be decoded
  };
  const std::vector<Case> cases = {
      // UTF-16 little endian, as this program and Notepad write it.
      {"UTF-16 with CR LF", Utf16(L"a.exe\r\nb.exe\r\n"), {{L"a.exe", L"b.exe"}}},
      {"UTF-16, last line unended", Utf16(L"a.exe\r\nb.exe"), {{L"a.exe", L"b.exe"}}},
      {"UTF-16 with its mark",
       Utf16(L"\xFEFF"
             L"a.exe\r\nb.exe\r\n"),
       {{L"a.exe", L"b.exe"}}},
      {"UTF-16 with its mark, last line unended",
       Utf16(L"\xFEFF"
             L"a.exe\r\nb.exe"),
       {{L"a.exe", L"b.exe"}}},
      {"UTF-16 big endian with its mark",
       Utf16Be(L"\xFEFF"
               L"a.exe\r\n"),
       {{L"a.exe"}}},
      {"UTF-16 big endian without a mark", Utf16Be(L"a.exe\r\nb.exe\r\n"), {{L"a.exe", L"b.exe"}}},
      {"UTF-16 of another script",
       Utf16(L"\x6E38\x620F\x5F15\x64CE\x7A0B\x5E8F\r\n"),
       {{L"\x6E38\x620F\x5F15\x64CE\x7A0B\x5E8F"}}},
      {"UTF-16 long line of another script",
       Utf16(std::wstring(200, L'\x4E4E') + L"\r\n"),
       {{std::wstring(200, L'\x4E4E')}}},
      {"UTF-16 with a lone surrogate", Utf16(L"\xD800.exe\r\n\xDC00\r\n"), {{L"\xD800.exe", L"\xDC00"}}},
      {"UTF-16 entry of 2000 characters", Utf16(L"a.exe\r\n" + longEntry + L"\r\n"), {{L"a.exe", longEntry}}},
      {"line ends: LF, CR LF, CR alone", Utf16(L"a\nb\r\nc\rd\r"), {{L"a", L"b", L"c", L"d"}}},
      {"two line ends give an empty entry", Utf16(L"a.exe\r\n\r\nb.exe\r\n"), {{L"a.exe", L"", L"b.exe"}}},
      {"spaces and case are kept", Utf16(L" A.exe \r\na.EXE\r\n"), {{L" A.exe ", L"a.EXE"}}},
      // 8-bit text.
      {"UTF-8, last line unended", Bytes({'a', 'b', '\n', 'c', '\r', '\n', 'd'}), {{L"ab", L"c", L"d"}}},
      {"UTF-8 with CR alone", Bytes({'a', '\r', 'b', '\r'}), {{L"a", L"b"}}},
      {"UTF-8 with its mark", Bytes({0xEF, 0xBB, 0xBF, 'x', 0xC3, 0xA9, '\r', '\n'}), {{L"x\x00E9"}}},
      {"UTF-8 mark alone", Bytes({0xEF, 0xBB, 0xBF}), {{}}},
      {"UTF-8 four-byte character", Bytes({0xF0, 0x9F, 0x8E, 0xAE, '.', 'e', 'x', 'e', '\n'}), {{L"\xD83C\xDFAE.exe"}}},
      {"UTF-8 with a stray zero byte at the end",
       Bytes({'n', '.', 'e', 'x', 'e', '\r', '\n', 'c', '\n', 0}),
       {{L"n.exe", L"c"}}},
      {"UTF-8 with a stray zero byte inside an entry",
       Bytes({'a', 'b', '\n', 'c', 0, 'd', '\n'}),
       {{L"ab", std::wstring(L"c\0d", 3)}}},
      {"UTF-8 with its mark and a zero byte at the end", Bytes({0xEF, 0xBB, 0xBF, 'a', '\n', 0}), {{L"a"}}},
      {"ANSI text, no zero byte", Ansi(L"caf\x00E9.exe\r\nna\x00EFve.exe"), {{L"caf\x00E9.exe", L"na\x00EFve.exe"}}},
      {"ANSI text with a stray zero byte", Ansi(L"caf\x00E9.exe\r\n") + Bytes({0}), {{L"caf\x00E9.exe"}}},
      {"8-bit text with a tab, a form feed and an end-of-file mark",
       Bytes({'a', '\t', 'b', '\n', 0x0C, 'c', '\n', 0x1A}),
       {{L"a\tb", L"\fc", L"\x1A"}}},
      // What cannot be told with confidence.
      {"UTF-16 cut inside a unit", Bytes({'a', 0, '.', 0, 'e', 0, 'x', 0, 'e', 0, '\r', 0, '\n'}), std::nullopt},
      {"UTF-16 mark with half a unit", Bytes({0xFF, 0xFE, 'a', 0, '\n'}), std::nullopt},
      {"UTF-8 mark before invalid UTF-8", Bytes({0xEF, 0xBB, 0xBF, 'a', 0xC3, '\n'}), std::nullopt},
      // No 8-bit text holds other control bytes, whatever else it could be read as.
      {"8-bit text with a control byte", Bytes({'a', '.', 'e', 'x', 'e', '\n', 'b', 0x01, '\n'}), std::nullopt},
      {"zeros on both sides of the units", Bytes({'a', 0, 0, 'b', 'c', 0, 0, 'd', '\n', 0, 0, '\n'}), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string_view(c.what).starts_with("ANSI") && !ansiIs1252) {
      ADD_FAILURE() << "the ANSI rows are written for code page 1252, not " << ::GetACP();
      continue;
    }
    WriteRaw(c.bytes);
    std::vector<std::wstring> entries;
    const ListFileStatus status = ReadProcessListFile(path_, entries);
    if (!c.expected) {
      EXPECT_EQ(status, ListFileStatus::Undecodable);
      EXPECT_THAT(entries, IsEmpty());
      EXPECT_EQ(LoadProcessList(path_, entries), 0) << "the worker gets nothing either";
      continue;
    }
    EXPECT_EQ(status, ListFileStatus::Read);
    EXPECT_EQ(entries, *c.expected);
    ExpectWrittenBackUnaltered(entries);
  }
}

TEST_F(ProcessListFile, LoadAppendsAndLeavesEntriesAloneWhenTheFileIsMissing) {
  std::vector<std::wstring> entries{L"kept.exe"};
  EXPECT_EQ(LoadProcessList(path_, entries), 1);
  EXPECT_THAT(entries, ElementsAre(L"kept.exe"));
  WriteRaw(Utf16(L"new.exe\r\n"));
  EXPECT_EQ(LoadProcessList(path_, entries), 2);
  EXPECT_THAT(entries, ElementsAre(L"kept.exe", L"new.exe"));
}

bool WriteHalfThenFail(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  ::WriteFile(file, data, size / 2, &written, nullptr);
  ::SetLastError(ERROR_DISK_FULL);
  return false;
}

TEST_F(ProcessListFile, FailedWriteKeepsTheOldListWhole) {
  ASSERT_EQ(SaveProcessList(path_, {L"first.exe", L"second.exe"}), 2);
  const auto before = ReadRaw();
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path_, {L"replacement.exe", L"other.exe", L"third.exe"}, error, {WriteHalfThenFail}), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL)) << "the writer's reason is reported";
  EXPECT_EQ(ReadRaw(), before);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt")) << "no temporary file is left behind";
}

TEST_F(ProcessListFile, FailedSavesNameTheSystemsReasonAndLeaveNothingBehind) {
  DWORD error = ERROR_SUCCESS;
  // A folder where the file belongs.
  std::filesystem::create_directory(path_);
  EXPECT_EQ(SaveProcessList(path_, {L"a.exe"}, error), -1);
  EXPECT_EQ(error, kErrorDirectoryNotSupported);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(path_));
  // A folder that does not exist.
  EXPECT_EQ(SaveProcessList((folder_ / "missing" / "list.txt").wstring(), {L"a.exe"}, error), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A file where the folder belongs.
  { std::ofstream(folder_ / "config"); }
  EXPECT_EQ(SaveProcessList((folder_ / "config" / "list.txt").wstring(), {L"a.exe"}, error), -1);
  EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(std::filesystem::file_size(folder_ / "config"), 0u);
}

TEST_F(ProcessListFile, ReadOnlyListIsRefusedAndKeepsItsAttribute) {
  ASSERT_EQ(SaveProcessList(path_, {L"kept.exe"}), 1);
  ASSERT_TRUE(::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_READONLY));
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path_, {L"other.exe"}, error), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_READ_ONLY));
  EXPECT_EQ(ReadRaw(), Utf16(L"kept.exe\r\n"));
  EXPECT_NE(::GetFileAttributesW(path_.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
  ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ProcessListFile, ReplacingTheListKeepsItsAttributes) {
  ASSERT_EQ(SaveProcessList(path_, {L"first.exe"}), 1);
  ASSERT_TRUE(::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_HIDDEN));
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path_, {L"second.exe"}, error), 1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadRaw(), Utf16(L"second.exe\r\n"));
  EXPECT_NE(::GetFileAttributesW(path_.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u) << "the list's attribute was lost";
}

TEST_F(ProcessListFile, FilesLeftByInterruptedSavesAreRemovedOnlyWhileTheListExists) {
  const char* const leftovers[] = {"p-core-list.txt.1a2b-3.tmp", "p-core-list.txt.1a2b-4.new", "tw7F.tmp", "TW1.TMP",
                                   "rf2fd1.tmp"};
  const char* const others[] = {"twitter.tmp", "p-core-list.txt.notes.tmp", "p-core-list.txt.x-1.new", "other.txt"};
  for (const char* name : leftovers) std::ofstream(folder_ / name);
  for (const char* name : others) std::ofstream(folder_ / name);
  // No list: a leftover may be its only copy, and the first save keeps them all.
  EXPECT_EQ(SaveProcessList(path_, {L"a.exe"}), 1);
  EXPECT_EQ(FolderContents().size(), std::size(leftovers) + std::size(others) + 1);
  EXPECT_EQ(SaveProcessList(path_, {L"b.exe"}), 1);
  EXPECT_THAT(FolderContents(),
              ::testing::UnorderedElementsAre(L"p-core-list.txt", L"twitter.tmp", L"p-core-list.txt.notes.tmp",
                                              L"p-core-list.txt.x-1.new", L"other.txt"));
}

// A save killed after the old list was gone and before the new one took its
// place leaves the complete new content (".new") as the only copy.
TEST_F(ProcessListFile, AMissingListIsRestoredFromTheNewestCompleteCopyASaveLeft) {
  auto writeFile = [&](const char* name, const std::wstring& text, int ageSeconds) {
    const std::filesystem::path file = folder_ / name;
    const std::vector<std::byte> bytes = Utf16(text);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::filesystem::last_write_time(file,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
  };
  writeFile("rf1c.tmp", L"old.exe\r\n", 60);                              // the old list, moved aside
  writeFile("p-core-list.txt.9-1.new", L"older.exe\r\n", 120);            // an older complete save
  writeFile("p-core-list.txt.9-2.new", L"new.exe\r\nother.exe\r\n", 10);  // the newest complete save
  writeFile("p-core-list.txt.9-3.tmp", L"newest but half wr", 0);         // never finished: not a list

  std::vector<std::wstring> entries;
  ListFileReading reading;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Read);
  EXPECT_THAT(entries, ElementsAre(L"new.exe", L"other.exe"));
  EXPECT_TRUE(reading.restored);
  EXPECT_EQ(ReadRaw(), Utf16(L"new.exe\r\nother.exe\r\n"));

  entries.clear();
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Read);
  EXPECT_FALSE(reading.restored) << "told once";
  // The next save cleans up, now that the list exists.
  EXPECT_EQ(SaveProcessList(path_, {L"new.exe"}), 1);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
}

// ReplaceFileW may fail after the old list is gone (ERROR_UNABLE_TO_MOVE_REPLACEMENT,
// and Wine's own passes through that state).
bool ReplaceLosingTheOldList(const wchar_t* list, const wchar_t*) {
  ::DeleteFileW(list);
  ::SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return false;
}

bool ReplaceFailingWithTheOldListKept(const wchar_t*, const wchar_t*) {
  ::SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
  return false;
}

TEST_F(ProcessListFile, AReplaceThatFailsAfterTheOldListIsGonePutsTheNewOneInPlace) {
  ASSERT_EQ(SaveProcessList(path_, {L"old.exe"}), 1);
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path_, {L"new.exe", L"other.exe"}, error, {nullptr, ReplaceLosingTheOldList}), 2);
  EXPECT_EQ(ReadRaw(), Utf16(L"new.exe\r\nother.exe\r\n"));
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));

  // A replace that fails with the old list in place reports the failure and leaves the old list whole.
  EXPECT_EQ(SaveProcessList(path_, {L"third.exe"}, error, {nullptr, ReplaceFailingWithTheOldListKept}), -1);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNABLE_TO_REMOVE_REPLACED));
  EXPECT_EQ(ReadRaw(), Utf16(L"new.exe\r\nother.exe\r\n"));
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
}

TEST_F(ProcessListFile, ListInAFolderTooLongForGetTempFileName) {
  // GetTempFileNameW takes at most MAX_PATH - 14 characters of folder, and so
  // does Wine's ReplaceFileW, which makes its backup name with it. The last
  // folder brings the length to exactly MAX_PATH - 20, whatever the length of
  // the test folder's name (it holds the process id).
  std::filesystem::path deep = folder_;
  while (deep.wstring().size() + 12 < MAX_PATH - 20) deep /= "abcdefghij";
  deep /= std::wstring(MAX_PATH - 20 - deep.wstring().size() - 1, L'k');
  ASSERT_EQ(deep.wstring().size(), size_t{MAX_PATH - 20});
  std::filesystem::create_directories(deep);
  const std::wstring path = (deep / "p-core-list.txt").wstring();
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path, {L"a.exe"}, error), 1) << "error " << error;
  EXPECT_EQ(SaveProcessList(path, {L"b.exe"}, error), 1) << "error " << error;
  std::vector<std::wstring> entries;
  EXPECT_EQ(LoadProcessList(path, entries), 1);
  EXPECT_THAT(entries, ElementsAre(L"b.exe"));
}

TEST_F(ProcessListFile, EveryListTheProgramWritesReadsBackTheSame) {
  const std::vector<std::vector<std::wstring>> lists = {
      {L"a.exe"},
      {L"\x4E2D\x6587.exe", L"\x0A0D"},         // units without a zero byte, one holding CR and LF bytes
      {L"", L"C:\\Tools\\*.exe", L" spaced "},  // empty entries are kept by the file format
      {L"\xFEFF"
       L"a.exe",
       L"\xBBEF\x41BF"},  // a UTF-16 mark, and units whose bytes spell a UTF-8 mark
  };
  for (const auto& list : lists) {
    ASSERT_EQ(SaveProcessList(path_, list), static_cast<int32_t>(list.size()));
    std::vector<std::wstring> entries;
    EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read);
    EXPECT_EQ(entries, list);
  }
}

TEST_F(ProcessListFile, AFileOver16MiBIsNotRead) {
  std::vector<std::byte> bytes = Utf16(L"a.exe\r\n" + std::wstring(kMaxListFileBytes / 2, L'x'));
  bytes.resize(kMaxListFileBytes);
  WriteRaw(bytes);
  std::vector<std::wstring> entries;
  EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read) << "16 MiB is still a list";
  EXPECT_FALSE(entries.empty());

  bytes.push_back(std::byte{'x'});
  WriteRaw(bytes);
  entries.clear();
  EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::TooLarge);
  EXPECT_THAT(entries, IsEmpty());
  EXPECT_EQ(LoadProcessList(path_, entries), 0);
  EXPECT_EQ(ReadProcessListFile((folder_ / "absent.txt").wstring(), entries), ListFileStatus::Missing);
}

TEST_F(ProcessListFile, AFileThatCannotBeReadIsToldApartFromAMissingOne) {
  std::vector<std::wstring> entries;
  ListFileReading reading;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Missing);
  EXPECT_EQ(ReadProcessListFile((folder_ / "no folder" / "list.txt").wstring(), entries), ListFileStatus::Missing);

  WriteRaw(Utf16(L"a.exe\r\n"));
  {
    // Held open by another program that shares nothing.
    unique_hfile locked(::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Unreadable);
    EXPECT_EQ(reading.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(LoadProcessList(path_, entries), 0);
  }
  {
    // Held open for writing and deleting by an editor or a sync tool that shares all.
    unique_hfile held(::CreateFileW(path_.c_str(), GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read);
    EXPECT_THAT(entries, ElementsAre(L"a.exe"));
  }

  entries.clear();
  std::filesystem::create_directory(folder_ / "folder.txt");
  EXPECT_EQ(ReadProcessListFile((folder_ / "folder.txt").wstring(), entries), ListFileStatus::Unreadable);
  EXPECT_THAT(entries, IsEmpty());
}

// The logon task runs the program elevated while the list's folder is the
// user's to plant junctions in: every file step runs with the rights of the
// user's ordinary programs.
bool ThreadImpersonates() {
  unique_handle token;
  return ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
}

struct StepsSeen {
  int writes = 0;
  int replaces = 0;
  int outside = 0;  // steps that ran without the limited token
};
StepsSeen SeenSteps;

bool WriteNotingTheToken(HANDLE file, const void* data, DWORD size) {
  ++SeenSteps.writes;
  if (!ThreadImpersonates()) ++SeenSteps.outside;
  DWORD written = 0;
  return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool ReplaceNotingTheToken(const wchar_t* list, const wchar_t* replacement) {
  ++SeenSteps.replaces;
  if (!ThreadImpersonates()) ++SeenSteps.outside;
  return ::ReplaceFileW(list, replacement, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
}

TEST_F(ProcessListFile, ASaveWritesWithTheLimitedRightsAndEndsWithoutThem) {
  SeenSteps = {};
  fake_limited_token::ImpersonableCalls = 0;
  const ListFileSaveSteps steps{WriteNotingTheToken, ReplaceNotingTheToken, fake_limited_token::Impersonable};
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(SaveProcessList(path_, {L"first.exe"}, error, steps), 1);                 // a new list
  EXPECT_EQ(SaveProcessList(path_, {L"second.exe", L"third.exe"}, error, steps), 2);  // a replace
  EXPECT_EQ(ReadRaw(), Utf16(L"second.exe\r\nthird.exe\r\n"));
  EXPECT_EQ(fake_limited_token::ImpersonableCalls, 2);
  EXPECT_EQ(SeenSteps.writes, 2);
  EXPECT_EQ(SeenSteps.replaces, 1);
  EXPECT_EQ(SeenSteps.outside, 0) << "a step ran with the process's own rights";
  EXPECT_FALSE(ThreadImpersonates()) << "the thread still impersonates after the save";
}

TEST_F(ProcessListFile, WithoutTheLimitedRightsAnElevatedProcessTouchesNothing) {
  ASSERT_EQ(SaveProcessList(path_, {L"kept.exe"}), 1);
  std::ofstream(folder_ / "p-core-list.txt.1-1.tmp") << "left by a save";
  for (const LimitedTokenSource source : {fake_limited_token::Unavailable, fake_limited_token::NotImpersonable}) {
    DWORD error = ERROR_SUCCESS;
    EXPECT_EQ(SaveProcessList(path_, {L"other.exe"}, error, {nullptr, nullptr, source}), -1);
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadRaw(), Utf16(L"kept.exe\r\n"));
    EXPECT_THAT(FolderContents(), ::testing::UnorderedElementsAre(L"p-core-list.txt", L"p-core-list.txt.1-1.tmp"));

    std::vector<std::wstring> entries;
    ListFileReading reading;
    EXPECT_EQ(ReadProcessListFile(path_, entries, &reading, source), ListFileStatus::Unreadable);
    EXPECT_NE(reading.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_THAT(entries, IsEmpty());
  }
  DWORD error = ERROR_SUCCESS;
  SaveProcessList(path_, {L"other.exe"}, error, {nullptr, nullptr, fake_limited_token::Unavailable});
  EXPECT_EQ(error, fake_limited_token::kUnavailableError) << "the reason is the one the token source gave";

  // A list whose only copy is what an interrupted save left stays where it is
  // until the limited rights can restore it.
  std::filesystem::rename(path_, folder_ / "p-core-list.txt.1-2.new");
  std::vector<std::wstring> entries;
  ListFileReading reading;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading, fake_limited_token::Unavailable), ListFileStatus::Unreadable);
  EXPECT_EQ(reading.error, fake_limited_token::kUnavailableError);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "p-core-list.txt.1-2.new"));
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading, fake_limited_token::Impersonable), ListFileStatus::Read);
  EXPECT_TRUE(reading.restored);
  EXPECT_THAT(entries, ElementsAre(L"kept.exe"));
  EXPECT_FALSE(ThreadImpersonates());
}

// What "cmd /c echo text>> list" appends: the system's 8-bit text with CR LF.
std::vector<std::byte> EchoLine(const std::string& text) {
  std::vector<std::byte> bytes;
  for (const char c : text + "\r\n") bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

TEST_F(ProcessListFile, AFileWrittenInTwoEncodingsIsReadPartByPartOrRefusedWithItsLine) {
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::optional<std::vector<std::wstring>> expected;  // nullopt: refused
    size_t line = 0;                                    // the line a refusal names
  };
  const std::vector<std::byte> ours = Utf16(L"a.exe\r\nb.exe\r\n");
  const std::vector<std::byte> cmds = EchoLine("a.exe") + EchoLine("b.exe");
  const std::vector<Case> cases = {
      {"UTF-16, then an echo of even length", ours + EchoLine("fooo.exe"), {{L"a.exe", L"b.exe", L"fooo.exe"}}},
      {"UTF-16, then an echo of odd length", ours + EchoLine("foo.exe"), {{L"a.exe", L"b.exe", L"foo.exe"}}},
      {"UTF-16, then two echoes",
       ours + EchoLine("c.exe") + EchoLine("dd.exe"),
       {{L"a.exe", L"b.exe", L"c.exe", L"dd.exe"}}},
      {"UTF-16 with its mark, then an echo",
       Utf16(L"\xFEFF"
             L"a.exe\r\n") +
           EchoLine("gamma.exe"),
       {{L"a.exe", L"gamma.exe"}}},
      {"UTF-16, then a line ended by LF alone",
       ours + Bytes({'c', '.', 'e', 'x', 'e', '\n'}),
       {{L"a.exe", L"b.exe", L"c.exe"}}},
      {"UTF-16, then UTF-8",
       ours + Bytes({'c', 'a', 'f', 0xC3, 0xA9, '\r', '\n'}),
       {{L"a.exe", L"b.exe", L"caf\x00E9"}}},
      {"UTF-16 of another script, then an echo",
       Utf16(L"\x6E38\x620F\r\n") + EchoLine("x.exe"),
       {{L"\x6E38\x620F", L"x.exe"}}},
      {"8-bit, then cmd /u", cmds + Utf16(L"c.exe\r\n"), {{L"a.exe", L"b.exe", L"c.exe"}}},
      {"8-bit of odd length, then cmd /u",
       EchoLine("ab.exe") + Utf16(L"c.exe\r\nd.exe\r\n"),
       {{L"ab.exe", L"c.exe", L"d.exe"}}},
      {"UTF-8 with its mark, then cmd /u",
       Bytes({0xEF, 0xBB, 0xBF}) + EchoLine("a.exe") + Utf16(L"c.exe\r\n"),
       {{L"a.exe", L"c.exe"}}},
      // Refused: no single seam, or a part that is no text.
      {"UTF-16, an echo, UTF-16 again", ours + EchoLine("fooo.exe") + Utf16(L"c.exe\r\n"), std::nullopt, 3},
      {"8-bit, cmd /u, 8-bit again", cmds + Utf16(L"c.exe\r\n") + EchoLine("d.exe"), std::nullopt, 3},
      {"UTF-16, then 8-bit with a control byte", ours + Bytes({'c', 0x01, '.', 'e', 'x', 'e', '\r', '\n'}),
       std::nullopt, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRaw(c.bytes);
    std::vector<std::wstring> entries;
    ListFileReading reading;
    const ListFileStatus status = ReadProcessListFile(path_, entries, &reading);
    if (!c.expected) {
      EXPECT_EQ(status, ListFileStatus::Undecodable);
      EXPECT_THAT(entries, IsEmpty());
      EXPECT_EQ(reading.undecodableLine, c.line);
      continue;
    }
    EXPECT_EQ(status, ListFileStatus::Read);
    EXPECT_EQ(entries, *c.expected);
    ExpectWrittenBackUnaltered(entries);
  }
}

// An empty "rf<hex>.tmp" is what a ReplaceFileW that failed on a locked list
// leaves: it is no copy of a list, and never restored as one.
TEST_F(ProcessListFile, OnlyACopyKnownCompleteIsRestored) {
  std::ofstream(folder_ / "rf2fd1.tmp").close();
  const std::vector<std::byte> oldList = Utf16(L"old.exe\r\n");
  std::ofstream(folder_ / "rf2fd2.tmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(oldList.data()), static_cast<std::streamsize>(oldList.size()));
  std::vector<std::wstring> entries;
  ListFileReading reading;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Missing);
  EXPECT_FALSE(reading.restored);
  EXPECT_FALSE(std::filesystem::exists(path_));
}

// The replace failed after the old list was gone, and the new content could
// not take its place either: it is kept whole, the save says where, and the
// next read puts it in place.
HANDLE HeldReplacement = INVALID_HANDLE_VALUE;
bool ReplaceLosingTheOldListWhileTheNewOneIsHeld(const wchar_t* list, const wchar_t* replacement) {
  ::DeleteFileW(list);
  HeldReplacement = ::CreateFileW(replacement, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ::SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return false;
}

TEST_F(ProcessListFile, ASaveThatLostTheOldListSaysWhereTheNewOneWaits) {
  ASSERT_EQ(SaveProcessList(path_, {L"old.exe"}), 1);
  ListFileSave save;
  EXPECT_EQ(SaveProcessList(path_, {L"new.exe"}, save, {nullptr, ReplaceLosingTheOldListWhileTheNewOneIsHeld}), -1);
  unique_hfile held(HeldReplacement);
  HeldReplacement = INVALID_HANDLE_VALUE;
  EXPECT_EQ(save.error, static_cast<DWORD>(ERROR_UNABLE_TO_MOVE_REPLACEMENT));
  ASSERT_FALSE(save.keptCopy.empty());
  EXPECT_FALSE(std::filesystem::exists(path_));
  held.reset();
  std::vector<std::wstring> entries;
  ListFileReading reading;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &reading), ListFileStatus::Read);
  EXPECT_TRUE(reading.restored);
  EXPECT_THAT(entries, ElementsAre(L"new.exe"));
}

std::vector<std::wstring> AddEntry(const std::vector<std::wstring>& entries, const std::wstring& entry) {
  std::vector<std::wstring> edited = entries;
  edited.push_back(entry);
  return edited;
}

TEST_F(ProcessListFile, AnEditIsAppliedToWhatTheFileHoldsNow) {
  ASSERT_EQ(SaveProcessList(path_, {L"alpha.exe"}), 1);
  // Another program appends a line after the window read the file.
  WriteRaw(ReadRaw() + EchoLine("gamma.exe"));
  int calls = 0;
  const ListFileUpdate update = UpdateProcessListFile(path_, [&](const std::vector<std::wstring>& entries) {
    ++calls;
    return std::optional(AddEntry(entries, L"beta.exe"));
  });
  EXPECT_TRUE(update.saved);
  EXPECT_EQ(calls, 1);
  EXPECT_THAT(update.entries, ElementsAre(L"alpha.exe", L"gamma.exe", L"beta.exe"));
  EXPECT_EQ(ReadRaw(), Utf16(L"alpha.exe\r\ngamma.exe\r\nbeta.exe\r\n"));
  std::vector<std::wstring> reread;
  ListFileReading reading;
  ASSERT_EQ(ReadProcessListFile(path_, reread, &reading), ListFileStatus::Read);
  EXPECT_EQ(update.save.written, reading.stamp) << "what the save wrote is what a read finds";
}

// Another program writes the list while the save writes its new content.
std::wstring ListWrittenMeanwhile;
int WritesMeanwhile = 0;
bool WriteWhileAnotherProgramAppends(HANDLE file, const void* data, DWORD size) {
  if (WritesMeanwhile-- > 0) {
    unique_hfile list(::CreateFileW(ListWrittenMeanwhile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    const std::vector<std::byte> line = EchoLine("late" + std::to_string(WritesMeanwhile) + ".exe");
    ::WriteFile(list.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  DWORD written = 0;
  return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

TEST_F(ProcessListFile, AChangeDuringTheSaveIsNeverReplacedUnseen) {
  ASSERT_EQ(SaveProcessList(path_, {L"alpha.exe"}), 1);
  ListWrittenMeanwhile = path_;
  WritesMeanwhile = 2;
  int calls = 0;
  const ListFileUpdate update = UpdateProcessListFile(path_,
                                                      [&](const std::vector<std::wstring>& entries) {
                                                        ++calls;
                                                        return std::optional(AddEntry(entries, L"beta.exe"));
                                                      },
                                                      {WriteWhileAnotherProgramAppends});
  EXPECT_TRUE(update.saved);
  EXPECT_EQ(calls, 3) << "the edit is applied again to each new content";
  EXPECT_THAT(update.entries, ElementsAre(L"alpha.exe", L"late1.exe", L"late0.exe", L"beta.exe"));
  std::vector<std::wstring> entries;
  EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read);
  EXPECT_EQ(entries, update.entries);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
}

TEST_F(ProcessListFile, AFileRefusedNowIsNeitherEditedNorTouched) {
  std::vector<std::byte> huge = Utf16(L"a.exe\r\n");
  huge.resize(kMaxListFileBytes + 2, std::byte{'x'});
  const std::vector<std::vector<std::byte>> refused = {
      huge,
      Utf16(L"a.exe\r\n") + EchoLine("b.exe") + Utf16(L"c.exe\r\n"),  // undecodable
  };
  for (const std::vector<std::byte>& bytes : refused) {
    WriteRaw(bytes);
    bool called = false;
    const ListFileUpdate update = UpdateProcessListFile(path_, [&](const std::vector<std::wstring>& entries) {
      called = true;
      return std::optional(entries);
    });
    EXPECT_FALSE(update.saved);
    EXPECT_FALSE(called);
    EXPECT_TRUE(update.status == ListFileStatus::TooLarge || update.status == ListFileStatus::Undecodable);
    EXPECT_TRUE(ReadRaw() == bytes) << "the file was touched";
  }
  WriteRaw(Utf16(L"a.exe\r\n"));
  unique_hfile locked(::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locked);
  const ListFileUpdate update = UpdateProcessListFile(
      path_, [](const std::vector<std::wstring>& entries) { return std::optional(AddEntry(entries, L"b.exe")); });
  EXPECT_EQ(update.status, ListFileStatus::Unreadable);
  EXPECT_FALSE(update.saved);
  locked.reset();
  EXPECT_EQ(ReadRaw(), Utf16(L"a.exe\r\n"));
}

}  // namespace
}  // namespace tarnwick
