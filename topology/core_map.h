// Which logical processors are performance cores (P-cores) and which are
// efficiency cores (E-cores), and which belong to each NUMA node.
//
// The rule is relative: a processor is an E-core when its efficiency class is
// strictly lower than the highest class reported anywhere on the machine.
#pragma once

#include "platform/topology_api.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace tarnwick {

struct ProcessorCoreRecord {
  uint8_t efficiencyClass = 0;
  GROUP_AFFINITY affinity{};  // the core's first affinity: a core never spans groups
};

struct NumaNodeRecord {
  uint32_t nodeNumber = 0;
  std::vector<GROUP_AFFINITY> affinities;
};

struct ProcessorRelationships {
  std::vector<ProcessorCoreRecord> cores;
  std::vector<NumaNodeRecord> nodes;
};

// Walks a GetLogicalProcessorInformationEx(RelationAll) report. A record is
// examined only while offset + 80 < report size; the walk also ends at a
// record whose size is 0 or that runs past the report, and a NUMA record
// yields no more affinities than it holds (a group count of 0 counts as 1).
[[nodiscard]] ProcessorRelationships ParseProcessorRelationships(std::span<const std::byte> report);

// Queries the report (two calls: size, then content); empty when it cannot be had.
[[nodiscard]] ProcessorRelationships QueryProcessorRelationships(TopologyApi& topology);

class CoreMap {
 public:
  using ProcessorKey = std::pair<int32_t, int32_t>;  // (group, number)

  // Builds from this machine's report.
  CoreMap();
  // Builds from topology's report; topology must outlive the map.
  explicit CoreMap(TopologyApi& topology);

  [[nodiscard]] bool IsEfficiencyCore(int32_t group, int32_t number) const;
  // The P-cores among the active processors of group 0; a processor that no
  // core record names counts as a P-core.
  [[nodiscard]] uint64_t PerformanceCoreMask() const;
  [[nodiscard]] uint32_t NodeProcessorCount(uint32_t node) const;
  [[nodiscard]] bool NodeProcessorAt(uint32_t node, int32_t n, int32_t& group, int32_t& number) const;

  [[nodiscard]] const std::map<ProcessorKey, uint32_t>& EfficiencyClassTable() const { return efficiencyClasses_; }
  [[nodiscard]] uint32_t HighestEfficiencyClass() const { return highestEfficiencyClass_; }
  [[nodiscard]] const std::map<uint32_t, std::vector<GROUP_AFFINITY>>& NumaNodeTable() const { return numaNodes_; }

 private:
  CoreMap(TopologyApi& topology, const ProcessorRelationships& relationships);
  void Add(const ProcessorRelationships& relationships);

  TopologyApi* topology_;
  std::map<ProcessorKey, uint32_t> efficiencyClasses_;
  uint32_t highestEfficiencyClass_ = 0;
  std::map<uint32_t, std::vector<GROUP_AFFINITY>> numaNodes_;
};

}  // namespace tarnwick
