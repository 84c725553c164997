#include "config/process_list.h"

#include "platform/unique_handle.h"
#include "platform/utf8_text.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <limits>

namespace tarnwick {
namespace {

constexpr std::byte kUtf8ByteOrderMark[] = {std::byte{0xEF}, std::byte{0xBB}, std::byte{0xBF}};

bool StartsWithUtf8ByteOrderMark(std::span<const std::byte> bytes) {
  return bytes.size() >= std::size(kUtf8ByteOrderMark) &&
         std::equal(std::begin(kUtf8ByteOrderMark), std::end(kUtf8ByteOrderMark), bytes.begin());
}

bool HasZeroByte(std::span<const std::byte> bytes) {
  return std::find(bytes.begin(), bytes.end(), std::byte{0}) != bytes.end();
}

bool IsValidUtf8(std::span<const std::byte> bytes) {
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes.data()),
                               static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// Every file the program writes holds zero bytes (its CR LF in UTF-16 has two)
// and UTF-8 text never does, so only a file without any can be UTF-8: one with
// a UTF-8 byte-order mark, or one that is valid UTF-8 throughout.
bool IsUtf8Text(std::span<const std::byte> bytes) {
  if (bytes.empty() || HasZeroByte(bytes)) return false;
  return StartsWithUtf8ByteOrderMark(bytes) || IsValidUtf8(bytes);
}

void DecodeUtf8Lines(std::span<const std::byte> bytes, std::vector<std::wstring>& entries) {
  const std::wstring text =
      Utf8ToWide(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  std::wstring line;
  for (const wchar_t unit : text) {
    if (unit == L'\n') {
      entries.push_back(std::move(line));
      line.clear();
    } else if (unit != L'\r') {
      line.push_back(unit);
    }
  }
  // Editors do not end the last line; dropping it would lose the entry at the next save.
  if (!line.empty()) entries.push_back(std::move(line));
}

void DecodeUtf16Lines(std::span<const std::byte> bytes, std::vector<std::wstring>& entries) {
  const size_t unit_count = (bytes.size() + 1) / 2;
  std::wstring line;
  for (size_t i = 0; i < unit_count; ++i) {
    const auto low = static_cast<unsigned>(bytes[2 * i]);
    const auto high = 2 * i + 1 < bytes.size() ? static_cast<unsigned>(bytes[2 * i + 1]) : 0u;
    const auto unit = static_cast<wchar_t>(low | (high << 8));
    if (unit == L'\n') {
      entries.push_back(std::move(line));
      line.clear();
    } else if (unit != L'\r') {
      line.push_back(unit);
    }
  }
}

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

}  // namespace

void DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries) {
  if (IsUtf8Text(bytes)) {
    const size_t mark = StartsWithUtf8ByteOrderMark(bytes) ? std::size(kUtf8ByteOrderMark) : 0;
    DecodeUtf8Lines(bytes.subspan(mark), entries);
  } else {
    DecodeUtf16Lines(bytes, entries);
  }
}

std::wstring EncodeProcessList(const std::vector<std::wstring>& entries) {
  std::wstring content;
  for (const std::wstring& entry : entries) {
    content += entry;
    content += L"\r\n";
  }
  return content;
}

ListFileStatus ReadProcessListFile(const std::wstring& path, std::vector<std::wstring>& entries, DWORD* error) {
  auto unreadable = [error](DWORD reason) {
    if (error != nullptr) *error = reason;
    return ListFileStatus::Unreadable;
  };
  unique_hfile file(::CreateFileW(ExtendedLengthPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD reason = ::GetLastError();
    if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return ListFileStatus::Missing;
    return unreadable(reason);
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
  DecodeProcessList(std::span(bytes).first(read), entries);
  return ListFileStatus::Read;
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

// The folder part of path, with its final backslash; empty for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// "<list file>.<process id>-<count>.tmp" beside the list: the program builds
// the name itself, so no length limit applies but the list path's own.
constexpr const wchar_t* kTemporarySuffix = L".tmp";

bool IsHexDigits(std::wstring_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return std::iswxdigit(c) != 0; });
}

// Names of temporary files that only an interrupted save leaves behind: this
// program's own, "tw<hex>.tmp" of the versions that asked GetTempFileNameW,
// and "rf<hex>.tmp" that a failed ReplaceFileW can leave (seen under Wine).
bool IsLeftoverTemporaryName(std::wstring_view name, std::wstring_view list_name) {
  if (name.size() <= 4 || _wcsicmp(std::wstring(name.substr(name.size() - 4)).c_str(), kTemporarySuffix) != 0) {
    return false;
  }
  const std::wstring_view stem = name.substr(0, name.size() - 4);
  if (stem.size() > 2 && stem.size() <= 6 && IsHexDigits(stem.substr(2)) &&
      (_wcsnicmp(stem.data(), L"tw", 2) == 0 || _wcsnicmp(stem.data(), L"rf", 2) == 0)) {
    return true;
  }
  if (stem.size() <= list_name.size() + 1 || stem[list_name.size()] != L'.' ||
      _wcsnicmp(stem.data(), list_name.data(), list_name.size()) != 0) {
    return false;
  }
  const std::wstring_view tail = stem.substr(list_name.size() + 1);
  const size_t dash = tail.find(L'-');
  return dash != std::wstring_view::npos && IsHexDigits(tail.substr(0, dash)) && IsHexDigits(tail.substr(dash + 1));
}

// A file still open in a save under way cannot be deleted and stays.
void RemoveLeftoverTemporaryFiles(const std::wstring& folder, std::wstring_view list_name) {
  WIN32_FIND_DATAW found{};
  unique_find find(::FindFirstFileW((folder + L"*.tmp").c_str(), &found));
  if (!find) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsLeftoverTemporaryName(found.cFileName, list_name)) {
      ::DeleteFileW((folder + found.cFileName).c_str());
    }
  } while (::FindNextFileW(find.get(), &found));
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

// Deletes the temporary file unless it was moved into place.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates a new, empty file beside `list_path` and opens it for writing.
  unique_hfile Create(const std::wstring& list_path) {
    static std::atomic<uint32_t> counter{0};
    constexpr int kNameTries = 16;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
      std::wstring candidate =
          list_path + L"." + Hex(::GetCurrentProcessId()) + L"-" + Hex(++counter) + kTemporarySuffix;
      // Shared with nobody: a cleanup in another instance cannot delete it while it is written.
      unique_hfile file(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file) {
        path_ = std::move(candidate);
        return file;
      }
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
  }
  [[nodiscard]] const std::wstring& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::wstring path_;
};

