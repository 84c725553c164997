#include "config/process_list.h"

#include "platform/unique_handle.h"
#include "platform/utf8_text.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <limits>
#include <optional>
#include <string_view>

namespace tarnwick {
namespace {

constexpr std::byte kUtf8ByteOrderMark[] = {std::byte{0xEF}, std::byte{0xBB}, std::byte{0xBF}};
constexpr std::byte kUtf16LeByteOrderMark[] = {std::byte{0xFF}, std::byte{0xFE}};
constexpr std::byte kUtf16BeByteOrderMark[] = {std::byte{0xFE}, std::byte{0xFF}};
constexpr wchar_t kByteOrderMark = 0xFEFF;

template <size_t N>
bool StartsWith(std::span<const std::byte> bytes, const std::byte (&mark)[N]) {
  return bytes.size() >= N && std::equal(std::begin(mark), std::end(mark), bytes.begin());
}

size_t MarkLength(std::span<const std::byte> bytes) {
  if (StartsWith(bytes, kUtf8ByteOrderMark)) return std::size(kUtf8ByteOrderMark);
  if (StartsWith(bytes, kUtf16LeByteOrderMark) || StartsWith(bytes, kUtf16BeByteOrderMark)) return 2;
  return 0;
}

std::string_view AsChars(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Zero bytes at the end of 8-bit text are padding (of a tool that writes
// whole blocks), not part of the last line.
std::span<const std::byte> WithoutZeroPadding(std::span<const std::byte> bytes) {
  size_t size = bytes.size();
  while (size > 0 && bytes[size - 1] == std::byte{0}) --size;
  return bytes.first(size);
}

bool IsValidUtf8(std::span<const std::byte> bytes) {
  if (bytes.empty()) return true;
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, AsChars(bytes).data(), static_cast<int>(bytes.size()),
                               nullptr, 0) > 0;
}

// The system's ANSI code page, refusing byte sequences it does not define
// (a double-byte code page's broken pairs); nullopt then.
std::optional<std::wstring> AnsiToWide(std::span<const std::byte> bytes) {
  if (bytes.empty()) return std::wstring();
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  const int length = static_cast<int>(bytes.size());
  const int wide_length =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, AsChars(bytes).data(), length, nullptr, 0);
  if (wide_length <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, AsChars(bytes).data(), length, wide.data(),
                            wide_length) != wide_length) {
    return std::nullopt;
  }
  return wide;
}

std::wstring Utf16Units(std::span<const std::byte> bytes, bool big_endian) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto first = static_cast<unsigned>(bytes[2 * i]);
    const auto second = static_cast<unsigned>(bytes[2 * i + 1]);
    text[i] = static_cast<wchar_t>(big_endian ? (first << 8) | second : first | (second << 8));
  }
  return text;
}

// CR LF, LF and CR alone each end a line; text after the last line end is the
// last line, as editors save it.
void SplitLines(std::wstring_view text, std::vector<std::wstring>& entries) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\n' && text[i] != L'\r') continue;
    entries.emplace_back(text.substr(start, i - start));
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) entries.emplace_back(text.substr(start));
}

// A stray zero or two in 8-bit text, or at most one in 64 bytes; never a
// quarter of the bytes, as in UTF-16 of Latin text.
bool FewEnoughZerosFor8BitText(size_t zeros, size_t size) {
  return zeros * 4 < size && (zeros <= 2 || zeros * 64 <= size);
}

// Control bytes that no 8-bit text holds (zero aside, and tab, line ends,
// form feed and the end-of-file mark of old tools allowed); the bytes of
// UTF-16 text of other scripts often do.
bool HasControlBytes(std::span<const std::byte> bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](std::byte b) {
    const auto value = static_cast<unsigned>(b);
    return value != 0 && value < 0x20 && value != '\t' && value != '\n' && value != '\r' && value != 0x0C &&
           value != 0x1A;
  });
}

ListEncoding Detect8BitEncoding(std::span<const std::byte> bytes) {
  const std::span<const std::byte> text = WithoutZeroPadding(bytes);
  if (IsValidUtf8(text)) return ListEncoding::Utf8;
  return AnsiToWide(text) ? ListEncoding::Ansi : ListEncoding::Undecodable;
}

