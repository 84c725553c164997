// The delay-import walker on a DLL of ours that imports uxtheme.dll's #49 with
// delay, loaded under Wine: planting a hook in its slot makes its call reach
// the hook, and a truncated or damaged import directory yields nothing. Each
// damaged copy ends exactly where an inaccessible page begins, so a read past
// its end faults instead of passing unseen.
#include <windows.h>
#include <uxtheme.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/delay_import.h"

namespace tarnwick {
namespace {

using ProbeCall = HTHEME (*)(HWND, LPCWSTR);
using ProbeDescriptor = const void* (*)();

constexpr size_t kPage = 0x1000;
constexpr uint64_t kOrdinalFlag = 0x8000000000000000ull;

HWND HookWindow = nullptr;
std::wstring HookClassList;
const HTHEME kHookTheme = reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x4949));

HTHEME WINAPI Hook(HWND window, LPCWSTR classList) {
  HookWindow = window;
  HookClassList = classList != nullptr ? classList : L"(null)";
  return kHookTheme;
}

template <typename T>
T Read(const std::vector<std::byte>& image, size_t offset) {
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

template <typename T>
void Write(std::vector<std::byte>& image, size_t offset, T value) {
  std::memcpy(image.data() + offset, &value, sizeof(T));
}

// Offsets of the fields the walker reads, in an image of the probe.
struct Layout {
  size_t ntHeaders;
  size_t optionalHeader;
  size_t directoryEntry;  // data directory 13: address, size
  size_t descriptor;
  size_t name;
  size_t addressTable;
  size_t nameTable;
};

Layout LayoutOf(const std::vector<std::byte>& image) {
  Layout layout{};
  layout.ntHeaders = Read<uint32_t>(image, 0x3C);
  layout.optionalHeader = layout.ntHeaders + 24;
  layout.directoryEntry = layout.optionalHeader + 112 + 13 * 8;
  layout.descriptor = Read<uint32_t>(image, layout.directoryEntry);
  layout.name = Read<uint32_t>(image, layout.descriptor + 4);
  layout.addressTable = Read<uint32_t>(image, layout.descriptor + 12);
  layout.nameTable = Read<uint32_t>(image, layout.descriptor + 16);
  return layout;
}

// Pages of which the last is inaccessible; a copy placed at Tail(n) ends
// right where that page starts.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size) : usable_((size + kPage - 1) / kPage * kPage) {
    base_ = static_cast<std::byte*>(::VirtualAlloc(nullptr, usable_ + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD former = 0;
    ::VirtualProtect(base_ + usable_, kPage, PAGE_NOACCESS, &former);
  }
  ~GuardedBuffer() { ::VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  std::span<const std::byte> Place(const std::vector<std::byte>& image, size_t length) {
    std::byte* start = base_ + usable_ - length;
    std::memcpy(start, image.data(), length);
    return {start, length};
  }

 private:
  size_t usable_;
  std::byte* base_ = nullptr;
};

class DelayImportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    probe_ = ::LoadLibraryW(L"tarnwick_delay_probe.dll");
    ASSERT_NE(probe_, nullptr) << "tarnwick_delay_probe.dll is not beside the test";
    // Fill in the delay-import directory GNU ld left empty.
    const auto descriptor = reinterpret_cast<ProbeDescriptor>(
        reinterpret_cast<void*>(::GetProcAddress(probe_, "ProbeDelayImportDescriptor")))();
    auto* base = reinterpret_cast<std::byte*>(probe_);
    const auto ntHeaders = *reinterpret_cast<const uint32_t*>(base + 0x3C);
    std::byte* entry = base + ntHeaders + 24 + 112 + 13 * 8;
    const uint32_t directory[2] = {static_cast<uint32_t>(static_cast<const std::byte*>(descriptor) - base), 32};
    DWORD former = 0;
    ASSERT_TRUE(::VirtualProtect(entry, sizeof(directory), PAGE_READWRITE, &former));
    std::memcpy(entry, directory, sizeof(directory));
    ::VirtualProtect(entry, sizeof(directory), former, &former);
  }

  static std::vector<std::byte> ImageCopy() {
    const std::span<const std::byte> image = LoadedImage(probe_);
    return {image.begin(), image.end()};
  }

  static HMODULE probe_;
};

