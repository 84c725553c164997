#include "platform/etw_diagnostics.h"

namespace tarnwick {

EtwDiagnostics::EtwDiagnostics() noexcept {
  REGHANDLE provider = 0;
  // No enable callback: EventProviderEnabled keeps the answer for every session at once.
  if (::EventRegister(&kDiagnosticsProviderId, nullptr, nullptr, &provider) == ERROR_SUCCESS) {
    provider_.reset(provider);
  }
}

bool EtwDiagnostics::Listening(DiagnosticLevel level) noexcept {
  return provider_ && ::EventProviderEnabled(provider_.get(), static_cast<UCHAR>(level), 0) != FALSE;
}

void EtwDiagnostics::Write(DiagnosticLevel level, const wchar_t* text) noexcept {
  if (provider_) (void)::EventWriteString(provider_.get(), static_cast<UCHAR>(level), 0, text);
}

}  // namespace tarnwick
