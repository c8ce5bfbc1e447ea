// COM ownership: a COM interface pointer, a COM initialisation of the calling thread, a BSTR and
// a VARIANT, each released by its owner.
#pragma once

#include <utility>

#include "support/win.h"

#include <objbase.h>
#include <oleauto.h>

namespace kal {

template <typename T>
class CComPtr {
 public:
  CComPtr() noexcept = default;
  explicit CComPtr(T* p) noexcept : p_(p) {}  // takes over a reference
  CComPtr(const CComPtr&) = delete;
  CComPtr& operator=(const CComPtr&) = delete;
  CComPtr(CComPtr&& o) noexcept : p_(o.Release()) {}
  CComPtr& operator=(CComPtr&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~CComPtr() { Reset(); }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* Release() noexcept { return std::exchange(p_, nullptr); }  // detaches, keeps the reference
  void Reset(T* p = nullptr) noexcept {
    if (p_) p_->Release();
    p_ = p;
  }
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

  // Another interface of the same object, through QueryInterface.
  template <typename U>
  HRESULT As(CComPtr<U>* out) const {
    return p_ ? p_->QueryInterface(__uuidof(U), out->PutVoid()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

// CoInitializeEx for the calling thread; uninitialises on destruction when it succeeded.
class CComInit {
 public:
  CComInit() = default;
  CComInit(const CComInit&) = delete;
  CComInit& operator=(const CComInit&) = delete;
  ~CComInit() { Reset(); }

  HRESULT Initialize(DWORD flags = COINIT_MULTITHREADED) {
    Reset();
    hr_ = ::CoInitializeEx(nullptr, flags);
    owned_ = SUCCEEDED(hr_);
    return hr_;
  }
  bool Owned() const { return owned_; }
  void Reset() {
    if (owned_) ::CoUninitialize();
    owned_ = false;
  }

 private:
  HRESULT hr_ = E_FAIL;
  bool owned_ = false;
};

class CBstr {
 public:
  CBstr() = default;
  explicit CBstr(const wchar_t* text) : b_(::SysAllocString(text)) {}
  CBstr(const wchar_t* text, UINT length) : b_(::SysAllocStringLen(text, length)) {}
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  CBstr(CBstr&& o) noexcept : b_(o.Release()) {}
  CBstr& operator=(CBstr&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~CBstr() { Reset(); }
  BSTR Get() const noexcept { return b_; }
  UINT Length() const noexcept { return b_ ? ::SysStringLen(b_) : 0; }
  BSTR Release() noexcept { return std::exchange(b_, nullptr); }
  void Reset(BSTR b = nullptr) noexcept {
    if (b_) ::SysFreeString(b_);
    b_ = b;
  }
  BSTR* Put() noexcept {
    Reset();
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

// A block from the COM task allocator (strings and arrays handed out by COM servers).
template <typename T>
class CCoTaskMem {
 public:
  CCoTaskMem() noexcept = default;
  explicit CCoTaskMem(T* p) noexcept : p_(p) {}
  CCoTaskMem(const CCoTaskMem&) = delete;
  CCoTaskMem& operator=(const CCoTaskMem&) = delete;
  CCoTaskMem(CCoTaskMem&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  CCoTaskMem& operator=(CCoTaskMem&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~CCoTaskMem() { Reset(); }
  T* Get() const noexcept { return p_; }
  void Reset(T* p = nullptr) noexcept {
    if (p_) ::CoTaskMemFree(p_);
    p_ = p;
  }
  T** Put() noexcept {
    Reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

class CVariant {
 public:
  CVariant() { ::VariantInit(&v_); }
  CVariant(const CVariant&) = delete;
  CVariant& operator=(const CVariant&) = delete;
  ~CVariant() { ::VariantClear(&v_); }
  VARIANT* Get() noexcept { return &v_; }
  const VARIANT& Value() const noexcept { return v_; }
  VARIANT* Put() noexcept {
    ::VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace kal
