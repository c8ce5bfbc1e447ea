// The catalog administration functions, loaded from Wintrust.dll once per process (the "2"
// functions exist only on Windows 8 and later), and the owners of the contexts they hand out.
#pragma once

#include <cstdint>

#include "support/unique_resource.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

namespace kal {

struct CatalogApi {
  using CalcHashFromFileHandleFn = BOOL(WINAPI*)(HANDLE, DWORD*, BYTE*, DWORD);
  using EnumCatalogFromHashFn = HCATINFO(WINAPI*)(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*);
  using AcquireContextFn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, DWORD);
  using ReleaseContextFn = BOOL(WINAPI*)(HCATADMIN, DWORD);
  using CatalogInfoFromContextFn = BOOL(WINAPI*)(HCATINFO, CATALOG_INFO*, DWORD);
  using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, const WCHAR*, const void*, DWORD);
  using CalcHashFromFileHandle2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
  using ReleaseCatalogContextFn = BOOL(WINAPI*)(HCATADMIN, HCATINFO, DWORD);

  CalcHashFromFileHandleFn CalcHashFromFileHandle = nullptr;
  EnumCatalogFromHashFn EnumCatalogFromHash = nullptr;
  AcquireContextFn AcquireContext = nullptr;
  ReleaseContextFn ReleaseContext = nullptr;
  CatalogInfoFromContextFn CatalogInfoFromContext = nullptr;
  AcquireContext2Fn AcquireContext2 = nullptr;
  CalcHashFromFileHandle2Fn CalcHashFromFileHandle2 = nullptr;
  // Releases what EnumCatalogFromHash returns; without it each found catalog would stay open.
  ReleaseCatalogContextFn ReleaseCatalogContext = nullptr;
};

// Loaded on the first call (thread-safe), then read-only for the life of the process.
const CatalogApi& GetCatalogApi();

// Usable when the first five functions are present, and for `osFamily` 8 or more the two "2"
// functions as well.
bool IsCatalogApiUsable(const CatalogApi& api, uint32_t osFamily);

namespace traits {
struct CatAdmin {
  using Type = HCATADMIN;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) {
    if (GetCatalogApi().ReleaseContext) GetCatalogApi().ReleaseContext(h, 0);
  }
};
// A catalog found by hash is released against the administrator context that found it.
struct CatalogContextValue {
  HCATADMIN admin;
  HCATINFO info;
  bool operator==(const CatalogContextValue& o) const { return admin == o.admin && info == o.info; }
  bool operator!=(const CatalogContextValue& o) const { return !(*this == o); }
};
struct CatalogContext {
  using Type = CatalogContextValue;
  static Type Invalid() { return {nullptr, nullptr}; }
  static void Close(Type v) {
    if (GetCatalogApi().ReleaseCatalogContext) GetCatalogApi().ReleaseCatalogContext(v.admin, v.info, 0);
  }
};
}  // namespace traits

using CCatAdmin = UniqueResource<traits::CatAdmin>;
using CCatalogContext = UniqueResource<traits::CatalogContext>;

}  // namespace kal
