// The stream writer against the MSXML document: for the same tables both write the same bytes,
// and a document that runs out of memory anywhere on its way still leaves that same report, now
// streamed, while other failures still end the report without one.
#include "report/report_stream.h"

#include <limits>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/log_event.h"
#include "report/report_writer.h"
#include "support/hresult.h"
#include "test_support/temp_dir.h"
#include "xml_reader.h"

namespace kal {
namespace {

using test::CTempDir;
using test::CXmlFile;
using test::FolderEntries;
using Names = std::vector<std::wstring>;

// Every code unit that the text filter removes, with the three controls it keeps among them.
std::wstring FilteredUnits() {
  std::wstring text;
  for (wchar_t c = 0; c < 0x20; ++c) text += std::wstring(1, c) + L"|";
  return text + L"\xD800|\xDBFF|\xDC00|\xDFFF|\xFFFE|\xFFFF|\xDC00\xD800|end";
}

struct Tables {
  RunConfig config;
  StateRecord state;
  CStateWriteClock clock{[] { return int64_t(1); }};
  CRunContext run{config, state, clock};
  CScanItems items{run};
  ComputerDescription computer;
  int gathered = 0;

  Tables() {
    computer.Name = L"HOST";
    computer.Sid = L"S-1-5-18";
  }

  ComputerSource Computer() {
    return [this](ComputerDescription* d) {
      ++gathered;
      *d = computer;
      return S_OK;
    };
  }

