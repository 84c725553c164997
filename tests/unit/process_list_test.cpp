#include "config/process_list.h"

#include "platform/unique_handle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
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
      {"8-bit text pairs up into other units", Bytes({'a', 'b', '\n', 'c', '\n', 'd'}), {}},
      {"8-bit text of odd length: the zero fill makes the last LF a line end",
       Bytes({'a', 'b', '\n', 'c', '\n'}), {L"\x6261\x630A"}},
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
  return false;
}

TEST_F(ProcessListFile, FailedWriteKeepsTheOldListWhole) {
  ASSERT_EQ(SaveProcessList(path_, {L"first.exe", L"second.exe"}), 2);
  const auto before = ReadRaw();
  EXPECT_EQ(SaveProcessList(path_, {L"replacement.exe", L"other.exe", L"third.exe"}, WriteHalfThenFail), -1);
  EXPECT_EQ(ReadRaw(), before);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt")) << "no temporary file is left behind";
}

TEST_F(ProcessListFile, SaveThatCannotReplaceReportsFailure) {
  // A folder where the file belongs: the replace step fails.
  std::filesystem::create_directory(path_);
  EXPECT_EQ(SaveProcessList(path_, {L"a.exe"}), -1);
  EXPECT_THAT(FolderContents(), ElementsAre(L"p-core-list.txt"));
  EXPECT_TRUE(std::filesystem::is_directory(path_));
  // A folder that does not exist.
  EXPECT_EQ(SaveProcessList((folder_ / "missing" / "list.txt").wstring(), {L"a.exe"}), -1);
}

}  // namespace
}  // namespace tarnwick
