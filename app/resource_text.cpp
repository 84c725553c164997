#include "app/resource_text.h"

namespace tarnwick {

std::wstring LoadResourceText(UINT id, HINSTANCE module) {
  if (module == nullptr) module = ::GetModuleHandleW(nullptr);
  wchar_t buffer[1024] = {};
  const int length = ::LoadStringW(module, id, buffer, static_cast<int>(std::size(buffer)));
  if (length <= 0) return L"ERROR";
  return std::wstring(buffer, static_cast<size_t>(length));
}

}  // namespace tarnwick
