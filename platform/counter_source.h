// Where processor usage readings come from: the performance-counter library
// (PDH) and, for processors it has no counter for, the kernel's own
// per-processor times.
#pragma once

#include <windows.h>
#include <pdh.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace tarnwick {

// Idle, kernel and user time of one processor since boot, in 100 ns units.
// Kernel time includes idle time, as the kernel reports it.
struct ProcessorTimes {
  uint64_t idle = 0;
  uint64_t kernel = 0;
  uint64_t user = 0;
};

// Query and counter handles this interface hands out are released through it:
// a counter with RemoveCounter, a query with CloseQuery (CounterQuery and
// Counter below do that). Every call may come from any one thread at a time.
class CounterSource {
 public:
  CounterSource() = default;
  CounterSource(const CounterSource&) = delete;
  CounterSource& operator=(const CounterSource&) = delete;
  virtual ~CounterSource() = default;

  // PdhOpenQueryW(NULL, 0, &query).
  [[nodiscard]] virtual bool OpenQuery(PDH_HQUERY& query) = 0;
  // PdhAddEnglishCounterW(query, path, 0, &counter): the path in English
  // whatever the system's language.
  [[nodiscard]] virtual bool AddEnglishCounter(PDH_HQUERY query, const wchar_t* path, PDH_HCOUNTER& counter) = 0;
  // PdhCollectQueryData(query).
  [[nodiscard]] virtual bool CollectQueryData(PDH_HQUERY query) = 0;
  // PdhGetFormattedCounterValue(counter, PDH_FMT_LONG, NULL, &value): a
  // percentage is capped at 100. False for a null counter or no value yet.
  [[nodiscard]] virtual bool GetFormattedLongValue(PDH_HCOUNTER counter, long& value) = 0;
  virtual void RemoveCounter(PDH_HCOUNTER counter) = 0;
  virtual void CloseQuery(PDH_HQUERY query) = 0;

  // NtQuerySystemInformationEx(SystemProcessorPerformanceInformation, group):
  // the times of the processors of processor group `group`, in processor
  // number order, written to the front of `times`. Where ntdll lacks the Ex
  // form or does not implement it for this class (Wine), the plain call
  // answers for the calling thread's group, and so only for that group. The
  // number written, 0 when the group cannot be read.
  [[nodiscard]] virtual size_t QueryProcessorTimes(WORD group, std::span<ProcessorTimes> times) = 0;
};

// A PDH query owned through its source: CloseQuery on exit.
class CounterQuery {
 public:
  explicit CounterQuery(CounterSource& source) noexcept : source_(&source) {}
  ~CounterQuery() { reset(); }
  CounterQuery(const CounterQuery&) = delete;
  CounterQuery& operator=(const CounterQuery&) = delete;

  [[nodiscard]] PDH_HQUERY get() const noexcept { return query_; }
  explicit operator bool() const noexcept { return query_ != nullptr; }
  PDH_HQUERY* put() noexcept {
    reset();
    return &query_;
  }
  void reset() noexcept {
    if (PDH_HQUERY old = std::exchange(query_, nullptr)) source_->CloseQuery(old);
  }

 private:
  CounterSource* source_;
  PDH_HQUERY query_ = nullptr;
};

// A PDH counter owned through its source: RemoveCounter on exit. Null when
// the counter could not be added.
class Counter {
 public:
  Counter() noexcept = default;
  Counter(CounterSource& source, PDH_HCOUNTER counter) noexcept : source_(&source), counter_(counter) {}
  ~Counter() { reset(); }
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;
  Counter(Counter&& other) noexcept : source_(other.source_), counter_(std::exchange(other.counter_, nullptr)) {}
  Counter& operator=(Counter&& other) noexcept {
    if (this != &other) {
      reset();
      source_ = other.source_;
      counter_ = std::exchange(other.counter_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] PDH_HCOUNTER get() const noexcept { return counter_; }
  explicit operator bool() const noexcept { return counter_ != nullptr; }
  void reset() noexcept {
    if (PDH_HCOUNTER old = std::exchange(counter_, nullptr)) source_->RemoveCounter(old);
  }

 private:
  CounterSource* source_ = nullptr;
  PDH_HCOUNTER counter_ = nullptr;
};

// The PDH and ntdll implementation, one shared instance for the whole run.
[[nodiscard]] CounterSource& Win32CounterSource();

}  // namespace tarnwick
