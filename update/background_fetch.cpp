#include "update/background_fetch.h"

#include "platform/detached_thread.h"

#include <algorithm>

namespace tarnwick {
namespace {

constexpr DWORD kPaceCheckMs = 250;

}  // namespace

FetchJob FetchJobOf(std::shared_ptr<UrlFetcher> fetcher, std::wstring url, size_t max_bytes) {
  return [fetcher = std::move(fetcher), url = std::move(url), max_bytes](FetchControl& control) {
    return fetcher->Fetch(url, max_bytes, control);
  };
}

bool DownloadPace::Acceptable(uint64_t now_ms, size_t received, size_t expected) noexcept {
  if (now_ms - start_ms_ > limits_.overall_ms) return false;
  // Every whole window since the last judgement, judged together: a look
  // that comes late must not ask one window for the bytes of several.
  const uint64_t windows = (now_ms - window_start_ms_) / limits_.window_ms;
  if (windows == 0) return true;
  size_t needed = static_cast<size_t>(windows) * limits_.window_min_bytes;
  // Near its end a body has less than that left to send.
  if (expected > window_start_bytes_) needed = std::min(needed, expected - window_start_bytes_);
  if (received < window_start_bytes_ || received - window_start_bytes_ < needed) return false;
  window_start_ms_ += windows * limits_.window_ms;
  window_start_bytes_ = received;
  return true;
}

BackgroundFetch::BackgroundFetch(FetchJob job, DownloadLimits limits, CheckJob check)
    : pace_(limits, ::GetTickCount64()) {
  if (!shared_->finished) {
    outcome_ = Outcome::Failed;
    return;
  }
  const bool started =
      StartDetachedThread([shared = shared_, job = std::move(job), check = std::move(check)]() noexcept {
    std::optional<std::vector<std::byte>> body;
    try {
      body = job(shared->control);
      if (body && check && !shared->control.Cancelled()) {
        shared->control.BeginChecking();
        check(*body);
      }
    } catch (const std::bad_alloc&) {
      // A body the memory cannot hold is no body.
      body.reset();
    }
    {
      const std::lock_guard lock(shared->lock);
      shared->body = std::move(body);
    }
    ::SetEvent(shared->finished.get());
  });
  if (!started) outcome_ = Outcome::Failed;
}

BackgroundFetch::~BackgroundFetch() { shared_->control.Cancel(); }

void BackgroundFetch::Cancel() {
  shared_->control.Cancel();
  if (outcome_ == Outcome::Running) outcome_ = Outcome::Cancelled;
}

BackgroundFetch::Outcome BackgroundFetch::Poll() {
  if (outcome_ != Outcome::Running) return outcome_;
  if (::WaitForSingleObject(shared_->finished.get(), 0) == WAIT_OBJECT_0) {
    const std::lock_guard lock(shared_->lock);
    outcome_ = shared_->body ? Outcome::Done : Outcome::Failed;
  } else if (!Checking() && !pace_.Acceptable(::GetTickCount64(), Received(), Expected())) {
    shared_->control.Cancel();
    outcome_ = Outcome::TooSlow;
  }
  return outcome_;
}

BackgroundFetch::Outcome BackgroundFetch::Wait(HANDLE quit_event) {
  while (Poll() == Outcome::Running) {
    const HANDLE events[] = {shared_->finished.get(), quit_event};
    const DWORD count = quit_event != nullptr ? 2 : 1;
    if (::WaitForMultipleObjects(count, events, FALSE, kPaceCheckMs) == WAIT_OBJECT_0 + 1) Cancel();
  }
  return outcome_;
}

std::optional<std::vector<std::byte>> BackgroundFetch::TakeBody() {
  if (outcome_ != Outcome::Done) return std::nullopt;
  const std::lock_guard lock(shared_->lock);
  return std::exchange(shared_->body, std::nullopt);
}

}  // namespace tarnwick