  ModuleItem& Module(uint32_t id, const std::wstring& path) {
    ModuleItem& item = items.Modules()[ModuleKey(path)];
    item.Id = id;
    item.Path = path;
    return item;
  }
};

void EveryValueForm(Tables& t) {
  t.config.SkipGac = true;
  ComputerDescription& c = t.computer;
  c.Name = L"";
  c.MajorVer = 0xFFFFFFFFu;
  c.BuildNumber = 7601;
  c.ServicePackMajor = 0xFFFF;
  c.SuiteMask = 0x0300;
  c.IsServerR2 = true;
  c.ProductType = -1;
  c.BitSystem = 64;
  c.Connections = {{L"lo", 24, L"127.0.0.1", L"::1"}, {L"", 0xFFFFFFFFu, L"", L""}};

  ModuleItem& full = t.Module(0x80000000u, L"C:\\full.exe");  // an Id beyond INT32_MAX is written signed
  full.Size = std::numeric_limits<uint64_t>::max();
  full.Attributes = 0xFFFFFFFFu;
  full.Created = 1456823107;
  full.Modified = -43200;
  full.Accessed = 253402300799ll;
  for (size_t i = 0; i < full.Sha1.size(); ++i) full.Sha1[i] = static_cast<uint8_t>(0x0F * i);
  full.Cloud = 2;
  full.CloudFls = 4;
  full.CloudSigner = 2;
  full.CloudLumen = -4;
  full.CloudDate = 90061;
  full.Signer = L"S";
  full.Description = L"D";
  full.Version = L"1.0";
  full.Copyright = L"C";
  full.Product = L"P";
  full.Clr = true;
  full.Gac = true;

  t.Module(1, L"C:\\bare.dll");  // as AddModule leaves a file: optional attributes absent
  ModuleItem& odd = t.Module(2, L"C:\\odd.dll");
  odd.Cloud = -1;
  odd.CloudFls = 9;
  odd.CloudSigner = 3;
  odd.CloudLumen = 8;                                    // no name: no attribute
  odd.CloudDate = 253402300800ll;                        // no four-digit year: no attribute
  odd.Created = std::numeric_limits<int64_t>::min();    // written as no time
  odd.Signer = L"\x0001";                                // empty once filtered, still written
  ModuleItem& skipped = t.Module(3, L"C:\\Windows\\assembly\\x.dll");
  skipped.Gac = true;
  t.items.Skip(3);

  ProcessItem busy;
  busy.Pid = 0xFFFFFFFFu;
  busy.ParentPid = 4;
  busy.ModuleRefId = 0x80000000u;
  busy.Modules = {1, 0, 3, 1};
  busy.CpuTime = 90061;
  busy.Created = 1456823107;
  busy.User = L"NT AUTHORITY\\SYSTEM";
  busy.Cmd = L"full.exe -x";
  busy.Elevated = true;
  busy.UacVirtualization = true;
  t.items.PutProcess(busy);
  ProcessItem idle;  // empty texts, empty module list, negative and zero times
  idle.Pid = 0;
  idle.CpuTime = -1;
  t.items.PutProcess(idle);
  ProcessItem hidden;
  hidden.Pid = 8;
  hidden.ModuleRefId = 3;
  t.items.PutProcess(hidden);

  t.items.PutDriver(L"c:\\a.sys", 1);
  t.items.PutDriver(L"c:\\b.sys", 0);
  t.items.PutDriver(L"c:\\c.sys", 3);
  for (uint32_t scope = 0; scope <= 17; ++scope)
    t.items.AppendAutorun({scope % 4, scope, scope % 2 ? L"HKLM\\Run\\v" : L""});
}

void FilteredText(Tables& t) {
  const std::wstring units = FilteredUnits();
  t.computer.Name = units;
  t.computer.Sid = units;
  t.computer.Connections = {{units, 6, units, units}};
  ModuleItem& m = t.Module(1, L"C:\\" + units);
  m.Signer = m.Description = m.Version = m.Copyright = m.Product = units;
  ProcessItem p;
  p.Pid = 1;
  p.User = p.Cmd = units;
  t.items.PutProcess(p);
  t.items.AppendAutorun({1, 0, units});
}

void EscapedCharacters(Tables& t) {
  const std::wstring text = L"& < > \" ' &amp; &#9; ]]> <!-- --> <?x?> \t\n\r \r\n = /";
  t.computer.Name = text;
  t.Module(1, L"C:\\a&b\\<c>.exe").Description = text;
  t.items.AppendAutorun({1, 3, text});
}

void NonAscii(Tables& t) {
  const std::wstring text =
      L"caf\x00E9 \x00A0 \x0085 \x007F \x2028 \x4E2D\x6587 \x05E9\x05DC\x05D5\x05DD \xFEFF \xFFFD \xD83D\xDE00 "
      L"\xDBFF\xDFFF \x0130\x0131";
  t.computer.Name = text;
  t.computer.Connections = {{L"\x0421\x0435\x0442\x044C", 71, L"", L"fe80::1%\x0663"}};
  ModuleItem& m = t.Module(1, L"C:\\\x00DCbung\\" + text + L".dll");
  m.Product = text;
  m.Signer = L"\x682A\x5F0F\x4F1A\x793E";
  ProcessItem p;
  p.Pid = 1;
  p.User = L"PC\\\x00C5sa";
  p.Cmd = text;
  t.items.PutProcess(p);
}

void LongPaths(Tables& t) {
  // Longer than the stream's buffer, with escapes and removed units on both sides of its edge.
  std::wstring path = L"\\\\?\\C:";
  while (path.size() < 32000) path += L"\\folder & <sub>";
  t.Module(1, path + L".exe");
  std::wstring huge;
  while (huge.size() < 300000) huge += L"a&\x0001\tb\"c";
  t.Module(2, L"C:\\x.dll").Description = huge;
  t.items.AppendAutorun({1, 5, path});
}

void ManyRecords(Tables& t) {
  for (uint32_t id = 1; id <= 3000; ++id) {
    ModuleItem& m = t.Module(id, L"C:\\Program Files\\V" + std::to_wstring(id % 7) + L"\\m" + std::to_wstring(id) + L".dll");
    m.Size = id * 1000003ull;
    m.Modified = 1456823107 + id;
    m.CloudLumen = static_cast<int32_t>(id % 14) - 5;
    m.Copyright = id % 3 ? L"(c) V" : L"";
    ProcessItem p;
    p.Pid = id * 4;
    p.ModuleRefId = id;
    p.Modules.push_back(id);
    p.Modules.push_back(id % 5);
    if (id % 10 == 0) t.items.PutProcess(p);
    if (id % 20 == 0) t.items.PutDriver(L"c:\\d" + std::to_wstring(id) + L".sys", id);
  }
}

// Empty when both files hold the same bytes; else where they part, as text from both.
std::wstring Difference(const std::string& document, const std::string& stream) {
  size_t at = 0;
  while (at < document.size() && at < stream.size() && document[at] == stream[at]) ++at;
  if (at == document.size() && at == stream.size()) return L"";
  const auto text = [at](const std::string& bytes) {
    std::wstring units;
    for (size_t i = at & ~size_t(1); i + 1 < bytes.size() && units.size() < 40; i += 2)
      units.push_back(static_cast<wchar_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return units;
  };
  return L"from byte " + std::to_wstring(at) + L" of " + std::to_wstring(document.size()) + L": document \"" +
         text(document) + L"\", stream \"" + text(stream) + L"\"";
}

class ReportStreamTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, com_.Initialize(COINIT_MULTITHREADED)); }

