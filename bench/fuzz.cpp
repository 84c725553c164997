// Feeds the byte walkers mutated input: processor relationship reports, CPU
// set reports, list files, version files and installer images. Each input is copied so that its last byte is
// the last byte of a page followed by a PAGE_NOACCESS page, so a read past
// its end crashes at once. A crash names the input that caused it; an input
// that takes longer than a few seconds is reported as a hang.
// Usage: tarnwick_fuzz.exe [--count N] [--seed S]   (defaults 100000 and 1)
// Exit code 0 when no input crashed or hung.
#include "config/process_list.h"
#include "tests/fakes/fake_system.h"
#include "platform/system_records.h"
#include "tests/unit/relationship_report.h"
#include "topology/core_map.h"
#include "topology/cpu_set_inventory.h"
#include "update/update_check.h"
#include "update/version.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

enum class InputKind { ProcessorReport, CpuSetReport, ListFile, VersionFile, InstallerImage };
constexpr const char* kKindNames[] = {"processor report", "CPU set report", "list file", "version file",
                                      "installer image"};
constexpr int kKindCount = static_cast<int>(std::size(kKindNames));
constexpr DWORD kHangTimeoutMs = 10000;

// What the watchdog and the crash handler report.
std::atomic<uint64_t> InputsTried{0};
std::atomic<int> CurrentKind{0};
uint32_t Seed = 1;

