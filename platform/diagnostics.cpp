#include "platform/diagnostics.h"

#include <cwchar>
#include <iterator>

namespace tarnwick {
namespace {

// Trivially destroyed, so that a detached thread may still report while the
// program's statics are torn down.
constinit SRWLOCK SinkLock = SRWLOCK_INIT;
DiagnosticsSink* Sink = nullptr;  // guarded by SinkLock

class SharedSinkLock {
 public:
  SharedSinkLock() noexcept { ::AcquireSRWLockShared(&SinkLock); }
  ~SharedSinkLock() { ::ReleaseSRWLockShared(&SinkLock); }
  SharedSinkLock(const SharedSinkLock&) = delete;
  SharedSinkLock& operator=(const SharedSinkLock&) = delete;
};

void ExchangeSink(DiagnosticsSink* sink) noexcept {
  ::AcquireSRWLockExclusive(&SinkLock);
  Sink = sink;
  ::ReleaseSRWLockExclusive(&SinkLock);
}

}  // namespace

InstalledDiagnostics::InstalledDiagnostics(DiagnosticsSink& sink) noexcept { ExchangeSink(&sink); }

InstalledDiagnostics::~InstalledDiagnostics() { ExchangeSink(nullptr); }

bool DiagnosticsListening(DiagnosticLevel level) noexcept {
  const SharedSinkLock lock;
  return Sink != nullptr && Sink->Listening(level);
}

void WriteDiagnostic(DiagnosticLevel level, const wchar_t* text) noexcept {
  const SharedSinkLock lock;
  if (Sink != nullptr) Sink->Write(level, text);
}

namespace detail {

void AppendDiagnosticPart(std::wstring& text, std::wstring_view part) { text += part; }

void AppendDiagnosticPart(std::wstring& text, Win32Error error) {
  text += L"error ";
  text += std::to_wstring(error.code);
}

void AppendDiagnosticPart(std::wstring& text, StatusError error) {
  wchar_t hex[16] = {};
  std::swprintf(hex, std::size(hex), L"0x%08lX", static_cast<unsigned long>(error.code));
  text += L"error ";
  text += hex;
}

}  // namespace detail
}  // namespace tarnwick
