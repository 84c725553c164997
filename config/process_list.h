// The user's process list file: UTF-16 little endian without a byte-order
// mark, one pattern per line, each line ended by CR LF. A file in UTF-8 (as
// Notepad saves by default) is read too; a save always writes UTF-16.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

// A larger file is no list a user keeps: it is neither read nor overwritten.
inline constexpr uint64_t kMaxListFileBytes = 16ull * 1024 * 1024;

// ERROR_DIRECTORY_NOT_SUPPORTED, which MinGW's headers lack: a folder stands
// where the list belongs.
inline constexpr DWORD kErrorDirectoryNotSupported = 336;

enum class ListFileStatus {
  Read,        // the file was read (it may hold no entries)
  Missing,     // no file (or no folder): no entries, and a save creates it
  Unreadable,  // a file that cannot be opened, sized or read (locked, denied):
               // no entries, and a save must not replace what it holds
  TooLarge,    // over kMaxListFileBytes: not read, and a save must not replace it
};

// Appends the entries of the file at path to entries and returns what was
// found. Nothing is appended unless the status is Read. `error`, when given,
// receives the system's reason for Unreadable.
ListFileStatus ReadProcessListFile(const std::wstring& path, std::vector<std::wstring>& entries,
                                   DWORD* error = nullptr);

// Appends the entries of the file at path to entries and returns how many
// entries holds afterwards. A file that cannot be opened, sized or read, or
// one too large to be a list, adds nothing.
int64_t LoadProcessList(const std::wstring& path, std::vector<std::wstring>& entries);

// The write step of a save, replaceable so that a test can make it fail:
// writes size bytes to file, true on success (the system's error is then
// GetLastError's).
using ListFileWriter = bool (*)(HANDLE file, const void* data, DWORD size);

// Replaces the file's content with entries and returns their number, or -1
// with the system's error code in `error` (ERROR_SUCCESS after a save).
// The new content goes to a temporary file in the same folder that then
// replaces the list in one step (keeping the list's identity, attributes and
// permissions), so a failed save leaves the old list whole. Temporary files
// left in the folder by an interrupted save are removed. A read-only list is
// not replaced: the save fails with ERROR_FILE_READ_ONLY.
int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries, DWORD& error,
                        ListFileWriter write = nullptr);
int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries);

// The file's bytes as entries. UTF-8 text (no zero byte at all, and a UTF-8
// byte-order mark or valid UTF-8 throughout) is decoded as such, and a last line
// without a line end is an entry too, as editors save it. Anything else is
// 16-bit little endian units (an odd last byte gets a zero high byte), where
// text after the last LF is not an entry. In both, LF ends an entry and every
// CR is dropped. Appends to entries.
void DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries);

// The file content for entries: each followed by CR LF.
[[nodiscard]] std::wstring EncodeProcessList(const std::vector<std::wstring>& entries);

}  // namespace tarnwick
