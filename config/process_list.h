// The user's process list file: UTF-16 little endian without a byte-order
// mark, one pattern per line, each line ended by CR LF.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarnwick {

// Appends the entries of the file at path to entries and returns how many
// entries holds afterwards. A file that cannot be opened or sized adds nothing.
int64_t LoadProcessList(const std::wstring& path, std::vector<std::wstring>& entries);

// Replaces the file's content with entries and returns their number, or -1.
// The new content goes to a temporary file in the same folder that then
// replaces the list in one step, so a failed save leaves the old list whole.
int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries);

// The write step of a save, replaceable so that a test can make it fail:
// writes size bytes to file, true on success.
using ListFileWriter = bool (*)(HANDLE file, const void* data, DWORD size);
int32_t SaveProcessList(const std::wstring& path, std::vector<std::wstring> entries, ListFileWriter write);

// The file's bytes as entries: 16-bit little endian units (an odd last byte
// gets a zero high byte), LF ends an entry, every CR is dropped, text after the
// last LF is not an entry. Appends to entries.
void DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries);

// The file content for entries: each followed by CR LF.
[[nodiscard]] std::wstring EncodeProcessList(const std::vector<std::wstring>& entries);

}  // namespace tarnwick
