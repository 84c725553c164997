// The graph state apart from its windows: the core-class means and the
// sampler's lifecycle through StartSampling and StopSampling.
#include "monitor/graph_state.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_counter_source.h"
#include "tests/fakes/fake_system.h"
#include "tests/unit/relationship_report.h"

namespace tarnwick {
namespace {

using Table = std::vector<std::vector<int32_t>>;

TEST(CoreClassMean, AveragesTheReadValuesOfOneClass) {
  // Node 0: P P E E; node 1: E P (its table lacks the second entry).
  const std::vector<std::vector<bool>> efficient = {{false, false, true, true}, {true, false}};
  const Table usage = {{30, NoValue, 10, 21}, {0}};
  const CoreClassMean pCores = MeanUsageOfClass(efficient, usage, false);
  EXPECT_EQ(pCores.count, 1u);
  EXPECT_DOUBLE_EQ(pCores.mean, 30.0);
  const CoreClassMean eCores = MeanUsageOfClass(efficient, usage, true);
  EXPECT_EQ(eCores.count, 3u);
  EXPECT_DOUBLE_EQ(eCores.mean, 31.0 / 3.0);
}

TEST(CoreClassMean, NothingToAverageGivesZero) {
  const std::vector<std::vector<bool>> allP = {{false, false}};
  EXPECT_EQ(MeanUsageOfClass(allP, Table{{50, 70}}, true).count, 0u);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass(allP, Table{{50, 70}}, true).mean, 0.0);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass(allP, Table{{NoValue, NoValue}}, false).mean, 0.0);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass({}, Table{}, false).mean, 0.0);
}

class SamplingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    topology_.relationshipReport = RelationshipReport().Core(0, 0x3).Node(0, {Affinity(0x3)}, 1).Groups().Bytes();
  }
  FakeSystem topology_;
  FakeCounterSource counters_;
  GraphState graph_{topology_, counters_};
};

TEST_F(SamplingTest, WithoutTheGraphClassNothingIsCreated) {
  EXPECT_FALSE(StartSampling(graph_));
  EXPECT_FALSE(CreateGraph(graph_, nullptr, 0, 0, 10, 10));
  EXPECT_EQ(graph_.sampler, nullptr);
  EXPECT_EQ(counters_.CountCalls("OpenQuery"), 0u);
  EXPECT_EQ(CoreClassMeanUsage(graph_, false).count, 0u);
  EXPECT_DOUBLE_EQ(CoreClassMeanUsage(graph_, true).mean, 0.0);
}

TEST_F(SamplingTest, StartReplacesTheSamplerAndStopWithoutOneDoesNothing) {
  ASSERT_TRUE(RegisterGraphClass(graph_, ::GetModuleHandleW(nullptr)));
  StopSampling(graph_);
  EXPECT_TRUE(counters_.Calls().empty());

  ASSERT_TRUE(StartSampling(graph_));
  ASSERT_NE(graph_.sampler, nullptr);
  ASSERT_TRUE(StartSampling(graph_));
  std::vector<std::string> queries;
  for (const std::string& call : counters_.Calls()) {
    if (call == "OpenQuery" || call == "CloseQuery") queries.push_back(call);
  }
  EXPECT_EQ(queries, (std::vector<std::string>{"OpenQuery", "CloseQuery", "OpenQuery"}))
      << "the first sampler is released before the second is made";
  EXPECT_EQ(counters_.OpenQueries(), 1u);

  StopSampling(graph_);
  EXPECT_EQ(graph_.sampler, nullptr);
  EXPECT_EQ(counters_.OpenQueries(), 0u);
  EXPECT_EQ(counters_.OpenCounters(), 0u);
}

}  // namespace
}  // namespace tarnwick
