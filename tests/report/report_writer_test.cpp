// The report writer over hand-built item tables: the element tree and attribute order, value
// formats as written, the skip set, which sections appear, and the failures that leave no report
// (a stop, a computer description that can't be gathered, a save that fails).
#include "report/report_writer.h"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/log_event.h"
#include "support/hresult.h"
#include "test_support/temp_dir.h"
#include "xml_reader.h"

namespace kal {
namespace {

using test::CTempDir;
using test::CXmlFile;
using test::FolderEntries;
using test::ReadUtf16File;
using Names = std::vector<std::wstring>;

struct AttributeCase {
  const wchar_t* xpath;
  std::wstring text;  // "<absent>" for an attribute that must not be written
};

class ReportWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, com_.Initialize(COINIT_MULTITHREADED));
    config_.OutputPath = dir_.Path() + L"\\report.xml";
    config_.ScanPeOnly = false;  // AddModule accepts any file
    state_.StatePath = dir_.Path() + L"\\state.txt";

    computer_.Name = L"HOST1";
    computer_.Sid = L"S-1-5-18";
    computer_.MajorVer = 6;
    computer_.MinorVer = 1;
    computer_.BuildNumber = 7601;
    computer_.ServicePackMajor = 1;
    computer_.ServicePackMinor = 0;
    computer_.SuiteMask = 0x0300;
    computer_.ProductType = 1;
    computer_.BitSystem = 64;
    computer_.IsServerR2 = false;
    computer_.Connections = {{L"Loopback", 24, L"127.0.0.1", L"::1"}, {L"eth0", 6, L"10.0.0.5", L""}};
  }

  HRESULT Write() {
    return WriteReport(context_, items_, [this](ComputerDescription* description) {
      ++gathered_;
      *description = computer_;
      return S_OK;
    });
  }

  // Writes the report and parses it back.
  CXmlFile WriteAndRead() {
    EXPECT_EQ(S_OK, Write());
    return CXmlFile(config_.OutputPath);
  }

  ModuleItem& PutModule(uint32_t id, const std::wstring& path) {
    ModuleItem& item = items_.Modules()[ModuleKey(path)];
    item.Id = id;
    item.Path = path;
    return item;
  }

  ProcessItem& PutProcess(uint32_t pid, uint32_t image, std::vector<uint32_t> modules) {
    ProcessItem item;
    item.Pid = pid;
    item.ModuleRefId = image;
    item.Modules = std::move(modules);
    items_.PutProcess(std::move(item));
    return const_cast<ProcessItem&>(items_.Processes().at(pid));
  }

  static void ExpectAttributes(const CXmlFile& file, const std::vector<AttributeCase>& cases) {
    for (const AttributeCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.xpath);
      EXPECT_EQ(c.text, file.Text(c.xpath));
    }
  }

  CComInit com_;
  CTempDir dir_;
  RunConfig config_;
  StateRecord state_;
  CStateWriteClock clock_{[] { return int64_t(1); }};
  CRunContext context_{config_, state_, clock_};
  CScanItems items_{context_};
  ComputerDescription computer_;
  int gathered_ = 0;
};