HMODULE DelayImportTest::probe_ = nullptr;

TEST_F(DelayImportTest, APlantedHookIsReachedThroughTheImportSlot) {
  const std::span<const std::byte> image = LoadedImage(probe_);
  ASSERT_FALSE(image.empty());
  const std::optional<size_t> slot = FindDelayImportSlot(image, "UxTheme.DLL", 49);
  ASSERT_TRUE(slot.has_value()) << "the name is compared without regard to case";
  EXPECT_EQ(FindDelayImportSlot(image, "uxtheme.dll", 48), std::nullopt);
  EXPECT_EQ(FindDelayImportSlot(image, "uxtheme", 49), std::nullopt);
  EXPECT_EQ(FindDelayImportSlot(image, "comctl32.dll", 49), std::nullopt);

  // Windows may keep a DLL's delay-import slots read-only once loaded: the
  // page is opened for the write and closed again, not left writable.
  void* slotAddress = reinterpret_cast<std::byte*>(probe_) + *slot;
  DWORD loaded = 0;
  ASSERT_TRUE(::VirtualProtect(slotAddress, sizeof(void*), PAGE_READONLY, &loaded));
  ASSERT_TRUE(PlantDelayImportHook(probe_, "uxtheme.dll", 49, reinterpret_cast<void*>(&Hook)));
  void* planted = nullptr;
  std::memcpy(&planted, image.data() + *slot, sizeof(planted));
  EXPECT_EQ(planted, reinterpret_cast<void*>(&Hook));
  MEMORY_BASIC_INFORMATION page = {};
  ASSERT_EQ(::VirtualQuery(slotAddress, &page, sizeof(page)), sizeof(page));
  EXPECT_EQ(page.Protect, static_cast<DWORD>(PAGE_READONLY)) << "the slot's former protection";

  const auto call =
      reinterpret_cast<ProbeCall>(reinterpret_cast<void*>(::GetProcAddress(probe_, "ProbeCallOrdinal49")));
  ASSERT_NE(call, nullptr);
  const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));
  EXPECT_EQ(call(window, L"ScrollBar"), kHookTheme);
  EXPECT_EQ(HookWindow, window);
  EXPECT_EQ(HookClassList, L"ScrollBar");
}

TEST_F(DelayImportTest, ATruncatedImageYieldsTheSlotOnlyOnceEveryByteItNeedsIsThere) {
  const std::vector<std::byte> image = ImageCopy();
  const Layout layout = LayoutOf(image);
  const std::optional<size_t> slot = FindDelayImportSlot({image.data(), image.size()}, "uxtheme.dll", 49);
  ASSERT_TRUE(slot.has_value());
  // Which name-table entry is #49: every entry before it is read too.
  const size_t index = (*slot - layout.addressTable) / 8;
  const size_t needed = std::max({layout.directoryEntry + 8, layout.descriptor + 32, layout.name + 12,
                                  layout.nameTable + (index + 1) * 8, *slot + 8});
  std::set<size_t> lengths;
  for (size_t length = 0; length <= 0x200; ++length) lengths.insert(length);
  for (const size_t edge :
       {layout.directoryEntry, layout.descriptor, layout.name, layout.nameTable, layout.addressTable, *slot, needed}) {
    for (size_t length = edge > 16 ? edge - 16 : 0; length <= edge + 16 && length <= image.size(); ++length) {
      lengths.insert(length);
    }
  }
  GuardedBuffer buffer(image.size());
  for (const size_t length : lengths) {
    const std::optional<size_t> found = FindDelayImportSlot(buffer.Place(image, length), "uxtheme.dll", 49);
    if (length < needed) {
      EXPECT_EQ(found, std::nullopt) << "cut at " << length;
    } else {
      EXPECT_EQ(found, slot) << "cut at " << length;
    }
  }
}

