#include "update/background_fetch.h"

#include "platform/detached_thread.h"

#include <algorithm>

namespace tarnwick {
namespace {

constexpr DWORD kPaceCheckMs = 250;

}  // namespace

FetchJob FetchJobOf(std::shared_ptr<UrlFetcher> fetcher, std::wstring url, size_t maxBytes) {
  return [fetcher = std::move(fetcher), url = std::move(url), maxBytes](FetchControl& control) {
    return fetcher->Fetch(url, maxBytes, control);
  };
}

bool DownloadPace::Acceptable(uint64_t nowMs, size_t received, size_t expected) noexcept {
  if (nowMs - startMs_ > limits_.overallMs) return false;
  // Every whole window since the last judgement, judged together: a look
  // that comes late must not ask one window for the bytes of several.
  const uint64_t windows = (nowMs - windowStartMs_) / limits_.windowMs;
  if (windows == 0) return true;
  size_t needed = static_cast<size_t>(windows) * limits_.windowMinBytes;
  // Near its end a body has less than that left to send.
  if (expected > windowStartBytes_) needed = std::min(needed, expected - windowStartBytes_);
  if (received < windowStartBytes_ || received - windowStartBytes_ < needed) return false;
  windowStartMs_ += windows * limits_.windowMs;
  windowStartBytes_ = received;
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

BackgroundFetch::Outcome BackgroundFetch::Wait(HANDLE quitEvent) {
  while (Poll() == Outcome::Running) {
    const HANDLE events[] = {shared_->finished.get(), quitEvent};
    const DWORD count = quitEvent != nullptr ? 2 : 1;
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