  // Each writer into its own folder, so that each sees exactly what it left behind.
  std::string WriteWith(bool stream, Tables& t, const std::wstring& folder) {
    t.config.OutputPath = folder + L"\\report.xml";
    t.state.StatePath = folder + L"\\state.txt";
    const HRESULT hr = stream ? WriteReportStream(t.run, t.items, t.Computer())
                              : WriteReport(t.run, t.items, t.Computer());
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ((Names{L"report.xml", L"state.txt"}), FolderEntries(folder));
    return CTempDir::ReadFile(t.config.OutputPath);
  }

  CComInit com_;
  CTempDir dir_;
};

TEST_F(ReportStreamTest, SameBytesAsTheDocument) {
  struct Case {
    const char* name;
    void (*fill)(Tables&);
  };
  const Case cases[] = {
      {"no records", [](Tables&) {}},
      {"every value form, present and absent", EveryValueForm},
      {"characters the text filter removes", FilteredText},
      {"characters XML escapes", EscapedCharacters},
      {"non-ASCII text", NonAscii},
      {"long paths and texts longer than the buffer", LongPaths},
      {"many records", ManyRecords},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring name = std::to_wstring(index++);
    Tables fromDocument, fromStream;
    c.fill(fromDocument);
    c.fill(fromStream);
    const std::string document = WriteWith(false, fromDocument, dir_.MakeFolder(name + L"-document"));
    const std::string streamed = WriteWith(true, fromStream, dir_.MakeFolder(name + L"-stream"));
    ASSERT_GE(document.size(), 2u);
    EXPECT_EQ(L"", Difference(document, streamed));
    EXPECT_EQ(kPhaseReport, fromStream.state.Phase);
    EXPECT_EQ(1, fromStream.gathered);
  }
}

// The MSXML document, made to fail at one chosen step as a document does that runs out of memory.
class CFailingDocument final : public IReportDocument {
 public:
  enum class Step { Begin, Setter, Save };
  CFailingDocument(std::unique_ptr<IReportDocument> inner, Step step, int at, HRESULT failure, bool throws)
      : inner_(std::move(inner)), step_(step), at_(at), failure_(failure), throws_(throws) {}

  HRESULT Begin(const wchar_t* name) override {
    if (step_ == Step::Begin && Due()) return failure_;
    return inner_->Begin(name);
  }
  HRESULT End() override { return inner_->End(); }
  void SetBool(const wchar_t* name, bool value) override {
    Setter();
    inner_->SetBool(name, value);
  }
  void SetString(const wchar_t* name, const std::wstring& text) override {
    Setter();
    inner_->SetString(name, text);
  }
  void SetInt32(const wchar_t* name, int32_t value) override {
    Setter();
    inner_->SetInt32(name, value);
  }
  void SetUInt32(const wchar_t* name, uint32_t value) override {
    Setter();
    inner_->SetUInt32(name, value);
  }
  void SetUInt64(const wchar_t* name, uint64_t value) override {
    Setter();
    inner_->SetUInt64(name, value);
  }
  void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) override {
    Setter();
    inner_->SetHex(name, bytes, count);
  }
  HRESULT Save(const std::wstring& path) override { return step_ == Step::Save ? failure_ : inner_->Save(path); }

 private:
  bool Due() { return ++calls_ == at_; }
  void Setter() {
    if (step_ != Step::Setter || !Due()) return;
    if (failure_ == E_OUTOFMEMORY && throws_) throw std::bad_alloc();
    ThrowHResult(failure_);
  }

  std::unique_ptr<IReportDocument> inner_;
  Step step_;
  int at_;
  HRESULT failure_;
  bool throws_;
  int calls_ = 0;
};

