#include "config/process_list.h"

#include "platform/unique_handle.h"

namespace tarnwick {

void DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries) {
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

std::wstring EncodeProcessList(const std::vector<std::wstring>& entries) {
  std::wstring content;
  for (const std::wstring& entry : entries) {
    content += entry;
    content += L"\r\n";
  }
  return content;
}

int64_t LoadProcessList(const std::wstring& path, std::vector<std::wstring>& entries) {
  unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return static_cast<int64_t>(entries.size());
  DWORD high = 0;
  const DWORD size = ::GetFileSize(file.get(), &high);
  if (size == INVALID_FILE_SIZE || size == 0) return static_cast<int64_t>(entries.size());
  std::vector<std::byte> bytes(size);
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), size, &read, nullptr)) return static_cast<int64_t>(entries.size());
  // A file that shrank while it was read yields only what was read.
  DecodeProcessList(std::span(bytes).first(read), entries);
  return static_cast<int64_t>(entries.size());
}

namespace {

bool WriteWholeFile(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return ::WriteFile(file, data, size, &written, nullptr) && written == size;
}

// The folder part of path, with its final backslash, or "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash + 1);
}

// Deletes the temporary file unless it was moved into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::DeleteFileW(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  [[nodiscard]] const std::wstring& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::wstring path_;
};

}  // namespace

int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries) {
  return SaveProcessList(path, std::move(entries), WriteWholeFile);
}

int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries, ListFileWriter write) {
  const std::wstring content = EncodeProcessList(entries);
  const size_t byte_count = content.size() * sizeof(wchar_t);
  if (byte_count > MAXDWORD) return -1;

  // GetTempFileNameW creates the file, so two saves never share one name.
  wchar_t temporary_name[MAX_PATH + 1] = {};
  if (::GetTempFileNameW(FolderOf(path).c_str(), L"tw", 0, temporary_name) == 0) return -1;
  TemporaryFile temporary(temporary_name);
  {
    unique_hfile file(::CreateFileW(temporary.path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return -1;
    if (byte_count > 0 && !write(file.get(), content.data(), static_cast<DWORD>(byte_count))) return -1;
    // The content must be on disk before the new name points at it.
    if (!::FlushFileBuffers(file.get())) return -1;
  }
  if (!::MoveFileExW(temporary.path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return -1;
  }
  temporary.Keep();
  return static_cast<int32_t>(entries.size());
}

}  // namespace tarnwick
