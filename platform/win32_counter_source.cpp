#include "platform/counter_source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>

#include "platform/system_records.h"

namespace tarnwick {
namespace {

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using NtQuerySystemInformationExFn = LONG(WINAPI*)(ULONG, void*, ULONG, void*, ULONG, ULONG*);

constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
constexpr LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003);

// ntdll is loaded in every process; each lookup is done once.
template <typename Function>
Function LookUpNtdll(const char* name) noexcept {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, name)));
}

// A processor group holds at most 64 processors.
using GroupRecords = std::array<ProcessorPerformanceRecord, 64>;

// The records of `group`; the number of bytes written, or nullopt when the
// group cannot be read.
std::optional<ULONG> QueryGroupRecords(WORD group, GroupRecords& records) noexcept {
  static const auto queryEx = LookUpNtdll<NtQuerySystemInformationExFn>("NtQuerySystemInformationEx");
  static const auto query = LookUpNtdll<NtQuerySystemInformationFn>("NtQuerySystemInformation");
  // Whether this ntdll answers the grouped query: learnt at the first call.
  static std::atomic<bool> grouped{queryEx != nullptr};
  ULONG returned = 0;
  if (grouped.load(std::memory_order_relaxed)) {
    USHORT input = group;
    const LONG status = queryEx(kSystemProcessorPerformanceInformation, &input, sizeof(input), records.data(),
                                sizeof(records), &returned);
    if (status >= 0) return returned;
    if (status != kStatusNotImplemented && status != kStatusInvalidInfoClass) return std::nullopt;
    grouped.store(false, std::memory_order_relaxed);
  }
  // The plain call reports the calling thread's group: it answers for no other.
  GROUP_AFFINITY own{};
  if (query == nullptr || !::GetThreadGroupAffinity(::GetCurrentThread(), &own) || own.Group != group) {
    return std::nullopt;
  }
  if (query(kSystemProcessorPerformanceInformation, records.data(), sizeof(records), &returned) < 0) {
    return std::nullopt;
  }
  return returned;
}

class Win32Counters final : public CounterSource {
 public:
  bool OpenQuery(PDH_HQUERY& query) override { return ::PdhOpenQueryW(nullptr, 0, &query) == ERROR_SUCCESS; }
  bool AddEnglishCounter(PDH_HQUERY query, const wchar_t* path, PDH_HCOUNTER& counter) override {
    return ::PdhAddEnglishCounterW(query, path, 0, &counter) == ERROR_SUCCESS;
  }
  bool CollectQueryData(PDH_HQUERY query) override { return ::PdhCollectQueryData(query) == ERROR_SUCCESS; }
  bool GetFormattedLongValue(PDH_HCOUNTER counter, long& value) override {
    if (counter == nullptr) return false;
    PDH_FMT_COUNTERVALUE formatted{};
    if (::PdhGetFormattedCounterValue(counter, PDH_FMT_LONG, nullptr, &formatted) != ERROR_SUCCESS) return false;
    value = formatted.longValue;
    return true;
  }
  void RemoveCounter(PDH_HCOUNTER counter) override { ::PdhRemoveCounter(counter); }
  void CloseQuery(PDH_HQUERY query) override { ::PdhCloseQuery(query); }

  size_t QueryProcessorTimes(WORD group, std::span<ProcessorTimes> times) override {
    GroupRecords records{};
    const std::optional<ULONG> returned = QueryGroupRecords(group, records);
    if (!returned) return 0;
    const size_t count =
        std::min({static_cast<size_t>(*returned) / sizeof(ProcessorPerformanceRecord), records.size(), times.size()});
    for (size_t i = 0; i < count; ++i) {
      times[i] = {static_cast<uint64_t>(records[i].IdleTime.QuadPart),
                  static_cast<uint64_t>(records[i].KernelTime.QuadPart),
                  static_cast<uint64_t>(records[i].UserTime.QuadPart)};
    }
    return count;
  }
};

}  // namespace

CounterSource& Win32CounterSource() {
  static Win32Counters instance;
  return instance;
}

}  // namespace tarnwick
