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
  const int wideLength = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, AsChars(bytes).data(), length, nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, AsChars(bytes).data(), length, wide.data(), wideLength) !=
      wideLength) {
    return std::nullopt;
  }
  return wide;
}

std::wstring Utf16Units(std::span<const std::byte> bytes, bool bigEndian) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const auto first = static_cast<unsigned>(bytes[2 * i]);
    const auto second = static_cast<unsigned>(bytes[2 * i + 1]);
    text[i] = static_cast<wchar_t>(bigEndian ? (first << 8) | second : first | (second << 8));
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
bool AllZerosEndUtf16Lines(std::span<const std::byte> bytes, bool littleEndian) {
  const size_t high = littleEndian ? 1 : 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != std::byte{0}) continue;
    if (i % 2 != high) return false;
    const std::byte low = bytes[littleEndian ? i - 1 : i + 1];
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
  size_t zerosAtEven = 0;
  size_t zerosAtOdd = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == std::byte{0}) ++(i % 2 == 0 ? zerosAtEven : zerosAtOdd);
  }
  const size_t zeros = zerosAtEven + zerosAtOdd;
  const bool plainBytes = !HasControlBytes(bytes);
  if (zeros == 0) return plainBytes ? Detect8BitEncoding(bytes) : ListEncoding::Undecodable;
  const bool eightBit = plainBytes && FewEnoughZerosFor8BitText(zeros, bytes.size());
  // UTF-16's zeros are the high bytes of its Latin characters and line ends:
  // nearly all on one side of each unit. One alone decides only where the
  // bytes are no 8-bit text.
  const size_t fewest = eightBit ? 2 : 1;
  const bool wholeUnits = bytes.size() % 2 == 0;
  const bool littleEndian = wholeUnits && zerosAtOdd >= fewest && zerosAtEven * 4 <= zerosAtOdd;
  const bool bigEndian = wholeUnits && zerosAtEven >= fewest && zerosAtOdd * 4 <= zerosAtEven;
  const bool utf16 = littleEndian || bigEndian;
  const ListEncoding utf16Encoding = littleEndian ? ListEncoding::Utf16Le : ListEncoding::Utf16Be;
  if (utf16 && !eightBit) return utf16Encoding;
  if (!utf16 && eightBit) return Detect8BitEncoding(bytes);
  if (!utf16) return ListEncoding::Undecodable;
  // Both fit (a short file, or long lines of text outside Latin): a quarter of
  // zeros is UTF-16's Latin text, and zeros that are all the high bytes of CR
  // and LF units are UTF-16's line ends; else valid UTF-8 decides (UTF-16 of
  // other scripts seldom is).
  if (zeros * 4 >= bytes.size() || AllZerosEndUtf16Lines(bytes, littleEndian)) return utf16Encoding;
  const ListEncoding eightBitEncoding = Detect8BitEncoding(bytes);
  return eightBitEncoding == ListEncoding::Utf8 ? ListEncoding::Utf8 : utf16Encoding;
}

namespace {

constexpr std::byte kLineFeed{0x0A};
constexpr std::byte kCarriageReturn{0x0D};
constexpr std::byte kZero{0};

// The line (counted from 1) that starts at or holds `offset`: one more than
// the line ends before it, read as UTF-16 little endian units or as bytes.
size_t LineAt(std::span<const std::byte> bytes, size_t offset, bool utf16) {
  size_t line = 1;
  if (utf16) {
    for (size_t i = 0; i + 1 < offset && i + 1 < bytes.size(); i += 2) {
      if (bytes[i] == kLineFeed && bytes[i + 1] == kZero) ++line;
    }
  } else {
    line += static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + std::min(offset, bytes.size()), kLineFeed));
  }
  return line;
}

// Where 8-bit lines sit inside text read as UTF-16 little endian: cmd's
// "echo text>> list" ends its line with the bytes CR LF side by side, where
// UTF-16's own line ends put a zero byte after each. The offset of the
// zero-free run that holds them.
std::optional<size_t> EmbeddedEightBitLine(std::span<const std::byte> bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] != kCarriageReturn || bytes[i + 1] != kLineFeed) continue;
    size_t start = i;
    while (start > 0 && bytes[start - 1] != kZero) --start;
    return start;
  }
  return std::nullopt;
}

