// Owning wrappers for every kind of operating-system handle the bootstrapper uses.
//
// One template, after WIL's unique_any: the handle type and its close function make the kind.
// A handle is valid when it is neither null nor INVALID_HANDLE_VALUE, whatever the kind, so a
// failed CreateFileW and a failed CreateToolhelp32Snapshot look the same as a failed
// OpenProcess. Closing keeps GetLastError, so an error code can still be read after a wrapper
// went out of scope on a failure path.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <objbase.h>
#include <oleauto.h>
#include <winhttp.h>
#include <userenv.h>

#include <cstdint>
#include <utility>

namespace lum::installer {

template <typename T, void (*Close)(T)>
class UniqueHandle {
 public:
  using Handle = T;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

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
      Close(old);
      SetLastError(error);
    }
  }

 private:
  Handle handle_{};
};

namespace close {
inline void Kernel(HANDLE h) { CloseHandle(h); }
inline void WinHttp(HINTERNET h) { WinHttpCloseHandle(h); }
inline void Registry(HKEY h) { RegCloseKey(h); }
inline void BCryptAlgorithm(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
inline void BCryptHash(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
inline void BCryptKey(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }
inline void CertChain(PCCERT_CHAIN_CONTEXT h) { CertFreeCertificateChain(h); }
inline void Font(HFONT h) { DeleteObject(h); }
inline void Bstr(BSTR h) { SysFreeString(h); }
inline void Local(HLOCAL h) { LocalFree(h); }
inline void CoTaskMemory(PWSTR h) { CoTaskMemFree(h); }
inline void PrivateNamespace(HANDLE h) { ClosePrivateNamespace(h, 0); }
inline void BoundaryDescriptor(HANDLE h) { DeleteBoundaryDescriptor(h); }
inline void EnvironmentBlock(LPVOID h) { DestroyEnvironmentBlock(h); }
}  // namespace close

using KernelHandle = UniqueHandle<HANDLE, close::Kernel>;
using WinHttpHandle = UniqueHandle<HINTERNET, close::WinHttp>;
using RegistryKey = UniqueHandle<HKEY, close::Registry>;
using BCryptAlgorithm = UniqueHandle<BCRYPT_ALG_HANDLE, close::BCryptAlgorithm>;
using BCryptHash = UniqueHandle<BCRYPT_HASH_HANDLE, close::BCryptHash>;
using BCryptKey = UniqueHandle<BCRYPT_KEY_HANDLE, close::BCryptKey>;
using CertChain = UniqueHandle<PCCERT_CHAIN_CONTEXT, close::CertChain>;
using ScopedFont = UniqueHandle<HFONT, close::Font>;
using ScopedBstr = UniqueHandle<BSTR, close::Bstr>;
using LocalMemory = UniqueHandle<HLOCAL, close::Local>;
// A string the shell or COM allocated (SHGetKnownFolderPath, IShellItem::GetDisplayName).
using CoTaskMemString = UniqueHandle<PWSTR, close::CoTaskMemory>;
// A private object namespace (CreatePrivateNamespaceW, OpenPrivateNamespaceW), closed without
// destroying it, and the boundary descriptor that names it.
using PrivateNamespaceHandle = UniqueHandle<HANDLE, close::PrivateNamespace>;
using BoundaryDescriptorHandle = UniqueHandle<HANDLE, close::BoundaryDescriptor>;
// An environment block CreateEnvironmentBlock made (userenv).
using EnvironmentBlock = UniqueHandle<LPVOID, close::EnvironmentBlock>;

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