TEST_F(ReportWriterTest, ModuleWithEveryField) {
  ModuleItem& m = PutModule(7, L"C:\\Program Files\\App\\app.exe");
  m.Size = std::numeric_limits<uint64_t>::max();
  m.Attributes = 0x20;
  m.Created = 1456823107;
  m.Modified = 0;
  m.Accessed = -1;
  for (size_t i = 0; i < m.Sha1.size(); ++i) m.Sha1[i] = static_cast<uint8_t>(0xF0 + i);
  m.Cloud = 2;
  m.CloudFls = 1;
  m.CloudSigner = 2;
  m.CloudLumen = -4;
  m.CloudDate = 90061;
  m.Signer = L"Signer Ltd";
  m.Description = L"App & <tools>";
  m.Version = L"1.2.3.4";
  m.Copyright = L"(c) \"Someone\"";
  m.Product = L"App";
  m.Clr = true;
  m.Gac = false;

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ((Names{L"Id", L"Path", L"Size", L"Attributes", L"Created", L"Modified", L"Accessed", L"Sha1", L"Cloud",
                   L"CloudFls", L"CloudSigner", L"CloudLumen", L"CloudDate", L"Signer", L"Description", L"Version",
                   L"Copyright", L"Product", L"Clr", L"Gac"}),
            file.AttributeNames(L"/AptReport/Modules/Module"));
  ExpectAttributes(file, {
      {L"/AptReport/Modules/Module/@Id", L"7"},
      {L"/AptReport/Modules/Module/@Path", L"C:\\Program Files\\App\\app.exe"},
      {L"/AptReport/Modules/Module/@Size", L"18446744073709551615"},
      {L"/AptReport/Modules/Module/@Attributes", L"32"},
      {L"/AptReport/Modules/Module/@Created", L"2016-03-01T09:05:07Z"},
      {L"/AptReport/Modules/Module/@Modified", L"1970-01-01T00:00:00Z"},
      {L"/AptReport/Modules/Module/@Accessed", L"1969-12-31T23:59:59Z"},
      {L"/AptReport/Modules/Module/@Sha1", L"F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF00010203"},
      {L"/AptReport/Modules/Module/@Cloud", L"malware"},
      {L"/AptReport/Modules/Module/@CloudFls", L"safe"},
      {L"/AptReport/Modules/Module/@CloudSigner", L"deleted"},
      {L"/AptReport/Modules/Module/@CloudLumen", L"SkippedDetected"},
      {L"/AptReport/Modules/Module/@CloudDate", L"1970-01-02T01:01:01Z"},
      {L"/AptReport/Modules/Module/@Signer", L"Signer Ltd"},
      {L"/AptReport/Modules/Module/@Description", L"App & <tools>"},
      {L"/AptReport/Modules/Module/@Version", L"1.2.3.4"},
      {L"/AptReport/Modules/Module/@Copyright", L"(c) \"Someone\""},
      {L"/AptReport/Modules/Module/@Product", L"App"},
      {L"/AptReport/Modules/Module/@Clr", L"true"},
      {L"/AptReport/Modules/Module/@Gac", L"false"},
  });
}

TEST_F(ReportWriterTest, ModuleOptionalAttributesOnlyWhenTheyHaveAValue) {
  // A module as AddModule leaves it: never hashed, never looked up, no version strings
  PutModule(1, L"C:\\a.dll");
  // Codes without names, and times no four-digit year can show
  ModuleItem& odd = PutModule(2, L"C:\\b.dll");
  odd.CloudFls = 9;
  odd.Cloud = -1;
  odd.CloudSigner = 3;
  odd.CloudLumen = 9;
  odd.CloudDate = 253402300800ll;  // year 10000
  odd.Created = std::numeric_limits<int64_t>::min();
  odd.Gac = true;

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ((Names{L"Id", L"Path", L"Size", L"Attributes", L"Created", L"Modified", L"Accessed", L"Sha1", L"Cloud",
                   L"CloudFls", L"CloudSigner", L"CloudLumen", L"Clr", L"Gac"}),
            file.AttributeNames(L"/AptReport/Modules/Module[@Id='1']"));
  EXPECT_EQ((Names{L"Id", L"Path", L"Size", L"Attributes", L"Created", L"Modified", L"Accessed", L"Sha1", L"Cloud",
                   L"CloudFls", L"CloudSigner", L"Clr", L"Gac"}),
            file.AttributeNames(L"/AptReport/Modules/Module[@Id='2']"));
  ExpectAttributes(file, {
      {L"/AptReport/Modules/Module[@Id='1']/@Sha1", std::wstring(40, L'0')},
      {L"/AptReport/Modules/Module[@Id='1']/@Cloud", L"doesntexist"},
      {L"/AptReport/Modules/Module[@Id='1']/@CloudFls", L"unknown"},
      {L"/AptReport/Modules/Module[@Id='1']/@CloudSigner", L"doesntexist"},
      {L"/AptReport/Modules/Module[@Id='1']/@CloudLumen", L"Undefined"},
      {L"/AptReport/Modules/Module[@Id='1']/@Created", L"1970-01-01T00:00:00Z"},
      {L"/AptReport/Modules/Module[@Id='1']/@Clr", L"false"},
      {L"/AptReport/Modules/Module[@Id='2']/@Cloud", L"error"},
      {L"/AptReport/Modules/Module[@Id='2']/@CloudFls", L"error"},
      {L"/AptReport/Modules/Module[@Id='2']/@CloudSigner", L"error"},
      {L"/AptReport/Modules/Module[@Id='2']/@Created", L"1970-01-01T00:00:00Z"},
      {L"/AptReport/Modules/Module[@Id='2']/@Gac", L"true"},
  });
}

