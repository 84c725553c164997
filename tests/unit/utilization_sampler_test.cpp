// The sampler over a scripted counter source and topology: the tables' shape,
// the counter paths, the choice of source per processor, the values stored,
// the release order, and how the thread merges requests.
#include "monitor/utilization_sampler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/fakes/fake_counter_source.h"
#include "tests/fakes/fake_system.h"
#include "tests/unit/relationship_report.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

std::vector<std::vector<int32_t>> Values(const SampleTable& table) {
  std::vector<std::vector<int32_t>> values;
  for (const auto& node : table) {
    auto& row = values.emplace_back();
    for (const auto& entry : node) row.push_back(ReadEntry(entry));
  }
  return values;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class SamplerTest : public ::testing::Test {
 protected:
  // Nodes by their affinities; all processors are P-cores of one class.
  void Machine(const std::vector<std::pair<DWORD, GROUP_AFFINITY>>& nodes, ULONG highestNode) {
    RelationshipReport report;
    for (const auto& [node, affinity] : nodes) {
      report.Core(0, affinity.Mask, affinity.Group);
      report.Node(node, {affinity}, 1);
    }
    topology_.relationshipReport = report.Groups().Bytes();
    topology_.highestNumaNode = highestNode;
  }
  // Every processor of `count` in node 0 has "% Processor Utility".
  void UtilityCounters(uint32_t node, uint32_t count, std::optional<long> value = std::nullopt) {
    for (uint32_t k = 0; k < count; ++k) counters_.SetCounter(UtilityCounterPath(node, k), value);
  }

  FakeSystem topology_;
  FakeCounterSource counters_;
};

TEST_F(SamplerTest, OneNodeOfSixteenGivesOneRowOfSixteenWithTheCountersInPositionOrder) {
  Machine({{0, Affinity(0xFFFF)}}, 0);
  UtilityCounters(0, 16, 37);
  SampleCollector collector(counters_, topology_);
  ASSERT_EQ(collector.UsageTable().size(), 1u);
  EXPECT_THAT(Values(collector.UsageTable()), ElementsAre(std::vector<int32_t>(16, NoValue)));
  EXPECT_THAT(Values(collector.ParkingTable()), ElementsAre(std::vector<int32_t>(16, NoValue)));

  const std::vector<std::string> adds = [&] {
    std::vector<std::string> calls;
    for (const std::string& call : counters_.Calls()) {
      if (call.rfind("AddEnglishCounter", 0) == 0) calls.push_back(call);
    }
    return calls;
  }();
  ASSERT_EQ(adds.size(), 32u) << "utility and parking for each processor";
  EXPECT_EQ(adds.front(), "AddEnglishCounter \\Processor Information(0,0)\\% Processor Utility");
  EXPECT_EQ(adds[1], "AddEnglishCounter \\Processor Information(0,0)\\Parking Status");
  EXPECT_EQ(adds[30], "AddEnglishCounter \\Processor Information(0,15)\\% Processor Utility");
  EXPECT_EQ(adds.back(), "AddEnglishCounter \\Processor Information(0,15)\\Parking Status");

  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()), ElementsAre(std::vector<int32_t>(16, 37)));
  EXPECT_EQ(counters_.CountCalls("QueryProcessorTimes"), 0u) << "no processor needs the kernel's times";
}

TEST_F(SamplerTest, AnEmptyNodeBetweenTwoKeepsItsPlaceWithNoEntries) {
  Machine({{0, Affinity(0x3)}, {2, Affinity(0xC)}}, 2);
  UtilityCounters(0, 2, 5);
  UtilityCounters(2, 2, 9);
  SampleCollector collector(counters_, topology_);
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()), ElementsAre(ElementsAre(5, 5), IsEmpty(), ElementsAre(9, 9)));
  EXPECT_THAT(Values(collector.ParkingTable()),
              ElementsAre(ElementsAre(NoValue, NoValue), IsEmpty(), ElementsAre(NoValue, NoValue)));
  EXPECT_EQ(counters_.CountCalls("AddEnglishCounter \\Processor Information(2,1)\\% Processor Utility"), 1u);
  EXPECT_EQ(counters_.CountCalls("AddEnglishCounter \\Processor Information(1,"), 0u);
}

