// The one probe-size-then-retry loop behind variable-size queries (token information and the
// like): ask with the current buffer, grow it to the size the system names, ask again.
#pragma once

#include <cstdint>
#include <vector>

#include "support/hresult.h"

namespace kal {

// `call(void* data, DWORD size, DWORD* needed)` returns a BOOL and reports the size it needs
// through `needed` together with ERROR_INSUFFICIENT_BUFFER, ERROR_MORE_DATA or
// ERROR_BAD_LENGTH. On success `data` holds the answer (resized to what was returned); on failure
// it is empty. The loop gives up after a few rounds, as a size that keeps growing never settles.
template <typename Call>
HRESULT QueryVariableSize(std::vector<uint8_t>* data, Call call) {
  data->clear();
  DWORD needed = 0;
  for (int round = 0; round < 4; ++round) {
    const DWORD size = static_cast<DWORD>(data->size());
    needed = 0;
    if (call(data->empty() ? nullptr : data->data(), size, &needed)) {
      data->resize(needed != 0 && needed <= size ? needed : size);
      return S_OK;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA && error != ERROR_BAD_LENGTH) {
      data->clear();
      return HResultFromWin32(error);
    }
    if (needed <= size) needed = size + 64;  // no usable size named: grow a little
    data->resize(needed);
  }
  data->clear();
  return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
}

// GetTokenInformation of one class into `data`. `token` needs TOKEN_QUERY.
inline HRESULT QueryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, std::vector<uint8_t>* data) {
  return QueryVariableSize(data, [&](void* buffer, DWORD size, DWORD* needed) {
    return ::GetTokenInformation(token, type, buffer, size, needed);
  });
}

}  // namespace kal
