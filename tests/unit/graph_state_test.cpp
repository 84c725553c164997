#include "monitor/graph_state.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(CoreClassMean, AveragesTheReadValuesOfOneClass) {
  // Node 0: P P E E; node 1: E P (its table lacks the second entry).
  const std::vector<std::vector<bool>> efficient = {{false, false, true, true}, {true, false}};
  const UsageTable usage = {{30, NoValue, 10, 21}, {0}};
  const CoreClassMean pCores = MeanUsageOfClass(efficient, usage, false);
  EXPECT_EQ(pCores.count, 1u);
  EXPECT_DOUBLE_EQ(pCores.mean, 30.0);
  const CoreClassMean eCores = MeanUsageOfClass(efficient, usage, true);
  EXPECT_EQ(eCores.count, 3u);
  EXPECT_DOUBLE_EQ(eCores.mean, 31.0 / 3.0);
}

TEST(CoreClassMean, NothingToAverageGivesZero) {
  const std::vector<std::vector<bool>> allP = {{false, false}};
  EXPECT_EQ(MeanUsageOfClass(allP, {{50, 70}}, true).count, 0u);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass(allP, {{50, 70}}, true).mean, 0.0);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass(allP, {{NoValue, NoValue}}, false).mean, 0.0);
  EXPECT_DOUBLE_EQ(MeanUsageOfClass({}, {}, false).mean, 0.0);
}

TEST(CoreClassMean, WithoutASamplerBothClassesAverageNothing) {
  GraphState graph;
  EXPECT_EQ(CoreClassMeanUsage(graph, false).count, 0u);
  EXPECT_DOUBLE_EQ(CoreClassMeanUsage(graph, true).mean, 0.0);
  EXPECT_FALSE(StartSampling(graph));
  EXPECT_FALSE(CreateGraph(graph, nullptr, 0, 0, 10, 10));
}

}  // namespace
}  // namespace tarnwick
