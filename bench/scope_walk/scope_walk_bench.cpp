// The file-scope walk over a synthetic tree (10 x 10 folders of 1000 small PE-marked files unless
// told otherwise): files per second through the walker and AddModule, against a bare recursive
// enumeration of the same tree as the reference (beside one that reads each file's first 64 bytes,
// and the walk once more without the PE filter), and the heap
// each module item costs. Then a million items registered through AddModule
// (PE filter off, short paths that do not exist) to see whether the module table fits a 32-bit
// address space, also once the lookup phase has given every item its version and signer strings.
// The tree is made once and kept (under %TEMP% unless --tree names a folder) for the next run.
// Usage: scope_walk_bench [--tree=<folder>] [--files=<n per folder>] [--million=<items>]
#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_measure.h"
#include "collect/scope_walker.h"
#include "control/options.h"
#include "support/handles.h"


namespace {

using namespace kal;
using namespace kal::bench;

double UserAddressSpace() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return static_cast<double>(reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress) -
                             reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress));
}

bool LargeAddressAware() {
  const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
}

std::wstring Folder(const std::wstring& root, int top) {
  wchar_t name[16];
  std::swprintf(name, 16, L"\\d%02d", top);
  return root + name;
}

std::wstring Folder(const std::wstring& root, int top, int sub) {
  wchar_t name[16];
  std::swprintf(name, 16, L"\\e%02d", sub);
  return Folder(root, top) + name;
}

// 10 x 10 folders of `perFolder` files of 64 bytes beginning "MZ"; kept between runs.
bool MakeTree(const std::wstring& root, int perFolder) {
  const std::wstring marker = root + L"\\complete_" + std::to_wstring(perFolder);
  if (::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const double start = Seconds();
  ::CreateDirectoryW(root.c_str(), nullptr);
  char bytes[64] = {'M', 'Z'};
  for (int top = 0; top < 10; ++top) {
    ::CreateDirectoryW(Folder(root, top).c_str(), nullptr);
    for (int sub = 0; sub < 10; ++sub) {
      const std::wstring folder = Folder(root, top, sub);
      ::CreateDirectoryW(folder.c_str(), nullptr);
      for (int n = 0; n < perFolder; ++n) {
        wchar_t name[32];
        std::swprintf(name, 32, L"\\module_%05d.dll", n);
        CFileHandle file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.Get(), bytes, sizeof(bytes), &written, nullptr)) return false;
      }
    }
  }
  CFileHandle done(::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::printf("tree: made %d files in %.1f s\n", 100 * perFolder, Seconds() - start);
  return true;
}

// The references: the same listing with no registration at all, and optionally with each file
// opened and its first 64 bytes read (what the PE filter needs, without a mapping).
size_t Enumerate(const std::wstring& dir, bool read = false) {
  size_t files = 0;
  WIN32_FIND_DATAW found;
  CFindHandle search(::FindFirstFileW((dir + L"\\*.*").c_str(), &found));
  if (!search) return 0;
  do {
    if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0) continue;
    const std::wstring path = dir + L"\\" + found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files += Enumerate(path, read);
    } else if (std::wcsncmp(found.cFileName, L"complete_", 9) != 0) {
      ++files;
      if (read) {
        CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        char head[64];
        DWORD got = 0;
        if (file) ::ReadFile(file.Get(), head, sizeof(head), &got, nullptr);
      }
    }
  } while (::FindNextFileW(search.Get(), &found));
  return files;
}

struct Run {
  RunConfig config;
  StateRecord state;
  CStateWriteClock clock;
  CRunContext context{config, state, clock};
  explicit Run(const std::wstring& statePath) { state.StatePath = statePath; }
};

double WalkOnce(const std::wstring& root, const std::wstring& statePath, bool peOnly) {
  Run run(statePath);
  ParseFilter(run.config, kDefaultFilterText);
  run.config.ScanPeOnly = peOnly;
  run.config.ScopeEntries[L"tree"] = ScopeEntry{L"*.*", root};
  const double heapBefore = HeapBytes();
  const double start = Seconds();
  CScanItems table(run.context);
  const HRESULT hr = CollectScope(run.context, table);
  const double seconds = Seconds() - start;
  const size_t items = table.Modules().size();
  std::printf("walk%s: result 0x%08lx, %zu items, %.0f files/s (%.2f s), %.0f heap bytes per module item\n",
              peOnly ? "" : " without the PE filter", static_cast<unsigned long>(hr), items, items / seconds, seconds,
              (HeapBytes() - heapBefore) / items);
  return seconds;
}