// Every zero byte is the high byte of a CR or LF unit. For whole units only.
bool AllZerosEndUtf16Lines(std::span<const std::byte> bytes, bool little_endian) {
  const size_t high = little_endian ? 1 : 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != std::byte{0}) continue;
    if (i % 2 != high) return false;
    const std::byte low = bytes[little_endian ? i - 1 : i + 1];
    if (low != std::byte{'\r'} && low != std::byte{'\n'}) return false;
  }
  return true;
}

}  // namespace

ListEncoding DetectListEncoding(std::span<const std::byte> bytes) {
  if (StartsWith(bytes, kUtf16LeByteOrderMark) || StartsWith(bytes, kUtf16BeByteOrderMark)) {
    // A unit cut in half is no text to trust.
    if (bytes.size() % 2 != 0) return ListEncoding::Undecodable;
    return StartsWith(bytes, kUtf16LeByteOrderMark) ? ListEncoding::Utf16Le : ListEncoding::Utf16Be;
  }
  if (StartsWith(bytes, kUtf8ByteOrderMark)) {
    return IsValidUtf8(WithoutZeroPadding(bytes)) ? ListEncoding::Utf8 : ListEncoding::Undecodable;
  }
  size_t zeros_at_even = 0;
  size_t zeros_at_odd = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == std::byte{0}) ++(i % 2 == 0 ? zeros_at_even : zeros_at_odd);
  }
  const size_t zeros = zeros_at_even + zeros_at_odd;
  const bool plain_bytes = !HasControlBytes(bytes);
  if (zeros == 0) return plain_bytes ? Detect8BitEncoding(bytes) : ListEncoding::Undecodable;
  const bool eight_bit = plain_bytes && FewEnoughZerosFor8BitText(zeros, bytes.size());
  // UTF-16's zeros are the high bytes of its Latin characters and line ends:
  // nearly all on one side of each unit. One alone decides only where the
  // bytes are no 8-bit text.
  const size_t fewest = eight_bit ? 2 : 1;
  const bool whole_units = bytes.size() % 2 == 0;
  const bool little_endian = whole_units && zeros_at_odd >= fewest && zeros_at_even * 4 <= zeros_at_odd;
  const bool big_endian = whole_units && zeros_at_even >= fewest && zeros_at_odd * 4 <= zeros_at_even;
  const bool utf16 = little_endian || big_endian;
  const ListEncoding utf16_encoding = little_endian ? ListEncoding::Utf16Le : ListEncoding::Utf16Be;
  if (utf16 && !eight_bit) return utf16_encoding;
  if (!utf16 && eight_bit) return Detect8BitEncoding(bytes);
  if (!utf16) return ListEncoding::Undecodable;
  // Both fit (a short file, or long lines of text outside Latin): a quarter of
  // zeros is UTF-16's Latin text, and zeros that are all the high bytes of CR
  // and LF units are UTF-16's line ends; else valid UTF-8 decides (UTF-16 of
  // other scripts seldom is).
  if (zeros * 4 >= bytes.size() || AllZerosEndUtf16Lines(bytes, little_endian)) return utf16_encoding;
  const ListEncoding eight_bit_encoding = Detect8BitEncoding(bytes);
  return eight_bit_encoding == ListEncoding::Utf8 ? ListEncoding::Utf8 : utf16_encoding;
}

bool DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries) {
  const ListEncoding encoding = DetectListEncoding(bytes);
  const std::span<const std::byte> body = bytes.subspan(MarkLength(bytes));
  std::wstring text;
  switch (encoding) {
    case ListEncoding::Undecodable: return false;
    case ListEncoding::Utf16Le: text = Utf16Units(body, false); break;
    case ListEncoding::Utf16Be: text = Utf16Units(body, true); break;
    case ListEncoding::Utf8: text = Utf8ToWide(AsChars(WithoutZeroPadding(body))); break;
    case ListEncoding::Ansi: {
      std::optional<std::wstring> ansi = AnsiToWide(WithoutZeroPadding(body));
      if (!ansi) return false;
      text = std::move(*ansi);
      break;
    }
  }
  SplitLines(text, entries);
  return true;
}

