#include "tests/child/child_processes.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace tarnwick {

std::wstring FindIdleChildProgram() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  for (int up = 0; up < 3; ++up) {
    folder.resize(folder.find_last_of(L'\\'));
    std::wstring candidate = folder + L"\\tarnwick_test_child.exe";
    if (::GetFileAttributesW(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
  }
  return L"tarnwick_test_child.exe";
}

namespace {

void FindCloseIgnoringResult(HANDLE search) noexcept { ::FindClose(search); }
using unique_hfind = unique_any<HANDLE, FindCloseIgnoringResult, detail::InvalidHandleValue>;

// A small host file (such as /proc/N/status) read whole; empty on failure.
std::string ReadHostFile(const std::wstring& path) {
  unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string text;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
  return text;
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

DWORD FindHostProcessId(const std::wstring& fileName) {
  std::string wanted;
  for (wchar_t c : fileName) wanted.push_back(static_cast<char>(c));  // test names are ASCII
  wanted = Lowercase(wanted);
  WIN32_FIND_DATAW found{};
  unique_hfind search(::FindFirstFileW(L"Z:\\proc\\*", &found));
  if (!search) return 0;
  DWORD result = 0;
  do {
    const std::wstring name = found.cFileName;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
      continue;
    }
    std::string command = ReadHostFile(L"Z:\\proc\\" + name + L"\\cmdline");
    std::replace(command.begin(), command.end(), '\0', ' ');
    if (Lowercase(command).find(wanted) != std::string::npos) {
      result = static_cast<DWORD>(std::wcstoul(name.c_str(), nullptr, 10));
      break;
    }
  } while (::FindNextFileW(search.get(), &found));
  return result;
}

std::string HostProcessStatus(DWORD hostProcessId, const char* field) {
  std::string status(1, '\n');
  status.append(ReadHostFile(L"Z:\\proc\\" + std::to_wstring(hostProcessId) + L"\\status"));
  std::string key(1, '\n');
  key.append(field).push_back(':');
  const size_t at = status.find(key);
  if (at == std::string::npos) return {};
  size_t begin = at + key.size();
  while (begin < status.size() && (status[begin] == ' ' || status[begin] == '\t')) ++begin;
  const size_t end = status.find('\n', begin);
  return status.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string HostProcessorList(uint64_t mask) {
  std::string list;
  for (int bit = 0; bit < 64;) {
    if (((mask >> bit) & 1) == 0) {
      ++bit;
      continue;
    }
    int last = bit;
    while (last + 1 < 64 && ((mask >> (last + 1)) & 1)) ++last;
    if (!list.empty()) list += ',';
    list += std::to_string(bit);
    if (last > bit) list += '-' + std::to_string(last);
    bit = last + 1;
  }
  return list;
}

uint64_t ProcessAffinity(HANDLE process) {
  DWORD_PTR processMask = 0, systemMask = 0;
  return ::GetProcessAffinityMask(process, &processMask, &systemMask) ? processMask : 0;
}

ChildProcesses::ChildProcesses(std::wstring childProgram) : childProgram_(std::move(childProgram)) {
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

DWORD ChildProcesses::Start(const std::wstring& fileName, const std::wstring& mode) {
  const std::wstring path = folder_ + L"\\" + fileName;
  if (std::find(copies_.begin(), copies_.end(), path) == copies_.end()) {
    if (!::CopyFileW(childProgram_.c_str(), path.c_str(), FALSE)) return Fail("copy", ::GetLastError());
    copies_.push_back(path);
  }
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  unique_handle ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  if (!ready) return Fail("event", ::GetLastError());
  std::wstring command = L"\"" + path + L"\" " + std::to_wstring(::GetCurrentProcessId()) + L" " +
                         std::to_wstring(reinterpret_cast<uintptr_t>(ready.get()));
  if (!mode.empty()) command += L" " + mode;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder_.c_str(), &startup,
                        &started)) {
    return Fail("CreateProcessW", ::GetLastError());
  }
  unique_handle thread(started.hThread);
  Child child{unique_handle(started.hProcess), started.dwProcessId};
  const HANDLE waits[] = {ready.get(), child.process.get()};
  const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, 30000);
  if (waited != WAIT_OBJECT_0) {
    ::TerminateProcess(child.process.get(), 1);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(child.process.get(), &exitCode);
    return Fail(waited == WAIT_TIMEOUT ? "not ready within 30 s" : "ended before it was ready", exitCode);
  }
  children_.push_back(std::move(child));
  return started.dwProcessId;
}

DWORD ChildProcesses::Fail(const char* step, DWORD code) {
  lastFailure_ = std::string(step) + " (" + std::to_string(code) + ")";
  return 0;
}

void ChildProcesses::End(size_t index) {
  Child& child = children_[index];
  ::TerminateProcess(child.process.get(), 0);
  ::WaitForSingleObject(child.process.get(), 10000);
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace tarnwick
