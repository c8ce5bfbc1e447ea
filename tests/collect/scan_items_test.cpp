// AddModule: one item per path up to A-Z letter case, the mask, PE and assembly-cache decisions
// made at first sight only, Ids, times, long paths and the counters with their state-file refresh.
#include "collect/scan_items.h"

#include <gtest/gtest.h>

#include <cstring>

#include "control/options.h"
#include "test_support/long_path_file.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

constexpr uint32_t kSentinelId = 0xDEADBEEF;

// `size` bytes beginning with `head`, the rest zero.
std::string Bytes(const char* head, size_t size) {
  std::string bytes(size, '\0');
  std::memcpy(&bytes[0], head, std::min(std::strlen(head), size));
  return bytes;
}

std::wstring FromUtf16Le(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<wchar_t>(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
  return text;
}

// FILETIME of a number of seconds since 1970 UTC.
FILETIME UnixSecondsToFileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600ll) * 10000000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class ScanItemsTest : public testing::Test {
 protected:
  ScanItemsTest() : clock_([this] { return now_; }), run_(config_, state_, clock_) {
    state_.StatePath = dir_.Path() + L"\\state.txt";
  }

  // Filters as the option parser leaves them; `masks` empty switches the mask filter off.
  void SetMasks(const wchar_t* masks) {
    config_.FilterMasks.clear();
    ParseFilter(config_, masks);
  }

  static const ModuleItem* FindById(const CScanItems& items, uint32_t id) {
    for (const auto& keyAndItem : items.Modules())
      if (keyAndItem.second.Id == id) return &keyAndItem.second;
    return nullptr;
  }

  std::wstring StateLine() const { return FromUtf16Le(test::CTempDir::ReadFile(state_.StatePath)); }

  test::CTempDir dir_;
  RunConfig config_;
  StateRecord state_;
  int64_t now_ = 1000000;
  CStateWriteClock clock_;
  CRunContext run_;
};