struct Damage {
  const char* name;
  std::function<void(std::vector<std::byte>&, const Layout&)> apply;
};

TEST_F(DelayImportTest, ADamagedOrForeignImagePlantsNothing) {
  const std::vector<std::byte> original = ImageCopy();
  const size_t size = original.size();
  const auto last = [size](size_t bytes) { return static_cast<uint32_t>(size - bytes); };
  const Damage damages[] = {
      {"not MZ", [](auto& image, const Layout&) { Write<uint16_t>(image, 0, 0x4D5A); }},
      {"NT headers far away", [](auto& image, const Layout&) { Write<uint32_t>(image, 0x3C, 0xFFFFFFF0); }},
      {"NT headers across the end", [&](auto& image, const Layout&) { Write<uint32_t>(image, 0x3C, last(2)); }},
      {"32-bit image", [](auto& image, const Layout& l) { Write<uint16_t>(image, l.optionalHeader, 0x10B); }},
      {"short optional header",
       [](auto& image, const Layout& l) { Write<uint16_t>(image, l.ntHeaders + 4 + 16, 100); }},
      {"no directory 13", [](auto& image, const Layout& l) { Write<uint32_t>(image, l.optionalHeader + 108, 13); }},
      {"empty directory", [](auto& image, const Layout& l) { Write<uint32_t>(image, l.directoryEntry + 4, 0); }},
      {"directory far away",
       [](auto& image, const Layout& l) { Write<uint32_t>(image, l.directoryEntry, 0xFFFFFFF0); }},
      {"descriptor across the end",
       [&](auto& image, const Layout& l) { Write<uint32_t>(image, l.directoryEntry, last(16)); }},
      {"name far away", [](auto& image, const Layout& l) { Write<uint32_t>(image, l.descriptor + 4, 0xFFFFFFFF); }},
      {"name unterminated at the end",
       [&](auto& image, const Layout& l) {
         std::memcpy(image.data() + size - 3, "uxt", 3);
         Write<uint32_t>(image, l.descriptor + 4, last(3));
       }},
      {"another DLL", [](auto& image, const Layout& l) { Write<char>(image, l.name + 6, 'f'); }},
      {"name table across the end",
       [&](auto& image, const Layout& l) { Write<uint32_t>(image, l.descriptor + 16, last(4)); }},
      {"name table runs off the end",
       [&](auto& image, const Layout& l) {
         Write<uint64_t>(image, size - 8, kOrdinalFlag | 48);
         Write<uint32_t>(image, l.descriptor + 16, last(8));
       }},
      {"address table across the end",
       [&](auto& image, const Layout& l) { Write<uint32_t>(image, l.descriptor + 12, last(4)); }},
      {"imported by name", [](auto& image, const Layout& l) {
         for (size_t entry = l.nameTable; Read<uint64_t>(image, entry) != 0; entry += 8) {
           Write<uint64_t>(image, entry, Read<uint64_t>(image, entry) & 0xFFFF);
         }
       }}};
  GuardedBuffer buffer(size);
  for (const Damage& damage : damages) {
    std::vector<std::byte> image = original;
    damage.apply(image, LayoutOf(original));
    EXPECT_EQ(FindDelayImportSlot(buffer.Place(image, size), "uxtheme.dll", 49), std::nullopt) << damage.name;
  }
  EXPECT_TRUE(FindDelayImportSlot(buffer.Place(original, size), "uxtheme.dll", 49).has_value());
}

TEST_F(DelayImportTest, AModuleWithoutDelayImportsPlantsNothing) {
  EXPECT_FALSE(PlantDelayImportHook(::GetModuleHandleW(nullptr), "uxtheme.dll", 49, reinterpret_cast<void*>(&Hook)));
  EXPECT_FALSE(PlantDelayImportHook(nullptr, "uxtheme.dll", 49, reinterpret_cast<void*>(&Hook)));
  EXPECT_TRUE(LoadedImage(nullptr).empty());
}

}  // namespace
}  // namespace tarnwick
