#include "bench/child_processes.h"

#include <algorithm>
#include <string>

namespace tarnwick {

std::wstring FindIdleChildProgram() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  for (int up = 0; up < 3; ++up) {
    folder.resize(folder.find_last_of(L'\\'));
    const std::wstring candidate = folder + L"\\tarnwick_test_child.exe";
    if (::GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return L"tarnwick_test_child.exe";
}

ChildProcesses::ChildProcesses(std::wstring childProgram) : child_program_(std::move(childProgram)) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  folder_ = std::wstring(temp) + L"tarnwick-children-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder_.c_str(), nullptr);
}

ChildProcesses::~ChildProcesses() {
  while (!children_.empty()) End(children_.size() - 1);
  for (const std::wstring& copy : copies_) ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(folder_.c_str());
}

DWORD ChildProcesses::Start(const std::wstring& fileName) {
  const std::wstring path = folder_ + L"\\" + fileName;
  if (std::find(copies_.begin(), copies_.end(), path) == copies_.end()) {
    if (!::CopyFileW(child_program_.c_str(), path.c_str(), FALSE)) return 0;
    copies_.push_back(path);
  }
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  if (!ready) return 0;
  std::wstring command = L"\"" + path + L"\" " + std::to_wstring(::GetCurrentProcessId()) + L" " +
                         std::to_wstring(reinterpret_cast<uintptr_t>(ready.get()));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder_.c_str(), &startup,
                        &started)) {
    return 0;
  }
  unique_handle thread(started.hThread);
  Child child{unique_handle(started.hProcess), started.dwProcessId};
  const HANDLE waits[] = {ready.get(), child.process.get()};
  if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
    ::TerminateProcess(child.process.get(), 1);
    return 0;
  }
  children_.push_back(std::move(child));
  return started.dwProcessId;
}

void ChildProcesses::End(size_t index) {
  Child& child = children_[index];
  ::TerminateProcess(child.process.get(), 0);
  ::WaitForSingleObject(child.process.get(), 10000);
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace tarnwick
