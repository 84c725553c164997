// tarnwick.exe with its process start events fed by a test: Wine reports no
// process starts, so this build reads them from a mailslot (see
// fed_start_events.h) and hands them to the worker exactly where the event
// tracing session would. Everything else is the real program on Wine.
#include <windows.h>

#include "app/startup.h"
#include "platform/unique_handle.h"
#include "tests/e2e/fed_starts/fed_start_events.h"

#include <atomic>
#include <thread>

namespace tarnwick {
namespace {

class MailslotStartSource final : public ProcessStartSource {
 public:
  StartWatchState Start(ProcessStartSink& sink) override {
    if (reader_.joinable()) return StartWatchState::Watching;
    slot_.reset(::CreateMailslotW(FedStartEventsSlot(::GetCurrentProcessId()).c_str(), sizeof(ProcessStartEvent),
                                  MAILSLOT_WAIT_FOREVER, nullptr));
    if (!slot_) {
      sink.OnWatchState(StartWatchState::Unavailable, ::GetLastError());
      return StartWatchState::Unavailable;
    }
    sink_ = &sink;
    stopping_ = false;
    reader_ = std::thread([this] { Read(); });
    sink.OnWatchState(StartWatchState::Watching, ERROR_SUCCESS);
    return StartWatchState::Watching;
  }

  void Stop() noexcept override {
    stopping_ = true;
    if (reader_.joinable()) {
      // A message of its own ends the reader's wait.
      unique_hfile writer(::CreateFileW(FedStartEventsSlot(::GetCurrentProcessId()).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      const char wake = 0;
      DWORD written = 0;
      if (writer && ::WriteFile(writer.get(), &wake, sizeof(wake), &written, nullptr)) {
        reader_.join();
      } else {
        reader_.detach();
      }
    }
    slot_.reset();
    if (sink_ != nullptr) sink_->OnWatchState(StartWatchState::Off, ERROR_SUCCESS);
    sink_ = nullptr;
  }

 private:
  void Read() noexcept {
    while (!stopping_) {
      ProcessStartEvent event;
      DWORD read = 0;
      // A message of another size is not one of ours.
      if (!::ReadFile(slot_.get(), &event, sizeof(event), &read, nullptr)) {
        if (::GetLastError() != ERROR_SEM_TIMEOUT) return;
        continue;
      }
      if (read == sizeof(event) && !stopping_) {
        event.fileName[kStartEventNameCapacity - 1] = L'\0';
        sink_->OnProcessStart(event);
      }
    }
  }

  unique_hfile slot_;
  ProcessStartSink* sink_ = nullptr;
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace
}  // namespace tarnwick

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static tarnwick::MailslotStartSource fed;
  tarnwick::UseProcessStartSource(fed);
  return tarnwick::RunTarnwickFromEntryPoint();
}
