#include "config/process_list.h"

#include "platform/unique_handle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    folder_ = std::filesystem::temp_directory_path() /
              ("tarnwick-list-" + std::to_string(::GetCurrentProcessId()) + "-" +
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
  std::vector<std::wstring> FolderContents() const {
    std::vector<std::wstring> names;
    for (const auto& item : std::filesystem::directory_iterator(folder_)) names.push_back(item.path().filename().wstring());
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

TEST_F(ProcessListFile, LoadRules) {
  struct Case {
    const char* what;
    std::vector<std::byte> bytes;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {"LF alone ends a line", Utf16(L"a.exe\nb.exe\r\n"), {L"a.exe", L"b.exe"}},
      {"every CR is removed", Utf16(L"a\r.exe\r\r\n"), {L"a.exe"}},
      {"two line ends give an empty entry", Utf16(L"a.exe\r\n\r\nb.exe\r\n"), {L"a.exe", L"", L"b.exe"}},
      {"text after the last LF is dropped", Utf16(L"a.exe\r\nb.exe"), {L"a.exe"}},
      {"no LF at all", Utf16(L"a.exe"), {}},
      {"a byte-order mark stays in the first entry", Utf16(L"\xFEFF" L"a.exe\r\n"), {L"\xFEFF" L"a.exe"}},
      {"spaces and case are kept", Utf16(L" A.exe \r\na.EXE\r\n"), {L" A.exe ", L"a.EXE"}},
      {"an odd last byte LF ends an entry", Bytes({'a', 0, '\n'}), {L"a"}},
      {"UTF-8 without zero bytes, last line unended", Bytes({'a', 'b', '\n', 'c', '\r', '\n', 'd'}),
       {L"ab", L"c", L"d"}},
      {"UTF-8 with its byte-order mark", Bytes({0xEF, 0xBB, 0xBF, 'x', 0xC3, 0xA9, '\r', '\n'}), {L"x\x00E9"}},
      {"UTF-8 byte-order mark alone", Bytes({0xEF, 0xBB, 0xBF}), {}},
      {"UTF-8 four-byte character", Bytes({0xF0, 0x9F, 0x8E, 0xAE, '.', 'e', 'x', 'e', '\n'}),
       {L"\xD83C\xDFAE.exe"}},
      {"UTF-8 blank lines stay empty entries", Bytes({'a', '\n', '\n', 'b', '\n'}), {L"a", L"", L"b"}},
      {"invalid UTF-8 without zero bytes pairs up as UTF-16", Bytes({'c', 'a', 'f', 0xE9, '\n', 'x', '\n'}),
       {L"\x6163\xE966\x780A"}},
      {"one zero byte makes the file UTF-16", Bytes({'a', 'b', '\n', 0}), {L"\x6261"}},
      {"8-bit text of odd length, not UTF-8: the zero fill makes the last LF a line end",
       Bytes({'a', 0xE9, '\n', 'c', '\n'}), {L"\xE961\x630A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRaw(c.bytes);
    std::vector<std::wstring> entries;
    EXPECT_EQ(LoadProcessList(path_, entries), static_cast<int64_t>(c.expected.size()));
    EXPECT_EQ(entries, c.expected);
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
  EXPECT_EQ(SaveProcessList(path_, {L"replacement.exe", L"other.exe", L"third.exe"}, error, WriteHalfThenFail), -1);
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

TEST_F(ProcessListFile, TemporaryFilesLeftByAnInterruptedSaveAreRemovedAtTheNextSave) {
  const char* const leftovers[] = {"p-core-list.txt.1a2b-3.tmp", "tw7F.tmp", "TW1.TMP", "rf2fd1.tmp"};
  const char* const others[] = {"twitter.tmp", "p-core-list.txt.notes.tmp", "other.txt"};
  for (const char* name : leftovers) std::ofstream(folder_ / name);
  for (const char* name : others) std::ofstream(folder_ / name);
  EXPECT_EQ(SaveProcessList(path_, {L"a.exe"}), 1);
  EXPECT_THAT(FolderContents(), ::testing::UnorderedElementsAre(L"p-core-list.txt", L"twitter.tmp",
                                                                 L"p-core-list.txt.notes.tmp", L"other.txt"));
}

TEST_F(ProcessListFile, ListInAFolderTooLongForGetTempFileName) {
  // GetTempFileNameW takes at most MAX_PATH - 14 characters of folder.
  std::filesystem::path deep = folder_;
  while (deep.wstring().size() < MAX_PATH - 20) deep /= "abcdefghij";
  std::filesystem::create_directories(deep);
  const std::wstring path = (deep / "p-core-list.txt").wstring();
  EXPECT_EQ(SaveProcessList(path, {L"a.exe"}), 1);
  EXPECT_EQ(SaveProcessList(path, {L"b.exe"}), 1);
  std::vector<std::wstring> entries;
  EXPECT_EQ(LoadProcessList(path, entries), 1);
  EXPECT_THAT(entries, ElementsAre(L"b.exe"));
}

TEST_F(ProcessListFile, EveryListTheProgramWritesReadsBackTheSame) {
  const std::vector<std::vector<std::wstring>> lists = {
      {L"a.exe"},
      {L"\x4E2D\x6587.exe", L"\x0A0D"},          // units without a zero byte, one holding CR and LF bytes
      {L"", L"C:\\Tools\\*.exe", L" spaced "},  // empty entries are kept by the file format
      {L"\xFEFF" L"a.exe", L"\xBBEF\x41BF"},     // a UTF-16 mark, and units whose bytes spell a UTF-8 mark
  };
  for (const auto& list : lists) {
    ASSERT_EQ(SaveProcessList(path_, list), static_cast<int32_t>(list.size()));
    std::vector<std::wstring> entries;
    EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read);
    EXPECT_EQ(entries, list);
  }
}

TEST_F(ProcessListFile, AFileOver16MiBIsNotRead) {
  std::vector<std::byte> bytes = Utf16(L"a.exe\r\n");
  bytes.resize(kMaxListFileBytes, std::byte{'x'});
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
  DWORD error = ERROR_SUCCESS;
  EXPECT_EQ(ReadProcessListFile(path_, entries, &error), ListFileStatus::Missing);
  EXPECT_EQ(ReadProcessListFile((folder_ / "no folder" / "list.txt").wstring(), entries), ListFileStatus::Missing);

  WriteRaw(Utf16(L"a.exe\r\n"));
  {
    // Held open by another program that shares nothing.
    unique_hfile locked(::CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    EXPECT_EQ(ReadProcessListFile(path_, entries, &error), ListFileStatus::Unreadable);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(LoadProcessList(path_, entries), 0);
  }
  EXPECT_EQ(ReadProcessListFile(path_, entries), ListFileStatus::Read);
  EXPECT_THAT(entries, ElementsAre(L"a.exe"));

  entries.clear();
  std::filesystem::create_directory(folder_ / "folder.txt");
  EXPECT_EQ(ReadProcessListFile((folder_ / "folder.txt").wstring(), entries), ListFileStatus::Unreadable);
  EXPECT_THAT(entries, IsEmpty());
}

}  // namespace
}  // namespace tarnwick
