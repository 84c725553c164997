// What one enforcement pass found and did, process by process, for windows
// that show it: each process's name, id, image path, the first pattern it
// matched and the outcome of each placement method's last call. The worker
// fills one buffer while the other is on show and swaps them under a lock at
// the end of the pass, so a pass reuses the strings and rows of the pass
// before last and the reader copies into storage of its own.
#pragma once

#include "platform/process_start_source.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tarnwick {

// The placement methods in the order the worker applies them.
enum class PlacementMethod : uint8_t { EfficiencyMode, CpuAffinity, CpuSets };
inline constexpr size_t kPlacementMethodCount = 3;

struct MethodResult {
  enum class Outcome : uint8_t {
    NotRun,  // switched off, not matched, or the process had ended
    Placed,
    Failed,         // error holds the code: of the open, of the call, or ERROR_PROC_NOT_FOUND for a missing function
    NotApplicable,  // nothing to give: no CPU set Id is known for any P-core, so no call was made
  };
  // Efficiency mode only. Task Manager's efficiency mode is EcoQoS and the
  // Idle priority class together; with EcoQoS turned off, the Idle class of
  // such a process is raised to Normal as well.
  enum class Priority : uint8_t {
    Untouched,  // not in efficiency mode, or its state could not be read
    Normal,     // raised from Idle to Normal
    StillIdle,  // raising it failed; priorityError holds the code
  };
  Outcome outcome = Outcome::NotRun;
  DWORD error = ERROR_SUCCESS;
  Priority priority = Priority::Untouched;
  DWORD priorityError = ERROR_SUCCESS;
  // Failed with ERROR_ACCESS_DENIED on a process that Windows protects (an
  // anti-malware service, a system process): it refuses the change to every
  // caller, administrators included.
  bool deniedAsProtected = false;

  friend bool operator==(const MethodResult&, const MethodResult&) = default;
};

using MethodResults = std::array<MethodResult, kPlacementMethodCount>;
// Which methods were switched on for a pass, in the methods' order.
using MethodsOn = std::array<bool, kPlacementMethodCount>;

struct ProcessResult {
  DWORD processId = 0;
  std::wstring fileName;   // the snapshot's name
  std::wstring imagePath;  // empty while it cannot be read
  std::wstring pattern;    // the first list entry that matched; empty when none did
  bool matched = false;
  MethodResults methods{};

  friend bool operator==(const ProcessResult&, const ProcessResult&) = default;
};

struct PassResults {
  uint64_t pass = 0;  // 1 for the first published pass, then counting up
  uint32_t scanned = 0;
  uint32_t matched = 0;  // processes matched, as published to the settings
  MethodsOn methodsOn{true, true, true};
  StartWatchStatus startWatch;  // whether processes are also placed as they start
  std::vector<ProcessResult> processes;
};

class PassResultsExchange {
 public:
  PassResultsExchange() = default;
  PassResultsExchange(const PassResultsExchange&) = delete;
  PassResultsExchange& operator=(const PassResultsExchange&) = delete;

  // Worker thread only: empties the buffer being filled, keeping its storage.
  void BeginPass() noexcept { used_ = 0; }
  // Worker thread only: the next row of the pass, its strings holding an
  // earlier pass's text for the caller to overwrite.
  ProcessResult& NextRow();
  // Worker thread only: the methods switched on for the pass being filled.
  void SetMethodsOn(const MethodsOn& on) noexcept { filling_.methodsOn = on; }
  // Worker thread only: publishes the rows filled since BeginPass.
  void Publish(uint32_t scanned, uint32_t matched);
  // Worker thread only, before Publish: whether starts are watched.
  void SetStartWatch(const StartWatchStatus& status) noexcept { filling_.startWatch = status; }
  // Worker thread only, between passes: the row of a process placed as it
  // started joins the published pass (in place of its own row, if listed).
  void PublishStartPlacement(const ProcessResult& row);

  // Any thread: copies the latest published pass into `out` when it is newer
  // than out.pass. False when there was nothing newer.
  bool CopyLatest(PassResults& out) const;

 private:
  PassResults filling_;
  size_t used_ = 0;
  uint64_t passes_ = 0;
  mutable std::mutex lock_;
  PassResults published_;  // guarded by lock_
};

}  // namespace tarnwick
