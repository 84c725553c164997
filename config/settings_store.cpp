#include "config/settings_store.h"

#include "config/settings_names.h"
#include "platform/unique_handle.h"

namespace tarnwick {

SettingsStore::SettingsStore(HKEY root) : root_(root), keyPath_(kSettingsKeyPath) {}

bool SettingsStore::ReadValue(const wchar_t* name, uint32_t& out) {
  out = 0;
  unique_hkey key;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(root_, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr,
                        key.put(), &disposition) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = REG_DWORD;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) {
    return false;
  }
  out = data;
  return true;
}

bool SettingsStore::WriteValue(const wchar_t* name, uint32_t value) {
  std::lock_guard guard(lock_);
  unique_hkey key;
  DWORD disposition = 0;
  if (::RegCreateKeyExW(root_, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.put(),
                        &disposition) != ERROR_SUCCESS) {
    InvalidateLocked(name);
    return false;
  }
  const DWORD data = value;
  const LSTATUS status =
      ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
  InvalidateLocked(name);
  return status == ERROR_SUCCESS;
}

void SettingsStore::Invalidate(const wchar_t* name) {
  std::lock_guard guard(lock_);
  InvalidateLocked(name);
}

void SettingsStore::InvalidateLocked(const wchar_t* name) {
  flagCache_.erase(name);
  numberCache_.erase(name);
}

bool SettingsStore::ReadFlag(const wchar_t* name, bool& out, bool defaultValue) {
  std::lock_guard guard(lock_);
  if (const auto cached = flagCache_.find(name); cached != flagCache_.end()) {
    out = cached->second;
    return true;
  }
  uint32_t value = 0;
  if (!ReadValue(name, value)) {
    out = defaultValue;
    return false;
  }
  out = value != 0;
  flagCache_[name] = out;
  return true;
}

bool SettingsStore::GetFlag(const wchar_t* name) {
  std::lock_guard guard(lock_);
  bool value = false;
  if (!ReadFlag(name, value, false)) flagCache_[name] = false;
  return value;
}

bool SettingsStore::ReadNumber(const wchar_t* name, uint32_t& out) {
  std::lock_guard guard(lock_);
  if (const auto cached = numberCache_.find(name); cached != numberCache_.end()) {
    out = cached->second;
    return true;
  }
  if (!ReadValue(name, out)) return false;
  numberCache_[name] = out;
  return true;
}

bool SettingsStore::WriteFlag(const wchar_t* name, bool on) {
  std::lock_guard guard(lock_);
  flagCache_.erase(name);
  return WriteValue(name, on ? 1 : 0);
}

uint32_t ReadStatistic(const wchar_t* name) {
  SettingsStore store(HKEY_CURRENT_USER);
  uint32_t value = 0;
  store.ReadNumber(name, value);
  return value;
}

uint32_t WriteStatistic(const wchar_t* name, uint32_t value) {
  SettingsStore store(HKEY_CURRENT_USER);
  store.WriteValue(name, value);
  return value;
}

bool GetBetaUpdates() {
  if (SettingsStore(HKEY_CURRENT_USER).GetFlag(kBetaUpdates)) return true;
  return SettingsStore(HKEY_LOCAL_MACHINE).GetFlag(kBetaUpdates);
}

void SetBetaUpdates(bool on) {
  SettingsStore(HKEY_CURRENT_USER).WriteFlag(kBetaUpdates, on);
  SettingsStore(HKEY_LOCAL_MACHINE).WriteFlag(kBetaUpdates, on);
}

}  // namespace tarnwick