TEST_F(ScanItemsTest, PathsEqualUpToAsciiLetterCaseAreOneItemInTheFirstForm) {
  config_.ScanPeOnly = false;
  struct Case {
    const wchar_t* first;
    const wchar_t* second;
    bool same;
  } const cases[] = {
      // Normal
      {L"C:\\Windows\\notepad.exe", L"c:\\windows\\NOTEPAD.EXE", true},
      {L"c:\\data\\a.exe", L"C:\\DATA\\A.EXE", true},
      // Only A-Z fold, and nothing else is normalised
      {L"C:\\Data\\\u00C4.exe", L"C:\\Data\\\u00E4.exe", false},
      {L"C:\\Data\\a.exe", L"C:\\Data\\.\\a.exe", false},
      {L"C:\\Data\\a.exe", L"C:/Data/a.exe", false},
      {L"C:\\Data\\a.exe", L"\\\\?\\C:\\Data\\a.exe", false},
      {L"C:\\PROGRA~1\\a.exe", L"C:\\Program Files\\a.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.first << "' then '" << c.second << "'");
    CScanItems items(run_);
    uint32_t first = 0, second = 0;
    ASSERT_EQ(S_OK, items.AddModule(c.first, &first));
    ASSERT_EQ(S_OK, items.AddModule(c.second, &second));
    EXPECT_EQ(1u, first);
    EXPECT_EQ(c.same ? 1u : 2u, second);
    EXPECT_EQ(c.same ? 1u : 2u, items.Modules().size());
    ASSERT_NE(nullptr, FindById(items, 1));
    EXPECT_EQ(c.first, FindById(items, 1)->Path);
  }
}

TEST_F(ScanItemsTest, FiltersDecideOnlyAtFirstSight) {
  SetMasks(kDefaultFilterText);
  const std::wstring exe = dir_.WriteFile(L"Tool.exe", Bytes("MZ", 64));
  CScanItems items(run_);
  uint32_t id = 0;
  ASSERT_EQ(S_OK, items.AddModule(exe, &id));
  ASSERT_EQ(1u, id);

  // Met again, in another letter case, under filters that would now turn it away: same item.
  SetMasks(L"*.dll");
  dir_.WriteFile(L"Tool.exe", Bytes("#!", 200));
  std::wstring upper = exe;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(::towupper(c));
  id = 0;
  EXPECT_EQ(S_OK, items.AddModule(upper, &id));
  EXPECT_EQ(1u, id);
  ASSERT_EQ(1u, items.Modules().size());
  EXPECT_EQ(exe, FindById(items, 1)->Path);
  EXPECT_EQ(64u, FindById(items, 1)->Size);

  // A file turned away is not remembered: once the filters let it pass it becomes an item.
  const std::wstring text = dir_.WriteFile(L"notes.txt", Bytes("text", 100));
  id = kSentinelId;
  EXPECT_EQ(S_FALSE, items.AddModule(text, &id));
  EXPECT_EQ(kSentinelId, id);
  SetMasks(L"");
  config_.ScanPeOnly = false;
  EXPECT_EQ(S_OK, items.AddModule(text, &id));
  EXPECT_EQ(2u, id);
}

TEST_F(ScanItemsTest, MaskFilter) {
  config_.ScanPeOnly = false;
  struct Case {
    const wchar_t* masks;
    const wchar_t* path;
    bool added;
  } const cases[] = {
      // The default list
      {kDefaultFilterText, L"C:\\x\\a.exe", true},
      {kDefaultFilterText, L"C:\\X\\A.EXE", true},
      {kDefaultFilterText, L"C:\\x\\run.bat", true},
      {kDefaultFilterText, L"C:\\x\\A.Java", true},
      {kDefaultFilterText, L"C:\\x\\setup.msi", true},
      {kDefaultFilterText, L"C:\\x\\notes.txt", false},
      {kDefaultFilterText, L"C:\\x\\a.exe.txt", false},
      {kDefaultFilterText, L"C:\\x\\a.jav", false},
      {kDefaultFilterText, L"C:\\x\\noext", false},
      {kDefaultFilterText, L"C:\\x.exe\\noext", false},
      // Explicit masks, tried in order until one matches
      {L"*.exe|*.dll", L"C:\\A\\B.SYS", false},
      {L"*.exe|*.dll", L"c:\\a\\b.DLL", true},
      {L"*.zzz|*.sys", L"C:\\A\\B.SYS", true},
      // "?" is one character but never a dot
      {L"C:\\x\\a?exe", L"C:\\x\\a.exe", false},
      {L"C:\\x\\a?exe", L"C:\\x\\abexe", true},
      // "*" backtracks over dots and separators
      {L"*.exe", L"C:\\a.exe\\b.exe.exe", true},
      {L"*\\sys*\\*.sys", L"C:\\Windows\\System32\\drivers\\x.sys", true},
      // a lone trailing "*" takes any remainder, also none
      {L"C:\\x\\*", L"C:\\x\\anything.at.all", true},
      {L"C:\\x\\*", L"C:\\x\\", true},
      {L"C:\\x\\*", L"C:\\y\\a.exe", false},
      // No masks: every path passes
      {L"", L"C:\\x\\noext", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "masks '" << c.masks << "' path '" << c.path << "'");
    SetMasks(c.masks);
    CScanItems items(run_);
    uint32_t id = kSentinelId;
    EXPECT_EQ(c.added ? S_OK : S_FALSE, items.AddModule(c.path, &id));
    EXPECT_EQ(c.added ? 1u : kSentinelId, id);
    EXPECT_EQ(c.added ? 1u : 0u, items.Modules().size());
  }
}

TEST_F(ScanItemsTest, PeFilterWantsTheMarkAndSixtyFourBytes) {
  SetMasks(kDefaultFilterText);
  dir_.MakeFolder(L"folder.exe");
  struct Case {
    const wchar_t* name;
    std::string content;  // the file is not created when empty and `exists` is false
    bool exists;
    bool peOnlyAdds;      // with ScanPeOnly (the default)
  } const cases[] = {
      // Normal
      {L"mz.exe", Bytes("MZ", 64), true, true},
      {L"zm.dll", Bytes("ZM", 64), true, true},
      {L"large.sys", Bytes("MZ\x90", 8192), true, true},
      {L"marked.bat", Bytes("MZ", 64), true, true},
      // Too short, wrong mark or no mark
      {L"short.exe", Bytes("MZ", 63), true, false},
      {L"lower.exe", Bytes("mz", 64), true, false},
      {L"zip.exe", Bytes("PK\x03\x04", 64), true, false},
      {L"script.bat", Bytes("@echo off\r\nstart notepad.exe\r\n", 100), true, false},
      {L"empty.exe", std::string(), true, false},
      // Nothing to open
      {L"missing.exe", std::string(), false, false},
      {L"folder.exe", std::string(), false, false},
  };
  for (const bool peOnly : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (peOnly ? "PE only: " : "any file: ") << c.name);
      const std::wstring path = dir_.Path() + L"\\" + c.name;
      if (c.exists) dir_.WriteFile(c.name, c.content);
      config_.ScanPeOnly = peOnly;
      CScanItems items(run_);
      uint32_t id = kSentinelId;
      const bool added = peOnly ? c.peOnlyAdds : true;
      EXPECT_EQ(added ? S_OK : S_FALSE, items.AddModule(path, &id));
      EXPECT_EQ(added ? 1u : kSentinelId, id);
      if (added && c.exists) {
        const ModuleItem* item = FindById(items, 1);
        ASSERT_NE(nullptr, item);
        EXPECT_EQ(c.content.size(), item->Size);
        EXPECT_NE(0u, item->Attributes);
        EXPECT_NE(0, item->Modified);
      }
    }
  }
}

