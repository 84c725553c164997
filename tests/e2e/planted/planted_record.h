// What a planted DLL or a substituted program does when the system runs it:
// it appends the path of the process it runs in to the file that the
// environment variable TARNWICK_PLANTED_RECORD names (the test sets it, and
// every process started from the test inherits it).
#pragma once

#include <windows.h>

inline void RecordThatThisRan(const wchar_t* what) {
  wchar_t record[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"TARNWICK_PLANTED_RECORD", record, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const HANDLE file = ::CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  wchar_t host[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, host, MAX_PATH);
  char line[3 * MAX_PATH] = {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, what, -1, line, sizeof(line) / 2, nullptr, nullptr);
  const int used = size > 0 ? size - 1 : 0;
  line[used] = ' ';
  const int hostSize = ::WideCharToMultiByte(CP_UTF8, 0, host, -1, line + used + 1,
                                             static_cast<int>(sizeof(line)) - used - 3, nullptr, nullptr);
  const int end = used + 1 + (hostSize > 0 ? hostSize - 1 : 0);
  line[end] = '\n';
  DWORD written = 0;
  ::WriteFile(file, line, static_cast<DWORD>(end) + 1, &written, nullptr);
  ::CloseHandle(file);
}
