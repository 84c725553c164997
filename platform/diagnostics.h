// What goes wrong inside the program, told to whoever traces it: short
// English lines with the Win32 error ("placement refused: game.exe (pid 1234)
// CPU affinity: error 5"), sent to the program's own event provider and to
// nothing else; no file is ever written. Nothing is formatted or sent while
// no one listens, so a report costs a failure path one cheap question.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarnwick {

// The event levels of Windows event tracing (TRACE_LEVEL_ERROR, TRACE_LEVEL_WARNING).
enum class DiagnosticLevel : uint8_t { Error = 2, Warning = 3 };

class DiagnosticsSink {
 public:
  DiagnosticsSink() = default;
  DiagnosticsSink(const DiagnosticsSink&) = delete;
  DiagnosticsSink& operator=(const DiagnosticsSink&) = delete;
  virtual ~DiagnosticsSink() = default;

  // Whether an event of `level` would be recorded now; cheap, asked before
  // anything is formatted.
  [[nodiscard]] virtual bool Listening(DiagnosticLevel level) noexcept = 0;
  virtual void Write(DiagnosticLevel level, const wchar_t* text) noexcept = 0;
};

// Makes `sink` the program's for the life of this object, after which none
// is (nothing is recorded). One at a time. Its end waits for a report in
// progress on another thread, so the sink may be destroyed right after it.
class InstalledDiagnostics {
 public:
  explicit InstalledDiagnostics(DiagnosticsSink& sink) noexcept;
  ~InstalledDiagnostics();
  InstalledDiagnostics(const InstalledDiagnostics&) = delete;
  InstalledDiagnostics& operator=(const InstalledDiagnostics&) = delete;
};

// The installed sink's answers; false and nothing while none is installed.
// Any thread.
[[nodiscard]] bool DiagnosticsListening(DiagnosticLevel level) noexcept;
void WriteDiagnostic(DiagnosticLevel level, const wchar_t* text) noexcept;

// A Win32 error code, shown "error 5".
struct Win32Error {
  DWORD code;
};
// An HRESULT, shown "error 0x80070005".
struct StatusError {
  HRESULT code;
};

namespace detail {
void AppendDiagnosticPart(std::wstring& text, std::wstring_view part);
void AppendDiagnosticPart(std::wstring& text, Win32Error error);
void AppendDiagnosticPart(std::wstring& text, StatusError error);
template <typename Number>
requires std::is_integral_v<Number>
void AppendDiagnosticPart(std::wstring& text, Number number) { text += std::to_wstring(number); }
}  // namespace detail

// Joins `parts` (text, numbers, errors) into one event when someone listens
// at `level`; otherwise formats nothing.
template <typename... Parts>
void ReportDiagnostic(DiagnosticLevel level, const Parts&... parts) {
  if (!DiagnosticsListening(level)) return;
  std::wstring text;
  // Unqualified: a part of another type brings its own AppendDiagnosticPart.
  using detail::AppendDiagnosticPart;
  (AppendDiagnosticPart(text, parts), ...);
  WriteDiagnostic(level, text.c_str());
}

}  // namespace tarnwick
