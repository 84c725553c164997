// Records of the processor relationship report, the CPU set report and the
// power throttling state in their current layout. MinGW-w64's headers lack
// them or declare an older form (no efficiency class, no NUMA group count), so
// they are declared here once, with their offsets pinned.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tarnwick {

// The fields keep the SDK's names.
// NOLINTBEGIN(readability-identifier-naming)
// Header shared by every record of GetLogicalProcessorInformationEx.
struct RelationshipRecordHeader {
  DWORD Relationship;
  DWORD Size;
};

// A RelationProcessorCore (or package) record; only the first affinity is read.
struct ProcessorRelationshipRecord {
  DWORD Relationship;
  DWORD Size;
  BYTE Flags;
  BYTE EfficiencyClass;
  BYTE Reserved[20];
  WORD GroupCount;
  GROUP_AFFINITY GroupMask[1];
};

// A RelationNumaNode record; GroupCount affinities start at GroupMasks.
struct NumaNodeRelationshipRecord {
  DWORD Relationship;
  DWORD Size;
  DWORD NodeNumber;
  BYTE Reserved[18];
  WORD GroupCount;
  GROUP_AFFINITY GroupMasks[1];
};

// One record of GetSystemCpuSetInformation of type CpuSetInformation (0).
struct CpuSetInformationRecord {
  DWORD Size;
  DWORD Type;
  DWORD Id;
  WORD Group;
  BYTE LogicalProcessorIndex;
  BYTE CoreIndex;
  BYTE LastLevelCacheIndex;
  BYTE NumaNodeIndex;
  BYTE EfficiencyClass;
  BYTE AllFlags;
  DWORD Reserved;
  DWORD64 AllocationTag;
};

// The argument of SetProcessInformation(ProcessPowerThrottling).
struct PowerThrottlingState {
  ULONG Version;
  ULONG ControlMask;
  ULONG StateMask;
};

inline constexpr DWORD kRelationProcessorCore = 0;
inline constexpr DWORD kRelationNumaNode = 1;
inline constexpr DWORD kCpuSetInformationType = 0;
// Missing from MinGW-w64's headers: the access right that SetProcessDefaultCpuSets needs.
inline constexpr DWORD kProcessSetLimitedInformation = 0x2000;
inline constexpr DWORD kProcessorInformationRecordSize = 80;  // the platform's fixed-size record type

static_assert(sizeof(GROUP_AFFINITY) == 16);
static_assert(offsetof(ProcessorRelationshipRecord, EfficiencyClass) == 9);
static_assert(offsetof(ProcessorRelationshipRecord, GroupCount) == 30);
static_assert(offsetof(ProcessorRelationshipRecord, GroupMask) == 32);
static_assert(sizeof(ProcessorRelationshipRecord) == 48);
static_assert(offsetof(NumaNodeRelationshipRecord, NodeNumber) == 8);
static_assert(offsetof(NumaNodeRelationshipRecord, GroupCount) == 30);
static_assert(offsetof(NumaNodeRelationshipRecord, GroupMasks) == 32);
static_assert(sizeof(NumaNodeRelationshipRecord) == 48);
static_assert(sizeof(CpuSetInformationRecord) == 32);
static_assert(offsetof(CpuSetInformationRecord, Id) == 8);
static_assert(offsetof(CpuSetInformationRecord, Group) == 12);
static_assert(offsetof(CpuSetInformationRecord, LogicalProcessorIndex) == 14);
static_assert(sizeof(PowerThrottlingState) == 12);

// One entry of NtQuerySystemInformation(SystemProcessorPerformanceInformation).
struct ProcessorPerformanceRecord {
  LARGE_INTEGER IdleTime;
  LARGE_INTEGER KernelTime;  // includes IdleTime
  LARGE_INTEGER UserTime;
  LARGE_INTEGER DpcTime;
  LARGE_INTEGER InterruptTime;
  ULONG InterruptCount;
};
static_assert(sizeof(ProcessorPerformanceRecord) == 48);
static_assert(offsetof(ProcessorPerformanceRecord, UserTime) == 16);
// NOLINTEND(readability-identifier-naming)
inline constexpr ULONG kSystemProcessorPerformanceInformation = 8;

}  // namespace tarnwick
