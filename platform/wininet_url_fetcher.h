// The UrlFetcher of the program: WinINet, with the system's proxy settings.
#pragma once

#include "platform/url_fetcher.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// How long a silent server may keep a request waiting.
inline constexpr unsigned long kConnectTimeoutMs = 15000;
inline constexpr unsigned long kReceiveTimeoutMs = 30000;

// A GET of `url` (any scheme WinINet knows) that bypasses the cache and sends
// `user_agent`; the contract is UrlFetcher::Fetch's. Every handle is closed
// before it returns. Safe to call from several threads at once.
[[nodiscard]] std::optional<std::vector<std::byte>> FetchUrlBytes(const std::wstring& url, size_t max_bytes,
                                                                  const std::wstring& user_agent);

class WinInetUrlFetcher final : public UrlFetcher {
 public:
  explicit WinInetUrlFetcher(std::wstring user_agent) : user_agent_(std::move(user_agent)) {}
  [[nodiscard]] std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t max_bytes) override {
    return FetchUrlBytes(url, max_bytes, user_agent_);
  }

 private:
  const std::wstring user_agent_;
};

}  // namespace tarnwick
