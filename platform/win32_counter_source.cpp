#include "platform/counter_source.h"

#include <algorithm>
#include <array>

#include "platform/system_records.h"

namespace tarnwick {
namespace {

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

// ntdll is loaded in every process; the lookup is done once.
NtQuerySystemInformationFn LookUpNtQuerySystemInformation() noexcept {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<NtQuerySystemInformationFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQuerySystemInformation")));
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

  size_t QueryProcessorTimes(std::span<ProcessorTimes> times) override {
    static const NtQuerySystemInformationFn query = LookUpNtQuerySystemInformation();
    if (query == nullptr) return 0;
    // A processor group holds at most 64 processors.
    std::array<ProcessorPerformanceRecord, 64> records{};
    ULONG returned = 0;
    if (query(kSystemProcessorPerformanceInformation, records.data(), sizeof(records), &returned) < 0) return 0;
    const size_t count = std::min({static_cast<size_t>(returned) / sizeof(ProcessorPerformanceRecord),
                                   records.size(), times.size()});
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
