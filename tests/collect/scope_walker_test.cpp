// The scope walk over real folders: masks that also choose the subfolders, single files, a folder
// named twice, a stop deep down, trees with links that lead back up, and a 300-character path.
#include "collect/scope_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "control/options.h"
#include "test_support/long_path_file.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

const std::string kPeBytes = std::string("MZ") + std::string(62, '\0');

// Records every file offered; at the `stopAt`-th it requests a stop, as the service handler would
// between two entries. A runaway walk is stopped after `limit` files.
class CRecordingWalker : public CScopeWalker {
 public:
  CRecordingWalker(CRunContext& run, CScanItems& items, size_t stopAt = 0, size_t limit = 10000)
      : CScopeWalker(run, items), run_(run), stopAt_(stopAt), limit_(limit) {}

  std::vector<std::wstring> offered;

 protected:
  HRESULT AddFile(const std::wstring& path) override {
    offered.push_back(path);
    const HRESULT hr = CScopeWalker::AddFile(path);
    if (offered.size() == stopAt_ || offered.size() >= limit_) run_.Config().StopRequested = 1;
    return hr;
  }

 private:
  CRunContext& run_;
  size_t stopAt_;
  size_t limit_;
};

class ScopeWalkerTest : public testing::Test {
 protected:
  ScopeWalkerTest() : run_(config_, state_, clock_), items_(run_) {
    state_.StatePath = dir_.Path() + L"\\state.txt";
    root_ = dir_.MakeFolder(L"root");
  }

  // Files and folders under root_; a name ending in a backslash is a folder.
  void MakeTree(std::initializer_list<const wchar_t*> entries) {
    for (const wchar_t* entry : entries) {
      const std::wstring relative = std::wstring(L"root\\") + entry;
      if (relative.back() == L'\\') dir_.MakeFolder(relative.substr(0, relative.size() - 1));
      else dir_.WriteFile(relative, kPeBytes);
    }
  }

  std::set<std::wstring> Registered(const CScanItems& items) const {
    std::set<std::wstring> paths;
    for (const auto& keyAndItem : items.Modules()) paths.insert(keyAndItem.second.Path);
    return paths;
  }

  std::set<std::wstring> UnderRoot(std::initializer_list<const wchar_t*> relatives) const {
    std::set<std::wstring> paths;
    for (const wchar_t* relative : relatives) paths.insert(root_ + L"\\" + relative);
    return paths;
  }

  test::CTempDir dir_;
  RunConfig config_;
  StateRecord state_;
  CStateWriteClock clock_;
  CRunContext run_;
  CScanItems items_;
  std::wstring root_;
};

