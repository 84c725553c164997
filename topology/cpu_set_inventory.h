// The CPU set Id of every logical processor, from the CPU set report, and the
// conversion of group affinities into the Ids that the CPU set placement takes.
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

struct CpuSetRecord {
  uint32_t id = 0;
  uint16_t group = 0;
  uint8_t logicalProcessorIndex = 0;
};

// Walks a GetSystemCpuSetInformation report: nothing when it is shorter than
// one 32-byte record; stops at a record of size 0; skips records of another
// type; continues while offset + 32 <= size.
[[nodiscard]] std::vector<CpuSetRecord> ParseCpuSetReport(std::span<const std::byte> report);

class CpuSetInventory {
 public:
  using ProcessorKey = std::pair<int32_t, int32_t>;  // (group, logical processor index)

  // Fills the table once from topology's report when functionsPresent (the
  // CPU set functions exist on this Windows); a failed build is tried again
  // at the next call.
  void Build(TopologyApi& topology, bool functionsPresent);
  // Builds, then appends to ids the Id of every set bit of every affinity
  // that the table knows, in list order and ascending bit order. Always true.
  bool CpuSetIdsFor(TopologyApi& topology, bool functionsPresent, const std::vector<GROUP_AFFINITY>& affinities,
                    std::vector<ULONG>& ids);

  [[nodiscard]] const std::map<ProcessorKey, uint32_t>& CpuSetIdTable() const { return table_; }

 private:
  std::map<ProcessorKey, uint32_t> table_;
};

}  // namespace tarnwick
