// The utilization sampler: how busy every logical processor is and whether
// the system has parked it, read from the "Processor Information" counters
// on a thread of its own whenever the main window's timer asks.
//
// Both tables are indexed by NUMA node (0 to the highest node number, also a
// node without processors) and by the processor's position within its node,
// in the order of the node's affinity masks. Their shape is fixed when the
// sampler is made; the sampler thread writes whole 32-bit entries while the
// user-interface thread reads them.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/counter_source.h"
#include "platform/topology_api.h"
#include "platform/unique_handle.h"

namespace tarnwick {

// A usage or parking entry for which no reading exists.
inline constexpr int32_t NoValue = -1;

using SampleTable = std::vector<std::vector<std::atomic<int32_t>>>;

inline int32_t ReadEntry(int32_t entry) noexcept { return entry; }
inline int32_t ReadEntry(const std::atomic<int32_t>& entry) noexcept { return entry.load(std::memory_order_relaxed); }

// The counter paths of the processor at position k of node n.
[[nodiscard]] std::wstring UtilityCounterPath(uint32_t node, uint32_t k);
[[nodiscard]] std::wstring ProcessorTimeCounterPath(uint32_t node, uint32_t k);
[[nodiscard]] std::wstring ParkingStatusCounterPath(uint32_t node, uint32_t k);

// Busy share in whole percent between two readings of one processor's times:
// 100 - idle / (kernel + user), 0 to 100; NoValue when no time passed or a
// count went back.
[[nodiscard]] int32_t BusyPercent(const ProcessorTimes& before, const ProcessorTimes& after) noexcept;

// The counters and tables, without a thread: CollectSample runs on whichever
// thread owns the collector at the time.
class SampleCollector {
 public:
  // Opens the query and adds, per processor, "% Processor Utility", or
  // "% Processor Time" where that is missing, and "Parking Status". A
  // processor for which neither usage counter can be added reads the kernel's
  // times of its processor group instead. Every entry starts as NoValue.
  SampleCollector(CounterSource& source, TopologyApi& topology);
  // Removes the usage counters, then the parking counters, then closes the query.
  ~SampleCollector();
  SampleCollector(const SampleCollector&) = delete;
  SampleCollector& operator=(const SampleCollector&) = delete;

  // One collection: every entry gets the latest reading or NoValue. Allocates nothing.
  void CollectSample() noexcept;

  [[nodiscard]] const SampleTable& UsageTable() const noexcept { return usage_; }
  [[nodiscard]] const SampleTable& ParkingTable() const noexcept { return parking_; }

 private:
  // The kernel's times of one processor group: the last two readings, each
  // room for a whole group, made at construction.
  struct GroupTimes {
    WORD group = 0;
    std::vector<ProcessorTimes> previous;
    std::vector<ProcessorTimes> current;
    size_t previousCount = 0;  // processors of the last reading; 0 before the first
    size_t currentCount = 0;
  };
  // A processor that reads its usage from the kernel's processor times.
  struct KernelReader {
    uint32_t node;
    uint32_t position;
    size_t groupIndex;   // into kernel_groups_
    uint32_t processor;  // number within its group
  };
  // The index of `group`'s times, added when it is new.
  size_t KernelGroupIndex(WORD group);
  void CollectKernelTimes() noexcept;

  CounterSource& source_;
  CounterQuery query_;
  std::vector<std::vector<Counter>> UsageCounters;
  std::vector<std::vector<Counter>> ParkingCounters;
  SampleTable usage_;
  SampleTable parking_;
  std::vector<KernelReader> kernelReaders_;
  std::vector<GroupTimes> kernelGroups_;
};

class UtilizationSampler {
 public:
  // Builds the collector and starts the sampler thread, which collects at once
  // and then once per request. Throws std::system_error when the events or the
  // thread cannot be made.
  UtilizationSampler(CounterSource& source, TopologyApi& topology);
  // Stops and joins the thread, closes the events, then releases the counters.
  ~UtilizationSampler();
  UtilizationSampler(const UtilizationSampler&) = delete;
  UtilizationSampler& operator=(const UtilizationSampler&) = delete;

  // Asks for one collection; requests made while one runs merge into one more.
  void RequestSample() noexcept;

  [[nodiscard]] const SampleTable& UsageTable() const noexcept { return collector_.UsageTable(); }
  [[nodiscard]] const SampleTable& ParkingTable() const noexcept { return collector_.ParkingTable(); }
  // Collections finished so far.
  [[nodiscard]] size_t CompletedCollections() const noexcept { return completed_.load(); }

 private:
  void Run() noexcept;

  SampleCollector collector_;
  unique_handle SamplerStopEvent;
  unique_handle SampleRequestEvent;
  std::atomic<size_t> completed_{0};
  std::thread SamplerThread;
};

}  // namespace tarnwick
