// The owning type of a WinINet handle (session, connection or request).
#pragma once

#include "support/unique_resource.h"

#include <wininet.h>

namespace kal {

namespace traits {
struct InternetHandle {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::InternetCloseHandle(h); }
};
}  // namespace traits

using CInternetHandleOwner = UniqueResource<traits::InternetHandle>;

}  // namespace kal
