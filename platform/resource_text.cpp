#include "platform/resource_text.h"

namespace tarnwick {

std::wstring LoadResourceText(UINT id, HINSTANCE module) {
  if (module == nullptr) module = ::GetModuleHandleW(nullptr);
  wchar_t buffer[1024] = {};
  const int length = ::LoadStringW(module, id, buffer, static_cast<int>(std::size(buffer)));
  if (length <= 0) return L"ERROR";
  return std::wstring(buffer, static_cast<size_t>(length));
}

std::wstring FillTextFields(std::wstring format, std::initializer_list<std::wstring_view> values) {
  size_t from = 0;
  for (const std::wstring_view value : values) {
    const size_t field = format.find(L"%s", from);
    if (field == std::wstring::npos) break;
    format.replace(field, 2, value);
    from = field + value.size();
  }
  return format;
}

}  // namespace tarnwick
