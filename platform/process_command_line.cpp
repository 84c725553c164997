#include "platform/process_command_line.h"

#include "platform/unique_handle.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace tarnwick {
namespace {

using QueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessCommandLineInformation = 60;
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
// Where the x64 process environment block keeps its parameters, and where
// those keep the command line.
constexpr size_t kPebProcessParametersOffset = 0x20;
constexpr size_t kParametersCommandLineOffset = 0x70;
static_assert(offsetof(PEB, ProcessParameters) == kPebProcessParametersOffset);
static_assert(offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine) == kParametersCommandLineOffset);
// A command line holds at most 32767 characters.
constexpr USHORT kMaxCommandLineBytes = 32767 * sizeof(wchar_t);

QueryInformationProcessFn QueryInformationProcess() {
  static const auto query = [] {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr ? nullptr
                            : reinterpret_cast<QueryInformationProcessFn>(
                                  reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
  }();
  return query;
}

bool ReadRemote(HANDLE process, const void* address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, address, buffer, size, &read) && read == size;
}

// A counted string of `length` bytes; nullopt when empty, odd or too long.
std::optional<std::wstring> TextOfLength(USHORT length) {
  if (length == 0 || length % sizeof(wchar_t) != 0 || length > kMaxCommandLineBytes) return std::nullopt;
  return std::wstring(length / sizeof(wchar_t), L'\0');
}

std::optional<std::wstring> QueryCommandLineInformation(QueryInformationProcessFn query, DWORD processId) {
  const unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return std::nullopt;
  // The answer is a UNICODE_STRING followed by its characters.
  std::vector<std::byte> buffer(sizeof(UNICODE_STRING) + 1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status =
        query(process.get(), kProcessCommandLineInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch && needed > buffer.size()) {
      buffer.resize(needed);
      continue;
    }
    if (status != 0) return std::nullopt;
    UNICODE_STRING text{};
    std::memcpy(&text, buffer.data(), sizeof(text));
    std::optional<std::wstring> commandLine = TextOfLength(text.Length);
    const auto* first = reinterpret_cast<const std::byte*>(text.Buffer);
    const std::byte* end = buffer.data() + buffer.size();
    // The characters must lie inside the answer.
    if (!commandLine || first < buffer.data() || first > end || static_cast<size_t>(end - first) < text.Length) {
      return std::nullopt;
    }
    std::memcpy(commandLine->data(), first, text.Length);
    return commandLine;
  }
  return std::nullopt;
}

std::optional<std::wstring> ReadCommandLineFromEnvironmentBlock(QueryInformationProcessFn query, DWORD processId) {
  const unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return std::nullopt;
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  if (query(process.get(), kProcessBasicInformation, &basic, sizeof(basic), &length) != 0 ||
      basic.PebBaseAddress == nullptr) {
    return std::nullopt;
  }
  const std::byte* parameters = nullptr;
  if (!ReadRemote(process.get(), reinterpret_cast<const std::byte*>(basic.PebBaseAddress) + kPebProcessParametersOffset,
                  &parameters, sizeof(parameters)) ||
      parameters == nullptr) {
    return std::nullopt;
  }
  UNICODE_STRING text{};
  if (!ReadRemote(process.get(), parameters + kParametersCommandLineOffset, &text, sizeof(text))) return std::nullopt;
  std::optional<std::wstring> commandLine = TextOfLength(text.Length);
  if (!commandLine || text.Buffer == nullptr ||
      !ReadRemote(process.get(), text.Buffer, commandLine->data(), text.Length)) {
    return std::nullopt;
  }
  return commandLine;
}

}  // namespace

std::optional<std::wstring> ReadProcessCommandLine(DWORD processId) {
  const QueryInformationProcessFn query = QueryInformationProcess();
  if (query == nullptr) return std::nullopt;
  if (auto commandLine = QueryCommandLineInformation(query, processId)) return commandLine;
  return ReadCommandLineFromEnvironmentBlock(query, processId);
}

}  // namespace tarnwick