TEST_F(ReportWriterTest, TextThatXmlCannotCarryIsFilteredSoTheReportParses) {
  PutModule(1, std::wstring(L"C:\\a\x0001" L"b\tc.exe"));
  ModuleItem& m = PutModule(2, L"C:\\d.exe");
  m.Description = L"x\xD800y\xFFFFz";
  m.Signer = L"\x001f";  // not empty as a field, empty once filtered
  ProcessItem& p = PutProcess(100, 2, {2});
  p.Cmd = std::wstring(L"d.exe\x0001 \xDC00" L"arg\r\n");
  p.User = L"VM\\root\xFFFE";
  AutorunItem autorun;
  autorun.ModuleRefId = 2;
  autorun.Where = L"HKLM\\Run\\\x0007v";
  items_.AppendAutorun(autorun);
  computer_.Name = L"HO\x0002ST";
  computer_.Connections[0].Name = L"Loop\xDBFF";

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  ExpectAttributes(file, {
      {L"/AptReport/Modules/Module[@Id='1']/@Path", L"C:\\ab\tc.exe"},
      {L"/AptReport/Modules/Module[@Id='2']/@Description", L"xyz"},
      {L"/AptReport/Modules/Module[@Id='2']/@Signer", L""},
      {L"/AptReport/Processes/Process/@Cmd", L"d.exe arg\r\n"},
      {L"/AptReport/Processes/Process/@User", L"VM\\root"},
      {L"/AptReport/Autoruns/Autorun/@Where", L"HKLM\\Run\\v"},
      {L"/AptReport/Computer/@Name", L"HOST"},
      {L"/AptReport/Computer/Connections/Connection[1]/@Name", L"Loop"},
  });
}

TEST_F(ReportWriterTest, ComputerElement) {
  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(1, gathered_);
  EXPECT_EQ((Names{L"skipGac"}), file.AttributeNames(L"/AptReport"));
  EXPECT_EQ((Names{L"Name", L"SID"}), file.AttributeNames(L"/AptReport/Computer"));
  EXPECT_EQ((Names{L"OperatingSystem", L"Connections"}), file.ChildNames(L"/AptReport/Computer"));
  EXPECT_EQ((Names{L"MajorVer", L"MinorVer", L"BuildNumber", L"ServicePackMajor", L"ServicePackMinor", L"SuiteMask",
                   L"IsServerR2", L"ProductType", L"BitSystem"}),
            file.AttributeNames(L"/AptReport/Computer/OperatingSystem"));
  EXPECT_EQ((Names{L"Name", L"Type", L"IPv4", L"IPv6"}),
            file.AttributeNames(L"/AptReport/Computer/Connections/Connection[1]"));
  ExpectAttributes(file, {
      {L"/AptReport/@skipGac", L"false"},
      {L"/AptReport/Computer/@Name", L"HOST1"},
      {L"/AptReport/Computer/@SID", L"S-1-5-18"},
      {L"/AptReport/Computer/OperatingSystem/@MajorVer", L"6"},
      {L"/AptReport/Computer/OperatingSystem/@MinorVer", L"1"},
      {L"/AptReport/Computer/OperatingSystem/@BuildNumber", L"7601"},
      {L"/AptReport/Computer/OperatingSystem/@ServicePackMajor", L"1"},
      {L"/AptReport/Computer/OperatingSystem/@ServicePackMinor", L"0"},
      {L"/AptReport/Computer/OperatingSystem/@SuiteMask", L"768"},
      {L"/AptReport/Computer/OperatingSystem/@IsServerR2", L"false"},
      {L"/AptReport/Computer/OperatingSystem/@ProductType", L"1"},
      {L"/AptReport/Computer/OperatingSystem/@BitSystem", L"64"},
      // Adapters in the description's order; an empty address is still written
      {L"/AptReport/Computer/Connections/Connection[1]/@Name", L"Loopback"},
      {L"/AptReport/Computer/Connections/Connection[1]/@Type", L"24"},
      {L"/AptReport/Computer/Connections/Connection[1]/@IPv4", L"127.0.0.1"},
      {L"/AptReport/Computer/Connections/Connection[1]/@IPv6", L"::1"},
      {L"/AptReport/Computer/Connections/Connection[2]/@Name", L"eth0"},
      {L"/AptReport/Computer/Connections/Connection[2]/@IPv6", L""},
  });
}

TEST_F(ReportWriterTest, ComputerWithoutAdaptersStillHasConnections) {
  computer_.Connections.clear();
  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(1u, file.Count(L"/AptReport/Computer/Connections"));
  EXPECT_EQ(Names{}, file.ChildNames(L"/AptReport/Computer/Connections"));
}