std::wstring EncodeProcessList(const std::vector<std::wstring>& entries) {
  std::wstring content;
  for (const std::wstring& entry : entries) {
    content += entry;
    content += L"\r\n";
  }
  // The mark is written only where the units alone would read otherwise (a
  // first entry that starts like a mark, long lines of other scripts), so that
  // every list written reads back the same.
  const auto bytes = std::as_bytes(std::span(content));
  static_assert(sizeof(wchar_t) == 2, "the file holds 16-bit units");
  if (!content.empty() && (MarkLength(bytes) != 0 || DetectListEncoding(bytes) != ListEncoding::Utf16Le)) {
    content.insert(content.begin(), kByteOrderMark);
  }
  return content;
}

namespace {

// Room for the temporary file's suffix beside the list's own name.
constexpr size_t kPathReserve = 32;

// A drive path too long for the classic limit, in the "\\?\" form that the
// file functions take at any length (that form takes no "/" and no "..").
std::wstring ExtendedLengthPath(const std::wstring& path) {
  const bool drive_absolute = path.size() > 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  if (path.size() + kPathReserve < MAX_PATH || !drive_absolute) return path;
  std::wstring extended = L"\\\\?\\" + path;
  std::replace(extended.begin(), extended.end(), L'/', L'\\');
  return extended;
}

// The folder part of path, with its final backslash; empty for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// "<list file>.<process id>-<count>.tmp" beside the list while it is written,
// ".new" once it is complete on disk: the program builds the names itself, so
// no length limit applies but the list path's own.
constexpr std::wstring_view kWritingSuffix = L".tmp";
constexpr std::wstring_view kCompleteSuffix = L".new";

bool IsHexDigits(std::wstring_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswxdigit(c) != 0; });
}

