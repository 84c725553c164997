#include "topology/core_map.h"

#include "platform/system_records.h"
#include "platform/win32_system.h"

#include <bit>
#include <cstring>

namespace tarnwick {

ProcessorRelationships ParseProcessorRelationships(std::span<const std::byte> report) {
  ProcessorRelationships result;
  const size_t total = report.size();
  if (total <= kProcessorInformationRecordSize) return result;
  size_t offset = 0;
  do {
    RelationshipRecordHeader header{};
    std::memcpy(&header, report.data() + offset, sizeof(header));
    // A size of 0 would never advance; a record running past the end cannot be read.
    if (header.Size == 0 || header.Size > total - offset) break;
    const std::byte* record = report.data() + offset;
    if (header.Relationship == kRelationProcessorCore && header.Size >= sizeof(ProcessorRelationshipRecord)) {
      ProcessorRelationshipRecord core{};
      std::memcpy(&core, record, sizeof(core));
      result.cores.push_back({core.EfficiencyClass, core.GroupMask[0]});
    } else if (header.Relationship == kRelationNumaNode && header.Size >= sizeof(NumaNodeRelationshipRecord)) {
      NumaNodeRelationshipRecord node{};
      std::memcpy(&node, record, offsetof(NumaNodeRelationshipRecord, GroupMasks));
      // Older Windows leave the group count reserved (0): one embedded affinity.
      const size_t declared = node.GroupCount == 0 ? 1 : node.GroupCount;
      const size_t held = (header.Size - offsetof(NumaNodeRelationshipRecord, GroupMasks)) / sizeof(GROUP_AFFINITY);
      NumaNodeRecord entry{node.NodeNumber, {}};
      entry.affinities.resize(std::min(declared, held));
      std::memcpy(entry.affinities.data(), record + offsetof(NumaNodeRelationshipRecord, GroupMasks),
                  entry.affinities.size() * sizeof(GROUP_AFFINITY));
      result.nodes.push_back(std::move(entry));
    }
    offset += header.Size;
  } while (offset + kProcessorInformationRecordSize < total);
  return result;
}

ProcessorRelationships QueryProcessorRelationships(TopologyApi& topology) {
  DWORD length = 0;
  DWORD lastError = ERROR_SUCCESS;
  if (topology.GetLogicalProcessorInformationEx(RelationAll, nullptr, length, lastError) ||
      lastError != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  std::vector<std::byte> buffer(length);
  if (!topology.GetLogicalProcessorInformationEx(RelationAll, buffer.data(), length, lastError)) return {};
  return ParseProcessorRelationships(std::span(buffer).first(std::min<size_t>(length, buffer.size())));
}

CoreMap::CoreMap() : CoreMap(Win32TopologyApi()) {}

CoreMap::CoreMap(TopologyApi& topology) : CoreMap(topology, QueryProcessorRelationships(topology)) {}

CoreMap::CoreMap(TopologyApi& topology, const ProcessorRelationships& relationships) : topology_(&topology) {
  Add(relationships);
}

void CoreMap::Add(const ProcessorRelationships& relationships) {
  for (const ProcessorCoreRecord& core : relationships.cores) {
    for (int32_t bit = 0; bit < 64; ++bit) {
      if ((core.affinity.Mask >> bit) & 1) {
        efficiencyClasses_[{static_cast<int32_t>(core.affinity.Group), bit}] = core.efficiencyClass;
      }
    }
    highestEfficiencyClass_ = std::max<uint32_t>(highestEfficiencyClass_, core.efficiencyClass);
  }
  for (const NumaNodeRecord& node : relationships.nodes) {
    auto& list = numaNodes_[node.nodeNumber];
    list.insert(list.end(), node.affinities.begin(), node.affinities.end());
  }
}

bool CoreMap::IsEfficiencyCore(int32_t group, int32_t number) const {
  auto it = efficiencyClasses_.find({group, number});
  return it != efficiencyClasses_.end() && it->second < highestEfficiencyClass_;
}

uint64_t CoreMap::PerformanceCoreMask() const {
  uint64_t mask = 0;
  // The count is asked again at every step, as processors may come and go;
  // group 0 never holds more than 64, the bound keeps the shift defined.
  for (DWORD i = 0; i < topology_->GetActiveProcessorCount(0) && i < 64; ++i) {
    if (!IsEfficiencyCore(0, static_cast<int32_t>(i))) mask |= uint64_t{1} << i;
  }
  return mask;
}

uint32_t CoreMap::NodeProcessorCount(uint32_t node) const {
  auto it = numaNodes_.find(node);
  if (it == numaNodes_.end()) return 0;
  uint32_t count = 0;
  for (const GROUP_AFFINITY& affinity : it->second) count += static_cast<uint32_t>(std::popcount(affinity.Mask));
  return count;
}

bool CoreMap::NodeProcessorAt(uint32_t node, int32_t n, int32_t& group, int32_t& number) const {
  group = 0;
  number = 0;
  auto it = numaNodes_.find(node);
  if (it == numaNodes_.end() || n < 0) return false;
  for (const GROUP_AFFINITY& affinity : it->second) {
    for (int32_t bit = 0; bit < 64; ++bit) {
      if (((affinity.Mask >> bit) & 1) == 0) continue;
      if (n == 0) {
        group = affinity.Group;
        number = bit;
        return true;
      }
      --n;
    }
  }
  return false;
}

}  // namespace tarnwick
