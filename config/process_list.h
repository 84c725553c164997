// The user's process list file: UTF-16 little endian, one pattern per line,
// each line ended by CR LF. Files that editors and other tools write are read
// as what their bytes say (UTF-16 either way round, with or without a mark,
// UTF-8, or the system's ANSI code page); a save always writes UTF-16.
#pragma once

#include "platform/limited_rights.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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
  Read,         // the file was read (it may hold no entries)
  Missing,      // no file (or no folder): no entries, and a save creates it
  Unreadable,   // a file that cannot be opened, sized or read (locked, denied):
                // no entries, and a save must not replace what it holds
  TooLarge,     // over kMaxListFileBytes: not read, and a save must not replace it
  Undecodable,  // read, but its encoding cannot be told with confidence: no
                // entries, and a save must not replace what it holds
};

// How the bytes of a list file are taken.
enum class ListEncoding { Utf16Le, Utf16Be, Utf8, Ansi, Undecodable };

// What a read of the list file met, so that a later read tells whether
// another program changed the file meanwhile: equal for the same bytes.
struct ListFileStamp {
  ListFileStatus status = ListFileStatus::Missing;  // Read also for a file that cannot be decoded
  DWORD error = ERROR_SUCCESS;                      // the system's reason for Unreadable
  uint64_t size = 0;
  uint64_t contentHash = 0;  // of the bytes read
  uint64_t lastWrite = 0;    // of a file too large to be read
  friend bool operator==(const ListFileStamp&, const ListFileStamp&) = default;
};

// What reading the list file found besides its status.
struct ListFileReading {
  DWORD error = ERROR_SUCCESS;  // the system's reason for Unreadable
  // The list was missing and a complete copy that an interrupted save left
  // beside it was put in its place (the user should be told, once).
  bool restored = false;
  // For Undecodable: the line (from 1) where a second encoding shows; 0 when
  // no single line does.
  size_t undecodableLine = 0;
  ListFileStamp stamp;
};

// Appends the entries of the file at path to entries and returns what was
// found. Nothing is appended unless the status is Read. The file is read
// while other programs hold it open (for writing or deleting too). A
// missing list is first restored from what an interrupted save left.
// The file and its folder are read and restored with the rights of the
// user's ordinary programs (LimitedRightsScope, with `limitedToken` as its
// source): an elevated process that cannot take them on reads nothing, and
// the status is Unreadable with the reason.
ListFileStatus ReadProcessListFile(const std::wstring& path, std::vector<std::wstring>& entries,
                                   ListFileReading* reading = nullptr, LimitedTokenSource limitedToken = nullptr);

// Appends the entries of the file at path to entries and returns how many
// entries holds afterwards. A file that cannot be opened, sized or read, or
// one too large to be a list, adds nothing.
int64_t LoadProcessList(const std::wstring& path, std::vector<std::wstring>& entries);

// The write step of a save, replaceable so that a test can make it fail:
// writes size bytes to file, true on success (the system's error is then
// GetLastError's).
using ListFileWriter = bool (*)(HANDLE file, const void* data, DWORD size);
// The step that puts the new content in place of an existing list, with
// ReplaceFileW's contract (which may fail after the old list is gone).
using ListFileReplacer = bool (*)(const wchar_t* list, const wchar_t* replacement);

// Stand-ins for steps of a save; null takes the system's.
struct ListFileSaveSteps {
  ListFileWriter write = nullptr;
  ListFileReplacer replace = nullptr;
  LimitedTokenSource limitedToken = nullptr;
};

// How a save ended, beyond its count.
struct ListFileSave {
  DWORD error = ERROR_SUCCESS;  // the system's reason for a failure
  // Set when the save failed after the old list was already gone: the new
  // content is kept, complete, in this file, and the next read of the list
  // puts it in place.
  std::wstring keptCopy;
  // What the file holds after a save: the stamp a read of it gives.
  ListFileStamp written;
};