// Processor 0: utility (a boosted reading); 1: only processor time; 2 and 3:
// neither, so the kernel's times; node 1 lies in group 1, whose times the
// kernel does not report here. Parking is known for processor 0 only.
TEST_F(SamplerTest, EachProcessorTakesTheFirstSourceItHasAndValuesAreWholePercentsUpTo100) {
  Machine({{0, Affinity(0xF)}, {1, Affinity(0x1, 1)}}, 1);
  counters_.SetCounter(UtilityCounterPath(0, 0), 130);
  counters_.SetCounter(ProcessorTimeCounterPath(0, 1), 42);
  counters_.SetCounter(ProcessorTimeCounterPath(0, 0), 11);  // known too, but utility comes first
  counters_.SetCounter(ParkingStatusCounterPath(0, 0), 1);
  counters_.SetProcessorTimes({{0, 0, 0}, {0, 0, 0}, {100, 100, 0}, {500, 600, 400}});
  SampleCollector collector(counters_, topology_);
  EXPECT_EQ(counters_.CountCalls("AddEnglishCounter \\Processor Information(0,0)\\% Processor Time"), 0u);
  EXPECT_EQ(counters_.CountCalls("AddEnglishCounter \\Processor Information(0,2)\\% Processor Time"), 1u)
      << "the fallback is tried per processor";

  // The kernel's times need two readings.
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()),
              ElementsAre(ElementsAre(100, 42, NoValue, NoValue), ElementsAre(NoValue)));
  EXPECT_THAT(Values(collector.ParkingTable()),
              ElementsAre(ElementsAre(1, NoValue, NoValue, NoValue), ElementsAre(NoValue)));

  // Processor 2: 1000 of time, 250 idle: 75 %. Processor 3: 900 of time, 900 idle: 0 %.
  counters_.SetProcessorTimes({{0, 0, 0}, {0, 0, 0}, {350, 600, 500}, {1400, 1500, 400}});
  counters_.SetCounter(ProcessorTimeCounterPath(0, 1), std::nullopt);
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()), ElementsAre(ElementsAre(100, NoValue, 75, 0), ElementsAre(NoValue)));

  // No time passed, or the kernel's report fails: no reading.
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable())[0], ElementsAre(100, NoValue, NoValue, NoValue));
  counters_.SetProcessorTimes({});
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable())[0], ElementsAre(100, NoValue, NoValue, NoValue));
}

TEST(BusyPercent, IsTheShareOfTimeNotIdleInWholePercent) {
  struct Case {
    ProcessorTimes before, after;
    int32_t busy;
  } cases[] = {
      {{0, 0, 0}, {1000, 1000, 0}, 0},           // all idle
      {{0, 0, 0}, {0, 400, 600}, 100},           // no idle at all
      {{10, 20, 30}, {510, 620, 430}, 50},       // 500 idle of 1000
      {{0, 0, 0}, {333, 1000, 0}, 67},           // 66.7 rounds to 67
      {{0, 0, 0}, {2000, 500, 500}, 0},          // more idle than time: 0, never negative
      {{5, 50, 50}, {5, 50, 50}, NoValue},       // no time passed
      {{0, 900, 900}, {0, 100, 100}, NoValue},   // counters went back
      {{500, 500, 0}, {100, 1500, 0}, NoValue},  // the idle count went back: not 100 %
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BusyPercent(c.before, c.after), c.busy) << c.after.idle << " " << c.after.kernel << " " << c.after.user;
  }
}

