#include "app/close_event.h"

#include <sddl.h>

#include <string>

namespace tarnwick {
namespace {

// Full access for the system and administrators (installers), wait and set
// for every interactive user. The label lets medium-integrity processes set
// an event made by an elevated instance.
constexpr const wchar_t* kSharedAccess = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;IU)";
constexpr const wchar_t* kMediumIntegrityLabel = L"S:(ML;;NW;;;ME)";

unique_handle CreateWithSecurity(const wchar_t* name, const std::wstring& descriptorText) {
  unique_hlocal descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptorText.c_str(), SDDL_REVISION_1,
                                                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                              nullptr)) {
    return {};
  }
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  // Asking only for the rights the descriptor grants also opens another user's event.
  return unique_handle(::CreateEventExW(&attributes, name, CREATE_EVENT_MANUAL_RESET, kCloseEventAccess));
}

}  // namespace

unique_handle CreateCloseRequestEvent(const wchar_t* name) {
  static_assert(kCloseEventAccess == 0x00100002, "the descriptor grants these rights by number");
  // A process below medium integrity cannot give the event a medium label:
  // the event is then made with the access list alone.
  for (const std::wstring& descriptor :
       {std::wstring(kSharedAccess) + kMediumIntegrityLabel, std::wstring(kSharedAccess)}) {
    if (unique_handle event = CreateWithSecurity(name, descriptor)) return event;
  }
  return unique_handle(::OpenEventW(kCloseEventAccess, FALSE, name));
}

}  // namespace tarnwick
