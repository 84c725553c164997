// The program's own event provider, "Tarnwick", which carries its
// diagnostics to an event tracing session (logman, wpr, PerfView). Its GUID
// is the one the name hashes to by the rule of .NET's EventSource and
// TraceLogging, so tools that take "*Tarnwick" find it too.
#pragma once

#include "platform/diagnostics.h"
#include "platform/unique_handle.h"

#include <windows.h>
#include <evntprov.h>

namespace tarnwick {

namespace detail {
inline void EventUnregisterIgnoringResult(REGHANDLE provider) noexcept { ::EventUnregister(provider); }
}  // namespace detail
// An event provider's registration (EventRegister; 0 when it failed). Kept
// here rather than in unique_handle.h, which nearly every file includes:
// only the provider needs the event tracing header.
using unique_reghandle = unique_any<REGHANDLE, detail::EventUnregisterIgnoringResult>;

// {5d382f59-b6d9-5de8-2d76-8163f3b1feec}
inline constexpr GUID kDiagnosticsProviderId = {
    0x5d382f59, 0xb6d9, 0x5de8, {0x2d, 0x76, 0x81, 0x63, 0xf3, 0xb1, 0xfe, 0xec}};

// Registers the provider (EventRegister) for its life and unregisters it at
// its end. A registration that fails leaves a sink that never listens: the
// program works on, silently.
class EtwDiagnostics final : public DiagnosticsSink {
 public:
  EtwDiagnostics() noexcept;

  // Whether the registration succeeded.
  [[nodiscard]] bool Registered() const noexcept { return static_cast<bool>(provider_); }

  // EventProviderEnabled: true while any session records this level.
  [[nodiscard]] bool Listening(DiagnosticLevel level) noexcept override;
  // EventWriteString, keyword 0; a failed write is dropped.
  void Write(DiagnosticLevel level, const wchar_t* text) noexcept override;

 private:
  unique_reghandle provider_;
};

}  // namespace tarnwick
