// Owning wrappers for Windows handles, one line per handle kind.
//
// unique_any<T, Close, Invalid> owns a value of type T and calls Close on it
// when it is destroyed or reset, unless it holds Invalid. It moves, never
// copies. "Null is invalid" handles and "INVALID_HANDLE_VALUE is invalid"
// handles are distinct types, so one cannot be put where the other belongs.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <new>
#include <utility>

namespace tarnwick {

template <typename T, auto Close, T (*Invalid)() = nullptr>
class unique_any {
 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  ~unique_any() { reset(); }

  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] T get() const noexcept { return value_; }
  [[nodiscard]] bool is_valid() const noexcept { return value_ != invalid(); }
  explicit operator bool() const noexcept { return is_valid(); }

  void reset(T value = invalid()) noexcept {
    T old = std::exchange(value_, value);
    if (old != invalid()) Close(old);
  }
  [[nodiscard]] T release() noexcept { return std::exchange(value_, invalid()); }

  // For out-parameters: frees the current value and hands out its slot.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  static T invalid() noexcept {
    if constexpr (Invalid == nullptr) {
      return T{};
    } else {
      return Invalid();
    }
  }
  T value_ = invalid();
};

namespace detail {
inline HANDLE InvalidHandleValue() noexcept { return INVALID_HANDLE_VALUE; }
inline void CloseHandleIgnoringResult(HANDLE handle) noexcept { ::CloseHandle(handle); }
inline void RegCloseKeyIgnoringResult(HKEY key) noexcept { ::RegCloseKey(key); }
inline void DeleteObjectIgnoringResult(HGDIOBJ object) noexcept { ::DeleteObject(object); }
inline void DestroyMenuIgnoringResult(HMENU menu) noexcept { ::DestroyMenu(menu); }
inline void DestroyIconIgnoringResult(HICON icon) noexcept { ::DestroyIcon(icon); }
inline void DestroyWindowIgnoringResult(HWND window) noexcept { ::DestroyWindow(window); }
inline void FreeLibraryIgnoringResult(HMODULE module) noexcept { ::FreeLibrary(module); }
inline void CoTaskMemFreeAny(void* memory) noexcept { ::CoTaskMemFree(memory); }
inline void FindCloseIgnoringResult(HANDLE find) noexcept { ::FindClose(find); }
inline void LocalFreeAny(HLOCAL memory) noexcept { ::LocalFree(memory); }
inline void GlobalFreeAny(HGLOBAL memory) noexcept { ::GlobalFree(memory); }
inline void UnhookWindowsHookExIgnoringResult(HHOOK hook) noexcept { ::UnhookWindowsHookEx(hook); }
inline void FreeSidIgnoringResult(PSID sid) noexcept { ::FreeSid(sid); }
inline void FindCloseChangeNotificationIgnoringResult(HANDLE change) noexcept { ::FindCloseChangeNotification(change); }
}  // namespace detail

// Kernel objects whose failure value is null: events, threads, processes.
using unique_handle = unique_any<HANDLE, detail::CloseHandleIgnoringResult>;
// Kernel objects whose failure value is INVALID_HANDLE_VALUE: files, Tool Help snapshots.
using unique_hfile = unique_any<HANDLE, detail::CloseHandleIgnoringResult, detail::InvalidHandleValue>;
using unique_hkey = unique_any<HKEY, detail::RegCloseKeyIgnoringResult>;
using unique_hfont = unique_any<HFONT, detail::DeleteObjectIgnoringResult>;
using unique_hbrush = unique_any<HBRUSH, detail::DeleteObjectIgnoringResult>;
using unique_hbitmap = unique_any<HBITMAP, detail::DeleteObjectIgnoringResult>;
using unique_hmenu = unique_any<HMENU, detail::DestroyMenuIgnoringResult>;
using unique_hicon = unique_any<HICON, detail::DestroyIconIgnoringResult>;
using unique_hwnd = unique_any<HWND, detail::DestroyWindowIgnoringResult>;
using unique_hmodule = unique_any<HMODULE, detail::FreeLibraryIgnoringResult>;
using unique_cotaskmem = unique_any<void*, detail::CoTaskMemFreeAny>;
// FindFirstFileW's search handle (INVALID_HANDLE_VALUE on failure).
using unique_find = unique_any<HANDLE, detail::FindCloseIgnoringResult, detail::InvalidHandleValue>;
// Memory the system allocated with LocalAlloc for the caller (FormatMessageW, security descriptors).
using unique_hlocal = unique_any<HLOCAL, detail::LocalFreeAny>;
// Memory for the clipboard, until SetClipboardData takes it over.
using unique_hglobal = unique_any<HGLOBAL, detail::GlobalFreeAny>;
using unique_hhook = unique_any<HHOOK, detail::UnhookWindowsHookExIgnoringResult>;
// A SID from AllocateAndInitializeSid (other SIDs are freed with LocalFree).
using unique_sid = unique_any<PSID, detail::FreeSidIgnoringResult>;
// FindFirstChangeNotificationW's handle (INVALID_HANDLE_VALUE on failure).
using unique_change_notification =
    unique_any<HANDLE, detail::FindCloseChangeNotificationIgnoringResult, detail::InvalidHandleValue>;

// A BSTR owned by this scope: SysFreeString on exit.
class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  // Throws std::bad_alloc when the string cannot be allocated, the
  // program-wide rule for exhausted memory.
  explicit unique_bstr(const wchar_t* text) : value_(::SysAllocString(text)) {
    if (text != nullptr && value_ == nullptr) throw std::bad_alloc();
  }
  ~unique_bstr() { ::SysFreeString(value_); }
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  unique_bstr& operator=(unique_bstr&& other) noexcept {
    if (this != &other) {
      ::SysFreeString(value_);
      value_ = std::exchange(other.value_, nullptr);
    }
    return *this;
  }
  [[nodiscard]] BSTR get() const noexcept { return value_; }
  // Hands the string to a new owner, such as a VARIANT.
  [[nodiscard]] BSTR release() noexcept { return std::exchange(value_, nullptr); }

 private:
  BSTR value_ = nullptr;
};

// A COM interface pointer: Release in the destructor, AddRef on copy.
template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  ~com_ptr() { reset(); }
  com_ptr(const com_ptr& other) noexcept : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  com_ptr& operator=(const com_ptr& other) noexcept {
    com_ptr copy(other);
    std::swap(ptr_, copy.ptr_);
    return *this;
  }
  com_ptr(com_ptr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  // For out-parameters of creating calls: releases the current object first.
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  T* ptr_ = nullptr;
};

}  // namespace tarnwick
