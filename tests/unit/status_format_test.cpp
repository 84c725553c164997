#include "ui/status_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// One refresh after another on the same display, as passes arrive.
struct RefreshStep {
  const char* what;
  StatusReading reading;
  std::vector<size_t> partsSent;
  bool measured;
  std::optional<std::wstring> countLabel;
};

TEST(StatusRefresh, SendsOnlyWhatChangedFromPassToPass) {
  const RefreshStep steps[] = {
      {"first refresh writes every part and the label", {1, 245, 3, 12.5, 0.4}, {0, 1, 2, 3}, true, L"3 of 245"},
      {"nothing changed sends nothing", {1, 245, 3, 12.5, 0.4}, {}, false, std::nullopt},
      {"a mean that stays below 1 is still 0.00", {1, 245, 3, 12.5, 0.9}, {}, false, std::nullopt},
      {"only usages changed: parts 1 and 2, not the label", {1, 245, 3, 40.0, 7.0}, {1, 2}, true, std::nullopt},
      {"only counts changed: part 3 and the label", {1, 250, 4, 40.0, 7.0}, {3}, true, L"4 of 250"},
      {"the worker stopped: part 0 only", {0, 250, 4, 40.0, 7.0}, {0}, true, std::nullopt},
  };
  StatusDisplay display;
  display.Reset();
  for (const RefreshStep& step : steps) {
    SCOPED_TRACE(step.what);
    const StatusChanges changes = RefreshStatus(display, step.reading);
    EXPECT_THAT(changes.partsToSend, ElementsAreArray(step.partsSent));
    EXPECT_EQ(changes.measureParts, step.measured);
    EXPECT_EQ(changes.countLabel, step.countLabel);
    EXPECT_EQ(display.ShownPartTexts, display.StatusPartTexts) << "every wanted text has been sent";
  }
  EXPECT_THAT(display.ShownPartTexts,
              ElementsAre(L"STOPPED", L"P-Core usage: 40.00%", L"E-Core usage: 7.00%", L"Matched processes: 4 of 250"));
}

TEST(StatusRefresh, FormatsUsagesAndCountsAsShown) {
  struct Case {
    StatusReading reading;
    std::array<std::wstring, 4> parts;
    std::wstring label;
  };
  const Case cases[] = {
      {{1, 245, 3, 0.4, 1.0},
       {L"MONITORING", L"P-Core usage: 0.00%", L"E-Core usage: 1.00%", L"Matched processes: 3 of 245"},
       L"3 of 245"},
      {{0, 0, 0, 100.0, 0.0},
       {L"STOPPED", L"P-Core usage: 100.00%", L"E-Core usage: 0.00%", L"Matched processes: 0 of 0"},
       L"0 of 0"},
      {{2, 4000000000u, 7, 55.555, 0.999},
       {L"ERROR", L"P-Core usage: 55.55%", L"E-Core usage: 0.00%", L"Matched processes: 7 of 4000000000"},
       L"7 of 4000000000"},
      {{9, 1, 1, 1.005, 99.999},
       {L"UNKNOWN", L"P-Core usage: 1.00%", L"E-Core usage: 100.00%", L"Matched processes: 1 of 1"},
       L"1 of 1"},
  };
  for (const Case& c : cases) {
    StatusDisplay display;
    const StatusChanges changes = RefreshStatus(display, c.reading);
    EXPECT_THAT(changes.partsToSend, ElementsAre(0, 1, 2, 3));
    EXPECT_EQ(display.ShownPartTexts, c.parts);
    EXPECT_EQ(changes.countLabel, c.label);
  }
}

TEST(StatusRefresh, ResetMakesTheNextOpeningWriteEverythingAgain) {
  StatusDisplay display;
  const StatusReading reading{1, 10, 2, 5.0, 5.0};
  (void)RefreshStatus(display, reading);
  display.Reset();
  const StatusChanges changes = RefreshStatus(display, reading);
  EXPECT_THAT(changes.partsToSend, ElementsAre(0, 1, 2, 3));
  EXPECT_EQ(changes.countLabel, L"2 of 10");
}

TEST(StatusRefresh, AnUnreadableMeanNeverBlocksTheOtherParts) {
  StatusDisplay display;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  (void)RefreshStatus(display, {1, 10, 2, nan, 3.0});
  const StatusChanges changes = RefreshStatus(display, {1, 11, 2, nan, 3.0});
  EXPECT_THAT(changes.partsToSend, ElementsAre(3));
  EXPECT_EQ(changes.countLabel, L"2 of 11");
}

TEST(StatusPartEdges, RunningTotalsOfWidthPlusPaddingWithTheLastToTheBorder) {
  struct Case {
    std::vector<int> widths;
    std::vector<int> edges;
  };
  const Case cases[] = {
      {{70, 95, 95, 150}, {90, 205, 320, -1}}, {{0, 0, 0, 0}, {20, 40, 60, -1}}, {{42}, {-1}}, {{}, {}},
      {std::vector<int>(256, 1), {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusPartRightEdges(c.widths), c.edges) << "for " << c.widths.size() << " parts";
  }
  EXPECT_EQ(StatusPartRightEdges(std::vector<int>(255, 1)).size(), 255u);
  // At 200 % the padding is 40 pixels.
  EXPECT_EQ(StatusPartRightEdges(std::vector<int>{70, 95, 95, 150}, 40), (std::vector<int>{110, 245, 380, -1}));
}

}  // namespace
}  // namespace tarnwick