void WalkTree(const std::wstring& root, const std::wstring& statePath) {
  const double referenceStart = Seconds();
  const size_t listed = Enumerate(root);
  const double referenceSeconds = Seconds() - referenceStart;
  std::printf("reference: bare enumeration of %zu files, %.0f files/s (%.2f s)\n", listed, listed / referenceSeconds,
              referenceSeconds);
  const double readStart = Seconds();
  Enumerate(root, true);
  const double readSeconds = Seconds() - readStart;
  std::printf("reference: enumeration reading the first 64 bytes of each file, %.0f files/s (%.2f s)\n",
              listed / readSeconds, readSeconds);
  const double seconds = WalkOnce(root, statePath, true);
  std::printf("walk: takes %.1fx the time of the bare enumeration\n", seconds / referenceSeconds);
  WalkOnce(root, statePath, false);
}

void MillionItems(uint32_t count, const std::wstring& statePath) {
  Run run(statePath);
  run.config.ScanPeOnly = false;  // no file is opened: the table alone is measured
  const double heapBefore = HeapBytes();
  const double start = Seconds();
  CScanItems table(run.context);
  for (uint32_t n = 0; n < count; ++n) {
    wchar_t path[64];
    std::swprintf(path, 64, L"C:\\b\\d%03u\\f%07u.dll", n % 1000, n);
    uint32_t id = 0;
    table.AddModule(path, &id);
  }
  const double seconds = Seconds() - start;
  const double registered = (HeapBytes() - heapBefore) / count;
  // What the lookup phase adds to every item: version strings and the signer's name.
  for (auto& keyAndItem : table.Modules()) {
    ModuleItem& item = keyAndItem.second;
    item.Signer = L"Vendor Corporation";
    item.Description = L"Product component library";
    item.Version = L"10.0.19041.1";
    item.Copyright = L"(c) Vendor Corporation. All rights reserved.";
    item.Product = L"Vendor Product";
  }
  const double filled = (HeapBytes() - heapBefore) / count;
  const double mb = 1024.0 * 1024.0;
  const double space = UserAddressSpace();
  std::printf("table: %u items through AddModule in %.1f s (%.0f items/s); sizeof(ModuleItem) %u bytes, "
              "paths of 22 characters\n",
              count, seconds, count / seconds, static_cast<unsigned>(sizeof(ModuleItem)));
  std::printf("table: as registered %.0f heap bytes per item, %.0f MB in all\n", registered, registered * count / mb);
  std::printf("table: with version and signer strings %.0f heap bytes per item, %.0f MB in all\n", filled,
              filled * count / mb);
  std::printf("table: the process may address %.0f MB (large-address-aware: %s); at %.0f bytes per item that holds "
              "%.1f million items\n",
              space / mb, LargeAddressAware() ? "yes" : "no", filled, space / filled / 1e6);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"vantorag_scope_walk_bench";
  int perFolder = 1000;
  uint32_t million = 1000000;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.rfind(L"--tree=", 0) == 0) root = arg.substr(7);
    else if (arg.rfind(L"--files=", 0) == 0) perFolder = std::stoi(arg.substr(8));
    else if (arg.rfind(L"--million=", 0) == 0) million = static_cast<uint32_t>(std::stoul(arg.substr(10)));
  }
  const std::wstring statePath = std::wstring(temp) + L"vantorag_scope_walk_bench.state";
  if (!MakeTree(root, perFolder)) {
    std::printf("tree: could not be made\n");
    return 1;
  }
  Enumerate(root);  // warm the file system's caches for both runs alike
  WalkTree(root, statePath);
  if (million != 0) MillionItems(million, statePath);
  ::DeleteFileW(statePath.c_str());
  return 0;
}
