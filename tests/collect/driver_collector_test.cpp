// The drivers phase: the module table parser against hand-built tables, registration into the
// driver table, and the phase under Wine with the three modules Wine reports.
#include "collect/driver_collector.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/win.h"
#include "test_support/run_fixture.h"

namespace kal {
namespace {

using test::RunFixture;

// A module table in `layout`: `count`, then one record per name (the rest junk), cut or padded
// to `size` bytes when given.
std::vector<uint8_t> ModuleTable(const DriverTableLayout& layout, uint32_t count, const std::vector<std::string>& names,
                                 size_t size = 0) {
  std::vector<uint8_t> table(layout.firstRecord + names.size() * layout.recordSize, 0xCC);
  std::memcpy(table.data(), &count, 4);
  for (size_t i = 0; i < names.size(); ++i) {
    uint8_t* name = table.data() + layout.firstRecord + i * layout.recordSize + layout.nameOffset;
    std::memset(name, 0, 256);
    std::memcpy(name, names[i].data(), std::min<size_t>(names[i].size(), 256));
  }
  if (size != 0) table.resize(size, 0);
  return table;
}

TEST(ParseDriverTable, Table) {
  const std::string full(256, 'n');  // fills the name field, no NUL
  const struct {
    const char* name;
    const DriverTableLayout& layout;
  } layouts[] = {{"32-bit records", kDriverTable32}, {"64-bit records", kDriverTable64}};
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.name);
    const DriverTableLayout& layout = l.layout;
    const size_t head = layout.firstRecord, record = layout.recordSize;
    const struct {
      const char* name;
      std::vector<uint8_t> table;
      std::vector<std::string> expected;
    } cases[] = {
        // Normal
        {"two records", ModuleTable(layout, 2, {"\\SystemRoot\\a.sys", "\\??\\C:\\b.sys"}),
         {"\\SystemRoot\\a.sys", "\\??\\C:\\b.sys"}},
        {"count below the records present", ModuleTable(layout, 1, {"a.sys", "b.sys"}), {"a.sys"}},
        {"a name filling its 256 bytes", ModuleTable(layout, 2, {full, "x.sys"}), {full, "x.sys"}},
        {"an empty name is left out", ModuleTable(layout, 3, {"a.sys", "", "c.sys"}), {"a.sys", "c.sys"}},
        // Empty
        {"count 0", ModuleTable(layout, 0, {"a.sys"}), {}},
        {"shorter than the count", std::vector<uint8_t>(3, 0xFF), {}},
        // Malformed: the count is believed only as far as whole records fit
        {"count past the buffer", ModuleTable(layout, 1000, {"a.sys", "b.sys"}, head + 2 * record + 100),
         {"a.sys", "b.sys"}},
        {"huge count", ModuleTable(layout, 0xFFFFFFFF, {"a.sys"}), {"a.sys"}},
        {"a record cut short", ModuleTable(layout, 2, {"a.sys", "b.sys"}, head + 2 * record - 1), {"a.sys"}},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.expected, ParseDriverTable(c.table.data(), c.table.size(), layout));
    }
  }
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

uint32_t DriverId(const CScanItems& items, const std::wstring& path) {
  const auto found = items.Drivers().find(path);
  return found == items.Drivers().end() ? UINT32_MAX : found->second;
}

TEST(RecordDrivers, NormalisedPathsWithTheirIdsAndZeros) {
  RunFixture fixture({L"*.sys"}, false);
  ASSERT_EQ(S_OK, RecordDrivers(fixture.run, fixture.items,
                                {"\\SystemRoot\\system32\\drivers\\x.sys", "\\??\\C:\\Drv\\Y.SYS",
                                 "\\SystemRoot\\system32\\ntoskrnl.exe", "\\??\\C:\\drv\\y.sys"}));
  const std::wstring x = WindowsFolder() + L"\\system32\\drivers\\x.sys";
  EXPECT_EQ(3u, fixture.items.Drivers().size());
  EXPECT_EQ(fixture.items.Modules().at(ModuleKey(x)).Id, DriverId(fixture.items, x));
  EXPECT_EQ(fixture.items.Modules().at(L"c:\\drv\\y.sys").Id, DriverId(fixture.items, L"c:\\drv\\y.sys"));
  // Turned away by the masks: still a driver, with Id 0.
  EXPECT_EQ(0u, DriverId(fixture.items, WindowsFolder() + L"\\system32\\ntoskrnl.exe"));
  EXPECT_EQ(2u, fixture.items.Modules().size());
}

TEST(RecordDrivers, StopEndsThePhaseBeforeTheFirstRecord) {
  RunFixture fixture({L"*.sys"}, false);
  fixture.config.StopRequested = 1;
  EXPECT_EQ(E_ABORT, RecordDrivers(fixture.run, fixture.items, {"\\??\\C:\\a.sys"}));
  EXPECT_TRUE(fixture.items.Drivers().empty());
  EXPECT_TRUE(fixture.items.Modules().empty());
}

TEST(CollectDrivers, WineModulesUnderTheWindowsFolder) {
  RunFixture fixture({L"*.exe", L"*.dll", L"*.sys"}, true);
  ASSERT_EQ(S_OK, CollectDrivers(fixture.run, fixture.items));
  EXPECT_EQ(kPhaseDrivers, fixture.state.Phase);
  const std::wstring windows = WindowsFolder();
  for (const wchar_t* file : {L"\\system32\\ntoskrnl.exe", L"\\system32\\hal.dll", L"\\system32\\drivers\\mountmgr.sys"}) {
    const std::wstring path = windows + file;
    SCOPED_TRACE(testing::Message() << "driver '" << path << "'");
    const uint32_t id = DriverId(fixture.items, path);
    ASSERT_NE(UINT32_MAX, id);
    // Every driver file is registered, also one that only the native system folder holds
    // (mountmgr.sys: the 32-bit view has no drivers folder).
    ASSERT_NE(0u, id);
    EXPECT_EQ(path, fixture.items.Modules().at(ModuleKey(path)).Path);
  }
}

TEST(CollectDrivers, StopEndsThePhase) {
  RunFixture fixture({L"*.sys"}, true);
  fixture.config.StopRequested = 1;
  EXPECT_EQ(E_ABORT, CollectDrivers(fixture.run, fixture.items));
  EXPECT_TRUE(fixture.items.Drivers().empty());
}

}  // namespace
}  // namespace kal
