// Report writing time and peak memory, the MSXML document against the stream writer. Without
// arguments it starts itself once per writer and table size (100,000, 300,000 and 1,000,000
// modules, with processes, drivers and autoruns in proportion), so that each figure of peak memory
// belongs to one report; first it runs the DOM reference (10,000 hand-built elements: Save against
// the DOM handing over its whole text). "--keep <folder>" keeps the stream writer's
// million-module report there as million.xml, for the schema check that run_bench.sh does.
//
// The document is held to what a 32-bit program can address: a watchdog ends its process once
// the commit passes 4096 MB (the whole address space of a large-address-aware 32-bit program on
// 64-bit Windows) and prints how far it got. This x64 build's objects are larger than the 32-bit
// program's, so the document meets the limit here at a smaller table than it would there.
//
// One run: report_writer_bench document|stream|reference <modules> [<kept report path>]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

#include "bench_measure.h"
#include "report/msxml_document.h"
#include "report/report_writer.h"
#include "support/handles.h"
#include "support/hresult.h"

#include <psapi.h>

namespace {

using namespace kal;
using namespace kal::bench;

constexpr double kMegabyte = 1024.0 * 1024.0;
constexpr double kAddressSpace32Mb = 4096.0;

void Fill(CScanItems& items, uint32_t modules) {
  for (uint32_t id = 1; id <= modules; ++id) {
    const std::wstring path = L"C:\\Program Files\\Vendor " + std::to_wstring(id % 97) + L"\\Product\\module_" +
                              std::to_wstring(id) + L".dll";
    ModuleItem& m = items.Modules()[ModuleKey(path)];
    m.Id = id;
    m.Path = path;
    m.Size = 123456 + id;
    m.Attributes = 0x20;
    m.Created = 1456823107 + id;
    m.Modified = 1456823107 + 2 * id;
    m.Accessed = 1456823107 + 3 * id;
    for (size_t i = 0; i < m.Sha1.size(); ++i) m.Sha1[i] = static_cast<uint8_t>(id * 31 + i);
    m.Cloud = 1;
    m.CloudFls = 1;
    m.CloudLumen = 2;
    m.CloudDate = 1456823107;
    m.Signer = L"Vendor Corporation";
    m.Description = L"Product component library";
    m.Version = L"10.0.19041.1";
    m.Copyright = L"(c) Vendor Corporation. All rights reserved.";
    m.Product = L"Vendor Product";
  }
  const uint32_t processes = modules / 100 + 1;
  for (uint32_t pid = 1; pid <= processes; ++pid) {
    ProcessItem p;
    p.Pid = pid * 4;
    p.ModuleRefId = pid;
    for (uint32_t i = 0; i < 60; ++i) p.Modules.push_back((pid * 60 + i) % modules + 1);
    p.User = L"HOST\\user";
    p.Cmd = L"\"C:\\Program Files\\Vendor\\app.exe\" --option value";
    p.Created = 1456823107;
    p.CpuTime = pid;
    items.PutProcess(std::move(p));
  }
  for (uint32_t i = 0; i < modules / 50; ++i)
    items.PutDriver(L"c:\\windows\\system32\\drivers\\d" + std::to_wstring(i) + L".sys", i + 1);
  for (uint32_t i = 0; i < modules / 20; ++i)
    items.AppendAutorun({i + 1, i % 17, L"HKLM\\Software\\Vendor\\Product\\CurrentVersion\\Run\\value"});
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

// Module elements in the document so far, for the watchdog's line.
std::atomic<uint32_t> g_documentModules{0};

// The MSXML document, counting the module elements it has been given.
class CCountingDocument final : public IReportDocument {
 public:
  explicit CCountingDocument(std::unique_ptr<IReportDocument> inner) : inner_(std::move(inner)) {}
  HRESULT Begin(const wchar_t* name) override {
    if (++depth_ == 3 && std::wcscmp(name, L"Module") == 0) ++g_documentModules;  // AptReport/Modules/Module
    return inner_->Begin(name);
  }
  HRESULT End() override {
    --depth_;
    return inner_->End();
  }
  void SetBool(const wchar_t* name, bool value) override { inner_->SetBool(name, value); }
  void SetString(const wchar_t* name, const std::wstring& text) override { inner_->SetString(name, text); }
  void SetInt32(const wchar_t* name, int32_t value) override { inner_->SetInt32(name, value); }
  void SetUInt32(const wchar_t* name, uint32_t value) override { inner_->SetUInt32(name, value); }
  void SetUInt64(const wchar_t* name, uint64_t value) override { inner_->SetUInt64(name, value); }
  void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) override { inner_->SetHex(name, bytes, count); }
  HRESULT Save(const std::wstring& path) override { return inner_->Save(path); }

 private:
  std::unique_ptr<IReportDocument> inner_;
  int depth_ = 0;
};

HRESULT MakeCountingDocument(std::unique_ptr<IReportDocument>* document) {
  std::unique_ptr<IReportDocument> inner;
  RETURN_IF_FAILED(MakeMsXmlReportDocument(&inner));
  document->reset(new CCountingDocument(std::move(inner)));
  return S_OK;
}

// Ends the process, with a line saying so, once its commit passes the 32-bit address space.
void WatchAddressSpace(const char* writer, uint32_t modules, double start, double tablesMb) {
  std::thread([=] {
    for (;;) {
      ::Sleep(10);
      const double commit = Memory().PagefileUsage / kMegabyte;
      if (commit <= kAddressSpace32Mb) continue;
      std::printf("%-8s %8u modules: FAILED after %.1f s: commit %.0f MB (%.0f MB of it the item tables) passed "
                  "the %.0f MB a 32-bit program can address with %u module elements in the document\n",
                  writer, modules, Seconds() - start, commit, tablesMb, kAddressSpace32Mb, g_documentModules.load());
      std::fflush(stdout);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
  }).detach();
}

int RunWriter(bool stream, uint32_t modules, const wchar_t* keep) {
  const char* writer = stream ? "stream" : "document";
  RunConfig config;
  config.OutputPath = keep ? std::wstring(keep) : TempPath(L"report_writer_bench.xml");
  StateRecord state;
  state.StatePath = TempPath(L"report_writer_bench_state.txt");
  CStateWriteClock clock;
  CRunContext run(config, state, clock);
  CScanItems items(run);
  Fill(items, modules);
  const double tablesMb = Memory().PagefileUsage / kMegabyte;

  const ComputerSource computer = [](ComputerDescription* d) {
    d->Name = L"HOST";
    d->Sid = L"S-1-5-18";
    return S_OK;
  };
  const double start = Seconds();
  if (!stream) WatchAddressSpace(writer, modules, start, tablesMb);
  const HRESULT hr = stream ? WriteReportStream(run, items, computer)
                            : WriteReport(run, items, computer, ReportDocumentSource(MakeCountingDocument));
  const double total = Seconds() - start;
  if (FAILED(hr)) {
    std::printf("%-8s %8u modules: FAILED 0x%08x after %.1f s\n", writer, modules, static_cast<unsigned>(hr), total);
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(config.OutputPath.c_str(), GetFileExInfoStandard, &data);
  const double reportMb = (static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow) / kMegabyte;
  const PROCESS_MEMORY_COUNTERS memory = Memory();
  std::printf("%-8s %8u modules: %6.2f s, report %6.1f MB, peak commit %6.0f MB (+%5.0f over the %4.0f MB of "
              "tables), peak working set %6.0f MB\n",
              writer, modules, total, reportMb, memory.PeakPagefileUsage / kMegabyte,
              memory.PeakPagefileUsage / kMegabyte - tablesMb, tablesMb, memory.PeakWorkingSetSize / kMegabyte);
  if (!keep) ::DeleteFileW(config.OutputPath.c_str());
  ::DeleteFileW(state.StatePath.c_str());
  return 0;
}

// The DOM's own costs: building a plain document, saving it, and handing it over as one string.
int RunReference(uint32_t modules) {
  CMsXmlDocument document(true);
  document.Create(0, false);
  CMsXmlElement root, section;
  CMsXmlDocument::CreateChild(document, L"AptReport", &root);
  CMsXmlDocument::CreateChild(root, L"Modules", &section);
  const double buildStart = Seconds();
  for (uint32_t id = 1; id <= modules; ++id) {
    CMsXmlElement e;
    CMsXmlDocument::CreateChild(section, L"Module", &e);
    for (int a = 0; a < 20; ++a) e.SetString((L"A" + std::to_wstring(a)).c_str(), L"value " + std::to_wstring(id));
  }
  const double built = Seconds() - buildStart;
  const std::wstring path = TempPath(L"report_writer_bench.xml");
  const double saveStart = Seconds();
  document.Save(path);
  const double saved = Seconds() - saveStart;
  const double textStart = Seconds();
  std::wstring xml;
  document.GetXml(&xml);
  const double asText = Seconds() - textStart;
  std::printf("DOM reference, %u elements x 20 attributes: build %.2f s, Save %.2f s, whole text from the DOM "
              "%.2f s (%.1fx the Save)\n",
              modules, built, saved, asText, asText / saved);
  ::DeleteFileW(path.c_str());
  return 0;
}

int RunChild(const std::wstring& arguments) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 1;
  CKernelHandle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.Get(), &code);
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::wstring mode = argc >= 2 ? argv[1] : L"";
  if (mode == L"document" || mode == L"stream" || mode == L"reference") {
    if (argc < 3) return 2;
    CComInit com;
    com.Initialize(COINIT_MULTITHREADED);  // the scanning thread's apartment
    const uint32_t modules = static_cast<uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    if (mode == L"reference") return RunReference(modules);
    return RunWriter(mode == L"stream", modules, argc >= 4 ? argv[3] : nullptr);
  }
  std::wstring keep;
  if (mode == L"--keep" && argc >= 3) {
    keep = std::wstring(argv[2]) + L"\\million.xml";
  } else if (!mode.empty()) {
    std::fwprintf(stderr, L"usage: report_writer_bench [--keep <folder>]\n");
    return 2;
  }

  RunChild(L"reference 10000");
  const uint32_t sizes[] = {100000, 300000, 1000000};
  int streamFailures = 0;
  for (uint32_t modules : sizes) {
    // The document may fail at the 32-bit limit: that is a figure, not a failure of the benchmark.
    RunChild(L"document " + std::to_wstring(modules));
    std::wstring arguments = L"stream " + std::to_wstring(modules);
    if (modules == 1000000 && !keep.empty()) arguments += L" \"" + keep + L"\"";
    streamFailures += RunChild(arguments) == 0 ? 0 : 1;
  }
  if (!keep.empty()) std::wprintf(L"million-module report of the stream writer kept at %ls\n", keep.c_str());
  return streamFailures == 0 ? 0 : 1;
}
