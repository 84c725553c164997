#include "update/version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <fstream>
#include <iterator>
#include <vector>

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

// "a.b.c.d" of a packed version.
std::wstring VersionText(uint32_t packed) {
  return std::to_wstring(packed >> 24) + L"." + std::to_wstring(packed >> 16 & 0xFF) + L"." +
         std::to_wstring(packed >> 8 & 0xFF) + L"." + std::to_wstring(packed & 0xFF);
}

// Against the versions next to the program's own, whichever it is.
TEST(Version, ComparesALatestTextWithTheProgramsOwn) {
  const std::optional<uint32_t> own = ParseStrictVersion(CurrentVersionText);
  ASSERT_TRUE(own.has_value()) << "the program's version is four fields of 0 to 255";
  ASSERT_GT(*own, 0u);
  ASSERT_LT(*own, 0xFFFFFFFFu);
  EXPECT_EQ(PackVersion(CurrentVersionText), *own);
  EXPECT_EQ(CompareWithCurrentVersion(L""), UpdateAnswer::NoAnswer);
  EXPECT_EQ(CompareWithCurrentVersion(CurrentVersionText), UpdateAnswer::NotNewer);
  EXPECT_EQ(CompareWithCurrentVersion(VersionText(*own - 1)), UpdateAnswer::NotNewer);
  EXPECT_EQ(CompareWithCurrentVersion(L"2.0"), UpdateAnswer::NotNewer) << "too short to be a version";
  EXPECT_EQ(CompareWithCurrentVersion(VersionText(*own + 1)), UpdateAnswer::Newer);
}

TEST(Version, StrictTextsAreFourFieldsOfDigitsUpTo255) {
  struct Case {
    const wchar_t* text;
    std::optional<uint32_t> packed;
  };
  const Case cases[] = {
      {L"1.2.2.4", 0x01020204u},
      {L"0.0.0.0", 0u},
      {L"255.255.255.255", 0xFFFFFFFFu},
      {L"01.002.0.9", 0x01020009u},
      {L"1.2.2.256", std::nullopt},
      {L"1.2.2", std::nullopt},
      {L"1.2.2.4.", std::nullopt},
      {L".1.2.2.4", std::nullopt},
      {L"1.2.2.4.5", std::nullopt},
      {L"1..2.4", std::nullopt},
      {L"-1.2.2.4", std::nullopt},
      {L"1.2.2.4 ", std::nullopt},
      {L"1.2.2.٤", std::nullopt},  // an Arabic-Indic digit four
      {L"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseStrictVersion(c.text), c.packed) << testing::PrintToString(std::wstring(c.text));
  }
}

// This test program carries the program's version resource.
std::vector<std::byte> OwnImage() {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::ifstream file(self, std::ios::binary);
  const std::vector<char> chars((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::byte> bytes(chars.size());
  std::memcpy(bytes.data(), chars.data(), chars.size());
  return bytes;
}

// The VS_FIXEDFILEINFO of the resource: after the key, its NUL and padding
// (the code holds the bare signature as a constant, too).
size_t FindFixedFileInfo(const std::vector<std::byte>& image) {
  std::vector<std::byte> pattern;
  for (const char c : std::string_view("VS_VERSION_INFO\0\0", 17)) {
    pattern.push_back(std::byte(c));
    pattern.push_back(std::byte{0});
  }
  for (const std::byte b : {std::byte{0xBD}, std::byte{0x04}, std::byte{0xEF}, std::byte{0xFE}}) pattern.push_back(b);
  const auto found = std::search(image.begin(), image.end(), pattern.begin(), pattern.end());
  return found == image.end() ? image.size() : static_cast<size_t>(found - image.begin()) + 34;
}

TEST(ImageVersion, IsReadFromTheFixedPartOfTheVersionResource) {
  std::vector<std::byte> image = OwnImage();
  ASSERT_GT(image.size(), 4096u);
  EXPECT_EQ(ReadImageFileVersion(image), PackVersion(CurrentVersionText));

  // A field above 255 cannot be compared with a version text.
  const size_t fixed = FindFixedFileInfo(image);
  ASSERT_LT(fixed, image.size());
  std::vector<std::byte> largeField = image;
  largeField[fixed + 12] = std::byte{0x00};  // the fourth field's low byte...
  largeField[fixed + 13] = std::byte{0x01};  // ...and high byte: 256
  EXPECT_EQ(ReadImageFileVersion(largeField), std::nullopt);
  std::vector<std::byte> noSignature = image;
  noSignature[fixed] = std::byte{0};
  EXPECT_EQ(ReadImageFileVersion(noSignature), std::nullopt);
}

TEST(ImageVersion, ADamagedOrCutImageHasNoVersionAndNothingIsReadPastItsEnd) {
  const std::vector<std::byte> image = OwnImage();
  const size_t fixed = FindFixedFileInfo(image);
  ASSERT_LT(fixed, image.size());
  // Every cut around the headers and the version resource, each in a buffer
  // of its own size, so that a read past its end is a read past the heap block.
  std::vector<size_t> cuts;
  for (size_t cut = 0; cut < 1024; ++cut) cuts.push_back(cut);
  for (size_t cut = fixed - 128; cut < fixed + 64; ++cut) cuts.push_back(cut);
  for (const size_t cut : cuts) {
    const std::vector<std::byte> part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(ReadImageFileVersion(part), std::nullopt) << cut;
  }

  // Headers that point anywhere: past the end, to a huge section count, to a
  // resource directory with more entries than bytes.
  const auto nt =
      static_cast<uint32_t>(std::to_integer<uint32_t>(image[0x3C]) | std::to_integer<uint32_t>(image[0x3D]) << 8);
  struct Damage {
    const char* name;
    size_t offset;
    std::vector<std::byte> bytes;
    std::optional<uint32_t> version;
  };
  const std::byte ff{0xFF};
  const std::optional<uint32_t> own = PackVersion(CurrentVersionText);
  const Damage damages[] = {
      {"no MZ", 0, {std::byte{'Z'}}, std::nullopt},
      {"PE header past the end", 0x3C, {ff, ff, ff, std::byte{0x7F}}, std::nullopt},
      {"no PE signature", nt, {std::byte{'X'}}, std::nullopt},
      // The table runs past the end, but the sections before it are read.
      {"section count 65535", nt + 6, {ff, ff}, own},
      {"optional header size 65535", nt + 20, {ff, ff}, std::nullopt},
      {"unknown optional header", nt + 24, {std::byte{0x07}, std::byte{0x01}}, std::nullopt},
  };
  for (const Damage& damage : damages) {
    std::vector<std::byte> damaged = image;
    std::copy(damage.bytes.begin(), damage.bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(damage.offset));
    EXPECT_EQ(ReadImageFileVersion(damaged), damage.version) << damage.name;
  }
}

}  // namespace
}  // namespace tarnwick
