// HRESULT conventions: conversion of Win32 errors and the few macros that carry a failure up.
// The string and container layer raises CHResultError (one HRESULT) instead of returning it.
#pragma once

#include <type_traits>

#include "support/win.h"

namespace kal {

// e itself when e <= 0 (as a signed value), else 0x80070000 | (e & 0xFFFF).
constexpr HRESULT HResultFromWin32(DWORD error) {
  return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                          : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

// The rule above applied to the calling thread's last error; read it right after the failing call.
inline HRESULT HResultFromLastError() { return HResultFromWin32(::GetLastError()); }

// The error object of the string and container layer: an allocation, a length or an index failed.
// The scan path does not catch it; one raised there ends the process.
class CHResultError {
 public:
  explicit CHResultError(HRESULT hr) : hr_(hr) {}
  HRESULT Code() const { return hr_; }

 private:
  HRESULT hr_;
};

[[noreturn]] void ThrowHResult(HRESULT hr);

// True for the results by which the platform says it ran out of memory or of commit.
bool IsLackOfMemory(HRESULT hr);

namespace detail {
template <typename T>
constexpr HRESULT VerifyHResult(T hr) {
  static_assert(std::is_same<T, HRESULT>::value, "an HRESULT is expected here (not a BOOL)");
  return hr;
}
template <typename T>
constexpr bool VerifyBool(T ok) {
  static_assert(std::is_same<T, BOOL>::value || std::is_same<T, bool>::value,
                "a BOOL is expected here");
  return ok != 0;
}
}  // namespace detail
}  // namespace kal

// Return the HRESULT when it is a failure.
#define RETURN_IF_FAILED(expr)                                          \
  do {                                                                  \
    const HRESULT hr_macro_ = ::kal::detail::VerifyHResult(expr);      \
    if (FAILED(hr_macro_)) return hr_macro_;                            \
  } while (0)

// Return the last error as an HRESULT when a BOOL-returning call failed.
#define RETURN_LAST_ERROR_IF_FALSE(expr)                                \
  do {                                                                  \
    if (!::kal::detail::VerifyBool(expr)) return ::kal::HResultFromLastError(); \
  } while (0)
