#include "platform/utf8_text.h"

#include <windows.h>

#include <climits>

namespace tarnwick {

std::wstring Utf8ToWide(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(bytes.size());
  const int wideLength = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
  if (wideLength <= 0) return {};
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  if (::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, wide.data(), wideLength) != wideLength) return {};
  return wide;
}

}  // namespace tarnwick
