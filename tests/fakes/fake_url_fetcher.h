// A UrlFetcher with scripted answers that records every request.
#pragma once

#include "platform/url_fetcher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnwick {

class FakeUrlFetcher final : public UrlFetcher {
 public:
  struct Request {
    std::wstring url;
    size_t maxBytes = 0;
  };

  // Answers `url` with `body` from now on; a URL without an answer fails.
  void Answer(const std::wstring& url, std::string_view body) {
    const std::lock_guard lock(lock_);
    const auto* bytes = reinterpret_cast<const std::byte*>(body.data());
    answers_[url] = std::vector<std::byte>(bytes, bytes + body.size());
  }

  // Makes every fetch of `url` fail, giving `step` and `code` as its cause.
  void Fail(const std::wstring& url, const wchar_t* step, unsigned long code, bool httpStatus = false) {
    const std::lock_guard lock(lock_);
    failures_[url] = FetchControl::Failure{step, code, httpStatus};
  }

  // Makes every fetch of `url` hang, as a silent server does, until its
  // control is cancelled.
  void Hang(const std::wstring& url) {
    const std::lock_guard lock(lock_);
    hanging_.push_back(url);
  }

  [[nodiscard]] std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t maxBytes,
                                                            FetchControl& control) override {
    std::unique_lock lock(lock_);
    requests_.push_back({url, maxBytes});
    if (std::find(hanging_.begin(), hanging_.end(), url) != hanging_.end()) {
      ++hangingNow_;
      lock.unlock();
      while (!control.Cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --hangingNow_;
      return std::nullopt;
    }
    if (const auto failure = failures_.find(url); failure != failures_.end()) {
      control.Fail(failure->second.step, failure->second.code, failure->second.httpStatus);
      return std::nullopt;
    }
    const auto answer = answers_.find(url);
    if (answer == answers_.end() || answer->second.empty() || answer->second.size() > maxBytes) return std::nullopt;
    return answer->second;
  }

  // Fetches hanging now; a test waits for 0 before it ends, so that no
  // thread of it outlives it.
  [[nodiscard]] int Hanging() const { return hangingNow_.load(); }

  [[nodiscard]] std::vector<Request> Requests() const {
    const std::lock_guard lock(lock_);
    return requests_;
  }

 private:
  mutable std::mutex lock_;
  std::map<std::wstring, std::vector<std::byte>> answers_;
  std::vector<Request> requests_;
  std::map<std::wstring, FetchControl::Failure> failures_;
  std::vector<std::wstring> hanging_;
  std::atomic<int> hangingNow_{0};
};

}  // namespace tarnwick
