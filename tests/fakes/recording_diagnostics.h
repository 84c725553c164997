// A diagnostics sink that records what it is sent, installed for its own
// life. Listening until told otherwise; while not listening, any event that
// still arrives is recorded apart, as a fault of its sender.
#pragma once

#include "platform/diagnostics.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tarnwick {

class RecordingDiagnostics final : public DiagnosticsSink {
 public:
  struct Event {
    DiagnosticLevel level;
    std::wstring text;
  };

  RecordingDiagnostics() : installed_(*this) {}

  void SetListening(bool listening) { listening_.store(listening); }

  [[nodiscard]] bool Listening(DiagnosticLevel /*level*/) noexcept override {
    ++questions_;
    return listening_.load();
  }
  void Write(DiagnosticLevel level, const wchar_t* text) noexcept override {
    const std::lock_guard lock(lock_);
    (listening_.load() ? events_ : unasked_).push_back({level, text});
  }

  [[nodiscard]] std::vector<Event> Events() const {
    const std::lock_guard lock(lock_);
    return events_;
  }
  [[nodiscard]] std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> texts;
    for (const Event& event : Events()) texts.push_back(event.text);
    return texts;
  }
  // Events sent while the sink said it was not listening.
  [[nodiscard]] size_t Unasked() const {
    const std::lock_guard lock(lock_);
    return unasked_.size();
  }
  // How often a sender asked whether anyone listens.
  [[nodiscard]] int Questions() const { return questions_.load(); }
  void Clear() {
    const std::lock_guard lock(lock_);
    events_.clear();
    unasked_.clear();
    questions_.store(0);
  }

 private:
  std::atomic<bool> listening_{true};
  std::atomic<int> questions_{0};
  mutable std::mutex lock_;
  std::vector<Event> events_;
  std::vector<Event> unasked_;
  // Last member: uninstalled before the rest goes.
  InstalledDiagnostics installed_;
};

}  // namespace tarnwick