// Where a UTF-16 line ("cmd /u /c echo text>> list") sits inside 8-bit text:
// its CR LF units are the bytes CR, zero, LF, zero. The offset of the first
// unit of that line.
std::optional<size_t> EmbeddedUtf16Line(std::span<const std::byte> bytes) {
  constexpr std::byte kUtf16LineEnd[] = {kCarriageReturn, kZero, kLineFeed, kZero};
  const auto found = std::search(bytes.begin(), bytes.end(), std::begin(kUtf16LineEnd), std::end(kUtf16LineEnd));
  if (found == bytes.end()) return std::nullopt;
  size_t start = static_cast<size_t>(found - bytes.begin());
  while (start >= 2 && bytes[start - 1] == kZero && bytes[start - 2] != kZero) start -= 2;
  return start;
}

// The bytes as one encoding, or nullopt with the line that shows they are
// not (0 when no single line does).
std::optional<std::wstring> DecodeWhole(std::span<const std::byte> bytes, size_t& undecodableLine) {
  undecodableLine = 0;
  const ListEncoding encoding = DetectListEncoding(bytes);
  const size_t mark = MarkLength(bytes);
  const std::span<const std::byte> body = bytes.subspan(mark);
  switch (encoding) {
    case ListEncoding::Undecodable:
      return std::nullopt;
    case ListEncoding::Utf16Le:
      // A mark says what the whole file is; without one, 8-bit lines amid
      // the units would turn into characters of other scripts.
      if (const std::optional<size_t> line = EmbeddedEightBitLine(body); line && mark == 0) {
        undecodableLine = LineAt(bytes, *line, true);
        return std::nullopt;
      }
      return Utf16Units(body, false);
    case ListEncoding::Utf16Be:
      return Utf16Units(body, true);
    case ListEncoding::Utf8:
    case ListEncoding::Ansi: {
      const std::span<const std::byte> text = WithoutZeroPadding(body);
      if (const std::optional<size_t> line = EmbeddedUtf16Line(text)) {
        undecodableLine = LineAt(bytes, mark + *line, false);
        return std::nullopt;
      }
      if (encoding == ListEncoding::Utf8) return Utf8ToWide(AsChars(text));
      return AnsiToWide(text);
    }
  }
  return std::nullopt;
}

// 8-bit lines with nothing else in them: no zero byte and no control byte.
std::optional<std::wstring> DecodePlainEightBit(std::span<const std::byte> bytes) {
  if (std::find(bytes.begin(), bytes.end(), kZero) != bytes.end() || HasControlBytes(bytes)) return std::nullopt;
  if (IsValidUtf8(bytes)) return Utf8ToWide(AsChars(bytes));
  return AnsiToWide(bytes);
}

bool EndsWithUtf16LineFeed(std::span<const std::byte> bytes) {
  return bytes.size() >= 2 && bytes.size() % 2 == 0 && bytes[bytes.size() - 2] == kLineFeed && bytes.back() == kZero;
}

// A file whose parts were written in two encodings: UTF-16 text that lines
// appended by "echo text>> list" follow, or 8-bit text that lines appended by
// "cmd /u" follow. Each part is read as what it is when the seam between them
// is certain.
enum class MixedRead { NotMixed, Read, Refused };

