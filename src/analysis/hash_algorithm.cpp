// The operations every hash algorithm shares, written on Update, Final, GetHashSize and GetHash.
#include "analysis/hash_algorithm.h"

#include <vector>

#include "support/handles.h"
#include "support/hresult.h"

namespace kal::cryptography {

void CHashBase::HashData(const void* data, size_t size) {
  Update(data, size);
  Final();
}

HRESULT CHashBase::HashFile(const wchar_t* path) {
  CFileHandle file(::CreateFileW(path, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HResultFromLastError();
  uint8_t chunk[2048];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_HANDLE_EOF) return HResultFromWin32(error);
      Update(chunk, read);  // the end of the file, reported as an error by some devices
      break;
    }
    Update(chunk, read);
    if (read == 0) break;
  }
  Final();
  return S_OK;
}

void CHashBase::HashString(const wchar_t* text, size_t chars) {
  static_assert(sizeof(wchar_t) == 2, "the text is hashed as UTF-16");
  Update(text, chars * sizeof(wchar_t));
  Final();
}

std::wstring CHashBase::GetHashString() const {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::vector<uint8_t> digest(GetHashSize(), 0);
  GetHash(digest.data());
  std::wstring text;
  text.reserve(digest.size() * 2);
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace kal::cryptography