TEST_F(ReportWriterTest, ProcessesWithTheirOwnModuleLists) {
  PutModule(3, L"C:\\p.exe");
  PutModule(5, L"C:\\q.dll");
  ProcessItem& idle = PutProcess(4, 3, {3, 0, 3, 5});  // duplicates and zeros stay, in list order
  idle.ParentPid = 0;
  idle.CpuTime = 0;
  idle.Created = 1456823107;
  idle.User = L"NT AUTHORITY\\SYSTEM";
  idle.Cmd = L"p.exe -x \"a b\"";
  idle.Elevated = true;
  ProcessItem& busy = PutProcess(4000000000u, 0, {});
  busy.ParentPid = 4;
  busy.CpuTime = 90061;

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ((Names{L"Pid", L"ParentPid", L"ModuleRefId", L"User", L"Cmd", L"Created", L"CpuTime", L"Elevated",
                   L"UacVirtualization"}),
            file.AttributeNames(L"/AptReport/Processes/Process[@Pid='4']"));
  ExpectAttributes(file, {
      {L"/AptReport/Processes/Process[@Pid='4']/@ParentPid", L"0"},
      {L"/AptReport/Processes/Process[@Pid='4']/@ModuleRefId", L"3"},
      {L"/AptReport/Processes/Process[@Pid='4']/@User", L"NT AUTHORITY\\SYSTEM"},
      {L"/AptReport/Processes/Process[@Pid='4']/@Cmd", L"p.exe -x \"a b\""},
      {L"/AptReport/Processes/Process[@Pid='4']/@Created", L"2016-03-01T09:05:07Z"},
      {L"/AptReport/Processes/Process[@Pid='4']/@CpuTime", L"0T00:00:00"},
      {L"/AptReport/Processes/Process[@Pid='4']/@Elevated", L"true"},
      {L"/AptReport/Processes/Process[@Pid='4']/@UacVirtualization", L"false"},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@ParentPid", L"4"},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@ModuleRefId", L"0"},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@User", L""},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@Cmd", L""},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@Created", L"1970-01-01T00:00:00Z"},
      {L"/AptReport/Processes/Process[@Pid='4000000000']/@CpuTime", L"1T01:01:01"},
  });
  std::wstring list;
  for (int i = 1; i <= 4; ++i)
    list += file.Text(L"/AptReport/Processes/Process[@Pid='4']/Modules/Module[" + std::to_wstring(i) + L"]/@ModuleRefId") + L" ";
  EXPECT_EQ(L"3 0 3 5 ", list);
  EXPECT_EQ(4u, file.Count(L"/AptReport/Processes/Process[@Pid='4']/Modules/Module"));
  // An empty list is still one Modules element
  EXPECT_EQ(1u, file.Count(L"/AptReport/Processes/Process[@Pid='4000000000']/Modules"));
  EXPECT_EQ(0u, file.Count(L"/AptReport/Processes/Process[@Pid='4000000000']/Modules/Module"));
}

TEST_F(ReportWriterTest, SkipSetLeavesOutRecordsButNotAProcessOwnList) {
  config_.SkipGac = true;
  PutModule(1, L"C:\\Windows\\assembly\\GAC_MSIL\\x\\x.dll").Gac = true;  // skipped
  PutModule(2, L"C:\\app.exe");
  items_.Skip(1);
  PutProcess(10, 2, {2, 1});  // loads the skipped DLL
  PutProcess(11, 1, {1});     // its main image is the skipped file
  PutProcess(12, 0, {0});     // main image turned away by the filters
  items_.PutDriver(L"c:\\windows\\x.sys", 1);
  items_.PutDriver(L"c:\\windows\\y.sys", 2);
  items_.PutDriver(L"c:\\windows\\z.sys", 0);
  items_.AppendAutorun({1, 4, L"skipped"});
  items_.AppendAutorun({0, 0, L"turned away"});
  items_.AppendAutorun({2, 16, L""});

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(L"true", file.Text(L"/AptReport/@skipGac"));
  EXPECT_EQ(1u, file.Count(L"/AptReport/Modules/Module"));
  EXPECT_EQ(L"2", file.Text(L"/AptReport/Modules/Module/@Id"));

  EXPECT_EQ(2u, file.Count(L"/AptReport/Processes/Process"));
  EXPECT_EQ(0u, file.Count(L"/AptReport/Processes/Process[@Pid='11']"));
  EXPECT_EQ(L"1", file.Text(L"/AptReport/Processes/Process[@Pid='10']/Modules/Module[2]/@ModuleRefId"));
  EXPECT_EQ(L"0", file.Text(L"/AptReport/Processes/Process[@Pid='12']/@ModuleRefId"));

  EXPECT_EQ(2u, file.Count(L"/AptReport/Drivers/Driver"));
  EXPECT_EQ(1u, file.Count(L"/AptReport/Drivers/Driver[@ModuleRefId='2']"));
  EXPECT_EQ(1u, file.Count(L"/AptReport/Drivers/Driver[@ModuleRefId='0']"));

  EXPECT_EQ(2u, file.Count(L"/AptReport/Autoruns/Autorun"));
  EXPECT_EQ((Names{L"ModuleRefId", L"Scope", L"Where"}), file.AttributeNames(L"/AptReport/Autoruns/Autorun[1]"));
  ExpectAttributes(file, {
      {L"/AptReport/Autoruns/Autorun[1]/@ModuleRefId", L"0"},
      {L"/AptReport/Autoruns/Autorun[1]/@Scope", L"Logon"},
      {L"/AptReport/Autoruns/Autorun[1]/@Where", L"turned away"},
      {L"/AptReport/Autoruns/Autorun[2]/@ModuleRefId", L"2"},
      {L"/AptReport/Autoruns/Autorun[2]/@Scope", L"Sidebar"},
      {L"/AptReport/Autoruns/Autorun[2]/@Where", L"<absent>"},
  });
}

