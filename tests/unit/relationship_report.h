// Processor relationship reports for tests and benchmarks, built record by
// record as GetLogicalProcessorInformationEx(RelationAll) returns them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/system_records.h"

namespace tarnwick {

inline GROUP_AFFINITY Affinity(uint64_t mask, WORD group = 0) { return GROUP_AFFINITY{mask, group, {0, 0, 0}}; }

// Builds a GetLogicalProcessorInformationEx report record by record, in the
// sizes Windows uses: 48 for a core, 80 for a NUMA node, 80 for the closing
// group record.
class RelationshipReport {
 public:
  RelationshipReport& Core(uint8_t efficiencyClass, uint64_t mask, WORD group = 0) {
    ProcessorRelationshipRecord record{};
    record.Relationship = kRelationProcessorCore;
    record.Size = sizeof(record);
    record.EfficiencyClass = efficiencyClass;
    record.GroupCount = 1;
    record.GroupMask[0] = Affinity(mask, group);
    return Append(&record, sizeof(record), sizeof(record));
  }
  RelationshipReport& Node(DWORD node, std::vector<GROUP_AFFINITY> affinities, WORD groupCount, DWORD size = 80) {
    std::vector<std::byte> record(size);
    NumaNodeRelationshipRecord head{};
    head.Relationship = kRelationNumaNode;
    head.Size = size;
    head.NodeNumber = node;
    head.GroupCount = groupCount;
    std::memcpy(record.data(), &head, offsetof(NumaNodeRelationshipRecord, GroupMasks));
    for (size_t i = 0; i < affinities.size() && 32 + 16 * (i + 1) <= size; ++i) {
      std::memcpy(record.data() + 32 + 16 * i, &affinities[i], 16);
    }
    return Append(record.data(), record.size(), size);
  }
  // A record of another kind (cache, package, group) or a damaged one.
  RelationshipReport& Other(DWORD kind, DWORD sizeField, size_t bytes) {
    std::vector<std::byte> record(bytes);
    RelationshipRecordHeader head{kind, sizeField};
    std::memcpy(record.data(), &head, std::min(bytes, sizeof(head)));
    return Append(record.data(), record.size(), bytes);
  }
  // What Windows reports last: the processor group record.
  RelationshipReport& Groups() { return Other(RelationGroup, 80, 80); }

  const std::vector<std::byte>& Bytes() const { return bytes_; }

 private:
  RelationshipReport& Append(const void* data, size_t copied, size_t total) {
    const size_t at = bytes_.size();
    bytes_.resize(at + total);
    std::memcpy(bytes_.data() + at, data, std::min(copied, total));
    return *this;
  }
  std::vector<std::byte> bytes_;
};

}  // namespace tarnwick
