#include "update/update_check.h"

#include "config/product.h"
#include "config/settings_store.h"
#include "platform/detached_thread.h"
#include "platform/diagnostics.h"
#include "platform/wininet_url_fetcher.h"
#include "update/background_fetch.h"
#include "update/update_endpoints.h"
#include "update/version.h"

#include <algorithm>

namespace tarnwick {

std::wstring UpdateUserAgent() { return std::wstring(TARNWICK_PRODUCT_NAME L"/") + std::wstring(CurrentVersionText); }

std::shared_ptr<UrlFetcher> MakeUpdateFetcher() { return std::make_shared<WinInetUrlFetcher>(UpdateUserAgent()); }

std::wstring VersionFileUrl(bool beta) {
  std::wstring url(kVersionInfoBaseUrl);
  if (beta) url += L"beta/";
  return url;
}

std::wstring ParseVersionFile(std::span<const std::byte> body) {
  const auto nul = std::find(body.begin(), body.end(), std::byte{0});
  std::string_view bytes(reinterpret_cast<const char*>(body.data()), static_cast<size_t>(nul - body.begin()));
  // Editors on Windows like to start a UTF-8 file with a byte-order mark.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::wstring text = Utf8ToWide(bytes);
  const size_t lineEnd = text.find_first_of(L"\r\n");
  if (text.size() < kVersionFileMarker.size() || lineEnd == std::wstring::npos ||
      text.find(L'.') == std::wstring::npos || text.find(kVersionFileMarker) == std::wstring::npos) {
    return {};
  }
  // Anything but four plain fields of 0-255 could pack to a number larger
  // than every real release ("-1.2.2.4" would stay "newer" for ever).
  std::wstring version = text.substr(0, lineEnd);
  if (!ParseStrictVersion(version)) return {};
  return version;
}

std::wstring TakeVersionFile(BackgroundFetch& fetch) {
  const auto body = fetch.TakeBody();
  return body ? ParseVersionFile(*body) : std::wstring();
}

namespace {

constexpr const wchar_t* kCheckFailed = L"update check failed: ";

// Why a check learned nothing: once per check, so at most once a day.
void ReportFailedCheck(BackgroundFetch::Outcome outcome, const BackgroundFetch& fetch) {
  if (!DiagnosticsListening(DiagnosticLevel::Warning)) return;
  if (outcome == BackgroundFetch::Outcome::TooSlow) {
    ReportDiagnostic(DiagnosticLevel::Warning, kCheckFailed, L"the server sent too little in time: ",
                     Win32Error{ERROR_TIMEOUT});
    return;
  }
  const FetchControl::Failure failure = fetch.Failure();
  if (failure.step == nullptr) {
    ReportDiagnostic(DiagnosticLevel::Warning, kCheckFailed, L"no answer");
  } else if (failure.httpStatus) {
    ReportDiagnostic(DiagnosticLevel::Warning, kCheckFailed, failure.step, L": HTTP status ", failure.code);
  } else {
    ReportDiagnostic(DiagnosticLevel::Warning, kCheckFailed, failure.step, L": ", Win32Error{failure.code});
  }
}

}  // namespace

std::wstring FetchLatestVersion(std::shared_ptr<UrlFetcher> fetcher, bool beta, HANDLE quitEvent) {
  BackgroundFetch fetch(FetchJobOf(std::move(fetcher), VersionFileUrl(beta), kVersionFileMaxBytes), kVersionFileLimits);
  const BackgroundFetch::Outcome outcome = fetch.Wait(quitEvent);
  // Ended by the program's end: nothing failed.
  if (outcome == BackgroundFetch::Outcome::Cancelled) return {};
  if (outcome != BackgroundFetch::Outcome::Done) {
    ReportFailedCheck(outcome, fetch);
    return {};
  }
  std::wstring version = TakeVersionFile(fetch);
  if (version.empty()) {
    ReportDiagnostic(DiagnosticLevel::Warning, kCheckFailed, L"the answer is no version file: ",
                     Win32Error{ERROR_INVALID_DATA});
  }
  return version;
}

void RunUpdateChecks(const std::shared_ptr<UrlFetcher>& fetcher, HANDLE quitEvent, DWORD intervalMs,
                     const std::function<bool()>& beta, const std::function<void(uint32_t)>& announceNewer) {
  do {
    const std::wstring latest = FetchLatestVersion(fetcher, beta(), quitEvent);
    if (CompareWithCurrentVersion(latest) == UpdateAnswer::Newer) announceNewer(PackVersion(latest));
    // A wait that fails would fail again at once: checking again would turn
    // the daily check into a stream of downloads, so the thread ends.
  } while (::WaitForSingleObject(quitEvent, intervalMs) == WAIT_TIMEOUT);
}

void UpdateCheckerThread(unique_handle quitEvent, const std::function<void(uint32_t)>& announceNewer) noexcept {
  RunUpdateChecks(MakeUpdateFetcher(), quitEvent.get(), kUpdateCheckIntervalMs, GetBetaUpdates, announceNewer);
}

void StartUpdateChecker(HANDLE quitEvent, std::function<void(uint32_t)> announceNewer) {
  HANDLE ownQuitEvent = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), quitEvent, ::GetCurrentProcess(), &ownQuitEvent, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    ReportDiagnostic(DiagnosticLevel::Error, L"update checker not started: quit event: ", Win32Error{::GetLastError()});
    return;
  }
  // Without the thread there is no automatic check; "Check for Update" still works.
  if (!StartDetachedThread(
          [quitEvent = unique_handle(ownQuitEvent), announceNewer = std::move(announceNewer)]() mutable noexcept {
            UpdateCheckerThread(std::move(quitEvent), announceNewer);
          })) {
    ReportDiagnostic(DiagnosticLevel::Error, L"update checker not started: thread: ", Win32Error{::GetLastError()});
  }
}

}  // namespace tarnwick