// Puts the temporary file in the list's place: ReplaceFileW keeps an existing
// list's attributes, permissions and links; a new list is a rename.
bool MoveIntoPlace(const std::wstring& temporary, const std::wstring& path, bool list_exists) {
  if (list_exists) {
    if (::ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
      return true;
    }
    // The list went away meanwhile: the rename below puts the new one there.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  }
  return ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries) {
  DWORD error = ERROR_SUCCESS;
  return SaveProcessList(path, std::move(entries), error);
}

int32_t SaveProcessList(const std::wstring& list_path, std::vector<std::wstring> entries, DWORD& error,
                        ListFileWriter write) {
  const std::wstring path = ExtendedLengthPath(list_path);
  if (write == nullptr) write = WriteWholeFile;
  error = ERROR_SUCCESS;
  // Every failure below records the system's reason before any clean-up can change it.
  auto fail = [&error](DWORD reason) {
    error = reason != ERROR_SUCCESS ? reason : ERROR_GEN_FAILURE;
    return -1;
  };
  const std::wstring content = EncodeProcessList(entries);
  const size_t byte_count = content.size() * sizeof(wchar_t);
  if (byte_count > std::numeric_limits<DWORD>::max()) return fail(ERROR_FILE_TOO_LARGE);

  const std::wstring folder = FolderOf(path);
  RemoveLeftoverTemporaryFiles(folder, std::wstring_view(path).substr(folder.size()));
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
  // ReplaceFileW carries the list's attributes over on Windows; set them
  // beforehand so that no file system or emulation can drop them.
  constexpr DWORD kKeptAttributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (list_exists && (attributes & kKeptAttributes) != 0) {
    ::SetFileAttributesW(temporary.path().c_str(), attributes & kKeptAttributes);
  }
  if (!MoveIntoPlace(temporary.path(), path, list_exists)) return fail(::GetLastError());
  temporary.Keep();
  return static_cast<int32_t>(entries.size());
}

}  // namespace tarnwick
