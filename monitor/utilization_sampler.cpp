#include "monitor/utilization_sampler.h"

#include <algorithm>
#include <cwchar>
#include <system_error>

#include "topology/core_map.h"

namespace tarnwick {

namespace {

// The kernel reports the processors of one group at a time, at most 64.
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
  // Kernel time includes idle time. A total or an idle count that went back
  // gives no reading (never 0 % or 100 %).
  const uint64_t totalBefore = before.kernel + before.user;
  const uint64_t totalAfter = after.kernel + after.user;
  if (totalAfter <= totalBefore) return NoValue;
  const uint64_t total = totalAfter - totalBefore;
  if (after.idle < before.idle) return NoValue;
  const uint64_t idle = std::min(after.idle - before.idle, total);
  const uint64_t busy = total - idle;
  return static_cast<int32_t>((busy * 100 + total / 2) / total);
}

SampleCollector::SampleCollector(CounterSource& source, TopologyApi& topology) : source_(source), query_(source) {
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
        // A group of -1 (a report without groups) is group 0.
        if (coreMap.NodeProcessorAt(node, static_cast<int32_t>(k), group, number) && group <= 0xFFFF && number >= 0 &&
            static_cast<size_t>(number) < kGroupProcessors) {
          const size_t groupIndex = KernelGroupIndex(static_cast<WORD>(group < 0 ? 0 : group));
          kernelReaders_.push_back({node, k, groupIndex, static_cast<uint32_t>(number)});
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
  if (!kernelReaders_.empty()) CollectKernelTimes();
}

size_t SampleCollector::KernelGroupIndex(WORD group) {
  for (size_t index = 0; index < kernelGroups_.size(); ++index) {
    if (kernelGroups_[index].group == group) return index;
  }
  GroupTimes& added = kernelGroups_.emplace_back();
  added.group = group;
  added.previous.resize(kGroupProcessors);
  added.current.resize(kGroupProcessors);
  return kernelGroups_.size() - 1;
}

void SampleCollector::CollectKernelTimes() noexcept {
  for (GroupTimes& times : kernelGroups_) times.currentCount = source_.QueryProcessorTimes(times.group, times.current);
  for (const KernelReader& reader : kernelReaders_) {
    const GroupTimes& times = kernelGroups_[reader.groupIndex];
    const bool measured = reader.processor < times.currentCount && reader.processor < times.previousCount;
    Store(usage_[reader.node][reader.position],
          measured ? BusyPercent(times.previous[reader.processor], times.current[reader.processor]) : NoValue);
  }
  for (GroupTimes& times : kernelGroups_) {
    std::swap(times.previous, times.current);
    times.previousCount = times.currentCount;
  }
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
