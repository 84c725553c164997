// Idle child processes under chosen file names, for placement benchmarks and
// tests: the idle child program copied to NAME.exe in a private folder and
// started from there. Children end when this object goes (and, should this
// process die, when they see their parent gone).
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class ChildProcesses {
 public:
  // childProgram: the idle child executable to copy.
  explicit ChildProcesses(std::wstring childProgram);
  ~ChildProcesses();
  ChildProcesses(const ChildProcesses&) = delete;
  ChildProcesses& operator=(const ChildProcesses&) = delete;

  // Starts fileName (such as L"child_07.exe") and waits until it runs; the
  // process id, or 0 on failure. `mode` is passed on as the child's last
  // argument (L"spin" keeps a processor busy).
  DWORD Start(const std::wstring& fileName, const std::wstring& mode = {});
  // Ends the child started at position index of the live list.
  void End(size_t index);
  [[nodiscard]] size_t Count() const { return children_.size(); }
  [[nodiscard]] HANDLE Handle(size_t index) const { return children_[index].process.get(); }
  [[nodiscard]] DWORD Id(size_t index) const { return children_[index].id; }
  [[nodiscard]] const std::wstring& Folder() const { return folder_; }
  // Why the last Start failed: the step and its error or exit code.
  [[nodiscard]] const std::string& LastFailure() const { return lastFailure_; }

 private:
  struct Child {
    unique_handle process;
    DWORD id = 0;
  };
  std::wstring childProgram_;
  std::wstring folder_;
  std::vector<std::wstring> copies_;
  std::vector<Child> children_;
  std::string lastFailure_;

  DWORD Fail(const char* step, DWORD code);
};

// The idle child program beside the running executable or up to two folders up.
[[nodiscard]] std::wstring FindIdleChildProgram();

// Under Wine, the host's view of a process: the host process id of the
// process whose command line holds fileName (scanning Z:\proc\*\cmdline),
// 0 when there is none or this is not Wine.
[[nodiscard]] DWORD FindHostProcessId(const std::wstring& fileName);
// A processor mask as the host lists processors in /proc: "0-3,6".
[[nodiscard]] std::string HostProcessorList(uint64_t mask);
// GetProcessAffinityMask's mask of process; 0 when it cannot be read.
[[nodiscard]] uint64_t ProcessAffinity(HANDLE process);
// A field of the host's /proc/PID/status (such as "Cpus_allowed_list"),
// without the name and blanks; empty when it cannot be read.
[[nodiscard]] std::string HostProcessStatus(DWORD hostProcessId, const char* field);

}  // namespace tarnwick
