// Owning wrappers for every kind of operating-system handle the bootstrapper uses.
//
// One template, one traits struct per handle kind. A handle is valid when it is neither null
// nor INVALID_HANDLE_VALUE, whatever the kind, so a failed CreateFileW and a failed
// CreateToolhelp32Snapshot look the same as a failed OpenProcess. Closing keeps GetLastError,
// so an error code can still be read after a wrapper went out of scope on a failure path.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdint>
#include <utility>

namespace lum::installer {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedHandle() { Reset(); }

  static bool IsValidHandle(Handle handle) {
    return handle != Handle{} && reinterpret_cast<std::uintptr_t>(handle) !=
                                     reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE);
  }
  bool IsValid() const { return IsValidHandle(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }

  // Closes the held handle and returns the slot for an out-parameter.
  Handle* Put() {
    Reset();
    return &handle_;
  }

  [[nodiscard]] Handle Release() { return std::exchange(handle_, Handle{}); }

  void Reset(Handle handle = Handle{}) {
    const Handle old = std::exchange(handle_, handle);
    if (IsValidHandle(old)) {
      const DWORD error = GetLastError();
      Traits::Close(old);
      SetLastError(error);
    }
  }

 private:
  Handle handle_{};
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static void Close(Handle h) { CloseHandle(h); }
};
struct WinHttpHandleTraits {
  using Handle = HINTERNET;
  static void Close(Handle h) { WinHttpCloseHandle(h); }
};
struct RegistryKeyTraits {
  using Handle = HKEY;
  static void Close(Handle h) { RegCloseKey(h); }
};
struct BCryptAlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static void Close(Handle h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct BCryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static void Close(Handle h) { BCryptDestroyHash(h); }
};
struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static void Close(Handle h) { CertCloseStore(h, 0); }
};
struct CryptMsgTraits {
  using Handle = HCRYPTMSG;
  static void Close(Handle h) { CryptMsgClose(h); }
};
struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static void Close(Handle h) { CertFreeCertificateContext(h); }
};
struct FontTraits {
  using Handle = HFONT;
  static void Close(Handle h) { DeleteObject(h); }
};
struct BstrTraits {
  using Handle = BSTR;
  static void Close(Handle h) { SysFreeString(h); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static void Close(Handle h) { LocalFree(h); }
};

using KernelHandle = ScopedHandle<KernelHandleTraits>;
using WinHttpHandle = ScopedHandle<WinHttpHandleTraits>;
using RegistryKey = ScopedHandle<RegistryKeyTraits>;
using BCryptAlgorithm = ScopedHandle<BCryptAlgorithmTraits>;
using BCryptHash = ScopedHandle<BCryptHashTraits>;
using CertStore = ScopedHandle<CertStoreTraits>;
using CryptMsg = ScopedHandle<CryptMsgTraits>;
using CertContext = ScopedHandle<CertContextTraits>;
using ScopedFont = ScopedHandle<FontTraits>;
using ScopedBstr = ScopedHandle<BstrTraits>;
using LocalMemory = ScopedHandle<LocalMemoryTraits>;

// Owning COM interface pointer.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(other.Release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  T** Put() {
    Reset();
    return &ptr_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  [[nodiscard]] T* Release() { return std::exchange(ptr_, nullptr); }

  void Reset(T* ptr = nullptr) {
    T* old = std::exchange(ptr_, ptr);
    if (old) {
      const DWORD error = GetLastError();
      old->Release();
      SetLastError(error);
    }
  }

  template <typename U>
  HRESULT As(ComPtr<U>& other) const {
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(__uuidof(U), other.PutVoid());
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace lum::installer