// Without counters every processor reads the kernel's times of its own group,
// found by its group and number: node 1's first position is processor 2, and
// node 2 lies in group 1, whose numbers 1 and 2 are not group 0's.
TEST_F(SamplerTest, KernelTimesAreReadPerGroupAndKeyedByGroupAndNumber) {
  Machine({{0, Affinity(0x3)}, {1, Affinity(0xC)}, {2, Affinity(0x6, 1)}}, 2);
  auto times = [](const std::vector<uint64_t>& busyPercents, uint64_t elapsed) {
    std::vector<ProcessorTimes> group;
    group.reserve(busyPercents.size());
    for (const uint64_t busy : busyPercents) group.push_back({elapsed * (100 - busy) / 100, elapsed, 0});
    return group;
  };
  counters_.SetProcessorTimes(0, times({0, 0, 0, 0}, 0));
  counters_.SetProcessorTimes(1, times({0, 0, 0}, 0));
  SampleCollector collector(counters_, topology_);
  collector.CollectSample();
  counters_.SetProcessorTimes(0, times({10, 20, 30, 40}, 1000));
  counters_.SetProcessorTimes(1, times({55, 60, 70}, 1000));
  counters_.ClearCalls();
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()),
              ElementsAre(ElementsAre(10, 20), ElementsAre(30, 40), ElementsAre(60, 70)));
  EXPECT_THAT(counters_.Calls(), ElementsAre("CollectQueryData", "QueryProcessorTimes 0", "QueryProcessorTimes 1"))
      << "each group once per collection";
}

TEST_F(SamplerTest, WithoutAQueryTheTablesKeepTheirShapeAndGroupZeroReadsTheKernelsTimes) {
  Machine({{0, Affinity(0x3)}}, 0);
  counters_.SetOpenQueryFails(true);
  UtilityCounters(0, 2, 50);
  counters_.SetProcessorTimes({{0, 0, 0}, {0, 0, 0}});
  SampleCollector collector(counters_, topology_);
  EXPECT_EQ(counters_.CountCalls("AddEnglishCounter"), 0u);
  collector.CollectSample();
  counters_.SetProcessorTimes({{50, 100, 0}, {100, 100, 0}});
  collector.CollectSample();
  EXPECT_THAT(Values(collector.UsageTable()), ElementsAre(ElementsAre(50, 0)));
  EXPECT_EQ(counters_.CountCalls("CollectQueryData"), 0u);
}

TEST_F(SamplerTest, DestructionRemovesUsageCountersThenParkingCountersThenClosesTheQuery) {
  Machine({{0, Affinity(0x3)}}, 0);
  UtilityCounters(0, 2);
  counters_.SetCounter(ParkingStatusCounterPath(0, 1), 0);
  {
    UtilizationSampler sampler(counters_, topology_);
    ASSERT_TRUE(WaitUntil([&] { return sampler.CompletedCollections() == 1; })) << "the first collection runs at once";
    counters_.ClearCalls();
  }
  EXPECT_THAT(counters_.Calls(),
              ElementsAre("RemoveCounter \\Processor Information(0,0)\\% Processor Utility",
                          "RemoveCounter \\Processor Information(0,1)\\% Processor Utility",
                          "RemoveCounter \\Processor Information(0,1)\\Parking Status", "CloseQuery"));
  EXPECT_EQ(counters_.OpenCounters(), 0u);
  EXPECT_EQ(counters_.OpenQueries(), 0u);
}

TEST_F(SamplerTest, TenRequestsDuringOneSlowCollectionGiveExactlyOneMore) {
  Machine({{0, Affinity(0x1)}}, 0);
  UtilityCounters(0, 1, 3);
  unique_handle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  unique_handle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  counters_.SetOnCollect([&] {
    ::SetEvent(entered.get());
    ::WaitForSingleObject(release.get(), 10000);
  });
  UtilizationSampler sampler(counters_, topology_);
  ASSERT_EQ(::WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0) << "no first collection";
  for (int i = 0; i < 10; ++i) sampler.RequestSample();
  ::SetEvent(release.get());
  ASSERT_TRUE(WaitUntil([&] { return sampler.CompletedCollections() == 2; }));
  // A third collection would follow at once if a request were still pending.
  EXPECT_FALSE(WaitUntil([&] { return counters_.Collections() > 2; }, 300ms));
  EXPECT_EQ(ReadEntry(sampler.UsageTable()[0][0]), 3);

  sampler.RequestSample();
  EXPECT_TRUE(WaitUntil([&] { return sampler.CompletedCollections() == 3; })) << "a later request collects again";
}

}  // namespace
}  // namespace tarnwick
