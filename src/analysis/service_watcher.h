// Making sure a service runs: the check the signing worker's watcher repeats for the platform's
// cryptographic service, on which catalog lookups depend.
#pragma once

#include "support/win.h"

namespace kal::cryptography {

// The service the catalogs need.
constexpr wchar_t kCryptServiceName[] = L"CryptSvc";

// True when the service runs at the end: already running, or started now (a disabled service is
// first set to demand start). A pending start is waited for in steps of 500 ms. False when the
// service can't be opened, reconfigured or started, or its start ends in another state.
bool EnsureServiceRunning(const wchar_t* name);

}  // namespace kal::cryptography
