#include "update/version.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(Version, PacksFourFieldsAndSpillsLargeOnes) {
  struct Case {
    const wchar_t* text;
    uint32_t packed;
  };
  const Case cases[] = {
      {L"1.2.2.4", 0x01020204u},
      {L"1.2.2.5", 0x01020205u},
      {L"1.3.0.0", 0x01030000u},
      {L"1.2.300.0", (((1u << 8 | 2u) << 8 | 300u) << 8) | 0u},
      {L"2.0", 0u},
      {L"", 0u},
      {L"1.2.3", 0u},
      {L"10.20.3", 0x0A140300u},
      {L"beta 1.2.3.4", 0u},
  };
  for (const Case& c : cases) EXPECT_EQ(PackVersion(c.text), c.packed) << testing::PrintToString(std::wstring(c.text));
}

TEST(Version, ComparesALatestTextWithTheProgramsOwn) {
  EXPECT_EQ(PackVersion(CurrentVersionText), 0x01020204u);
  EXPECT_EQ(CompareWithCurrentVersion(L""), UpdateAnswer::NoAnswer);
  EXPECT_EQ(CompareWithCurrentVersion(L"1.2.2.4"), UpdateAnswer::NotNewer);
  EXPECT_EQ(CompareWithCurrentVersion(L"1.2.2.3"), UpdateAnswer::NotNewer);
  EXPECT_EQ(CompareWithCurrentVersion(L"2.0"), UpdateAnswer::NotNewer);
  EXPECT_EQ(CompareWithCurrentVersion(L"1.2.2.5"), UpdateAnswer::Newer);
}

}  // namespace
}  // namespace tarnwick
