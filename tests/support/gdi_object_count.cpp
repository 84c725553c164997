#include "tests/support/gdi_object_count.h"

#include <winternl.h>

#include <cstdint>
#include <vector>

namespace tarnwick {

namespace {

// Where the table sits and what one entry looks like, on x64.
constexpr size_t kPebGdiSharedHandleTableOffset = 0xF8;
constexpr size_t kGdiTableEntries = 0x10000;
constexpr size_t kGdiTableEntrySize = 24;
constexpr size_t kGdiEntryTypeOffset = 14;

bool ReadRemote(HANDLE process, const void* address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, address, buffer, size, &read) && read == size;
}

}  // namespace

std::optional<size_t> CountLiveGdiObjects(HANDLE process) {
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto query =
      ntdll == nullptr
          ? nullptr
          : reinterpret_cast<QueryFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
  if (query == nullptr) return std::nullopt;
  PROCESS_BASIC_INFORMATION basic = {};
  ULONG length = 0;
  if (query(process, ProcessBasicInformation, &basic, sizeof(basic), &length) != 0 || basic.PebBaseAddress == nullptr) {
    return std::nullopt;
  }
  const void* table = nullptr;
  if (!ReadRemote(process, reinterpret_cast<const std::byte*>(basic.PebBaseAddress) + kPebGdiSharedHandleTableOffset,
                  &table, sizeof(table)) ||
      table == nullptr) {
    return std::nullopt;
  }
  std::vector<uint8_t> entries(kGdiTableEntries * kGdiTableEntrySize);
  if (!ReadRemote(process, table, entries.data(), entries.size())) return std::nullopt;
  size_t live = 0;
  for (size_t entry = 0; entry < kGdiTableEntries; ++entry) {
    if (entries[entry * kGdiTableEntrySize + kGdiEntryTypeOffset] != 0) ++live;
  }
  return live;
}

}  // namespace tarnwick
