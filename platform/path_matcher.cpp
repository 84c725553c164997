#include "platform/path_matcher.h"

#include <windows.h>

#include <cwchar>
#include <string_view>

namespace tarnwick {
namespace {

constexpr size_t kNone = std::wstring_view::npos;

wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameLetter(wchar_t a, wchar_t b) {
  if (a == b) return true;
  if (a < 0x80 && b < 0x80) return UpperAscii(a) == UpperAscii(b);
  return ::CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// One mask (no ';' in it) against the whole name. Greedy, going back only to
// the last '*' seen: with '*' and '?' as the only wildcards a match found
// from an earlier '*' is also found from the last one, and each return moves
// the restart one character on, so the walk is bounded by the product of
// the lengths instead of growing with the number of '*'.
bool MatchesMask(std::wstring_view name, std::wstring_view mask) {
  size_t literals = 0;
  for (wchar_t c : mask) literals += c != L'*';
  if (literals > name.size()) return false;  // every non-'*' takes one character

  size_t n = 0;
  size_t m = 0;
  size_t afterStar = kNone;  // mask position after the last run of '*'
  size_t restart = 0;        // name position that run covers up to, on the next return
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == L'*') {
      while (m < mask.size() && mask[m] == L'*') ++m;
      afterStar = m;
      restart = n;
    } else if (m < mask.size() && (mask[m] == L'?' || SameLetter(mask[m], name[n]))) {
      ++m;
      ++n;
    } else if (afterStar != kNone) {
      m = afterStar;
      n = ++restart;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == L'*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesPathSpec(const wchar_t* name, const wchar_t* spec) {
  const std::wstring_view text(name, std::wcslen(name));
  const std::wstring_view masks(spec, std::wcslen(spec));
  if (masks == L"*.*") return true;
  size_t position = 0;
  while (position < masks.size()) {
    while (position < masks.size() && masks[position] == L' ') ++position;
    size_t end = masks.find(L';', position);
    if (end == kNone) end = masks.size();
    if (MatchesMask(text, masks.substr(position, end - position))) return true;
    position = end < masks.size() ? end + 1 : end;
  }
  return false;
}

}  // namespace tarnwick
