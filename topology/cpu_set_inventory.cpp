#include "topology/cpu_set_inventory.h"

#include "platform/system_records.h"

#include <cstring>

namespace tarnwick {

std::vector<CpuSetRecord> ParseCpuSetReport(std::span<const std::byte> report) {
  constexpr size_t kRecordSize = sizeof(CpuSetInformationRecord);
  std::vector<CpuSetRecord> records;
  if (report.size() < kRecordSize) return records;
  size_t offset = 0;
  do {
    // offset + 32 <= size here, so the whole fixed record is inside the report.
    CpuSetInformationRecord record{};
    std::memcpy(&record, report.data() + offset, kRecordSize);
    if (record.Size == 0) break;
    if (record.Type == kCpuSetInformationType) {
      records.push_back({record.Id, record.Group, record.LogicalProcessorIndex});
    }
    offset += record.Size;
  } while (offset <= report.size() && report.size() - offset >= kRecordSize);
  return records;
}

void CpuSetInventory::Build(TopologyApi& topology, bool functionsPresent) {
  if (!table_.empty() || !functionsPresent) return;
  ULONG length = 0;
  DWORD lastError = ERROR_SUCCESS;
  if (topology.GetSystemCpuSetInformation(nullptr, 0, length, lastError) || lastError != ERROR_INSUFFICIENT_BUFFER ||
      length == 0) {
    return;
  }
  std::vector<std::byte> buffer(length);
  ULONG returned = 0;
  if (!topology.GetSystemCpuSetInformation(buffer.data(), length, returned, lastError)) return;
  for (const CpuSetRecord& record : ParseCpuSetReport(std::span(buffer).first(std::min<size_t>(returned, length)))) {
    table_[{record.group, record.logicalProcessorIndex}] = record.id;
  }
}

bool CpuSetInventory::CpuSetIdsFor(TopologyApi& topology, bool functionsPresent,
                                   const std::vector<GROUP_AFFINITY>& affinities, std::vector<ULONG>& ids) {
  Build(topology, functionsPresent);
  for (const GROUP_AFFINITY& affinity : affinities) {
    for (int32_t bit = 0; bit < 64; ++bit) {
      if (((affinity.Mask >> bit) & 1) == 0) continue;
      auto it = table_.find({static_cast<int32_t>(affinity.Group), bit});
      if (it != table_.end()) ids.push_back(it->second);
    }
  }
  return true;
}

}  // namespace tarnwick