TEST_F(ScanItemsTest, PeFilterReadsFilesThatOthersHoldOpen) {
  const std::wstring path = dir_.WriteFile(L"busy.exe", Bytes("MZ", 64));
  struct Case {
    const char* holder;
    DWORD access;
    DWORD share;
    bool added;
  } const cases[] = {
      {"writer sharing read and write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {"writer sharing read, write and delete", GENERIC_READ | GENERIC_WRITE | DELETE,
       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
      {"exclusive reader", GENERIC_READ, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.holder);
    CFileHandle held(::CreateFileW(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    CScanItems items(run_);
    uint32_t id = 0;
    EXPECT_EQ(c.added ? S_OK : S_FALSE, items.AddModule(path, &id));
  }
}

TEST_F(ScanItemsTest, AssemblyCachePrefix) {
  config_.ScanPeOnly = false;
  struct Case {
    const wchar_t* gac;
    const wchar_t* netGac;
    const wchar_t* path;
    bool inCache;
  } const cases[] = {
      // Either folder, compared without case over its length
      {L"C:\\Windows\\assembly", L"", L"C:\\WINDOWS\\assembly\\GAC_MSIL\\x\\y.dll", true},
      {L"", L"C:\\Windows\\Microsoft.NET\\assembly", L"c:\\windows\\microsoft.net\\assembly\\GAC_32\\a.dll", true},
      {L"C:\\Windows\\assembly", L"C:\\Windows\\Microsoft.NET\\assembly", L"C:\\Windows\\assembly\\a.dll", true},
      // A plain prefix test: the sibling "assemblyX" matches too
      {L"C:\\Windows\\assembly", L"", L"C:\\Windows\\assemblyfoo\\z.dll", true},
      // Outside, shorter than the folder, or no folder at all
      {L"C:\\Windows\\assembly", L"C:\\Windows\\Microsoft.NET\\assembly", L"C:\\Windows\\system32\\a.dll", false},
      {L"C:\\Windows\\assembly", L"", L"C:\\Windows\\assembl", false},
      {L"C:\\Windows\\assembly", L"", L"D:\\Windows\\assembly\\a.dll", false},
      {L"", L"", L"C:\\Windows\\assembly\\a.dll", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "gac '" << c.gac << "' net '" << c.netGac << "' path '" << c.path << "'");
    config_.GacFolder = c.gac;
    config_.NetGacFolder = c.netGac;
    CScanItems items(run_);
    uint32_t id = 0;
    ASSERT_EQ(S_OK, items.AddModule(c.path, &id));
    EXPECT_EQ(c.inCache, FindById(items, id)->Gac);
  }
}

TEST_F(ScanItemsTest, RecordTimes) {
  struct Case {
    const char* name;
    FILETIME utc;
    int64_t seconds;
  } const cases[] = {
      {"no time", FILETIME{0, 0}, 0},
      {"1601, before 1900", FILETIME{1, 0}, 0},
      {"1899-12-31T23:00:00Z", UnixSecondsToFileTime(-2208992400ll), 0},
      {"2001-09-09T01:46:40Z", UnixSecondsToFileTime(1000000000), 1000000000},
      {"2020-01-01T00:00:00Z", UnixSecondsToFileTime(1577836800), 1577836800},
      {"2021-07-01T12:00:00Z, summer", UnixSecondsToFileTime(1625140800), 1625140800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.seconds, FileTimeToRecordTime(c.utc));
  }

  // The item's times are the file's, through the same conversion. The access time lies ahead, so
  // that the PE filter's own read does not move it.
  const std::wstring path = dir_.WriteFile(L"timed.exe", Bytes("MZ", 64));
  {
    CFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const FILETIME accessed = UnixSecondsToFileTime(2051222400);  // 2035-01-01T00:00:00Z
    const FILETIME written = UnixSecondsToFileTime(1000000000);
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, &accessed, &written));
  }
  CScanItems items(run_);
  uint32_t id = 0;
  ASSERT_EQ(S_OK, items.AddModule(path, &id));
  EXPECT_EQ(1000000000, FindById(items, id)->Modified);
  EXPECT_EQ(2051222400, FindById(items, id)->Accessed);

  // Attributes that can't be read leave the item with zero size, attributes and times.
  config_.ScanPeOnly = false;
  ASSERT_EQ(S_OK, items.AddModule(dir_.Path() + L"\\gone.exe", &id));
  const ModuleItem* gone = FindById(items, id);
  EXPECT_EQ(0u, gone->Size);
  EXPECT_EQ(0u, gone->Attributes);
  EXPECT_EQ(0, gone->Created);
  EXPECT_EQ(0, gone->Modified);
  EXPECT_EQ(0, gone->Accessed);
}

TEST_F(ScanItemsTest, IdsCountDistinctFilesOnly) {
  config_.ScanPeOnly = false;
  SetMasks(L"*.exe");
  CScanItems items(run_);
  for (uint32_t n = 1; n <= 1000; ++n) {
    uint32_t id = 0;
    ASSERT_EQ(S_OK, items.AddModule(L"C:\\f\\" + std::to_wstring(n) + L".exe", &id));
    ASSERT_EQ(n, id);
    // Duplicates in another letter case and files turned away in between take no number.
    const uint32_t earlier = (n + 1) / 2;
    ASSERT_EQ(S_OK, items.AddModule(L"C:\\F\\" + std::to_wstring(earlier) + L".EXE", &id));
    ASSERT_EQ(earlier, id);
    id = 0;
    ASSERT_EQ(S_FALSE, items.AddModule(L"C:\\f\\" + std::to_wstring(n) + L".txt", &id));
    ASSERT_EQ(0u, id);
  }
  uint32_t id = 0;
  ASSERT_EQ(S_OK, items.AddModule(L"C:\\f\\next.exe", &id));
  EXPECT_EQ(1001u, id);
  EXPECT_EQ(1001u, state_.FilesFound);
}

TEST_F(ScanItemsTest, CountersAndTheUnforcedStateRefresh) {
  const std::wstring a = dir_.WriteFile(L"a.exe", Bytes("MZ", 64));
  const std::wstring b = dir_.WriteFile(L"b.exe", Bytes("MZ", 100));
  const std::wstring c = dir_.WriteFile(L"c.exe", Bytes("MZ", 1000));
  const std::wstring text = dir_.WriteFile(L"d.exe", Bytes("no", 100));
  state_.Phase = kPhaseFileScope;
  CScanItems items(run_);
  uint32_t id = 0;

  ASSERT_EQ(S_OK, items.AddModule(a, &id));
  EXPECT_EQ(0u, StateLine().find(L"4;1;64;")) << StateLine();

  // Within 5 seconds of the last write the file is left as it is.
  ASSERT_EQ(S_OK, items.AddModule(b, &id));
  ASSERT_EQ(S_OK, items.AddModule(a, &id));
  ASSERT_EQ(S_FALSE, items.AddModule(text, &id));
  EXPECT_EQ(0u, StateLine().find(L"4;1;64;")) << StateLine();
  EXPECT_EQ(2u, state_.FilesFound);
  EXPECT_EQ(164u, state_.BytesFound);

  now_ += 5;
  ASSERT_EQ(S_OK, items.AddModule(c, &id));
  EXPECT_EQ(0u, StateLine().find(L"4;3;1164;")) << StateLine();
  EXPECT_EQ(3u, state_.FilesFound);
  EXPECT_EQ(1164u, state_.BytesFound);
}

TEST_F(ScanItemsTest, ExtendedLengthPathOnlyForPathsTooLongForTheFileCalls) {
  const std::wstring tail = std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b') + L"\\c.exe";
  struct Case {
    const char* name;
    std::wstring path;
    std::wstring expected;
  } const cases[] = {
      {"short drive path", L"C:\\Windows\\notepad.exe", L"C:\\Windows\\notepad.exe"},
      {"259 characters", L"C:\\" + std::wstring(256, L'x'), L"C:\\" + std::wstring(256, L'x')},
      {"long drive path", L"C:\\" + tail, L"\\\\?\\C:\\" + tail},
      {"long, forward slashes", L"C:/" + std::wstring(150, L'a') + L"/" + std::wstring(150, L'b') + L"/c.exe",
       L"\\\\?\\C:\\" + tail},
      {"long, dot components", L"C:\\.\\zz\\..\\" + tail, L"\\\\?\\C:\\" + tail},
      {"long UNC path", L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail},
      {"already extended", L"\\\\?\\C:\\" + tail, L"\\\\?\\C:\\" + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, ExtendedLengthPath(c.path));
  }
}

TEST_F(ScanItemsTest, FileAtThreeHundredCharacters) {
  test::CLongPathFile file(dir_.Path(), L"long.exe", 300, Bytes("MZ", 4096));
  ASSERT_TRUE(file.Valid());
  ASSERT_EQ(300u, file.Path().size());
  SetMasks(kDefaultFilterText);
  CScanItems items(run_);
  uint32_t id = 0;
  ASSERT_EQ(S_OK, items.AddModule(file.Path(), &id));
  const ModuleItem* item = FindById(items, id);
  EXPECT_EQ(file.Path(), item->Path);
  EXPECT_EQ(4096u, item->Size);
  EXPECT_NE(0, item->Modified);
}

}  // namespace
}  // namespace kal
