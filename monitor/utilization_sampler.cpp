#include "monitor/utilization_sampler.h"

#include <algorithm>
#include <cwchar>
#include <system_error>

#include "topology/core_map.h"

namespace tarnwick {

namespace {

// The kernel reports the processors of one group, at most 64.
constexpr size_t kGroupProcessors = 64;

std::wstring CounterPath(const wchar_t* format, uint32_t node, uint32_t k) {
  wchar_t path[128] = {};
  const int length = std::swprintf(path, std::size(path), format, node, k);
  return length < 0 ? std::wstring() : std::wstring(path, static_cast<size_t>(length));
}

void Store(std::atomic<int32_t>& entry, int32_t value) noexcept { entry.store(value, std::memory_order_relaxed); }

}  // namespace

std::wstring UtilityCounterPath(uint32_t node, uint32_t k) {
  return CounterPath(L"\\Processor Information(%u,%u)\\%% Processor Utility", node, k);
}

std::wstring ProcessorTimeCounterPath(uint32_t node, uint32_t k) {
  return CounterPath(L"\\Processor Information(%u,%u)\\%% Processor Time", node, k);
}

std::wstring ParkingStatusCounterPath(uint32_t node, uint32_t k) {
  return CounterPath(L"\\Processor Information(%u,%u)\\Parking Status", node, k);
}

int32_t BusyPercent(const ProcessorTimes& before, const ProcessorTimes& after) noexcept {
  // Kernel time includes idle time. Counters that went backwards count as no time.
  const uint64_t totalBefore = before.kernel + before.user;
  const uint64_t totalAfter = after.kernel + after.user;
  if (totalAfter <= totalBefore) return NoValue;
  const uint64_t total = totalAfter - totalBefore;
  const uint64_t idle = after.idle > before.idle ? std::min(after.idle - before.idle, total) : 0;
  const uint64_t busy = total - idle;
  return static_cast<int32_t>((busy * 100 + total / 2) / total);
}

SampleCollector::SampleCollector(CounterSource& source, TopologyApi& topology)
    : source_(source), query_(source), previous_times_(kGroupProcessors), current_times_(kGroupProcessors) {
  // Kept only once opened: a failed open leaves nothing to close.
  if (PDH_HQUERY opened = nullptr; source_.OpenQuery(opened)) *query_.put() = opened;
  const CoreMap coreMap(topology);
  ULONG highestNode = 0;
  if (!topology.GetNumaHighestNodeNumber(highestNode)) highestNode = 0;
  for (uint32_t node = 0; node <= highestNode; ++node) {
    const uint32_t count = coreMap.NodeProcessorCount(node);
    auto& nodeUsageCounters = UsageCounters.emplace_back();
    auto& nodeParkingCounters = ParkingCounters.emplace_back();
    usage_.emplace_back(count);
    parking_.emplace_back(count);
    for (uint32_t k = 0; k < count; ++k) {
      Store(usage_[node][k], NoValue);
      Store(parking_[node][k], NoValue);
      PDH_HCOUNTER counter = nullptr;
      auto add = [&](const std::wstring& path) {
        counter = nullptr;
        return query_ && source_.AddEnglishCounter(query_.get(), path.c_str(), counter);
      };
      if (add(UtilityCounterPath(node, k)) || add(ProcessorTimeCounterPath(node, k))) {
        nodeUsageCounters.emplace_back(source_, counter);
      } else {
        nodeUsageCounters.emplace_back();
        int32_t group = 0, number = 0;
        if (coreMap.NodeProcessorAt(node, static_cast<int32_t>(k), group, number) && group <= 0 && number >= 0 &&
            static_cast<size_t>(number) < kGroupProcessors) {
          kernel_readers_.push_back({node, k, static_cast<uint32_t>(number)});
        }
      }
      nodeParkingCounters.emplace_back();
      if (add(ParkingStatusCounterPath(node, k))) nodeParkingCounters.back() = Counter(source_, counter);
    }
  }
}

SampleCollector::~SampleCollector() {
  for (auto& node : UsageCounters) node.clear();
  for (auto& node : ParkingCounters) node.clear();
  query_.reset();
}

void SampleCollector::CollectSample() noexcept {
  if (query_) (void)source_.CollectQueryData(query_.get());
  auto read = [this](const std::vector<std::vector<Counter>>& counters, SampleTable& table, bool isUsage) {
    for (size_t node = 0; node < counters.size(); ++node) {
      for (size_t k = 0; k < counters[node].size(); ++k) {
        const Counter& counter = counters[node][k];
        // Entries without a counter keep NoValue or the kernel's reading.
        if (!counter) continue;
        long value = 0;
        if (!source_.GetFormattedLongValue(counter.get(), value)) {
          Store(table[node][k], NoValue);
        } else if (isUsage) {
          // A whole percentage; a boosted processor's utility above 100 shows as 100.
          Store(table[node][k], static_cast<int32_t>(std::clamp<long>(value, 0, 100)));
        } else {
          Store(table[node][k], static_cast<int32_t>(value));
        }
      }
    }
  };
  read(UsageCounters, usage_, true);
  read(ParkingCounters, parking_, false);
  if (!kernel_readers_.empty()) CollectKernelTimes();
}

void SampleCollector::CollectKernelTimes() noexcept {
  const size_t count = source_.QueryProcessorTimes(current_times_);
  for (const KernelReader& reader : kernel_readers_) {
    const bool measured = reader.processor < count && reader.processor < previous_count_;
    Store(usage_[reader.node][reader.position],
          measured ? BusyPercent(previous_times_[reader.processor], current_times_[reader.processor]) : NoValue);
  }
  std::swap(previous_times_, current_times_);
  previous_count_ = count;
}

UtilizationSampler::UtilizationSampler(CounterSource& source, TopologyApi& topology)
    : collector_(source, topology),
      SamplerStopEvent(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      // Created set, so that the first collection runs as soon as the thread starts.
      SampleRequestEvent(::CreateEventW(nullptr, FALSE, TRUE, nullptr)) {
  // Without its events the thread could neither wait nor stop.
  if (!SamplerStopEvent || !SampleRequestEvent) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
  SamplerThread = std::thread(&UtilizationSampler::Run, this);
}

UtilizationSampler::~UtilizationSampler() {
  ::SetEvent(SamplerStopEvent.get());
  if (SamplerThread.joinable()) SamplerThread.join();
  SamplerStopEvent.reset();
  SampleRequestEvent.reset();
}

void UtilizationSampler::RequestSample() noexcept { ::SetEvent(SampleRequestEvent.get()); }

void UtilizationSampler::Run() noexcept {
  const HANDLE events[] = {SamplerStopEvent.get(), SampleRequestEvent.get()};
  // Both events reset themselves: requests made during a collection merge
  // into one more; a failed wait ends the thread instead of spinning.
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    collector_.CollectSample();
    ++completed_;
  }
}

}  // namespace tarnwick
