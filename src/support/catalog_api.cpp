// Loading the catalog administration functions.
#include "support/catalog_api.h"

#include <mutex>

#include "support/handles.h"

namespace kal {
namespace {

template <typename Fn>
void Load(HMODULE library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

CatalogApi LoadCatalogApi() {
  CatalogApi api;
  // Kept loaded for the life of the process: the functions are used until it ends.
  HMODULE library = ::LoadLibraryW(L"Wintrust.dll");
  if (library == nullptr) return api;
  Load(library, "CryptCATAdminCalcHashFromFileHandle", &api.CalcHashFromFileHandle);
  Load(library, "CryptCATAdminEnumCatalogFromHash", &api.EnumCatalogFromHash);
  Load(library, "CryptCATAdminAcquireContext", &api.AcquireContext);
  Load(library, "CryptCATAdminReleaseContext", &api.ReleaseContext);
  Load(library, "CryptCATCatalogInfoFromContext", &api.CatalogInfoFromContext);
  Load(library, "CryptCATAdminAcquireContext2", &api.AcquireContext2);
  Load(library, "CryptCATAdminCalcHashFromFileHandle2", &api.CalcHashFromFileHandle2);
  Load(library, "CryptCATAdminReleaseCatalogContext", &api.ReleaseCatalogContext);
  return api;
}

}  // namespace

bool IsCatalogApiUsable(const CatalogApi& api, uint32_t osFamily) {
  const bool base = api.CalcHashFromFileHandle && api.EnumCatalogFromHash && api.AcquireContext &&
                    api.ReleaseContext && api.CatalogInfoFromContext;
  if (!base) return false;
  return osFamily < 8 || (api.AcquireContext2 && api.CalcHashFromFileHandle2);
}

const CatalogApi& GetCatalogApi() {
  static const CatalogApi api = LoadCatalogApi();  // thread-safe initialisation
  return api;
}

}  // namespace kal
