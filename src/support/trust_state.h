// The owner of a trust verification that WinVerifyTrust keeps state for (WTD_STATEACTION_VERIFY):
// the state is released by calling it again with WTD_STATEACTION_CLOSE on the same request.
#pragma once

#include "support/unique_resource.h"

#include <wintrust.h>
#include <softpub.h>

namespace kal {

namespace traits {
struct TrustState {
  using Type = WINTRUST_DATA*;
  static Type Invalid() { return nullptr; }
  static void Close(Type data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
    data->hWVTStateData = nullptr;
  }
};
}  // namespace traits

// Holds the request whose verification state is open; the request must outlive the owner.
using CTrustState = UniqueResource<traits::TrustState>;

}  // namespace kal
