// The UrlFetcher of the program: WinINet, with the system's proxy settings.
#pragma once

#include "platform/url_fetcher.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// How long a silent server may keep a request waiting. (Not every WinINet
// honours them; the waiting side keeps its own deadline.)
inline constexpr unsigned long kConnectTimeoutMs = 15000;
inline constexpr unsigned long kReceiveTimeoutMs = 30000;
// Redirects followed before a request counts as failed.
inline constexpr int kMaxRedirects = 5;

// Where a redirect from `fromUrl` to `location` (absolute or relative)
// leads, when it may be followed: an https: URL on the same host and port.
// Nullopt for anything else (another host, another port, http:, no URL).
[[nodiscard]] std::optional<std::wstring> SameHostRedirect(const std::wstring& fromUrl, const std::wstring& location);

// A GET of the https: `url` that bypasses the cache and sends `userAgent`;
// the contract is UrlFetcher::Fetch's. Every handle is closed before it
// returns. Safe to call from several threads at once.
[[nodiscard]] std::optional<std::vector<std::byte>> FetchUrlBytes(const std::wstring& url, size_t maxBytes,
                                                                  const std::wstring& userAgent, FetchControl& control);

class WinInetUrlFetcher final : public UrlFetcher {
 public:
  explicit WinInetUrlFetcher(std::wstring userAgent) : userAgent_(std::move(userAgent)) {}
  [[nodiscard]] std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t maxBytes,
                                                            FetchControl& control) override {
    return FetchUrlBytes(url, maxBytes, userAgent_, control);
  }

 private:
  const std::wstring userAgent_;
};

}  // namespace tarnwick
