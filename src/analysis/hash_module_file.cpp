// Hashing a module file from read-only views of bounded size, and its CLR test on the first view.
#include "analysis/hash_module_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/fault_guard.h"
#include "analysis/pe_header.h"
#include "analysis/sha1.h"
#include "support/handles.h"
#include "support/hresult.h"

namespace kal::cryptography {
namespace {

// Takes the views of one file in order and produces its digest.
class IViewSink {
 public:
  virtual ~IViewSink() = default;
  virtual HRESULT Start() = 0;
  virtual HRESULT Absorb(const uint8_t* data, size_t size) = 0;
  // Writes the digest only when everything succeeded and it fits `capacity`.
  virtual HRESULT Finish(uint8_t* digest, size_t capacity) = 0;
};

class CBuiltInSink : public IViewSink {
 public:
  HRESULT Start() override {
    sha_.Reset();
    return S_OK;
  }
  HRESULT Absorb(const uint8_t* data, size_t size) override {
    sha_.Update(data, size);
    return sha_.FaultCode() == 0 ? S_OK : HRESULT_FROM_NT(sha_.FaultCode());
  }
  HRESULT Finish(uint8_t* digest, size_t capacity) override {
    sha_.Final();
    if (sha_.FaultCode() != 0) return HRESULT_FROM_NT(sha_.FaultCode());
    if (sha_.GetHashSize() > capacity) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    sha_.GetHash(digest);
    return S_OK;
  }

 private:
  SHA1 sha_;
};

// CryptoAPI reads the view through a private copy: a fault reading the file then happens in the
// guarded copy and never inside the provider, which could not be abandoned safely.
class CProviderSink : public IViewSink {
 public:
  CProviderSink(HCRYPTPROV provider, uint64_t fileSize)
      : provider_(provider),
        copy_(static_cast<size_t>(std::min<uint64_t>(fileSize, kCopyBytes))) {}

  HRESULT Start() override {
    RETURN_LAST_ERROR_IF_FALSE(::CryptCreateHash(provider_, CALG_SHA1, 0, 0, hash_.Put()));
    return S_OK;
  }

  HRESULT Absorb(const uint8_t* data, size_t size) override {
    while (size != 0) {
      CopyCall call{copy_.data(), data, std::min(size, copy_.size())};
      const DWORD code = RunFaultGuarded(
          [](void* p) {
            CopyCall* c = static_cast<CopyCall*>(p);
            std::memcpy(c->to, c->from, c->size);
          },
          &call);
      if (code != 0) return HRESULT_FROM_NT(code);
      RETURN_LAST_ERROR_IF_FALSE(
          ::CryptHashData(hash_.Get(), copy_.data(), static_cast<DWORD>(call.size), 0));
      data += call.size;
      size -= call.size;
    }
    return S_OK;
  }

  HRESULT Finish(uint8_t* digest, size_t capacity) override {
    DWORD hashSize = 0;
    DWORD length = sizeof(hashSize);
    RETURN_LAST_ERROR_IF_FALSE(::CryptGetHashParam(
        hash_.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&hashSize), &length, 0));
    if (hashSize > capacity) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> value(hashSize);
    length = hashSize;
    RETURN_LAST_ERROR_IF_FALSE(
        ::CryptGetHashParam(hash_.Get(), HP_HASHVAL, value.data(), &length, 0));
    std::copy(value.begin(), value.begin() + std::min<DWORD>(length, hashSize), digest);
    return S_OK;
  }

 private:
  static constexpr size_t kCopyBytes = 256u << 10;
  struct CopyCall {
    uint8_t* to;
    const uint8_t* from;
    size_t size;
  };

  HCRYPTPROV provider_;
  CCryptHash hash_;
  std::vector<uint8_t> copy_;
};

// The CLR test reads the mapped headers, which can fault like any other read of the file.
HRESULT TestClr(const uint8_t* data, size_t size, bool* clr) {
  struct ClrCall {
    const uint8_t* data;
    size_t size;
    bool result;
  } call{data, size, false};
  const DWORD code = RunFaultGuarded(
      [](void* p) {
        ClrCall* c = static_cast<ClrCall*>(p);
        c->result = IsClrImage(c->data, c->size);
      },
      &call);
  if (clr != nullptr) *clr = code == 0 && call.result;
  return code == 0 ? S_OK : HRESULT_FROM_NT(code);
}

uint64_t AllocationGranularity() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}

}  // namespace

HRESULT HashModuleFile(const std::wstring& path, HCRYPTPROV provider, uint8_t* digest,
                       size_t capacity, bool* clr) {
  return HashModuleFile(path, provider, digest, capacity, clr, kHashViewBytes);
}

HRESULT HashModuleFile(const std::wstring& path, HCRYPTPROV provider, uint8_t* digest,
                       size_t capacity, bool* clr, size_t viewBytes) {
  if (digest == nullptr) return E_POINTER;
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return HResultFromLastError();
  CFileMapping mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return HResultFromLastError();
  LARGE_INTEGER size;
  RETURN_LAST_ERROR_IF_FALSE(::GetFileSizeEx(file.Get(), &size));
  const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
  if (fileSize == 0) return HResultFromWin32(ERROR_FILE_INVALID);  // as mapping an empty file

  const uint64_t granularity = AllocationGranularity();
  const uint64_t window =
      std::max<uint64_t>(granularity, (viewBytes + granularity - 1) / granularity * granularity);

  std::unique_ptr<IViewSink> sink;
  if (provider != 0)
    sink = std::make_unique<CProviderSink>(provider, fileSize);
  else
    sink = std::make_unique<CBuiltInSink>();

  for (uint64_t offset = 0; offset < fileSize; offset += window) {
    const size_t length = static_cast<size_t>(std::min(window, fileSize - offset));
    CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                     static_cast<DWORD>(offset), length));
    if (!view) return HResultFromLastError();
    const uint8_t* bytes = static_cast<const uint8_t*>(view.Get());
    if (offset == 0) {
      RETURN_IF_FAILED(TestClr(bytes, length, clr));
      RETURN_IF_FAILED(sink->Start());
    }
    RETURN_IF_FAILED(sink->Absorb(bytes, length));
  }
  return sink->Finish(digest, capacity);
}

}  // namespace kal::cryptography
