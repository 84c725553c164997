#include "update/version.h"

#include <cwchar>
#include <string>

namespace tarnwick {

uint32_t PackVersion(std::wstring_view text) {
  if (text.size() < 7) return 0;
  const std::wstring terminated(text);
  unsigned int a = 0, b = 0, c = 0, d = 0;
  std::swscanf(terminated.c_str(), L"%u.%u.%u.%u", &a, &b, &c, &d);
  return static_cast<uint32_t>(((a << 8 | b) << 8 | c) << 8 | d);
}

UpdateAnswer CompareWithCurrentVersion(std::wstring_view latest) {
  if (latest.empty()) return UpdateAnswer::NoAnswer;
  return PackVersion(latest) > PackVersion(CurrentVersionText) ? UpdateAnswer::Newer
                                                               : UpdateAnswer::NotNewer;
}

}  // namespace tarnwick