bool EndsWithNoCase(std::wstring_view name, std::wstring_view suffix) {
  return name.size() > suffix.size() &&
         _wcsnicmp(name.data() + name.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

enum class Leftover {
  None,
  Incomplete,  // a save's content still being written, or of unknown state
  Complete,    // whole content of a list: a finished write, or an old list moved aside
};

// What the files that interrupted saves leave behind are: this program's own
// (".tmp" while written, ".new" once complete), "tw<hex>.tmp" of the versions
// that asked GetTempFileNameW, and "rf<hex>.tmp", the old list that a
// ReplaceFileW moved aside (seen under Wine).
Leftover ClassifyLeftover(std::wstring_view name, std::wstring_view list_name) {
  const bool complete = EndsWithNoCase(name, kCompleteSuffix);
  if (!complete && !EndsWithNoCase(name, kWritingSuffix)) return Leftover::None;
  static_assert(kWritingSuffix.size() == kCompleteSuffix.size());
  const std::wstring_view stem = name.substr(0, name.size() - kCompleteSuffix.size());
  if (!complete && stem.size() > 2 && stem.size() <= 6 && IsHexDigits(stem.substr(2))) {
    if (_wcsnicmp(stem.data(), L"rf", 2) == 0) return Leftover::Complete;
    if (_wcsnicmp(stem.data(), L"tw", 2) == 0) return Leftover::Incomplete;
  }
  if (stem.size() <= list_name.size() + 1 || stem[list_name.size()] != L'.' ||
      _wcsnicmp(stem.data(), list_name.data(), list_name.size()) != 0) {
    return Leftover::None;
  }
  const std::wstring_view tail = stem.substr(list_name.size() + 1);
  const size_t dash = tail.find(L'-');
  if (dash == std::wstring_view::npos || !IsHexDigits(tail.substr(0, dash)) || !IsHexDigits(tail.substr(dash + 1))) {
    return Leftover::None;
  }
  return complete ? Leftover::Complete : Leftover::Incomplete;
}

struct LeftoverFile {
  std::wstring name;
  Leftover kind;
  FILETIME written;
};

std::vector<LeftoverFile> FindLeftovers(const std::wstring& folder, std::wstring_view list_name) {
  std::vector<LeftoverFile> found_files;
  WIN32_FIND_DATAW found{};
  unique_find find(::FindFirstFileW((folder + L"*").c_str(), &found));
  if (!find) return found_files;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const Leftover kind = ClassifyLeftover(found.cFileName, list_name);
    if (kind != Leftover::None) found_files.push_back({found.cFileName, kind, found.ftLastWriteTime});
  } while (::FindNextFileW(find.get(), &found));
  return found_files;
}

bool ListExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Only while the list exists: a leftover may otherwise be the only copy. A
// file still open in a save under way cannot be deleted and stays.
void RemoveLeftovers(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  for (const LeftoverFile& leftover : FindLeftovers(folder, std::wstring_view(path).substr(folder.size()))) {
    if (!ListExists(path)) return;
    ::DeleteFileW((folder + leftover.name).c_str());
  }
}

// The list is missing: the newest complete leftover becomes the list. True
// when one did.
bool RestoreFromLeftover(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  std::vector<LeftoverFile> leftovers = FindLeftovers(folder, std::wstring_view(path).substr(folder.size()));
  std::erase_if(leftovers, [](const LeftoverFile& leftover) { return leftover.kind != Leftover::Complete; });
  std::sort(leftovers.begin(), leftovers.end(), [](const LeftoverFile& a, const LeftoverFile& b) {
    return ::CompareFileTime(&a.written, &b.written) > 0;
  });
  for (const LeftoverFile& leftover : leftovers) {
    // Never over a list that appeared meanwhile.
    if (::MoveFileExW((folder + leftover.name).c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (ListExists(path)) return false;
  }
  return false;
}

}  // namespace

ListFileStatus ReadProcessListFile(const std::wstring& list_path, std::vector<std::wstring>& entries,
                                   ListFileReading* reading, LimitedTokenSource limited_token) {
  ListFileReading ignored;
  if (reading == nullptr) reading = &ignored;
  *reading = {};
  auto unreadable = [reading](DWORD reason) {
    reading->error = reason;
    return ListFileStatus::Unreadable;
  };
  // A planted link must not show the user a file only administrators may
  // read, nor let a restore rename into such a folder.
  const LimitedRightsScope limited(limited_token);
  if (!limited.ok()) return unreadable(limited.error());
  const std::wstring path = ExtendedLengthPath(list_path);
  // Another program that holds the list open (an editor, a sync tool) does not make it unreadable.
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  unique_hfile file(
      ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD reason = ::GetLastError();
    if (reason != ERROR_FILE_NOT_FOUND && reason != ERROR_PATH_NOT_FOUND) return unreadable(reason);
    if (reason == ERROR_PATH_NOT_FOUND || !RestoreFromLeftover(path)) return ListFileStatus::Missing;
    reading->restored = true;
    file.reset(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    if (!file) return unreadable(::GetLastError());
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return unreadable(::GetLastError());
  if (static_cast<uint64_t>(size.QuadPart) > kMaxListFileBytes) return ListFileStatus::TooLarge;
  if (size.QuadPart == 0) return ListFileStatus::Read;
  std::vector<std::byte> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return unreadable(::GetLastError());
  }
  // A file that shrank while it was read yields only what was read.
  return DecodeProcessList(std::span(bytes).first(read), entries) ? ListFileStatus::Read
                                                                  : ListFileStatus::Undecodable;
}

int64_t LoadProcessList(const std::wstring& path, std::vector<std::wstring>& entries) {
  ReadProcessListFile(path, entries);
  return static_cast<int64_t>(entries.size());
}

namespace {

bool WriteWholeFile(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  if (!::WriteFile(file, data, size, &written, nullptr)) return false;
  if (written == size) return true;
  ::SetLastError(ERROR_WRITE_FAULT);
  return false;
}

bool ReplaceWithSystem(const wchar_t* list, const wchar_t* replacement) {
  return ::ReplaceFileW(list, replacement, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
}

wchar_t HexDigit(unsigned value) { return L"0123456789abcdef"[value & 0xF]; }

std::wstring Hex(uint32_t value) {
  std::wstring text;
  do {
    text.insert(text.begin(), HexDigit(value));
    value >>= 4;
  } while (value != 0);
  return text;
}

// The new content's file beside the list. Deleted when the save fails before
// it is complete; once complete, kept whenever the list may be gone.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a new, empty "<list>.<id>.tmp" and opens it for writing.
  unique_hfile Create(const std::wstring& list_path) {
    static std::atomic<uint32_t> counter{0};
    constexpr int kNameTries = 16;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
      std::wstring stem = list_path + L"." + Hex(::GetCurrentProcessId()) + L"-" + Hex(++counter);
      std::wstring candidate = stem + std::wstring(kWritingSuffix);
      // Shared with nobody: a cleanup in another instance cannot delete it while it is written.
      unique_hfile file(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file) {
        stem_ = std::move(stem);
        path_ = std::move(candidate);
        return file;
      }
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
  }
  // Renames the written and closed file "<list>.<id>.new": complete content.
  bool MarkComplete() {
    std::wstring complete = stem_ + std::wstring(kCompleteSuffix);
    if (!::MoveFileExW(path_.c_str(), complete.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
    path_ = std::move(complete);
    return true;
  }
  [[nodiscard]] const std::wstring& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::wstring stem_;
  std::wstring path_;
};

// Puts the complete new content in the list's place: a replace keeps an
// existing list's attributes, permissions and links; a new list is a rename.
// A replace can fail after the old list is gone (ERROR_UNABLE_TO_MOVE_REPLACEMENT):
// the new content then goes into the empty place.
bool MoveIntoPlace(TemporaryFile& complete, const std::wstring& path, bool list_exists, ListFileReplacer replace,
                   DWORD& error) {
  if (list_exists) {
    if (replace(path.c_str(), complete.path().c_str())) {
      complete.Keep();
      return true;
    }
    error = ::GetLastError();
    if (ListExists(path)) return false;
  }
  if (::MoveFileExW(complete.path().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    complete.Keep();
    return true;
  }
  if (!list_exists) error = ::GetLastError();
  // The list is gone and the new content is its only copy: it stays, and the
  // next read puts it in place.
  if (!ListExists(path)) complete.Keep();
  return false;
}

}  // namespace

int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries) {
  DWORD error = ERROR_SUCCESS;
  return SaveProcessList(path, std::move(entries), error);
}

int32_t SaveProcessList(const std::wstring& list_path, std::vector<std::wstring> entries, DWORD& error,
                        const ListFileSaveSteps& steps) {
  const std::wstring path = ExtendedLengthPath(list_path);
  const ListFileWriter write = steps.write != nullptr ? steps.write : WriteWholeFile;
  const ListFileReplacer replace = steps.replace != nullptr ? steps.replace : ReplaceWithSystem;
  error = ERROR_SUCCESS;
  // Every failure below records the system's reason before any clean-up can change it.
  auto fail = [&error](DWORD reason) {
    error = reason != ERROR_SUCCESS ? reason : ERROR_GEN_FAILURE;
    return -1;
  };
  const std::wstring content = EncodeProcessList(entries);
  const size_t byte_count = content.size() * sizeof(wchar_t);
  if (byte_count > std::numeric_limits<DWORD>::max()) return fail(ERROR_FILE_TOO_LARGE);

  // Declared before the temporary file, whose clean-up runs inside it too.
  const LimitedRightsScope limited(steps.limited_token);
  if (!limited.ok()) return fail(limited.error());
  RemoveLeftovers(path);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool list_exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (list_exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(kErrorDirectoryNotSupported);
  // The user made the list read-only: it is kept, never silently cleared.
  if (list_exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return fail(ERROR_FILE_READ_ONLY);

  TemporaryFile temporary;
  {
    unique_hfile file = temporary.Create(path);
    if (!file) return fail(::GetLastError());
    if (byte_count > 0 && !write(file.get(), content.data(), static_cast<DWORD>(byte_count))) {
      return fail(::GetLastError());
    }
    // The content must be on disk before the list's name points at it.
    if (!::FlushFileBuffers(file.get())) return fail(::GetLastError());
  }
  if (!temporary.MarkComplete()) return fail(::GetLastError());
  // ReplaceFileW carries the list's attributes over on Windows; set them
  // beforehand so that no file system or emulation can drop them.
  constexpr DWORD kKeptAttributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (list_exists && (attributes & kKeptAttributes) != 0) {
    ::SetFileAttributesW(temporary.path().c_str(), attributes & kKeptAttributes);
  }
  DWORD place_error = ERROR_SUCCESS;
  if (!MoveIntoPlace(temporary, path, list_exists, replace, place_error)) return fail(place_error);
  return static_cast<int32_t>(entries.size());
}

}  // namespace tarnwick
