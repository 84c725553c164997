#include "topology/core_map.h"
#include "topology/cpu_set_inventory.h"

#include "tests/fakes/fake_system.h"
#include "platform/system_records.h"
#include "platform/win32_system.h"
#include "tests/unit/relationship_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::set<int> EfficiencyCoresOfGroup0(const CoreMap& map) {
  std::set<int> cores;
  for (int i = 0; i < 64; ++i) {
    if (map.IsEfficiencyCore(0, i)) cores.insert(i);
  }
  return cores;
}

std::set<int> Range(int first, int last) {
  std::set<int> values;
  for (int i = first; i <= last; ++i) values.insert(i);
  return values;
}

TEST(CoreMap, ClassifiesRealisticReports) {
  struct Case {
    const char* what;
    RelationshipReport report;
    DWORD active;
    uint32_t highest;
    std::set<int> efficiencyCores;
    uint64_t performanceMask;
  };
  auto hybrid = [] {
    RelationshipReport report;
    for (int core = 0; core < 8; ++core) report.Core(1, uint64_t{3} << (2 * core));
    for (int core = 16; core < 24; ++core) report.Core(0, uint64_t{1} << core);
    return report.Node(0, {Affinity(0xFFFFFF)}, 1).Other(RelationCache, 56, 56).Groups();
  };
  auto threeClasses = [] {
    return RelationshipReport().Core(2, 0x3).Core(1, 0xC).Core(0, 0x10).Core(0, 0x20).Groups();
  };
  auto uniform = [] {
    RelationshipReport report;
    for (int core = 0; core < 8; ++core) report.Core(0, uint64_t{3} << (2 * core));
    return report.Node(0, {Affinity(0xFFFF)}, 1).Groups();
  };
  auto unnamedProcessor = [] { return RelationshipReport().Core(1, 0x3).Core(0, 0x4).Groups(); };
  auto otherGroups = [] { return RelationshipReport().Core(0, 0x3).Core(1, 0x3, 1).Core(1, 0xC, 1).Groups(); };
  const Case cases[] = {
      {"8 P-cores with two threads and 8 E-cores", hybrid(), 24, 1, Range(16, 23), 0xFFFF},
      {"three classes: only the highest is P", threeClasses(), 6, 2, Range(2, 5), 0x3},
      {"non-hybrid 16 threads", uniform(), 16, 0, {}, 0xFFFF},
      {"an active processor named by no core record is P", unnamedProcessor(), 4, 1, {2}, 0xB},
      {"group 1 P-cores never enter the mask", otherGroups(), 2, 1, {0, 1}, 0x0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem topology;
    topology.relationshipReport = c.report.Bytes();
    topology.activeProcessorCount = c.active;
    const CoreMap map(topology);
    EXPECT_EQ(map.HighestEfficiencyClass(), c.highest);
    EXPECT_EQ(EfficiencyCoresOfGroup0(map), c.efficiencyCores);
    EXPECT_EQ(map.PerformanceCoreMask(), c.performanceMask);
  }
}

TEST(CoreMap, QueriesTheReportInTwoCallsAndFallsBackToAllActiveProcessors) {
  FakeSystem topology;
  topology.relationshipReport = RelationshipReport().Core(1, 0x1).Core(0, 0x2).Groups().Bytes();
  topology.activeProcessorCount = 2;
  const CoreMap map(topology);
  EXPECT_THAT(topology.CallsStartingWith("GetLogicalProcessorInformationEx"),
              ElementsAre("GetLogicalProcessorInformationEx 0xffff 0", "GetLogicalProcessorInformationEx 0xffff 176"));
  EXPECT_EQ(map.PerformanceCoreMask(), 0x1u);

  FakeSystem failing;
  failing.relationshipReportFails = true;
  failing.activeProcessorCount = 4;
  const CoreMap empty(failing);
  EXPECT_THAT(empty.EfficiencyClassTable(), IsEmpty());
  EXPECT_THAT(empty.NumaNodeTable(), IsEmpty());
  EXPECT_EQ(empty.PerformanceCoreMask(), 0xFu);
}

TEST(CoreMap, PerformanceCoreMaskAsksTheActiveCountAtEveryStep) {
  struct Case {
    DWORD active;
    uint64_t mask;
  };
  for (const Case& c : {Case{4, 0xF}, Case{64, ~uint64_t{0}}}) {
    SCOPED_TRACE(c.active);
    FakeSystem topology;
    topology.relationshipReportFails = true;
    topology.activeProcessorCount = c.active;
    const CoreMap map(topology);
    EXPECT_EQ(map.PerformanceCoreMask(), c.mask);
    // Once before every processor and once more to end the walk.
    EXPECT_EQ(topology.CountCalls("GetActiveProcessorCount 0"), c.active + 1);
  }
}

TEST(CoreMap, NumaNodesCollectTheirAffinitiesInReportOrder) {
  FakeSystem topology;
  topology.relationshipReport = RelationshipReport()
                                    .Core(0, 0xFF)
                                    .Node(0, {Affinity(0x0F)}, 0)  // older form: one embedded affinity
                                    .Node(1, {Affinity(0xF0), Affinity(0x3, 1)}, 2)
                                    .Node(0, {Affinity(0x100)}, 1)
                                    .Groups()
                                    .Bytes();
  topology.activeProcessorCount = 8;
  const CoreMap map(topology);
  EXPECT_EQ(map.NodeProcessorCount(0), 5u);
  EXPECT_EQ(map.NodeProcessorCount(1), 6u);
  EXPECT_EQ(map.NodeProcessorCount(7), 0u);
  int32_t group = -1, number = -1;
  EXPECT_TRUE(map.NodeProcessorAt(0, 0, group, number));
  EXPECT_EQ(std::make_pair(group, number), std::make_pair(0, 0));
  EXPECT_TRUE(map.NodeProcessorAt(0, 4, group, number));
  EXPECT_EQ(std::make_pair(group, number), std::make_pair(0, 8));
  EXPECT_TRUE(map.NodeProcessorAt(1, 5, group, number));
  EXPECT_EQ(std::make_pair(group, number), std::make_pair(1, 1));
  EXPECT_FALSE(map.NodeProcessorAt(1, 6, group, number));
  EXPECT_EQ(std::make_pair(group, number), std::make_pair(0, 0));
  EXPECT_FALSE(map.NodeProcessorAt(9, 0, group, number));
}

TEST(CoreMap, WalkStaysInsideTheReport) {
  struct Case {
    const char* what;
    std::vector<std::byte> report;
    size_t cores;
    std::vector<size_t> nodeAffinities;
  };
  auto with = [](const RelationshipReport& report) { return report.Bytes(); };
  const Case cases[] = {
      {"a report of 80 bytes or less examines nothing", with(RelationshipReport().Core(1, 0x1)), 0, {}},
      {"a record of size 0 ends the walk",
       with(RelationshipReport().Core(1, 0x1).Other(RelationCache, 0, 56).Core(0, 0x2).Groups()),
       1,
       {}},
      {"a record running past the end is not read",
       with(RelationshipReport().Core(1, 0x1).Core(1, 0x2).Other(RelationProcessorCore, 400, 90)),
       2,
       {}},
      {"a truncated record is not read",
       [] {
         std::vector<GROUP_AFFINITY> five(5, Affinity(1));
         auto bytes = RelationshipReport().Core(1, 0x1).Node(0, five, 5, 112).Bytes();
         bytes.resize(48 + 90);  // the node record claims 112 bytes, 90 remain
         return bytes;
       }(),
       1,
       {}},
      {"a NUMA group count beyond its record is limited to what it holds",
       with(RelationshipReport().Core(1, 0x1).Node(0, {Affinity(1), Affinity(2), Affinity(4)}, 500, 80).Groups()),
       1,
       {3}},
      {"a core record too short for its affinity is skipped",
       with(RelationshipReport().Other(RelationProcessorCore, 40, 40).Core(1, 0x1).Groups()),
       1,
       {}},
      {"the last record starting 80 bytes or less before the end is not examined",
       with(RelationshipReport().Core(1, 0x1).Core(1, 0x2).Core(1, 0x4)),
       2,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ProcessorRelationships parsed = ParseProcessorRelationships(c.report);
    EXPECT_EQ(parsed.cores.size(), c.cores);
    std::vector<size_t> nodeAffinities;
    for (const auto& node : parsed.nodes) nodeAffinities.push_back(node.affinities.size());
    EXPECT_EQ(nodeAffinities, c.nodeAffinities);
  }
}

// GetSystemCpuSetInformation records of 32 bytes.
std::vector<std::byte> CpuSetReport(const std::vector<CpuSetInformationRecord>& records) {
  std::vector<std::byte> bytes(records.size() * sizeof(CpuSetInformationRecord));
  std::memcpy(bytes.data(), records.data(), bytes.size());
  return bytes;
}

CpuSetInformationRecord CpuSet(DWORD id, WORD group, BYTE index, DWORD type = 0, DWORD size = 32) {
  CpuSetInformationRecord record{};
  record.Size = size;
  record.Type = type;
  record.Id = id;
  record.Group = group;
  record.LogicalProcessorIndex = index;
  return record;
}

std::vector<CpuSetInformationRecord> EightProcessors() {
  std::vector<CpuSetInformationRecord> records;
  for (BYTE i = 0; i < 8; ++i) records.push_back(CpuSet(256 + i, 0, i));
  return records;
}

TEST(CpuSetInventory, ConvertsAffinitiesToIdsInListAndBitOrder) {
  FakeSystem topology;
  auto records = EightProcessors();
  records.push_back(CpuSet(300, 1, 0));
  topology.cpuSetReport = CpuSetReport(records);
  CpuSetInventory inventory;
  std::vector<ULONG> ids;
  EXPECT_TRUE(inventory.CpuSetIdsFor(topology, true, {Affinity(0xF0)}, ids));
  EXPECT_THAT(ids, ElementsAre(260, 261, 262, 263));
  ids.clear();
  // Bit 9 names no processor; group 1's Ids come after group 0's.
  EXPECT_TRUE(inventory.CpuSetIdsFor(topology, true, {Affinity(0x201), Affinity(0x1, 1)}, ids));
  EXPECT_THAT(ids, ElementsAre(256, 300));
  EXPECT_EQ(topology.CountCalls("GetSystemCpuSetInformation"), 2u) << "built once, then never asked again";
}

TEST(CpuSetInventory, WalkRules) {
  struct Case {
    const char* what;
    std::vector<std::byte> report;
    std::vector<uint32_t> ids;
  };
  auto truncated = CpuSetReport({CpuSet(256, 0, 0)});
  truncated.resize(31);
  const Case cases[] = {
      {"shorter than one record", truncated, {}},
      {"size 0 ends the walk", CpuSetReport({CpuSet(256, 0, 0), CpuSet(257, 0, 1, 0, 0), CpuSet(258, 0, 2)}), {256}},
      {"other types are skipped",
       CpuSetReport({CpuSet(256, 0, 0), CpuSet(999, 0, 1, 7), CpuSet(258, 0, 2)}),
       {256, 258}},
      {"a larger record size is stepped over",
       CpuSetReport({CpuSet(256, 0, 0, 0, 64), CpuSet(0, 0, 0, 9), CpuSet(258, 0, 2)}),
       {256, 258}},
      {"a record size past the end stops", CpuSetReport({CpuSet(256, 0, 0, 0, 0xFFFFFFF0), CpuSet(257, 0, 1)}), {256}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint32_t> ids;
    for (const CpuSetRecord& record : ParseCpuSetReport(c.report)) ids.push_back(record.id);
    EXPECT_EQ(ids, c.ids);
  }
}

TEST(CpuSetInventory, BuildsNothingWithoutTheFunctionsOrTheReport) {
  FakeSystem topology;
  topology.cpuSetReport = CpuSetReport(EightProcessors());
  CpuSetInventory inventory;
  std::vector<ULONG> ids;
  EXPECT_TRUE(inventory.CpuSetIdsFor(topology, false, {Affinity(0xFF)}, ids));
  EXPECT_THAT(ids, IsEmpty());
  EXPECT_EQ(topology.CountCalls("GetSystemCpuSetInformation"), 0u);

  FakeSystem emptyReport;
  inventory.Build(emptyReport, true);
  inventory.Build(emptyReport, true);
  EXPECT_THAT(inventory.CpuSetIdTable(), IsEmpty());
  EXPECT_EQ(emptyReport.CountCalls("GetSystemCpuSetInformation"), 2u) << "a failed build is tried again";
}

// This machine under Wine: one efficiency class, CPU set Ids from 256.
TEST(Win32Topology, ReportsEveryActiveProcessorAsPerformanceCore) {
  const CoreMap map(Win32TopologyApi());
  const DWORD active = ::GetActiveProcessorCount(0);
  ASSERT_GT(active, 0u);
  EXPECT_THAT(EfficiencyCoresOfGroup0(map), IsEmpty());
  EXPECT_EQ(map.PerformanceCoreMask(), active >= 64 ? ~uint64_t{0} : (uint64_t{1} << active) - 1);
  EXPECT_EQ(map.EfficiencyClassTable().size(), active);
  EXPECT_EQ(map.NodeProcessorCount(0), active);

  ULONG length = 0;
  DWORD error = 0;
  ASSERT_FALSE(Win32TopologyApi().GetSystemCpuSetInformation(nullptr, 0, length, error));
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<std::byte> report(length);
  ASSERT_TRUE(Win32TopologyApi().GetSystemCpuSetInformation(report.data(), length, length, error));
  const auto records = ParseCpuSetReport(report);
  ASSERT_EQ(records.size(), active);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].logicalProcessorIndex, i);
    EXPECT_EQ(records[i].id, 256 + i);
  }
}

}  // namespace
}  // namespace tarnwick
