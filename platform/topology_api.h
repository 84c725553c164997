// The processor topology reports: processor relationships, active processors
// and CPU sets.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tarnwick {

class TopologyApi {
 public:
  TopologyApi() = default;
  TopologyApi(const TopologyApi&) = delete;
  TopologyApi& operator=(const TopologyApi&) = delete;
  virtual ~TopologyApi() = default;

  // GetLogicalProcessorInformationEx(relationship, buffer, &length); on failure
  // lastError is GetLastError (ERROR_INSUFFICIENT_BUFFER with the needed length).
  [[nodiscard]] virtual bool GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship, void* buffer,
                                                              DWORD& length, DWORD& lastError) = 0;
  // GetActiveProcessorCount(group).
  [[nodiscard]] virtual DWORD GetActiveProcessorCount(WORD group) = 0;
  // GetSystemInfo's dwActiveProcessorMask.
  [[nodiscard]] virtual uint64_t GetActiveProcessorMask() = 0;
  // GetNumaHighestNodeNumber(&highest).
  [[nodiscard]] virtual bool GetNumaHighestNodeNumber(ULONG& highest) = 0;
  // GetSystemCpuSetInformation(buffer, length, &returned, GetCurrentProcess(), 0),
  // looked up at run time; fails with ERROR_CALL_NOT_IMPLEMENTED when this Windows lacks it.
  [[nodiscard]] virtual bool GetSystemCpuSetInformation(void* buffer, ULONG length, ULONG& returnedLength,
                                                        DWORD& lastError) = 0;
};

}  // namespace tarnwick
