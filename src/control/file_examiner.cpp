// The real per-file examinations: the version resource, the signer from the signing worker and
// the SHA-1, each through the path form the file calls need.
#include "control/file_examiner.h"

#include "analysis/hash_module_file.h"
#include "analysis/hash_provider.h"
#include "analysis/signing_worker.h"
#include "analysis/version_info.h"
#include "collect/file_access_path.h"

namespace kal {

void CFileExaminer::BeginPhase() {
  // One provider context for the whole phase; without it the built-in SHA-1 serves.
  if (FAILED(cryptography::AcquireHashProvider(&provider_))) provider_.Reset();
  cryptography::StartSigningWorker();  // its answer is not needed: GetFileSigner starts it again
}

void CFileExaminer::EndPhase() {
  cryptography::StopSigningWorker();
  provider_.Reset();
}

bool CFileExaminer::ReadVersionStrings(const std::wstring& path, VersionStrings* out) {
  VersionRecord record = ReadVersionInfo(FileAccessPath(path));
  if (!record.valid) return false;
  out->Description = std::move(record.FileDescription);
  out->Product = std::move(record.ProductName);
  out->Version = std::move(record.ProductVersion);
  out->Copyright = std::move(record.LegalCopyright);
  return true;
}

std::wstring CFileExaminer::GetSigner(const std::wstring& path) {
  return cryptography::GetFileSigner(FileAccessPath(path));
}

HRESULT CFileExaminer::Hash(const std::wstring& path, uint8_t* sha1, bool* clr) {
  return cryptography::HashModuleFile(FileAccessPath(path), provider_.Get(), sha1, 20, clr);
}

}  // namespace kal
