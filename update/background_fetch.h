// A download on a thread of its own, with an overall deadline and a minimum
// pace, that its waiter can give up at any moment without waiting for it.
#pragma once

#include "platform/unique_handle.h"
#include "platform/url_fetcher.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

struct DownloadLimits {
  uint64_t overallMs;     // the whole download, from its start
  uint64_t windowMs;      // every window of this length...
  size_t windowMinBytes;  // ...brings at least this much (or the rest of the body)
};
// A server that sends less than 8 KiB in 10 s (under 1 KiB/s) is given up.
inline constexpr DownloadLimits kVersionFileLimits{30'000, 10'000, 8 * 1024};
inline constexpr DownloadLimits kInstallerLimits{10 * 60'000, 10'000, 8 * 1024};

// Whether a download keeps within its limits. Pure: the caller passes the
// clock.
class DownloadPace {
 public:
  DownloadPace(DownloadLimits limits, uint64_t startMs) noexcept
      : limits_(limits), startMs_(startMs), windowStartMs_(startMs) {}
  // `received` bytes so far at `nowMs`, of `expected` (0 when unknown).
  // False once the deadline has passed or a window ended with too little.
  [[nodiscard]] bool Acceptable(uint64_t nowMs, size_t received, size_t expected) noexcept;

 private:
  DownloadLimits limits_;
  uint64_t startMs_;
  uint64_t windowStartMs_;
  size_t windowStartBytes_ = 0;
};

// What fetches the body; it runs on the download's own thread and must own
// everything it uses, as that thread may outlive the waiter.
using FetchJob = std::function<std::optional<std::vector<std::byte>>(FetchControl&)>;

// The job that fetches `url` (at most `maxBytes`) through `fetcher`, which
// it keeps alive.
[[nodiscard]] FetchJob FetchJobOf(std::shared_ptr<UrlFetcher> fetcher, std::wstring url, size_t maxBytes);

// What checks a body on the download's thread once it has arrived whole
// (hashing, certificate chains: too slow for a window's thread); it may take
// the body. Like the job, it owns everything it uses.
using CheckJob = std::function<void(std::vector<std::byte>& body)>;

class BackgroundFetch {
 public:
  enum class Outcome { Running, Done, Failed, TooSlow, Cancelled };

  // `check`, when given, runs after a successful fetch before the download
  // counts as Done; its time is not held against the download's limits.
  BackgroundFetch(FetchJob job, DownloadLimits limits, CheckJob check = {});
  // Cancels a download still running; never waits for its thread.
  ~BackgroundFetch();
  BackgroundFetch(const BackgroundFetch&) = delete;
  BackgroundFetch& operator=(const BackgroundFetch&) = delete;

  // Where the download stands now; judges its pace (a download that keeps
  // too slow is cancelled and reads TooSlow). Never blocks.
  [[nodiscard]] Outcome Poll();
  // Waits until the download ends, becomes too slow, or `quitEvent` is set
  // (then it is cancelled).
  [[nodiscard]] Outcome Wait(HANDLE quitEvent);
  void Cancel();

  [[nodiscard]] size_t Received() const noexcept { return shared_->control.Received(); }
  [[nodiscard]] size_t Expected() const noexcept { return shared_->control.Expected(); }
  // Why a download that ended Failed failed, as its fetch told it.
  [[nodiscard]] FetchControl::Failure Failure() const noexcept { return shared_->control.Failed(); }
  // The body has arrived and the check runs.
  [[nodiscard]] bool Checking() const noexcept { return shared_->control.Checking(); }
  // The body of a download that is Done (once).
  [[nodiscard]] std::optional<std::vector<std::byte>> TakeBody();

 private:
  struct Shared {
    FetchControl control;
    unique_handle finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex lock;
    std::optional<std::vector<std::byte>> body;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  DownloadPace pace_;
  Outcome outcome_ = Outcome::Running;
};

}  // namespace tarnwick