// UTF-16 little endian text, then 8-bit lines. The 8-bit part holds no zero
// byte, so it starts after the last one, which must end a UTF-16 line feed.
MixedRead ReadUtf16ThenEightBit(std::span<const std::byte> bytes, std::wstring& text, size_t& undecodableLine) {
  const auto lastZero = std::find(bytes.rbegin(), bytes.rend(), kZero);
  if (lastZero == bytes.rend()) return MixedRead::NotMixed;
  const size_t seam = static_cast<size_t>(bytes.rend() - lastZero);  // one past the zero
  if (seam == bytes.size() || seam % 2 != 0 || bytes[seam - 2] != kLineFeed) return MixedRead::NotMixed;
  const std::span<const std::byte> head = bytes.first(seam);
  const std::span<const std::byte> tail = bytes.subspan(seam);
  // An even tail not ending in LF may be UTF-16 of other scripts (a last line without a line end).
  if (tail.size() % 2 == 0 && tail.back() != kLineFeed) return MixedRead::NotMixed;
  // Text that starts with 8-bit lines is no UTF-16 text that lines were appended to.
  if (DetectListEncoding(head) != ListEncoding::Utf16Le || EmbeddedEightBitLine(head) == 0) {
    return MixedRead::NotMixed;
  }
  std::optional<std::wstring> first = DecodeWhole(head, undecodableLine);
  if (!first) return MixedRead::Refused;
  std::optional<std::wstring> second = DecodePlainEightBit(tail);
  if (!second) {
    undecodableLine = LineAt(bytes, seam, true);
    return MixedRead::Refused;
  }
  text = std::move(*first) + *second;
  return MixedRead::Read;
}

// 8-bit lines, then UTF-16 little endian lines of Latin text: the UTF-16
// part starts one byte before the first zero, right after an 8-bit line feed,
// and ends with a UTF-16 line feed.
MixedRead ReadEightBitThenUtf16(std::span<const std::byte> bytes, std::wstring& text, size_t& undecodableLine) {
  if (StartsWith(bytes, kUtf16LeByteOrderMark) || StartsWith(bytes, kUtf16BeByteOrderMark)) return MixedRead::NotMixed;
  const auto firstZero = std::find(bytes.begin(), bytes.end(), kZero);
  if (firstZero == bytes.end()) return MixedRead::NotMixed;
  const size_t zero = static_cast<size_t>(firstZero - bytes.begin());
  if (zero < 2 || bytes[zero - 2] != kLineFeed) return MixedRead::NotMixed;
  const size_t seam = zero - 1;
  const std::span<const std::byte> head = bytes.first(seam);
  const std::span<const std::byte> tail = bytes.subspan(seam);
  if (!EndsWithUtf16LineFeed(tail)) return MixedRead::NotMixed;
  for (size_t i = 0; i < tail.size(); i += 2) {
    if (tail[i] == kZero) return MixedRead::NotMixed;  // a zero low byte: no Latin UTF-16 line
  }
  const std::span<const std::byte> headText = head.subspan(StartsWith(head, kUtf8ByteOrderMark) ? 3 : 0);
  std::optional<std::wstring> first = DecodePlainEightBit(headText);
  if (!first) return MixedRead::NotMixed;
  std::optional<std::wstring> second = DecodeWhole(tail, undecodableLine);
  if (!second) {
    if (undecodableLine != 0) undecodableLine += LineAt(bytes, seam, false) - 1;
    return MixedRead::Refused;
  }
  text = std::move(*first) + *second;
  return MixedRead::Read;
}

// The first line in the other encoding of a file that no reading above
// takes: 8-bit lines amid UTF-16, or UTF-16 lines amid 8-bit text, as the
// file starts; 0 when there is none.
size_t LineOfOtherEncoding(std::span<const std::byte> bytes) {
  const auto firstZero = std::find(bytes.begin(), bytes.end(), kZero);
  const auto firstLineFeed = std::find(bytes.begin(), bytes.end(), kLineFeed);
  if (firstZero != bytes.end() && firstLineFeed < firstZero) {
    const std::optional<size_t> line = EmbeddedUtf16Line(bytes);
    return line ? LineAt(bytes, *line, false) : 0;
  }
  const std::optional<size_t> line = EmbeddedEightBitLine(bytes);
  return line ? LineAt(bytes, *line, true) : 0;
}

}  // namespace