TEST(AppendPathComponent, OneBackslashBetween) {
  struct Case {
    const wchar_t* dir;
    const wchar_t* name;
    const wchar_t* joined;
  } const cases[] = {
      {L"C:\\", L"*.*", L"C:\\*.*"},
      {L"C:\\data", L"a.exe", L"C:\\data\\a.exe"},
      {L"C:\\data\\", L"a.exe", L"C:\\data\\a.exe"},
      {L"C:/data/", L"a.exe", L"C:/data/a.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.dir << "' + '" << c.name << "'");
    EXPECT_EQ(c.joined, AppendPathComponent(c.dir, c.name));
  }
}

TEST_F(ScopeWalkerTest, MaskChoosesFilesAndSubfoldersAlike) {
  MakeTree({L"a.exe", L"b.dll", L"noext", L"sub\\", L"sub\\f.exe", L"tools.exe\\", L"tools.exe\\c.exe",
            L"tools.exe\\d.dll", L"tools.exe\\inner\\", L"tools.exe\\inner\\e.exe", L"deep.exe\\",
            L"deep.exe\\more.exe\\", L"deep.exe\\more.exe\\g.exe"});
  struct Case {
    const wchar_t* mask;
    std::set<std::wstring> registered;
  } const cases[] = {
      {L"*.exe", UnderRoot({L"a.exe", L"tools.exe\\c.exe", L"deep.exe\\more.exe\\g.exe"})},
      {L"*.*", UnderRoot({L"a.exe", L"b.dll", L"noext", L"sub\\f.exe", L"tools.exe\\c.exe", L"tools.exe\\d.dll",
                          L"tools.exe\\inner\\e.exe", L"deep.exe\\more.exe\\g.exe"})},
      {L"*.dll", UnderRoot({L"b.dll"})},
      {L"nothing.zzz", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mask " << c.mask);
    CScanItems items(run_);
    EXPECT_EQ(S_OK, WalkFolder(run_, items, root_, c.mask));
    EXPECT_EQ(c.registered, Registered(items));
  }
}

TEST_F(ScopeWalkerTest, SingleFileEntryRegistersThatFileOnly) {
  MakeTree({L"one.exe", L"two.exe", L"sub\\", L"sub\\three.exe"});
  config_.ScopeEntries[L"k"] = ScopeEntry{L"", root_ + L"\\one.exe"};
  EXPECT_EQ(S_OK, CollectScope(run_, items_));
  EXPECT_EQ(UnderRoot({L"one.exe"}), Registered(items_));
  EXPECT_EQ(kPhaseFileScope, state_.Phase);
  EXPECT_EQ(0u, test::CTempDir::ReadFile(state_.StatePath).find(std::string("4\0;\0", 4)));
}

TEST_F(ScopeWalkerTest, MissingFoldersAndFilesYieldNothing) {
  config_.ScopeEntries[L"a"] = ScopeEntry{L"*.*", root_ + L"\\missing"};
  config_.ScopeEntries[L"b"] = ScopeEntry{L"", root_ + L"\\missing.exe"};
  config_.ScopeEntries[L"c"] = ScopeEntry{L"*.*", root_ + L"\\missing.exe"};
  EXPECT_EQ(S_OK, CollectScope(run_, items_));
  EXPECT_TRUE(items_.Modules().empty());
}

TEST_F(ScopeWalkerTest, FolderNamedTwiceIsWalkedOnce) {
  MakeTree({L"a.exe", L"sub\\", L"sub\\b.exe"});
  std::wstring upper = root_;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  // One entry by the option's own key; two more that differ only by a trailing backslash or an
  // explicit "*.*".
  ASSERT_TRUE(ParseScope(config_, root_ + L"|" + upper + L"|" + root_ + L"\\|" + root_ + L"\\*.*"));
  ASSERT_EQ(3u, config_.ScopeEntries.size());
  CRecordingWalker walker(run_, items_);
  EXPECT_EQ(S_OK, walker.CollectScope());
  EXPECT_EQ(2u, walker.offered.size());
  EXPECT_EQ(2u, items_.Modules().size());
}

TEST_F(ScopeWalkerTest, StopBetweenTwoEntriesEndsTheWholeWalk) {
  MakeTree({L"a.exe", L"b.exe", L"l1\\", L"l1\\c.exe", L"l1\\l2\\", L"l1\\l2\\d.exe", L"l1\\l2\\l3\\",
            L"l1\\l2\\l3\\e.exe", L"l1\\l2\\l3\\f.exe", L"l1\\l2\\l3\\l4\\", L"l1\\l2\\l3\\l4\\g.exe", L"m\\",
            L"m\\h.exe", L"m\\n\\", L"m\\n\\i.exe"});
  const size_t total = 9;
  for (size_t stopAt = 1; stopAt < total; ++stopAt) {
    SCOPED_TRACE(testing::Message() << "stop at file " << stopAt);
    config_.StopRequested = 0;
    CScanItems items(run_);
    CRecordingWalker walker(run_, items, stopAt);
    // Whatever the depth of the file that saw the stop, nothing is offered after it.
    EXPECT_EQ(E_ABORT, walker.WalkFolder(root_, L"*.*"));
    EXPECT_EQ(stopAt, walker.offered.size());
    EXPECT_EQ(stopAt, items.Modules().size());
  }

  // A stop seen in the last subfolder, with nothing left to list above it, still ends the walk
  // as stopped.
  config_.StopRequested = 0;
  const std::wstring single = dir_.MakeFolder(L"single");
  dir_.MakeFolder(L"single\\only");
  dir_.WriteFile(L"single\\only\\a.exe", kPeBytes);
  dir_.WriteFile(L"single\\only\\b.exe", kPeBytes);
  {
    CScanItems items(run_);
    CRecordingWalker walker(run_, items, 1);
    EXPECT_EQ(E_ABORT, walker.WalkFolder(single, L"*.*"));
    EXPECT_EQ(1u, walker.offered.size());
  }

  // Through the phase: the stop ends it, and a second entry is not visited.
  config_.StopRequested = 0;
  const std::wstring other = dir_.MakeFolder(L"other");
  dir_.WriteFile(L"other\\z.exe", kPeBytes);
  config_.ScopeEntries[L"root"] = ScopeEntry{L"*.*", root_};
  config_.ScopeEntries[L"other"] = ScopeEntry{L"*.*", other};
  CRecordingWalker walker(run_, items_, 1);
  EXPECT_EQ(E_ABORT, walker.CollectScope());
  EXPECT_EQ(1u, walker.offered.size());
}

// Under Wine a link must be made on the host side (CreateSymbolicLinkW reports success and makes
// nothing); it then looks like a folder with the reparse bit. On Windows: a directory symbolic link.
using WineGetUnixFileName = char*(__cdecl*)(const wchar_t*);

WineGetUnixFileName WineUnixNames() {
  return reinterpret_cast<WineGetUnixFileName>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
}

std::wstring UnixName(WineGetUnixFileName convert, const std::wstring& path) {
  char* name = convert(path.c_str());
  if (!name) return std::wstring();
  std::wstring wide(name, name + std::strlen(name));
  ::HeapFree(::GetProcessHeap(), 0, name);
  return wide;
}

// Starts a host program; Wine gives no handle to wait on for it, so the caller polls for its effect.
bool StartHostCommand(const std::wstring& commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring command = commandLine;
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CKernelHandle processHandle(process.hProcess);
  CThreadHandle threadHandle(process.hThread);
  return true;
}

template <typename Done>
bool WaitUntil(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) ::Sleep(20);
  return done();
}

bool IsDirectoryLink(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & wanted) == wanted;
}

bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  if (WineGetUnixFileName convert = WineUnixNames()) {
    if (!StartHostCommand(L"/bin/ln -s \"" + UnixName(convert, target) + L"\" \"" + UnixName(convert, link) + L"\""))
      return false;
    return WaitUntil([&] { return IsDirectoryLink(link); });
  }
  ::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE */);
  return IsDirectoryLink(link);
}

void RemoveDirectoryLink(const std::wstring& link) {
  if (WineGetUnixFileName convert = WineUnixNames()) {
    const std::wstring unixLink = UnixName(convert, link);
    if (!unixLink.empty() && StartHostCommand(L"/bin/rm -f \"" + unixLink + L"\""))
      WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
  } else {
    ::RemoveDirectoryW(link.c_str());
  }
}

// Removes the links before the folder goes, so that the removal never follows them.
class CLinks {
 public:
  CLinks() = default;
  CLinks(const CLinks&) = delete;
  CLinks& operator=(const CLinks&) = delete;
  ~CLinks() {
    for (const std::wstring& link : links_) RemoveDirectoryLink(link);
  }
  bool Make(const std::wstring& link, const std::wstring& target) {
    links_.push_back(link);
    return MakeDirectoryLink(link, target);
  }

 private:
  std::vector<std::wstring> links_;
};

TEST_F(ScopeWalkerTest, LinksAreEnteredButNeverBackIntoAnOpenFolder) {
  MakeTree({L"r.exe", L"a\\", L"a\\a.exe", L"a\\b\\", L"a\\b\\b.exe", L"c\\", L"c\\c.exe"});
  CLinks links;
  if (!links.Make(root_ + L"\\loop", root_)) GTEST_SKIP() << "directory links can't be made here";
  ASSERT_TRUE(links.Make(root_ + L"\\a\\self", root_ + L"\\a"));
  ASSERT_TRUE(links.Make(root_ + L"\\a\\b\\up", root_));
  ASSERT_TRUE(links.Make(root_ + L"\\a\\b\\toc", root_ + L"\\c"));
  ASSERT_TRUE(links.Make(root_ + L"\\c\\tob", root_ + L"\\a\\b"));

  // A link to a folder off the walk path is entered once per way there; every link back into an
  // open folder (loop, self, up, and tob inside toc) is not. Starting through a link changes
  // nothing but the form of the paths.
  for (const std::wstring& start : {root_, root_ + L"\\loop"}) {
    SCOPED_TRACE(testing::Message() << "from " << start);
    CScanItems items(run_);
    CRecordingWalker walker(run_, items, 0, 1000);
    EXPECT_EQ(S_OK, walker.WalkFolder(start, L"*.*"));
    std::set<std::wstring> expected;
    for (const wchar_t* relative :
         {L"r.exe", L"a\\a.exe", L"a\\b\\b.exe", L"a\\b\\toc\\c.exe", L"c\\c.exe", L"c\\tob\\b.exe"})
      expected.insert(start + L"\\" + relative);
    EXPECT_EQ(expected, Registered(items));
    EXPECT_EQ(6u, walker.offered.size());
  }
}

TEST_F(ScopeWalkerTest, FileAtThreeHundredCharacters) {
  // Made through the extended form; the walk is given and registers the ordinary form.
  test::CLongPathFile file(root_, L"long.exe", 300, kPeBytes);
  ASSERT_TRUE(file.Valid());
  ASSERT_EQ(300u, file.Path().size());
  struct Case {
    const char* name;
    std::wstring dir;
  } const cases[] = {
      {"walk from a short folder", root_},
      {"walk from the long folder itself", file.Folder()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScanItems items(run_);
    EXPECT_EQ(S_OK, WalkFolder(run_, items, c.dir, L"*.*"));
    ASSERT_EQ(std::set<std::wstring>{file.Path()}, Registered(items));
    EXPECT_EQ(kPeBytes.size(), items.Modules().begin()->second.Size);
  }
}

TEST_F(ScopeWalkerTest, FixedDrivesAreWalkedFromTheirRoots) {
  // A name no drive root holds by chance, placed at the root of the system drive.
  wchar_t windows[MAX_PATH];
  ASSERT_NE(0u, ::GetWindowsDirectoryW(windows, MAX_PATH));
  const std::wstring mask = L"vantorag_walk_" + std::to_wstring(::GetCurrentProcessId()) + L"_*.exe";
  const std::wstring probe = std::wstring(windows, 3) + L"vantorag_walk_" +
                             std::to_wstring(::GetCurrentProcessId()) + L"_probe.exe";
  {
    CFileHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) GTEST_SKIP() << "the system drive's root is not writable here";
    DWORD written = 0;
    ::WriteFile(file.Get(), kPeBytes.data(), static_cast<DWORD>(kPeBytes.size()), &written, nullptr);
  }
  config_.ScopeEntries[L"?:"] = ScopeEntry{mask, L"?:"};
  const HRESULT hr = CollectScope(run_, items_);
  ::DeleteFileW(probe.c_str());
  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(std::set<std::wstring>{probe}, Registered(items_));
}

}  // namespace
}  // namespace kal
