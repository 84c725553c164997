// 32-bit registry values under "Software\Tarnwick" of one root, with a cache
// of what was read. Safe to share between threads: the application-wide
// instance is used by the user-interface thread and the worker.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tarnwick {

class SettingsStore {
 public:
  // Binds the store to `root`; touches no registry key.
  explicit SettingsStore(HKEY root);

  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The raw value, uncached; `out` is 0 unless the read succeeds. Creates the
  // key when it is missing. The stored type is not examined: data of up to
  // 4 bytes is taken as it is, longer data fails the read.
  bool ReadValue(const wchar_t* name, uint32_t& out);
  // Writes a REG_DWORD and drops the name from both caches, written or not.
  bool WriteValue(const wchar_t* name, uint32_t value);
  void Invalidate(const wchar_t* name);

  // Any nonzero value is on. A failed read yields `defaultValue`, caches
  // nothing and returns false.
  bool ReadFlag(const wchar_t* name, bool& out, bool defaultValue);
  // As ReadFlag with default false, but a failed read is remembered as false
  // until the name is written or invalidated through this store.
  bool GetFlag(const wchar_t* name);
  // A failed read yields 0, caches nothing and returns false.
  bool ReadNumber(const wchar_t* name, uint32_t& out);
  // Writes 1 or 0.
  bool WriteFlag(const wchar_t* name, bool on);

 private:
  void InvalidateLocked(const wchar_t* name);

  const HKEY root_;
  const std::wstring keyPath_;
  // Guards both caches. Registry calls happen under it too, so a read and a
  // write of one name cannot interleave with a stale cache entry left over.
  std::recursive_mutex lock_;
  std::map<std::wstring, bool> flagCache_;
  std::map<std::wstring, uint32_t> numberCache_;
};

// Each of these uses a store of its own, so nothing is cached between calls.
uint32_t ReadStatistic(const wchar_t* name);
// Writes the full value under HKEY_CURRENT_USER; returns `value`.
uint32_t WriteStatistic(const wchar_t* name, uint32_t value);
// On under HKEY_CURRENT_USER, or else on under HKEY_LOCAL_MACHINE.
bool GetBetaUpdates();
// Writes under HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE (which needs
// administrative rights); results are ignored.
void SetBetaUpdates(bool on);

}  // namespace tarnwick
