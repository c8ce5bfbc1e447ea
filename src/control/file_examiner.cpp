// The real per-file examinations. Version strings and signer verification are not part of this
// build yet: they find nothing (no version record, empty signer), so every signer stays unasked.
#include "control/file_examiner.h"

#include "analysis/hash_module_file.h"
#include "analysis/hash_provider.h"
#include "collect/file_access_path.h"

namespace kal {

void CFileExaminer::BeginPhase() {
  // One provider context for the whole phase; without it the built-in SHA-1 serves.
  if (FAILED(cryptography::AcquireHashProvider(&provider_))) provider_.Reset();
}

void CFileExaminer::EndPhase() { provider_.Reset(); }

bool CFileExaminer::ReadVersionStrings(const std::wstring&, VersionStrings*) { return false; }

std::wstring CFileExaminer::GetSigner(const std::wstring&) { return std::wstring(); }

HRESULT CFileExaminer::Hash(const std::wstring& path, uint8_t* sha1, bool* clr) {
  return cryptography::HashModuleFile(FileAccessPath(path), provider_.Get(), sha1, 20, clr);
}

}  // namespace kal
