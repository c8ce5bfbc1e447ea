// The file-scope phase: walks the single files, folders and fixed drives named by the run's scope
// entries and registers every file it meets with AddModule.
#pragma once

#include <string>
#include <vector>

#include "collect/scan_items.h"

namespace kal {

// The walk of one run's scope. Folders reached through junctions and symbolic links are entered
// like any other folder, except one that is already open further up the current walk path (same
// volume serial number and file index): that would lead round for ever.
class CScopeWalker {
 public:
  CScopeWalker(CRunContext& run, CScanItems& items) : run_(run), items_(items) {}
  CScopeWalker(const CScopeWalker&) = delete;
  CScopeWalker& operator=(const CScopeWalker&) = delete;
  virtual ~CScopeWalker() = default;

  // Phase 4 over every scope entry in the map's order; a folder named twice (same path and mask
  // up to letter case and trailing backslashes) is walked once. The first failing entry ends the
  // phase with its result.
  HRESULT CollectScope();

  // WalkFolder on the root of every fixed drive; 0 when the drive list can't be read.
  HRESULT WalkFixedDrives(const std::wstring& mask);

  // Registers the files in `dir` that match `mask` and walks the subfolders that match it too.
  // 0 when the folder can't be searched at all; E_ABORT (or the failed pause wait) once a stop
  // is found between two entries, also deep down; an error of the listing itself ends this folder
  // with that error, but an error inside a subfolder ends only that subfolder.
  HRESULT WalkFolder(const std::wstring& dir, const std::wstring& mask);

 protected:
  // One file of the scope; a negative result ends the walk of the folder it is in.
  virtual HRESULT AddFile(const std::wstring& path);

 private:
  struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
  };

  static bool ReadFolderIdentity(const std::wstring& dir, FolderIdentity* identity);
  bool IsOnWalkPath(const FolderIdentity& identity) const;
  HRESULT WalkOpenFolder(const std::wstring& dir, const std::wstring& mask);

  CRunContext& run_;
  CScanItems& items_;
  std::vector<FolderIdentity> walkPath_;  // identities of the folders being walked, outermost first
  HRESULT stopped_ = S_OK;                // the failed checkpoint that ends every level of the walk
};

// `dir` and `name` joined by exactly one backslash.
std::wstring AppendPathComponent(const std::wstring& dir, const std::wstring& name);

HRESULT CollectScope(CRunContext& run, CScanItems& items);
HRESULT WalkFolder(CRunContext& run, CScanItems& items, const std::wstring& dir, const std::wstring& mask);
HRESULT WalkFixedDrives(CRunContext& run, CScanItems& items, const std::wstring& mask);

}  // namespace kal
