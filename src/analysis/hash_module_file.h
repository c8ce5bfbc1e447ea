// The SHA-1 of a module file and its CLR flag, computed from read-only mapped views of the file,
// with a CryptoAPI context or with the built-in SHA-1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/win.h"

#include <wincrypt.h>

namespace kal::cryptography {

// Files are mapped this many bytes at a time, so a file of any size fits the 32-bit address space.
constexpr size_t kHashViewBytes = 64u << 20;

// Hashes the file at `path` with `provider` (a CryptoAPI context) or, when it is 0, with the
// built-in SHA-1. The file is opened for reading with read sharing only (a file someone holds
// open for writing is refused) and mapped read-only; an empty file can't be mapped.
// Returns 0 with the 20-byte digest in `digest`, or the HRESULT of the failed call:
//  - a failed open, mapping or hashing call: HRESULT from its last error;
//  - `capacity` below 20: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), digest untouched;
//  - a machine fault while reading the mapped file: HRESULT_FROM_NT of the exception code.
// `digest` is untouched on failure. `*clr` (when clr is not null) is written as soon as the file's
// first view is mapped, also when hashing then fails; the CLR test reads only that first view.
HRESULT HashModuleFile(const std::wstring& path, HCRYPTPROV provider, uint8_t* digest,
                       size_t capacity, bool* clr);

// The same with views of at most `viewBytes` (rounded up to the allocation granularity).
HRESULT HashModuleFile(const std::wstring& path, HCRYPTPROV provider, uint8_t* digest,
                       size_t capacity, bool* clr, size_t viewBytes);

}  // namespace kal::cryptography
