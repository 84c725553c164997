// Whole-body HTTPS GETs, behind a seam so that the update logic can be run
// against scripted answers.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// Shared by a fetch and whoever waits for it, on any threads: the fetch
// reports how far it got and looks, between reads, whether it is to stop.
class FetchControl {
 public:
  void Cancel() noexcept { cancelled_.store(true); }
  [[nodiscard]] bool Cancelled() const noexcept { return cancelled_.load(); }

  // `expected` is the declared length of the body, 0 when none was declared.
  void Report(size_t received, size_t expected) noexcept {
    expected_.store(expected);
    received_.store(received);
  }
  [[nodiscard]] size_t Received() const noexcept { return received_.load(); }
  [[nodiscard]] size_t Expected() const noexcept { return expected_.load(); }

  // The whole body is here and is being checked: no byte is to come.
  void BeginChecking() noexcept { checking_.store(true); }
  [[nodiscard]] bool Checking() const noexcept { return checking_.load(); }

  // Why a fetch that gave no body failed, for diagnostics: the step (a
  // string literal, such as "InternetOpenUrlW") and its Win32 error, or the
  // HTTP status of an answer that was not 200. The first one given stays.
  struct Failure {
    const wchar_t* step = nullptr;  // null: none was given
    unsigned long code = 0;
    bool httpStatus = false;
  };
  void Fail(const wchar_t* step, unsigned long code, bool httpStatus = false) noexcept {
    const std::lock_guard lock(failureLock_);
    if (failure_.step == nullptr) failure_ = {step, code, httpStatus};
  }
  [[nodiscard]] Failure Failed() const noexcept {
    const std::lock_guard lock(failureLock_);
    return failure_;
  }

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> checking_{false};
  std::atomic<size_t> received_{0};
  std::atomic<size_t> expected_{0};
  mutable std::mutex failureLock_;
  Failure failure_;  // guarded by failureLock_
};

class UrlFetcher {
 public:
  UrlFetcher() = default;
  virtual ~UrlFetcher() = default;
  UrlFetcher(const UrlFetcher&) = delete;
  UrlFetcher& operator=(const UrlFetcher&) = delete;

  // The body of a successful (status 200) answer to a GET of the https: URL
  // `url`, or nullopt when there is none: another scheme, no connection,
  // another status, a redirect to another host or scheme, a failed read, an
  // empty body, a body longer than `maxBytes` (nothing of it is kept), or
  // `control` cancelled. Progress is reported to `control` as it arrives,
  // and the cause of a failure (but a cancellation) with control.Fail.
  [[nodiscard]] virtual std::optional<std::vector<std::byte>> Fetch(const std::wstring& url, size_t maxBytes,
                                                                    FetchControl& control) = 0;
};

}  // namespace tarnwick