bool DecodeProcessList(std::span<const std::byte> bytes, std::vector<std::wstring>& entries, size_t* undecodableLine) {
  size_t line = 0;
  std::wstring text;
  MixedRead mixed = ReadUtf16ThenEightBit(bytes, text, line);
  if (mixed == MixedRead::NotMixed) mixed = ReadEightBitThenUtf16(bytes, text, line);
  if (mixed == MixedRead::NotMixed) {
    std::optional<std::wstring> whole = DecodeWhole(bytes, line);
    if (whole) {
      text = std::move(*whole);
      mixed = MixedRead::Read;
    } else if (line == 0) {
      line = LineOfOtherEncoding(bytes);
    }
  }
  if (undecodableLine != nullptr) *undecodableLine = mixed == MixedRead::Read ? 0 : line;
  if (mixed != MixedRead::Read) return false;
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
  auto readsBack = [&] {
    std::vector<std::wstring> read;
    return DecodeProcessList(bytes, read) && read == entries;
  };
  if (!content.empty() && (MarkLength(bytes) != 0 || !readsBack())) {
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
  const bool driveAbsolute = path.size() > 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  if (path.size() + kPathReserve < MAX_PATH || !driveAbsolute) return path;
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
  Complete,    // whole content of a list: a write that finished
};

// What the files that interrupted saves leave behind are: this program's own
// (".tmp" while written, ".new" once complete), "tw<hex>.tmp" of the versions
// that asked GetTempFileNameW, and "rf<hex>.tmp" of a ReplaceFileW (seen
// under Wine), which is the old list moved aside or, when the replace failed
// before that move, the empty file it made for it: never known complete.
// The two system names count only in the list's own folder, not in the
// folder of a file a link leads to, where other programs' files may bear them.
Leftover ClassifyLeftover(std::wstring_view name, std::wstring_view listName, bool ownFolder) {
  const bool complete = EndsWithNoCase(name, kCompleteSuffix);
  if (!complete && !EndsWithNoCase(name, kWritingSuffix)) return Leftover::None;
  static_assert(kWritingSuffix.size() == kCompleteSuffix.size());
  const std::wstring_view stem = name.substr(0, name.size() - kCompleteSuffix.size());
  if (ownFolder && !complete && stem.size() > 2 && stem.size() <= 6 && IsHexDigits(stem.substr(2)) &&
      (_wcsnicmp(stem.data(), L"rf", 2) == 0 || _wcsnicmp(stem.data(), L"tw", 2) == 0)) {
    return Leftover::Incomplete;
  }
  if (stem.size() <= listName.size() + 1 || stem[listName.size()] != L'.' ||
      _wcsnicmp(stem.data(), listName.data(), listName.size()) != 0) {
    return Leftover::None;
  }
  const std::wstring_view tail = stem.substr(listName.size() + 1);
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

std::vector<LeftoverFile> FindLeftovers(const std::wstring& folder, std::wstring_view listName, bool ownFolder) {
  std::vector<LeftoverFile> foundFiles;
  WIN32_FIND_DATAW found{};
  unique_find find(::FindFirstFileW((folder + L"*").c_str(), &found));
  if (!find) return foundFiles;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const Leftover kind = ClassifyLeftover(found.cFileName, listName, ownFolder);
    if (kind != Leftover::None) foundFiles.push_back({found.cFileName, kind, found.ftLastWriteTime});
  } while (::FindNextFileW(find.get(), &found));
  return foundFiles;
}

bool ListExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Only while the list exists: a leftover may otherwise be the only copy. A
// file still open in a save under way cannot be deleted and stays.
void RemoveLeftovers(const std::wstring& path, bool ownFolder) {
  const std::wstring folder = FolderOf(path);
  for (const LeftoverFile& leftover : FindLeftovers(folder, std::wstring_view(path).substr(folder.size()), ownFolder)) {
    if (!ListExists(path)) return;
    ::DeleteFileW((folder + leftover.name).c_str());
  }
}

// The list is missing: the newest complete leftover becomes the list. True
// when one did.
bool RestoreFromLeftover(const std::wstring& path) {
  const std::wstring folder = FolderOf(path);
  std::vector<LeftoverFile> leftovers = FindLeftovers(folder, std::wstring_view(path).substr(folder.size()), true);
  std::erase_if(leftovers, [](const LeftoverFile& leftover) { return leftover.kind != Leftover::Complete; });
  std::sort(leftovers.begin(), leftovers.end(),
            [](const LeftoverFile& a, const LeftoverFile& b) { return ::CompareFileTime(&a.written, &b.written) > 0; });
  for (const LeftoverFile& leftover : leftovers) {
    // Never over a list that appeared meanwhile.
    if (::MoveFileExW((folder + leftover.name).c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (ListExists(path)) return false;
  }
  return false;
}

}  // namespace

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

uint64_t ContentHash(std::span<const std::byte> bytes) {
  // FNV-1a: only to tell one content from another.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const std::byte b : bytes) hash = (hash ^ static_cast<uint64_t>(b)) * 0x100000001b3ull;
  return hash;
}

// The file's bytes as they are now, or why there are none.
struct RawListFile {
  ListFileStamp stamp;
  std::vector<std::byte> bytes;
};

// Reads the list's bytes; Read, Missing, Unreadable or TooLarge. The file is
// read while other programs hold it open (for writing or deleting too).
RawListFile ReadRawListFile(HANDLE file) {
  RawListFile raw;
  raw.stamp.status = ListFileStatus::Unreadable;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    raw.stamp.error = ::GetLastError();
    return raw;
  }
  raw.stamp.size = static_cast<uint64_t>(size.QuadPart);
  if (raw.stamp.size > kMaxListFileBytes) {
    FILETIME written{};
    ::GetFileTime(file, nullptr, nullptr, &written);
    raw.stamp.lastWrite = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    raw.stamp.status = ListFileStatus::TooLarge;
    return raw;
  }
  raw.bytes.resize(static_cast<size_t>(raw.stamp.size));
  DWORD read = 0;
  if (!raw.bytes.empty() && !::ReadFile(file, raw.bytes.data(), static_cast<DWORD>(raw.bytes.size()), &read, nullptr)) {
    raw.stamp.error = ::GetLastError();
    raw.bytes.clear();
    return raw;
  }
  // A file that shrank while it was read yields only what was read.
  raw.bytes.resize(read);
  raw.stamp.size = read;
  raw.stamp.contentHash = ContentHash(raw.bytes);
  raw.stamp.status = ListFileStatus::Read;
  return raw;
}

unique_hfile OpenListForReading(const std::wstring& path) {
  return unique_hfile(
      ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool IsMissingReason(DWORD reason) { return reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND; }

// The stamp of the file at an (extended) path as it is now, without restoring anything.
ListFileStamp StampNow(const std::wstring& path) {
  unique_hfile file = OpenListForReading(path);
  if (!file) {
    ListFileStamp stamp;
    const DWORD reason = ::GetLastError();
    if (!IsMissingReason(reason)) {
      stamp.status = ListFileStatus::Unreadable;
      stamp.error = reason;
    }
    return stamp;
  }
  return ReadRawListFile(file.get()).stamp;
}

}  // namespace

ListFileStatus ReadProcessListFile(const std::wstring& listPath, std::vector<std::wstring>& entries,
                                   ListFileReading* reading, LimitedTokenSource limitedToken) {
  ListFileReading ignored;
  if (reading == nullptr) reading = &ignored;
  *reading = {};
  auto unreadable = [reading](DWORD reason) {
    reading->error = reason;
    reading->stamp.status = ListFileStatus::Unreadable;
    reading->stamp.error = reason;
    return ListFileStatus::Unreadable;
  };
  // A planted link must not show the user a file only administrators may
  // read, nor let a restore rename into such a folder.
  const LimitedRightsScope limited(limitedToken);
  if (!limited.Ok()) return unreadable(limited.Error());
  const std::wstring path = ExtendedLengthPath(listPath);
  // Another program that holds the list open (an editor, a sync tool) does not make it unreadable.
  unique_hfile file = OpenListForReading(path);
  if (!file) {
    const DWORD reason = ::GetLastError();
    if (!IsMissingReason(reason)) return unreadable(reason);
    if (reason == ERROR_PATH_NOT_FOUND || !RestoreFromLeftover(path)) return ListFileStatus::Missing;
    reading->restored = true;
    file = OpenListForReading(path);
    if (!file) return unreadable(::GetLastError());
  }
  const RawListFile raw = ReadRawListFile(file.get());
  reading->stamp = raw.stamp;
  reading->error = raw.stamp.error;
  if (raw.stamp.status != ListFileStatus::Read) return raw.stamp.status;
  return DecodeProcessList(raw.bytes, entries, &reading->undecodableLine) ? ListFileStatus::Read
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
  unique_hfile Create(const std::wstring& listPath) {
    static std::atomic<uint32_t> counter{0};
    constexpr int kNameTries = 16;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
      std::wstring stem = listPath + L"." + Hex(::GetCurrentProcessId()) + L"-" + Hex(++counter);
      std::wstring candidate = stem + std::wstring(kWritingSuffix);
      // Shared with nobody: a cleanup in another instance cannot delete it while it is written.
      unique_hfile file(
          ::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  [[nodiscard]] const std::wstring& Path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::wstring stem_;
  std::wstring path_;
};

// Puts the complete new content in the list's place: a replace keeps an
// existing list's attributes, permissions and links; a new list is a rename.
// A replace can fail after the old list is gone (ERROR_UNABLE_TO_MOVE_REPLACEMENT):
// the new content then goes into the empty place.
bool MoveIntoPlace(TemporaryFile& complete, const std::wstring& path, bool listExists, ListFileReplacer replace,
                   ListFileSave& save) {
  if (listExists) {
    if (replace(path.c_str(), complete.Path().c_str())) {
      complete.Keep();
      return true;
    }
    save.error = ::GetLastError();
    if (ListExists(path)) return false;
  }
  if (::MoveFileExW(complete.Path().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    complete.Keep();
    return true;
  }
  if (!listExists) save.error = ::GetLastError();
  // The list is gone and the new content is its only copy: it stays, and the
  // next read puts it in place.
  if (!ListExists(path)) {
    save.keptCopy = complete.Path();
    complete.Keep();
  }
  return false;
}

// The file that `path` names once every link on the way is followed, in the
// "\\?\" form; `path` itself when it names no existing file or the system
// cannot say. A save that replaced the link itself would leave the user's
// file behind (Wine's ReplaceFileW even deletes it).
std::wstring FinalPathOf(const std::wstring& path) {
  unique_hfile file(
      ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return path;
  std::wstring finalPath(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = ::GetFinalPathNameByHandleW(file.get(), finalPath.data(), static_cast<DWORD>(finalPath.size()),
                                                     FILE_NAME_NORMALIZED);
    if (length == 0) return path;
    if (length < finalPath.size()) {
      finalPath.resize(length);
      return finalPath;
    }
    finalPath.assign(length, L'\0');  // the length the path needs, with its terminating zero
  }
  return path;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
  auto withoutPrefix = [](std::wstring_view path) { return path.starts_with(L"\\\\?\\") ? path.substr(4) : path; };
  const std::wstring firstFolder = FolderOf(a);
  const std::wstring secondFolder = FolderOf(b);
  const std::wstring_view first = withoutPrefix(firstFolder);
  const std::wstring_view second = withoutPrefix(secondFolder);
  return first.size() == second.size() &&
         ::CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

// The private reason of a save given up because the file changed after it was read.
constexpr DWORD kListChangedMeanwhile = ERROR_BUSY;

int32_t SaveListFile(const std::wstring& listPath, const std::vector<std::wstring>& entries, ListFileSave& save,
                     const ListFileSaveSteps& steps, const ListFileStamp* expected) {
  const ListFileWriter write = steps.write != nullptr ? steps.write : WriteWholeFile;
  const ListFileReplacer replace = steps.replace != nullptr ? steps.replace : ReplaceWithSystem;
  save = {};
  // Every failure below records the system's reason before any clean-up can change it.
  auto fail = [&save](DWORD reason) {
    save.error = reason != ERROR_SUCCESS ? reason : ERROR_GEN_FAILURE;
    return -1;
  };
  const std::wstring content = EncodeProcessList(entries);
  const size_t byteCount = content.size() * sizeof(wchar_t);
  if (byteCount > std::numeric_limits<DWORD>::max()) return fail(ERROR_FILE_TOO_LARGE);

  // Declared before the temporary file, whose clean-up runs inside it too.
  const LimitedRightsScope limited(steps.limitedToken);
  if (!limited.Ok()) return fail(limited.Error());
  const std::wstring named = ExtendedLengthPath(listPath);
  // A link stays a link: its target is written, in its own folder.
  const std::wstring path = FinalPathOf(named);
  RemoveLeftovers(path, SameFolder(path, named));
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool listExists = attributes != INVALID_FILE_ATTRIBUTES;
  if (listExists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(kErrorDirectoryNotSupported);
  // The user made the list read-only: it is kept, never silently cleared.
  if (listExists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return fail(ERROR_FILE_READ_ONLY);

  TemporaryFile temporary;
  {
    unique_hfile file = temporary.Create(path);
    if (!file) return fail(::GetLastError());
    if (byteCount > 0 && !write(file.get(), content.data(), static_cast<DWORD>(byteCount))) {
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
  if (listExists && (attributes & kKeptAttributes) != 0) {
    ::SetFileAttributesW(temporary.Path().c_str(), attributes & kKeptAttributes);
  }
  // The last look before the old content goes: what another program wrote
  // since the read is never replaced unseen.
  if (expected != nullptr && StampNow(named) != *expected) return fail(kListChangedMeanwhile);
  if (!MoveIntoPlace(temporary, path, listExists, replace, save)) return fail(save.error);
  const auto bytes = std::as_bytes(std::span(content));
  save.written.status = ListFileStatus::Read;
  save.written.size = bytes.size();
  save.written.contentHash = ContentHash(bytes);
  return static_cast<int32_t>(entries.size());
}

}  // namespace

int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries) {
  DWORD error = ERROR_SUCCESS;
  return SaveProcessList(path, entries, error);
}

int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries, DWORD& error,
                        const ListFileSaveSteps& steps) {
  ListFileSave save;
  const int32_t saved = SaveListFile(path, entries, save, steps, nullptr);
  error = save.error;
  return saved;
}

int32_t SaveProcessList(const std::wstring& path, const std::vector<std::wstring>& entries, ListFileSave& save,
                        const ListFileSaveSteps& steps) {
  return SaveListFile(path, entries, save, steps, nullptr);
}

std::vector<std::wstring> ListFileFolders(const std::wstring& listPath) {
  const std::wstring named = ExtendedLengthPath(listPath);
  std::vector<std::wstring> folders = {FolderOf(named)};
  const std::wstring target = FinalPathOf(named);
  if (!SameFolder(target, named)) folders.push_back(FolderOf(target));
  return folders;
}

ListFileUpdate UpdateProcessListFile(const std::wstring& path, const ListFileEdit& edit,
                                     const ListFileSaveSteps& steps) {
  // Each try is given up only when another program wrote the file meanwhile;
  // one that keeps writing it gets the last word after these.
  constexpr int kTries = 8;
  ListFileUpdate update;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    update = {};
    update.status = ReadProcessListFile(path, update.entries, &update.reading, steps.limitedToken);
    if (update.status != ListFileStatus::Read && update.status != ListFileStatus::Missing) return update;
    std::optional<std::vector<std::wstring>> edited = edit(update.entries);
    if (!edited) return update;
    if (SaveListFile(path, *edited, update.save, steps, &update.reading.stamp) >= 0) {
      update.saved = true;
      update.entries = std::move(*edited);
      return update;
    }
    if (update.save.error != kListChangedMeanwhile) return update;
  }
  return update;
}

}  // namespace tarnwick
