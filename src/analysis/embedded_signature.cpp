// Reading and verifying the embedded signature: the certificate table is located by our own walk,
// read through imagehlp and its message verified by crypt32; the file's trust by WinVerifyTrust.
#include "analysis/embedded_signature.h"

#include <cstddef>

#include <imagehlp.h>
#include <softpub.h>
#include <wintrust.h>

#include "analysis/certificate_name.h"
#include "analysis/certificate_table.h"
#include "support/handles.h"

namespace kal::cryptography {
namespace {

// The request as the 32-bit platform knows it: 48 bytes there, up to and including dwUIContext.
constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD);
static_assert(sizeof(void*) != 4 || kTrustDataSize == 48, "the trust request is 48 bytes");

#ifndef WTD_DISABLE_MD2_MD4
#define WTD_DISABLE_MD2_MD4 0x00002000
#endif
constexpr DWORD kEmbeddedTrustFlags = WTD_DISABLE_MD2_MD4 | WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_NONE;
static_assert(kEmbeddedTrustFlags == 0x2110, "provider flags of the embedded verification");

constexpr DWORD kEncoding = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;

}  // namespace

CFileByteSource::CFileByteSource(HANDLE file) : file_(file) {
  LARGE_INTEGER size;
  size_ = ::GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool CFileByteSource::ReadAt(uint64_t offset, void* buffer, uint32_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ::ReadFile(file_, buffer, size, &read, &at) && read == size;
}

std::wstring ReadEmbeddedSignerName(const std::wstring& path) {
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) return std::wstring();
  CHeap heap(::HeapCreate(0, 0, 0));
  if (!heap) return std::wstring();

  CFileByteSource source(file.Get());
  const CertificateEntries entries = FindCertificateEntries(source);
  if (entries.count == 0) return std::wstring();

  WIN_CERTIFICATE header = {};
  if (!::ImageGetCertificateHeader(file.Get(), 0, &header)) return std::wstring();
  const DWORD capacity = header.dwLength + 12;
  if (capacity < header.dwLength) return std::wstring();  // a length near 4 GiB
  auto* certificate = static_cast<WIN_CERTIFICATE*>(::HeapAlloc(heap.Get(), HEAP_ZERO_MEMORY, capacity));
  if (certificate == nullptr) return std::wstring();  // the block goes with the heap
  DWORD size = capacity;
  if (!::ImageGetCertificateData(file.Get(), 0, certificate, &size)) return std::wstring();
  certificate->wRevision = WIN_CERT_REVISION_1_0;
  const DWORD headerSize = offsetof(WIN_CERTIFICATE, bCertificate);
  if (certificate->dwLength <= headerSize || certificate->dwLength > capacity) return std::wstring();

  CRYPT_VERIFY_MESSAGE_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwMsgAndCertEncodingType = kEncoding;
  CCertContext signer;
  if (!::CryptVerifyMessageSignature(&para, 0, certificate->bCertificate, certificate->dwLength - headerSize,
                                     nullptr, nullptr, const_cast<PCCERT_CONTEXT*>(signer.Put())))
    return std::wstring();
  return SimpleDisplayName(signer.Get());
}

LONG VerifyEmbeddedTrust(const std::wstring& path) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();

  WINTRUST_DATA request = {};
  request.cbStruct = kTrustDataSize;
  request.dwUIChoice = WTD_UI_NONE;
  request.fdwRevocationChecks = WTD_REVOKE_NONE;
  request.dwUnionChoice = WTD_CHOICE_FILE;
  request.pFile = &fileInfo;
  request.dwStateAction = WTD_STATEACTION_IGNORE;
  request.dwProvFlags = kEmbeddedTrustFlags;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request);
}

}  // namespace kal::cryptography