TEST_F(ReportStreamTest, DocumentOutOfMemoryFallsBackToTheStream) {
  using Step = CFailingDocument::Step;
  const HRESULT notEnough = HResultFromWin32(ERROR_NOT_ENOUGH_MEMORY);
  struct Case {
    const char* name;
    bool failsToCreate;
    Step step;
    int at;
    HRESULT failure;
    bool throws;  // std::bad_alloc rather than the string layer's error
    HRESULT expected;
  };
  const Case cases[] = {
      // Lack of memory anywhere: the report is streamed
      {"document can't be created", true, Step::Begin, 0, E_OUTOFMEMORY, false, S_OK},
      {"root element", false, Step::Begin, 1, E_OUTOFMEMORY, false, S_OK},
      {"first module element", false, Step::Begin, 8, notEnough, false, S_OK},
      {"a process's module list", false, Step::Begin, 13, STG_E_INSUFFICIENTMEMORY, false, S_OK},
      {"text of an attribute", false, Step::Setter, 30, E_OUTOFMEMORY, false, S_OK},
      {"allocation in the runtime", false, Step::Setter, 5, E_OUTOFMEMORY, true, S_OK},
      {"serialising the document", false, Step::Save, 0, E_OUTOFMEMORY, false, S_OK},
      // Any other failure ends the report as before, without one
      {"element refused", false, Step::Begin, 8, E_FAIL, false, E_FAIL},
      {"document class missing", true, Step::Begin, 0, REGDB_E_CLASSNOTREG, false, REGDB_E_CLASSNOTREG},
      {"saving denied", false, Step::Save, 0, E_ACCESSDENIED, false, E_ACCESSDENIED},
  };

  Tables normal;
  EveryValueForm(normal);
  const std::string expected = WriteWith(false, normal, dir_.MakeFolder(L"normal"));

  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring folder = dir_.MakeFolder(std::to_wstring(index++));
    Tables t;
    EveryValueForm(t);
    t.config.OutputPath = folder + L"\\report.xml";
    t.state.StatePath = folder + L"\\state.txt";
    int made = 0;
    const ReportDocumentSource source = [&](std::unique_ptr<IReportDocument>* document) -> HRESULT {
      ++made;
      if (c.failsToCreate) return c.failure;
      std::unique_ptr<IReportDocument> inner;
      RETURN_IF_FAILED(MakeMsXmlReportDocument(&inner));
      document->reset(new CFailingDocument(std::move(inner), c.step, c.at, c.failure, c.throws));
      return S_OK;
    };
    EXPECT_EQ(c.expected, WriteReport(t.run, t.items, t.Computer(), source));
    EXPECT_EQ(1, made);
    // Gathered once, by the document or else by the stream that follows it
    EXPECT_EQ(c.failsToCreate && FAILED(c.expected) ? 0 : 1, t.gathered);
    if (SUCCEEDED(c.expected)) {
      EXPECT_EQ((Names{L"report.xml", L"state.txt"}), FolderEntries(folder));
      EXPECT_EQ(L"", Difference(expected, CTempDir::ReadFile(t.config.OutputPath)));
      const CXmlFile file(t.config.OutputPath);
      ASSERT_TRUE(file.Parsed());
      EXPECT_EQ(2u, file.Count(L"/AptReport/Processes/Process"));
    } else {
      EXPECT_EQ((Names{L"state.txt"}), FolderEntries(folder));
    }
  }
}

TEST_F(ReportStreamTest, StreamFailuresLeaveNoReport) {
  const ComputerSource exhausted = [](ComputerDescription*) -> HRESULT { throw std::bad_alloc(); };
  struct Case {
    const char* name;
    bool stop, missingFolder, exhausted;
    HRESULT expected;
    bool logged;  // "Failed to save report", in a service run that records errors
  };
  const Case cases[] = {
      {"stop between two records", true, false, false, E_ABORT, false},
      {"out of memory while streaming", false, false, true, E_OUTOFMEMORY, true},
      {"folder that does not exist", false, true, false, HResultFromWin32(ERROR_PATH_NOT_FOUND), true},
  };
  std::vector<std::wstring> messages;
  SetLogEventObserver([&messages](const std::wstring& text) { messages.push_back(text); });
  SetLogEventRunAsService(true);  // no console lines from the test
  const std::wstring earlier = dir_.WriteFile(L"report.xml", "earlier report");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tables t;
    EveryValueForm(t);
    t.run.SetRunAsService(true);
    t.config.RecordErrors = true;
    t.config.StopRequested = c.stop ? 1 : 0;
    t.config.OutputPath = c.missingFolder ? dir_.Path() + L"\\missing\\report.xml" : earlier;
    t.state.StatePath = dir_.Path() + L"\\state.txt";
    const ComputerSource computer = c.exhausted ? exhausted : t.Computer();
    messages.clear();
    EXPECT_EQ(c.expected, WriteReportStream(t.run, t.items, computer));
    EXPECT_EQ(c.logged ? 1u : 0u, messages.size());
    // The document route ends the same way: its failure is not for lack of memory, or the
    // stream that follows it fails in turn
    EXPECT_EQ(c.expected, WriteReport(t.run, t.items, computer));
    EXPECT_EQ("earlier report", CTempDir::ReadFile(earlier));
    EXPECT_EQ((Names{L"report.xml", L"state.txt"}), FolderEntries(dir_.Path()));
  }
  SetLogEventObserver(nullptr);
  SetLogEventRunAsService(false);
}

}  // namespace
}  // namespace kal
