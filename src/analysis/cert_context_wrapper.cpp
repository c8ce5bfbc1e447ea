// Finding and verifying embedded and catalog signatures for the certificate context wrappers.
#include "analysis/cert_context_wrapper.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

#include <imagehlp.h>
#include <softpub.h>

#include "analysis/certificate_name.h"
#include "analysis/certificate_table.h"
#include "analysis/packaged_app_catalog.h"
#include "report/computer_description.h"

namespace kal::cryptography {
namespace {

#ifndef WTD_DISABLE_MD2_MD4
#define WTD_DISABLE_MD2_MD4 0x00002000
#endif
constexpr DWORD kCatalogTrustFlags =
    WTD_DISABLE_MD2_MD4 | WTD_HASH_ONLY_FLAG | WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_NONE;
static_assert(kCatalogTrustFlags == 0x2310, "provider flags of the catalog verification");

constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD);
// The catalog description without its last field (hCatAdmin) is the older form (36 bytes on the
// 32-bit platform); the packaged-application catalog needs the administrator context too (40).
constexpr DWORD kCatalogInfoSize = offsetof(WINTRUST_CATALOG_INFO, hCatAdmin);
constexpr DWORD kCatalogInfoSize2 = sizeof(WINTRUST_CATALOG_INFO);
static_assert(sizeof(void*) != 4 || (kCatalogInfoSize == 36 && kCatalogInfoSize2 == 40),
              "catalog description sizes");
static_assert(sizeof(CATALOG_INFO) == 524, "the catalog record holds a 260-character path");

// The driver verification policy, under which a packaged application's catalog is checked.
constexpr GUID kDriverActionVerify = {0xF750E6C3, 0x38EE, 0x11D1, {0x85, 0xE5, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

std::wstring HexText(const uint8_t* bytes, DWORD size) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(size_t{size} * 2);
  for (DWORD i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

bool CCertContextWrapper::Verify(const std::wstring& path, uint32_t what) {
  const bool opened = Open(path);
  if (opened && certificate_) {
    if (what & kCertDisplayName) displayName_ = SimpleDisplayName(certificate_.Get());
    if (what & kCertIssuer) issuer_ = CertificateName(certificate_.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG);
    if (what & kCertValidity) {
      notBefore_ = certificate_.Get()->pCertInfo->NotBefore;
      notAfter_ = certificate_.Get()->pCertInfo->NotAfter;
    }
  }
  Close();
  return opened;
}

bool CEmbeddedCertContextWrapper::Open(const std::wstring& path) {
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) return false;
  heap_.Reset(::HeapCreate(0, 0, 0));
  if (!heap_) return false;
  WIN_CERTIFICATE header = {};
  if (!::ImageGetCertificateHeader(file.Get(), 0, &header)) return false;
  const DWORD capacity = header.dwLength + 12;
  if (capacity < header.dwLength) return false;
  auto* entry = static_cast<WIN_CERTIFICATE*>(::HeapAlloc(heap_.Get(), HEAP_ZERO_MEMORY, capacity));
  if (entry == nullptr) return false;
  DWORD size = capacity;
  if (!::ImageGetCertificateData(file.Get(), 0, entry, &size)) return false;
  entry->wRevision = WIN_CERT_REVISION_1_0;
  const DWORD headerSize = offsetof(WIN_CERTIFICATE, bCertificate);
  if (entry->dwLength <= headerSize || entry->dwLength > capacity) return false;
  CRYPT_VERIFY_MESSAGE_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwMsgAndCertEncodingType = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;
  if (!::CryptVerifyMessageSignature(&para, 0, entry->bCertificate, entry->dwLength - headerSize, nullptr, nullptr,
                                     certificate_.Put()))
    return false;
  verified_ = true;
  return true;
}

void CEmbeddedCertContextWrapper::Close() {
  certificate_.Reset();
  heap_.Reset();
}

bool CCatalogCertContextWrapper::HashFile(bool sha256) {
  const CatalogApi& api = GetCatalogApi();
  hashSize_ = sizeof(inlineHash_);
  hash_ = inlineHash_;
  for (int round = 0; round < 2; ++round) {
    DWORD size = hashSize_;
    const BOOL ok = sha256 ? api.CalcHashFromFileHandle2(admin_.Get(), file_.Get(), &size, hash_, 0)
                           : api.CalcHashFromFileHandle(file_.Get(), &size, hash_, 0);
    if (ok) {
      hashSize_ = size;
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= hashSize_) return false;
    allocatedHash_.Reset(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (!allocatedHash_) return false;
    hash_ = static_cast<uint8_t*>(allocatedHash_.Get());
    hashSize_ = size;
  }
  return false;
}

bool CCatalogCertContextWrapper::Open(const std::wstring& path) {
  file_.Reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file_) return false;
  const CatalogApi& api = GetCatalogApi();
  if (!IsCatalogApiUsable(api, GetOsRecord().Family)) return false;

  const std::wstring packageCatalog = PackagedAppCatalogPath(path);
  const bool packaged = !packageCatalog.empty() && ::GetFileAttributesW(packageCatalog.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (packaged) {
    if (api.AcquireContext2 == nullptr || api.CalcHashFromFileHandle2 == nullptr) return false;
    if (!api.AcquireContext2(admin_.Put(), &kDriverActionVerify, L"SHA256", nullptr, 0)) return false;
    if (!HashFile(true)) return false;
    catalogPath_ = packageCatalog;
  } else {
    if (!HashFile(false)) return false;
    if (!api.AcquireContext(admin_.Put(), nullptr, 0)) return false;
    HCATINFO found = api.EnumCatalogFromHash(admin_.Get(), hash_, hashSize_, 0, nullptr);
    if (found == nullptr) return false;
    catalog_.Reset({admin_.Get(), found});
    CATALOG_INFO info = {};
    info.cbStruct = sizeof(info);
    if (!api.CatalogInfoFromContext(found, &info, 0)) return false;
    info.wszCatalogFile[MAX_PATH - 1] = 0;
    catalogPath_ = info.wszCatalogFile;
  }
  // The catalog provider finds the member by its tag, the hash in hexadecimal.
  memberTag_ = HexText(hash_, hashSize_);

  catalogInfo_ = {};
  catalogInfo_.cbStruct = packaged ? kCatalogInfoSize2 : kCatalogInfoSize;
  catalogInfo_.pcwszCatalogFilePath = catalogPath_.c_str();
  catalogInfo_.pcwszMemberTag = memberTag_.c_str();
  catalogInfo_.pcwszMemberFilePath = path.c_str();
  catalogInfo_.hMemberFile = file_.Get();
  catalogInfo_.pbCalculatedFileHash = hash_;
  catalogInfo_.cbCalculatedFileHash = hashSize_;
  if (packaged) catalogInfo_.hCatAdmin = admin_.Get();

  request_ = {};
  request_.cbStruct = kTrustDataSize;
  request_.dwUIChoice = WTD_UI_NONE;
  request_.fdwRevocationChecks = endCertRevocation_ ? WTD_REVOKE_WHOLECHAIN : WTD_REVOKE_NONE;
  request_.dwUnionChoice = WTD_CHOICE_CATALOG;
  request_.pCatalog = &catalogInfo_;
  request_.dwStateAction = WTD_STATEACTION_VERIFY;
  request_.dwProvFlags = kCatalogTrustFlags;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG trusted = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &request_);
  trustState_.Reset(&request_);  // the state is kept even when the verification failed
  if (trusted < 0) return true;

  CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(request_.hWVTStateData);
  CRYPT_PROVIDER_SGNR* signer = provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* cert = signer ? ::WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (cert != nullptr && cert->pCert != nullptr) {
    // Our own reference: the state's certificates go when the state is closed.
    certificate_.Reset(::CertDuplicateCertificateContext(cert->pCert));
    verified_ = true;
  }
  return true;
}

void CCatalogCertContextWrapper::Close() {
  trustState_.Reset();
  catalog_.Reset();
  admin_.Reset();
  allocatedHash_.Reset();
  hash_ = inlineHash_;
  file_.Reset();
}

}  // namespace kal::cryptography
