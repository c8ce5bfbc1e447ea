// The owning wrapper behind every OS resource the program holds: one type per kind of resource,
// each with its own invalid value and release call (see handles.h). Copies are deleted; moves
// transfer ownership. Release() only detaches; Reset() closes and keeps the thread's last error.
#pragma once

#include <utility>

#include "support/win.h"

namespace kal {

// Traits: `using Type = ...; static Type Invalid(); static void Close(Type);`
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~UniqueResource() { Reset(); }

  Type Get() const noexcept { return value_; }
  bool IsValid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Gives up ownership without closing.
  Type Release() noexcept {
    Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  // Closes the held resource (if any) and takes `value`; the last error survives the close.
  void Reset(Type value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) {
      const DWORD lastError = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(lastError);
    }
    value_ = value;
  }

  // Closes the held resource and hands out the address for an API to fill.
  Type* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  Type value_;
};

}  // namespace kal