TEST_F(ReportWriterTest, AutorunsInListOrderWithCategoryNames) {
  const uint32_t scopes[] = {16, 0, 8, 17, 4};
  for (uint32_t scope : scopes) items_.AppendAutorun({0, scope, L"w" + std::to_wstring(scope)});
  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  const wchar_t* const names[] = {L"Sidebar", L"Logon", L"Imagehijacks", L"", L"Services"};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::wstring at = L"/AptReport/Autoruns/Autorun[" + std::to_wstring(i + 1) + L"]";
    EXPECT_EQ(names[i], file.Text(at + L"/@Scope"));  // a code without a name gives an empty Scope
    EXPECT_EQ(L"w" + std::to_wstring(scopes[i]), file.Text(at + L"/@Where"));
  }
}

TEST_F(ReportWriterTest, SectionsOnlyForTablesThatAreNotEmpty) {
  struct Case {
    const char* name;
    bool module, process, driver, autorun, skipAll;
    Names sections;
  };
  const Case cases[] = {
      {"nothing", false, false, false, false, false, {L"Computer"}},
      {"processes only", false, true, false, false, false, {L"Computer", L"Processes"}},
      {"drivers only", false, false, true, false, false, {L"Computer", L"Drivers"}},
      {"autoruns only", false, false, false, true, false, {L"Computer", L"Autoruns"}},
      {"everything", true, true, true, true, false, {L"Computer", L"Modules", L"Processes", L"Drivers", L"Autoruns"}},
      // Every module skipped: the table is not empty, so its section is there, without children
      {"all modules skipped", true, false, false, false, true, {L"Computer", L"Modules"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScanItems items(context_);
    if (c.module) items.Modules()[L"c:\\m.exe"].Id = 1;
    if (c.skipAll) items.Skip(1);
    if (c.process) {
      ProcessItem process;
      process.Pid = 8;
      process.Modules = {0};
      items.PutProcess(process);
    }
    if (c.driver) items.PutDriver(L"c:\\d.sys", 0);
    if (c.autorun) items.AppendAutorun({0, 1, L"k"});
    ASSERT_EQ(S_OK, WriteReport(context_, items, [this](ComputerDescription* d) {
                *d = computer_;
                return S_OK;
              }));
    const CXmlFile file(config_.OutputPath);
    ASSERT_TRUE(file.Parsed());
    EXPECT_EQ(c.sections, file.ChildNames(L"/AptReport"));
    if (c.skipAll) {
      EXPECT_EQ(Names{}, file.ChildNames(L"/AptReport/Modules"));
    }
  }
}

TEST_F(ReportWriterTest, ModulesAddedFromRealFiles) {
  const std::wstring small = dir_.WriteFile(L"small.bin", "abc");
  const std::wstring empty = dir_.WriteFile(L"empty.txt", "");
  uint32_t first = 0, second = 0;
  ASSERT_EQ(S_OK, items_.AddModule(small, &first));
  ASSERT_EQ(S_OK, items_.AddModule(empty, &second));

  const CXmlFile file = WriteAndRead();
  ASSERT_TRUE(file.Parsed());
  const std::wstring at = L"/AptReport/Modules/Module[@Id='" + std::to_wstring(first) + L"']";
  EXPECT_EQ(small, file.Text(at + L"/@Path"));
  EXPECT_EQ(L"3", file.Text(at + L"/@Size"));
  // A file made just now: a time of this century in the report's format
  const std::wstring modified = file.Text(at + L"/@Modified");
  EXPECT_EQ(20u, modified.size()) << modified;
  EXPECT_EQ(L"20", modified.substr(0, 2)) << modified;
  EXPECT_EQ(L"0", file.Text(L"/AptReport/Modules/Module[@Id='" + std::to_wstring(second) + L"']/@Size"));
}

TEST_F(ReportWriterTest, WritesPhaseSixBeforeTheReport) {
  PutModule(1, L"C:\\a.exe");
  ASSERT_EQ(S_OK, Write());
  EXPECT_EQ(kPhaseReport, state_.Phase);
  bool bom = true;
  EXPECT_EQ(0u, ReadUtf16File(state_.StatePath, &bom).find(L"6;"));
  ReadUtf16File(config_.OutputPath, &bom);
  EXPECT_TRUE(bom);
}

TEST_F(ReportWriterTest, StopWritesNothing) {
  struct Case {
    const char* name;
    bool stopBefore;  // else the stop arrives while the computer is gathered
  };
  const Case cases[] = {{"stop before the report", true}, {"stop between two records", false}};
  PutModule(1, L"C:\\a.exe");
  PutModule(2, L"C:\\b.exe");
  PutProcess(5, 1, {1, 2});
  const std::wstring earlier = dir_.WriteFile(L"report.xml", "earlier report");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    config_.StopRequested = c.stopBefore ? 1 : 0;
    int gathered = 0;
    const HRESULT hr = WriteReport(context_, items_, [&](ComputerDescription* d) {
      ++gathered;
      *d = computer_;
      config_.StopRequested = 1;
      return S_OK;
    });
    EXPECT_EQ(E_ABORT, hr);
    EXPECT_EQ(c.stopBefore ? 0 : 1, gathered);
    EXPECT_EQ("earlier report", CTempDir::ReadFile(earlier));
    EXPECT_EQ((Names{L"report.xml", L"state.txt"}), FolderEntries(dir_.Path()));
  }
}

TEST_F(ReportWriterTest, ComputerThatCannotBeGatheredEndsTheReport) {
  PutModule(1, L"C:\\a.exe");
  const HRESULT denied = HResultFromWin32(ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied, WriteReport(context_, items_, [denied](ComputerDescription*) { return denied; }));
  EXPECT_EQ((Names{L"state.txt"}), FolderEntries(dir_.Path()));
}

TEST_F(ReportWriterTest, SaveFailureIsReturnedAndLoggedOnlyWhenTheRunRecordsErrors) {
  config_.OutputPath = dir_.Path() + L"\\missing\\report.xml";
  std::vector<std::wstring> messages;
  SetLogEventObserver([&messages](const std::wstring& text) { messages.push_back(text); });
  SetLogEventRunAsService(true);  // no console lines from the test

  struct Case {
    bool service, recordErrors, logged;
  };
  const Case cases[] = {{false, false, false}, {true, false, false}, {false, true, false}, {true, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "service " << c.service << " errors " << c.recordErrors);
    messages.clear();
    context_.SetRunAsService(c.service);
    config_.RecordErrors = c.recordErrors;
    EXPECT_EQ(HResultFromWin32(ERROR_PATH_NOT_FOUND), Write());
    if (c.logged) {
      EXPECT_EQ(std::vector<std::wstring>{L"Failed to save report " + config_.OutputPath + L" 0x80070003"}, messages);
    } else {
      EXPECT_TRUE(messages.empty());
    }
  }
  SetLogEventObserver(nullptr);
  SetLogEventRunAsService(false);
  EXPECT_EQ((Names{L"state.txt"}), FolderEntries(dir_.Path()));
}

TEST_F(ReportWriterTest, DefaultEntryGathersTheComputer) {
  ASSERT_EQ(S_OK, WriteReport(context_, items_));
  const CXmlFile file(config_.OutputPath);
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(L"S-1-", file.Text(L"/AptReport/Computer/@SID").substr(0, 4));
  EXPECT_EQ(1u, file.Count(L"/AptReport/Computer/OperatingSystem"));
}

}  // namespace
}  // namespace kal