// A buffer whose readable part ends where a PAGE_NOACCESS page begins.
class GuardedBuffer {
 public:
  GuardedBuffer() {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    page_ = info.dwPageSize;
  }
  ~GuardedBuffer() { Release(); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  // The copy of bytes, its last byte right before the guard page.
  std::span<const std::byte> Place(const std::vector<std::byte>& bytes) {
    const size_t readable = (bytes.size() + page_ - 1) / page_ * page_ + page_;  // at least one page
    if (readable != readable_) {
      Release();
      base_ =
          static_cast<std::byte*>(::VirtualAlloc(nullptr, readable + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
      if (base_ == nullptr) std::abort();
      DWORD old = 0;
      if (!::VirtualProtect(base_ + readable, page_, PAGE_NOACCESS, &old)) std::abort();
      readable_ = readable;
    }
    std::byte* start = base_ + readable_ - bytes.size();
    if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
    return {start, bytes.size()};
  }

 private:
  void Release() {
    if (base_ != nullptr) ::VirtualFree(base_, 0, MEM_RELEASE);
    base_ = nullptr;
    readable_ = 0;
  }
  size_t page_ = 4096;
  std::byte* base_ = nullptr;
  size_t readable_ = 0;
};

// GCC 12 at -O3 follows the constant record sizes through the builder's
// resizes and reports a bound that is never crossed.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
std::vector<std::byte> ProcessorReportSeed() {
  RelationshipReport report;
  report.Core(1, 0x3).Core(1, 0xC).Core(0, 0x10).Core(0, 0x20).Other(RelationCache, 48, 48);
  const std::vector<GROUP_AFFINITY> twoGroups{Affinity(0xF, 0), Affinity(0x3, 1)};
  report.Node(0, {Affinity(0x3F)}, 1).Node(1, twoGroups, 2, 80);
  report.Core(1, 0x1, 1).Groups();
  return report.Bytes();
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

std::vector<std::byte> CpuSetReportSeed() {
  std::vector<std::byte> bytes;
  for (BYTE index = 0; index < 6; ++index) {
    CpuSetInformationRecord record{};
    record.Size = sizeof(record);
    record.Type = kCpuSetInformationType;
    record.Id = 256 + index;
    record.Group = index < 4 ? 0 : 1;
    record.LogicalProcessorIndex = index;
    record.EfficiencyClass = index % 2;
    const size_t at = bytes.size();
    bytes.resize(at + sizeof(record));
    std::memcpy(bytes.data() + at, &record, sizeof(record));
  }
  return bytes;
}

std::vector<std::byte> ListFileSeed(uint32_t variant) {
  const std::wstring text = L"notepad.exe\r\nC:\\Tools\\*\r\n\r\n*.exe\nna\u00efve\u20ac.exe\r\nlast";
  std::vector<std::byte> bytes;
  if (variant % 2 == 0) {
    // As the program writes it: UTF-16 little endian.
    for (wchar_t c : text) {
      bytes.push_back(static_cast<std::byte>(c & 0xFF));
      bytes.push_back(static_cast<std::byte>(c >> 8));
    }
  } else {
    // As an editor may write it: UTF-8, with a byte-order mark.
    const char utf8[] = "\xEF\xBB\xBFnotepad.exe\r\nC:\\Tools\\*\r\nna\xC3\xAFve\xE2\x82\xAC.exe\n\xF0\x9F\x98\x80\r\n";
    for (size_t i = 0; i + 1 < sizeof(utf8); ++i) bytes.push_back(static_cast<std::byte>(utf8[i]));
  }
  return bytes;
}

// As the update server serves it; the odd variant with a byte-order mark and
// bare line feeds.
std::vector<std::byte> VersionFileSeed(uint32_t variant) {
  const std::string text = variant % 2 == 0 ? "1.2.3.4\r\nombrix_updatevalidsig\r\nnotes\r\n"
                                            : "\xEF\xBB\xBF"
                                              "255.0.10.200\nombrix_updatevalidsig\n";
  std::vector<std::byte> bytes;
  for (const char c : text) bytes.push_back(static_cast<std::byte>(c));
  return bytes;
}

template <typename T>
void Put(std::vector<std::byte>& bytes, size_t at, T value) {
  if (bytes.size() < at + sizeof(value)) bytes.resize(at + sizeof(value));
  std::memcpy(bytes.data() + at, &value, sizeof(value));
}

// The smallest image the installer check reads: PE32+ headers, one resource
// section, and in it RT_VERSION / 1 / 0x409 with a VS_VERSIONINFO of 3.2.1.0.
std::vector<std::byte> InstallerImageSeed() {
  constexpr uint32_t kNt = 0x40;
  constexpr uint32_t kOptional = kNt + 24;
  constexpr uint16_t kOptionalSize = 112 + 16 * 8;
  constexpr uint32_t kSectionTable = kOptional + kOptionalSize;
  constexpr uint32_t kRaw = 0x200;
  constexpr uint32_t kRva = 0x1000;
  constexpr uint32_t kVersionInfo = 0x58;  // within the section
  constexpr uint32_t kVersionInfoSize = 40 + 52;
  constexpr uint32_t kSectionSize = kVersionInfo + kVersionInfoSize;
  std::vector<std::byte> bytes(kRaw + kSectionSize);
  Put<uint16_t>(bytes, 0, 0x5A4D);
  Put<uint32_t>(bytes, 0x3C, kNt);
  Put<uint32_t>(bytes, kNt, 0x00004550);
  Put<uint16_t>(bytes, kNt + 4, 0x8664);
  Put<uint16_t>(bytes, kNt + 6, 1);  // sections
  Put<uint16_t>(bytes, kNt + 20, kOptionalSize);
  Put<uint16_t>(bytes, kOptional, 0x20B);
  Put<uint32_t>(bytes, kOptional + 108, 16);  // data directories
  Put<uint32_t>(bytes, kOptional + 112 + 2 * 8, kRva);
  Put<uint32_t>(bytes, kOptional + 112 + 2 * 8 + 4, kSectionSize);
  std::memcpy(bytes.data() + kSectionTable, ".rsrc", 5);
  Put<uint32_t>(bytes, kSectionTable + 8, kSectionSize);
  Put<uint32_t>(bytes, kSectionTable + 12, kRva);
  Put<uint32_t>(bytes, kSectionTable + 16, kSectionSize);
  Put<uint32_t>(bytes, kSectionTable + 20, kRaw);
  // Three directories of one numbered entry each, then the data entry.
  const uint32_t ids[] = {16, 1, 0x409};
  for (uint32_t level = 0; level < 3; ++level) {
    const uint32_t directory = kRaw + 0x18 * level;
    Put<uint16_t>(bytes, directory + 14, 1);
    Put<uint32_t>(bytes, directory + 16, ids[level]);
    Put<uint32_t>(bytes, directory + 20, level < 2 ? (0x80000000u | (0x18 * (level + 1))) : 0x48);
  }
  Put<uint32_t>(bytes, kRaw + 0x48, kRva + kVersionInfo);
  Put<uint32_t>(bytes, kRaw + 0x48 + 4, kVersionInfoSize);
  const uint32_t info = kRaw + kVersionInfo;
  Put<uint16_t>(bytes, info, kVersionInfoSize);
  Put<uint16_t>(bytes, info + 2, 52);
  const std::wstring_view key = L"VS_VERSION_INFO";
  for (size_t i = 0; i < key.size(); ++i) Put<uint16_t>(bytes, info + 6 + 2 * i, static_cast<uint16_t>(key[i]));
  Put<uint32_t>(bytes, info + 40, 0xFEEF04BD);
  Put<uint32_t>(bytes, info + 48, 0x00030002);
  Put<uint32_t>(bytes, info + 52, 0x00010000);
  return bytes;
}

// Values that sit on the walkers' bounds: sizes, counts, record kinds.
constexpr uint32_t kInteresting[] = {
    0,          1,          2,          7,    8,    16,     24,     30,    31,     32,     33,     47,      48,
    49,         79,         80,         81,   0x7F, 0x80,   0xFF,   0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF,
    0x80000000, 0xFFFFFFFE, 0xFFFFFFFF, 0x0A, 0x0D, 0xFEFF, 0xFFFE, 0xC0,  0xEF,   0xF4,   0xF8};

void Mutate(std::vector<std::byte>& bytes, std::mt19937& random) {
  const int steps = 1 + static_cast<int>(random() % 4);
  for (int step = 0; step < steps; ++step) {
    const uint32_t what = random() % 8;
    const size_t size = bytes.size();
    const size_t at = size == 0 ? 0 : random() % size;
    switch (what) {
      case 0:  // flip a bit
        if (size != 0) bytes[at] ^= static_cast<std::byte>(1u << (random() % 8));
        break;
      case 1:  // a random byte
        if (size != 0) bytes[at] = static_cast<std::byte>(random());
        break;
      case 2: {  // a bound value over 1, 2 or 4 bytes
        const uint32_t value = kInteresting[random() % std::size(kInteresting)];
        const size_t width = size_t{1} << (random() % 3);
        for (size_t i = 0; i < width && at + i < size; ++i) bytes[at + i] = static_cast<std::byte>(value >> (8 * i));
        break;
      }
      case 3:  // cut the end
        bytes.resize(size == 0 ? 0 : random() % (size + 1));
        break;
      case 4: {  // cut the front
        const size_t cut = size == 0 ? 0 : random() % (size + 1);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        break;
      }
      case 5: {  // repeat a piece
        if (size == 0) break;
        const size_t length = std::min<size_t>(size - at, 1 + random() % 96);
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        // A copy first: a vector cannot insert a range of itself.
        const std::vector<std::byte> piece(from, from + static_cast<std::ptrdiff_t>(length));
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
        break;
      }
      case 6:  // append noise
        for (uint32_t i = random() % 16; i > 0; --i) bytes.push_back(static_cast<std::byte>(random()));
        break;
      default:  // drop one byte: everything after it loses its alignment
        if (size != 0) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
        break;
    }
  }
}

// Everything a report or a file feeds, read from the guarded copy; the
// results are touched so that nothing is optimised away.
size_t Exercise(InputKind kind, std::span<const std::byte> input, const std::vector<std::byte>& bytes) {
  switch (kind) {
    case InputKind::ProcessorReport: {
      const ProcessorRelationships relationships = ParseProcessorRelationships(input);
      // The whole classification too, from the same bytes through the seam.
      FakeSystem topology;
      topology.recording = false;
      topology.relationshipReport = bytes;
      topology.activeProcessorCount = 8;
      const CoreMap map(topology);
      size_t total = relationships.cores.size() + relationships.nodes.size() + map.PerformanceCoreMask();
      for (const auto& [node, affinities] : map.NumaNodeTable()) total += map.NodeProcessorCount(node);
      return total;
    }
    case InputKind::CpuSetReport: {
      const std::vector<CpuSetRecord> records = ParseCpuSetReport(input);
      FakeSystem topology;
      topology.recording = false;
      topology.cpuSetReport = bytes;
      CpuSetInventory inventory;
      std::vector<ULONG> ids;
      inventory.CpuSetIdsFor(topology, true, {Affinity(~uint64_t{0}, 0), Affinity(0xFF, 1)}, ids);
      return records.size() + ids.size();
    }
    case InputKind::VersionFile: {
      // Whatever the server sends, a version read from it is one that packs.
      const std::wstring version = ParseVersionFile(input);
      if (!version.empty() && !ParseStrictVersion(version)) {
        std::printf("VERSION %ls accepted on input %llu, seed %u\n", version.c_str(),
                    static_cast<unsigned long long>(InputsTried.load() + 1), Seed);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 5);
      }
      return version.size();
    }
    case InputKind::InstallerImage:
      return ReadImageFileVersion(input).value_or(0);
    case InputKind::ListFile: {
      std::vector<std::wstring> entries;
      // Whatever a file is read as, the program writes it so that it reads back the same.
      if (DecodeProcessList(input, entries)) {
        const std::wstring written = EncodeProcessList(entries);
        std::vector<std::wstring> reread;
        if (!DecodeProcessList(std::as_bytes(std::span(written)), reread) || reread != entries) {
          std::printf("ROUND TRIP lost entries on input %llu, seed %u\n",
                      static_cast<unsigned long long>(InputsTried.load() + 1), Seed);
          std::fflush(stdout);
          ::TerminateProcess(::GetCurrentProcess(), 5);
        }
      }
      size_t total = 0;
      for (const std::wstring& entry : entries) total += entry.size();
      return total + entries.size();
    }
  }
  return 0;
}

LONG CALLBACK ReportCrash(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_STACK_OVERFLOW && code != EXCEPTION_INT_DIVIDE_BY_ZERO &&
      code != EXCEPTION_ILLEGAL_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  std::printf("CRASH 0x%08lX on input %llu (%s), seed %u\n", code, static_cast<unsigned long long>(InputsTried.load()),
              kKindNames[CurrentKind.load()], Seed);
  std::fflush(stdout);
  ::TerminateProcess(::GetCurrentProcess(), 3);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace
}  // namespace tarnwick

int wmain(int argc, wchar_t** argv) {
  using namespace tarnwick;
  uint64_t count = 100000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--count") == 0) count = std::wcstoull(argv[i + 1], nullptr, 10);
    if (std::wcscmp(argv[i], L"--seed") == 0) Seed = static_cast<uint32_t>(std::wcstoul(argv[i + 1], nullptr, 10));
  }
  ::AddVectoredExceptionHandler(1, ReportCrash);

  std::atomic<bool> done{false};
  uint64_t perKind[kKindCount] = {};
  // A seed the walker cannot read would only try its first checks.
  if (ReadImageFileVersion(InstallerImageSeed()) != 0x03020100u) {
    std::printf("The installer image seed does not read as 3.2.1.0\n");
    return 2;
  }
  size_t checksum = 0;
  std::thread fuzzer([&] {
    std::mt19937 random(Seed);
    GuardedBuffer guarded;
    struct SeedInput {
      InputKind kind;
      std::vector<std::byte> bytes;
    };
    const SeedInput seeds[] = {{InputKind::ProcessorReport, ProcessorReportSeed()},
                               {InputKind::CpuSetReport, CpuSetReportSeed()},
                               {InputKind::ListFile, ListFileSeed(0)},
                               {InputKind::ListFile, ListFileSeed(1)},
                               {InputKind::VersionFile, VersionFileSeed(0)},
                               {InputKind::VersionFile, VersionFileSeed(1)},
                               {InputKind::InstallerImage, InstallerImageSeed()}};
    for (uint64_t n = 0; n < count; ++n) {
      const SeedInput& seed = seeds[random() % std::size(seeds)];
      const InputKind kind = seed.kind;
      std::vector<std::byte> bytes = seed.bytes;
      Mutate(bytes, random);
      CurrentKind.store(static_cast<int>(kind));
      checksum += Exercise(kind, guarded.Place(bytes), bytes);
      ++perKind[static_cast<int>(kind)];
      InputsTried.store(n + 1);
    }
    done.store(true);
  });
  // The watchdog: every input must be done within kHangTimeoutMs.
  uint64_t last = 0;
  ULONGLONG lastProgress = ::GetTickCount64();
  while (!done.load()) {
    ::Sleep(50);
    const uint64_t now = InputsTried.load();
    if (now != last) {
      last = now;
      lastProgress = ::GetTickCount64();
    } else if (!done.load() && ::GetTickCount64() - lastProgress > kHangTimeoutMs) {
      std::printf("HANG on input %llu (%s), seed %u\n", static_cast<unsigned long long>(now + 1),
                  kKindNames[CurrentKind.load()], Seed);
      std::fflush(stdout);
      ::TerminateProcess(::GetCurrentProcess(), 4);
    }
  }
  fuzzer.join();
  std::printf("%-18s %10s\n", "input", "tried");
  for (int kind = 0; kind < kKindCount; ++kind) {
    std::printf("%-18s %10llu\n", kKindNames[kind], static_cast<unsigned long long>(perKind[kind]));
  }
  std::printf(
      "%llu inputs from seed %u, each ending before a page that cannot be read: none crashed, none hung "
      "(checksum %zu)\n",
      static_cast<unsigned long long>(count), Seed, checksum);
  return 0;
}
