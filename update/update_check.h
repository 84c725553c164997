// Asking the update server for the latest version: the version file, its
// rules, and the checker thread that asks once a day.
#pragma once

#include "platform/unique_handle.h"
#include "platform/url_fetcher.h"
#include "platform/utf8_text.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

class BackgroundFetch;

// A version file is a few lines; anything longer is not one.
inline constexpr size_t kVersionFileMaxBytes = 64 * 1024;
// Every valid version file contains this text.
inline constexpr std::wstring_view kVersionFileMarker = L"ombrix_updatevalidsig";
inline constexpr DWORD kUpdateCheckIntervalMs = 24 * 60 * 60 * 1000;

// "Tarnwick/" and the program's version, sent with every request.
[[nodiscard]] std::wstring UpdateUserAgent();

// The fetcher of every update download: the system's, with the user agent above.
[[nodiscard]] std::shared_ptr<UrlFetcher> MakeUpdateFetcher();

// The version file's URL: the version directory, or its "beta/" subdirectory.
[[nodiscard]] std::wstring VersionFileUrl(bool beta);

// The version text of a version file: its first line, when the body (up to
// its first NUL byte, after a UTF-8 byte-order mark) has a line break, a ".",
// the marker, and at least 21 characters, and the line is four fields of
// digits, each 0-255. Empty when the body is not a valid version file.
[[nodiscard]] std::wstring ParseVersionFile(std::span<const std::byte> body);

// The version text of a finished fetch of the version file, as above.
[[nodiscard]] std::wstring TakeVersionFile(BackgroundFetch& fetch);

// The latest version on the server, or empty when nothing could be learned
// within the version file's limits, or `quitEvent` was set meanwhile.
[[nodiscard]] std::wstring FetchLatestVersion(std::shared_ptr<UrlFetcher> fetcher, bool beta, HANDLE quitEvent);

// Asks at once and then every `intervalMs` until `quitEvent` is set (which
// also ends a check under way); `announceNewer` runs with the packed
// version after each check that found a newer one. `beta` is asked before
// every check.
void RunUpdateChecks(const std::shared_ptr<UrlFetcher>& fetcher, HANDLE quitEvent, DWORD intervalMs,
                     const std::function<bool()>& beta, const std::function<void(uint32_t)>& announceNewer);

// The checker's thread: RunUpdateChecks once a day with the system's
// fetcher, running `announceNewer` with the packed version of each newer
// one. It owns everything it uses (its own handle of the quit event, a copy
// of the announcement), so it may outlive the program's globals while a
// download finishes during the program's exit.
void UpdateCheckerThread(unique_handle quitEvent, const std::function<void(uint32_t)>& announceNewer) noexcept;

// Starts the detached checker thread with its own handle of `quitEvent`;
// nothing when the handle cannot be duplicated or the thread started.
void StartUpdateChecker(HANDLE quitEvent, std::function<void(uint32_t)> announceNewer);

}  // namespace tarnwick
