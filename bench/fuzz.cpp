// Feeds the byte walkers mutated input: processor relationship reports, CPU
// set reports and list files. Each input is copied so that its last byte is
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

enum class InputKind { kProcessorReport, kCpuSetReport, kListFile };
constexpr const char* kKindNames[] = {"processor report", "CPU set report", "list file"};
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
      base_ = static_cast<std::byte*>(::VirtualAlloc(nullptr, readable + page_, MEM_RESERVE | MEM_COMMIT,
                                                     PAGE_READWRITE));
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
  const std::vector<GROUP_AFFINITY> two_groups{Affinity(0xF, 0), Affinity(0x3, 1)};
  report.Node(0, {Affinity(0x3F)}, 1).Node(1, two_groups, 2, 80);
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

// Values that sit on the walkers' bounds: sizes, counts, record kinds.
constexpr uint32_t kInteresting[] = {0, 1, 2, 7, 8, 16, 24, 30, 31, 32, 33, 47, 48, 49, 79, 80, 81, 0x7F, 0x80,
                                     0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
                                     0xFFFFFFFE, 0xFFFFFFFF, 0x0A, 0x0D, 0xFEFF, 0xFFFE, 0xC0, 0xEF, 0xF4, 0xF8};

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
    case InputKind::kProcessorReport: {
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
    case InputKind::kCpuSetReport: {
      const std::vector<CpuSetRecord> records = ParseCpuSetReport(input);
      FakeSystem topology;
      topology.recording = false;
      topology.cpuSetReport = bytes;
      CpuSetInventory inventory;
      std::vector<ULONG> ids;
      inventory.CpuSetIdsFor(topology, true, {Affinity(~uint64_t{0}, 0), Affinity(0xFF, 1)}, ids);
      return records.size() + ids.size();
    }
    case InputKind::kListFile: {
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
  std::printf("CRASH 0x%08lX on input %llu (%s), seed %u\n", code,
              static_cast<unsigned long long>(InputsTried.load()), kKindNames[CurrentKind.load()], Seed);
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
  uint64_t per_kind[3] = {};
  size_t checksum = 0;
  std::thread fuzzer([&] {
    std::mt19937 random(Seed);
    GuardedBuffer guarded;
    const std::vector<std::byte> seeds[] = {ProcessorReportSeed(), CpuSetReportSeed(), ListFileSeed(0),
                                            ListFileSeed(1)};
    for (uint64_t n = 0; n < count; ++n) {
      const uint32_t pick = random() % 4;
      const auto kind = static_cast<InputKind>(pick < 2 ? pick : 2);
      std::vector<std::byte> bytes = seeds[pick];
      Mutate(bytes, random);
      CurrentKind.store(static_cast<int>(kind));
      checksum += Exercise(kind, guarded.Place(bytes), bytes);
      ++per_kind[static_cast<int>(kind)];
      InputsTried.store(n + 1);
    }
    done.store(true);
  });
  // The watchdog: every input must be done within kHangTimeoutMs.
  uint64_t last = 0;
  ULONGLONG last_progress = ::GetTickCount64();
  while (!done.load()) {
    ::Sleep(50);
    const uint64_t now = InputsTried.load();
    if (now != last) {
      last = now;
      last_progress = ::GetTickCount64();
    } else if (!done.load() && ::GetTickCount64() - last_progress > kHangTimeoutMs) {
      std::printf("HANG on input %llu (%s), seed %u\n", static_cast<unsigned long long>(now + 1),
                  kKindNames[CurrentKind.load()], Seed);
      std::fflush(stdout);
      ::TerminateProcess(::GetCurrentProcess(), 4);
    }
  }
  fuzzer.join();
  std::printf("%-18s %10s\n", "input", "tried");
  for (int kind = 0; kind < 3; ++kind) {
    std::printf("%-18s %10llu\n", kKindNames[kind], static_cast<unsigned long long>(per_kind[kind]));
  }
  std::printf("%llu inputs from seed %u, each ending before a page that cannot be read: none crashed, none hung "
              "(checksum %zu)\n",
              static_cast<unsigned long long>(count), Seed, checksum);
  return 0;
}