// Replaces the file's content with entries and returns their number, or -1
// with the system's error code in `error` (ERROR_SUCCESS after a save).
// The new content is written to "<list>.<id>.tmp" beside the list, renamed
// "<list>.<id>.new" once it is complete on disk, and then replaces the list
// in one step (keeping the list's identity, attributes and permissions), so a
// failed save leaves the old list whole. When the replace fails after the
// old list is gone, the new content is moved into place; failing that, it is
// kept, and the next read restores it. Files left by interrupted saves are
// removed only while the list exists. A read-only list is not replaced: the
// save fails with ERROR_FILE_READ_ONLY. Every file step runs with the rights
// of the user's ordinary programs (LimitedRightsScope); an elevated process
// that cannot take them on writes nothing and the save fails with the reason.
// A list that is a symbolic link (or lies behind one) keeps the link: the
// save writes the file it leads to, with the same steps in that file's folder.
int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries, DWORD& error,
                        const ListFileSaveSteps& steps = {});
int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries, ListFileSave& save,
                        const ListFileSaveSteps& steps = {});
int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries);

// The folders whose changes can change the list: its own, and the folder of
// the file it leads to when it is a link (or lies behind one).
[[nodiscard]] std::vector<std::wstring> ListFileFolders(const std::wstring& path);

// One edit of the user's: from the entries the file holds now, the entries
// to save, or nullopt to leave the file as it is. May be called more than
// once, each time with what the file holds then.
using ListFileEdit = std::function<std::optional<std::vector<std::wstring>>(const std::vector<std::wstring>& entries)>;

// What an edit of the list file found and did.
struct ListFileUpdate {
  ListFileStatus status = ListFileStatus::Missing;  // of the file the edit was given (or that was refused)
  ListFileReading reading;                          // of that read
  std::vector<std::wstring> entries;                // what the file holds now
  bool saved = false;
  ListFileSave save;  // why a save failed; after a save, what it wrote
};

// Applies `edit` to what the file holds now and saves the result, unless the
// file is refused (too large, unreadable, undecodable: then it is left
// untouched and `edit` is not called). When another program changes the file
// between the read and the save, the save is abandoned before it replaces
// anything and the edit is applied again to the new content.
ListFileUpdate UpdateProcessListFile(const std::wstring& path, const ListFileEdit& edit,
                                     const ListFileSaveSteps& steps = {});

// Which encoding the bytes are in. A byte-order mark decides. Otherwise the
// zero bytes tell: UTF-16 text has a zero in most high bytes of its Latin
// characters and line ends (little endian: at odd offsets), while 8-bit text
// has none, or a stray one or two; 8-bit text is UTF-8 when it is valid
// UTF-8, else the system's ANSI code page. A file that fits neither (an odd
// length with UTF-16's zeros, zeros at both offsets) or both (then valid
// UTF-8 decides) cannot be decoded with confidence.
[[nodiscard]] ListEncoding DetectListEncoding(std::span<const std::byte> bytes);

// The file's bytes as entries, appended to entries; false (nothing appended)
// when the encoding cannot be told. A line ends at CR LF, LF or CR alone; a
// last line without a line end is an entry too. Zero bytes that pad the end
// of an 8-bit file are not part of it. A file whose parts were written in two
// encodings (UTF-16 followed by lines that "echo text>> list" appended, or
// 8-bit text followed by lines that "cmd /u" appended) has each part read as
// what it is when the seam is certain; otherwise it cannot be decoded, and
// `undecodableLine`, when given, is set to the line (from 1) where the other
// encoding shows, or 0 when no single line does.
bool DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries,
                       size_t* undecodableLine = nullptr);

// The file content for entries: each followed by CR LF, after a byte-order
// mark only when the first entry's own units would otherwise read as one.
[[nodiscard]] std::wstring EncodeProcessList(const std::vector<std::wstring>& entries);

}  // namespace tarnwick
