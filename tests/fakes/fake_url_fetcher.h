// A UrlFetcher with scripted answers that records every request.
#pragma once

#include "platform/url_fetcher.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class FakeUrlFetcher final : public UrlFetcher {
 public:
  struct Request {
    std::wstring url;
    size_t max_bytes = 0;
  };

  // Answers `url` with `body` from now on; a URL without an answer fails.
  void Answer(const std::wstring& url, std::string_view body) {
    const std::lock_guard lock(lock_);
    const auto* bytes = reinterpret_cast<const std::byte*>(body.data());
    answers_[url] = std::vector<std::byte>(bytes, bytes + body.size());
  }

  [[nodiscard]] std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t max_bytes) override {
    const std::lock_guard lock(lock_);
    requests_.push_back({url, max_bytes});
    const auto answer = answers_.find(url);
    if (answer == answers_.end() || answer->second.empty() || answer->second.size() > max_bytes) return std::nullopt;
    return answer->second;
  }

  [[nodiscard]] std::vector<Request> Requests() const {
    const std::lock_guard lock(lock_);
    return requests_;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::wstring, std::vector<std::byte>> answers_;
  std::vector<Request> requests_;
};

}  // namespace tarnwick
