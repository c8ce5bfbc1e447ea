// The walk of the scope entries: single files, folders with a mask (subfolders through the same
// mask) and every fixed drive, with the pause and stop test before every entry.
#include "collect/scope_walker.h"

#include <cwchar>
#include <unordered_set>

#include "support/handles.h"
#include "support/hresult.h"

namespace kal {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Two entries that name the same folder and mask up to letter case and trailing backslashes
// would register the same files again.
std::wstring WalkKey(const ScopeEntry& entry) {
  std::wstring path = entry.Path;
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return ModuleKey(path) + L'|' + ModuleKey(entry.Mask);
}

}  // namespace

std::wstring AppendPathComponent(const std::wstring& dir, const std::wstring& name) {
  if (dir.empty() || IsSeparator(dir.back())) return dir + name;
  return dir + L'\\' + name;
}

HRESULT CScopeWalker::AddFile(const std::wstring& path) {
  uint32_t id = 0;
  return items_.AddModule(path, &id);
}

HRESULT CScopeWalker::CollectScope() {
  run_.EnterPhase(kPhaseFileScope);
  std::unordered_set<std::wstring> walked;
  for (const auto& keyAndEntry : run_.Config().ScopeEntries) {
    const ScopeEntry& entry = keyAndEntry.second;
    RETURN_IF_FAILED(run_.Checkpoint());
    HRESULT hr = S_OK;
    if (entry.Mask.empty()) {
      hr = AddFile(entry.Path);
    } else if (walked.insert(WalkKey(entry)).second) {
      hr = entry.Path == L"?:" ? WalkFixedDrives(entry.Mask) : WalkFolder(entry.Path, entry.Mask);
    }
    RETURN_IF_FAILED(hr);
  }
  return S_OK;
}

HRESULT CScopeWalker::WalkFixedDrives(const std::wstring& mask) {
  const DWORD needed = ::GetLogicalDriveStringsW(0, nullptr);
  if (needed == 0) return S_OK;
  std::vector<wchar_t> roots(needed + 1, L'\0');
  const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(roots.size()), roots.data());
  if (length == 0 || length >= roots.size()) return S_OK;
  for (const wchar_t* root = roots.data(); *root != L'\0'; root += std::wcslen(root) + 1) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (::GetDriveTypeW(root) != DRIVE_FIXED) continue;
    RETURN_IF_FAILED(WalkFolder(std::wstring(1, root[0]) + L":\\", mask));
  }
  return S_OK;
}

HRESULT CScopeWalker::WalkFolder(const std::wstring& dir, const std::wstring& mask) {
  stopped_ = S_OK;
  walkPath_.clear();
  FolderIdentity identity;
  if (ReadFolderIdentity(dir, &identity)) walkPath_.push_back(identity);
  const HRESULT hr = WalkOpenFolder(dir, mask);
  walkPath_.clear();
  return hr;
}

bool CScopeWalker::ReadFolderIdentity(const std::wstring& dir, FolderIdentity* identity) {
  // Backup semantics open the folder itself, and through a link the folder it leads to.
  CFileHandle folder(::CreateFileW(ExtendedLengthPath(dir).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(folder.Get(), &info)) return false;
  // A file system without file indexes would make every folder look like its parent.
  if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) return false;
  *identity = FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

bool CScopeWalker::IsOnWalkPath(const FolderIdentity& identity) const {
  for (const FolderIdentity& open : walkPath_) {
    if (open.volume == identity.volume && open.indexHigh == identity.indexHigh &&
        open.indexLow == identity.indexLow)
      return true;
  }
  return false;
}

HRESULT CScopeWalker::WalkOpenFolder(const std::wstring& dir, const std::wstring& mask) {
  WIN32_FIND_DATAW found;
  CFindHandle search(::FindFirstFileW(ExtendedLengthPath(AppendPathComponent(dir, mask)).c_str(), &found));
  if (!search) return S_OK;  // no match, no access or no such folder: nothing to register
  do {
    const HRESULT checkpoint = run_.Checkpoint();
    if (FAILED(checkpoint)) {
      stopped_ = checkpoint;
      return checkpoint;
    }
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
    const std::wstring path = AppendPathComponent(dir, found.cFileName);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      RETURN_IF_FAILED(AddFile(path));
      continue;
    }
    FolderIdentity identity;
    if (ReadFolderIdentity(path, &identity)) {
      if (IsOnWalkPath(identity)) continue;
      walkPath_.push_back(identity);
      WalkOpenFolder(path, mask);  // a failure in there ends only that subfolder
      walkPath_.pop_back();
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      // Without its identity only an ordinary folder is safe to enter: it can't lead back up.
      WalkOpenFolder(path, mask);
    }
    if (FAILED(stopped_)) return stopped_;
  } while (::FindNextFileW(search.Get(), &found));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? S_OK : HResultFromWin32(error);
}

HRESULT CollectScope(CRunContext& run, CScanItems& items) {
  CScopeWalker walker(run, items);
  return walker.CollectScope();
}

HRESULT WalkFolder(CRunContext& run, CScanItems& items, const std::wstring& dir, const std::wstring& mask) {
  CScopeWalker walker(run, items);
  return walker.WalkFolder(dir, mask);
}

HRESULT WalkFixedDrives(CRunContext& run, CScanItems& items, const std::wstring& mask) {
  CScopeWalker walker(run, items);
  return walker.WalkFixedDrives(mask);
}

}  // namespace kal
