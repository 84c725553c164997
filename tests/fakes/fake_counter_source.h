// A scripted stand-in for the counter source: the counters a test names can
// be added and yield the values it sets; every other path fails to add, as
// a counter the system does not know. The kernel's processor times are
// scripted too. Calls are recorded in order. Safe to use from the sampler
// thread and the test thread at once.
#pragma once

#include "platform/counter_source.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

class FakeCounterSource final : public CounterSource {
 public:
  // Scripted state; the setters may be called while a sampler runs.
  void SetOpenQueryFails(bool fails);
  // Makes `path` known; it yields `value` (nullopt: no value) until set again.
  void SetCounter(const std::wstring& path, std::optional<long> value);
  // What QueryProcessorTimes reports for `group` from now on (empty: the
  // call fails); the one-argument form sets group 0. A group never set fails.
  void SetProcessorTimes(WORD group, std::vector<ProcessorTimes> times);
  void SetProcessorTimes(std::vector<ProcessorTimes> times) { SetProcessorTimes(0, std::move(times)); }
  // Runs at the start of every CollectQueryData, on the collecting thread,
  // outside the fake's lock (a test may block in it).
  void SetOnCollect(std::function<void()> onCollect);
  // Off for benchmarks: the log then stays empty and costs nothing.
  void SetRecording(bool recording);

  // "Name argument" per call, in call order; paths as narrow text.
  [[nodiscard]] std::vector<std::string> Calls() const;
  [[nodiscard]] size_t CountCalls(std::string_view prefix) const;
  void ClearCalls();
  [[nodiscard]] size_t Collections() const { return collections_.load(); }
  // Queries and counters handed out and not yet released.
  [[nodiscard]] size_t OpenQueries() const;
  [[nodiscard]] size_t OpenCounters() const;

  // CounterSource
  bool OpenQuery(PDH_HQUERY& query) override;
  bool AddEnglishCounter(PDH_HQUERY query, const wchar_t* path, PDH_HCOUNTER& counter) override;
  bool CollectQueryData(PDH_HQUERY query) override;
  bool GetFormattedLongValue(PDH_HCOUNTER counter, long& value) override;
  void RemoveCounter(PDH_HCOUNTER counter) override;
  void CloseQuery(PDH_HQUERY query) override;
  size_t QueryProcessorTimes(WORD group, std::span<ProcessorTimes> times) override;

 private:
  void Record(std::string call);

  mutable std::mutex lock_;
  bool openQueryFails_ = false;
  bool recording_ = true;
  std::map<std::wstring, std::optional<long>> values_;
  std::map<WORD, std::vector<ProcessorTimes>> processorTimes_;  // by group
  std::function<void()> onCollect_;
  std::vector<std::string> calls_;
  std::map<uintptr_t, std::wstring> counters_;  // handed-out counter → its path
  size_t openQueries_ = 0;
  uintptr_t nextHandle_ = 0x1000;
  std::atomic<size_t> collections_{0};
};

}  // namespace tarnwick
