// Report writing time and peak memory. Without arguments it starts itself once per table size, so
// that each figure of peak memory belongs to one report; with "<modules> [text]" it writes one
// report of that many modules (plus processes, drivers and autoruns in proportion) and prints the
// time to build the document, the time to save it, and, with "text", the time the DOM takes to
// hand the same document over as one string (the route Save avoids), as a ratio to the save.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report/msxml_document.h"
#include "report/report_writer.h"
#include "support/handles.h"

#include <psapi.h>

namespace {

using namespace kal;

double Seconds() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double PeakMegabytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return static_cast<double>(counters.PeakPagefileUsage) / (1024.0 * 1024.0);
}

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

int RunOne(uint32_t modules, bool text) {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  RunConfig config;
  config.OutputPath = std::wstring(folder) + L"report_writer_bench.xml";
  StateRecord state;
  state.StatePath = std::wstring(folder) + L"report_writer_bench_state.txt";
  CStateWriteClock clock;
  CRunContext run(config, state, clock);
  CScanItems items(run);
  Fill(items, modules);
  const double filledPeak = PeakMegabytes();

  const ComputerSource computer = [](ComputerDescription* d) {
    d->Name = L"HOST";
    d->Sid = L"S-1-5-18";
    return S_OK;
  };
  const double start = Seconds();
  const HRESULT hr = WriteReport(run, items, computer);
  const double total = Seconds() - start;
  if (FAILED(hr)) {
    std::printf("WriteReport failed 0x%08x\n", static_cast<unsigned>(hr));
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(config.OutputPath.c_str(), GetFileExInfoStandard, &data);
  std::printf("%u modules: WriteReport %.2f s, report %.1f MB, peak memory %.0f MB (%.0f MB of it the item tables)\n",
              modules, total, data.nFileSizeLow / (1024.0 * 1024.0), PeakMegabytes(), filledPeak);

  // The same kind of document built by hand, to part the building from the saving.
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
  const double saveStart = Seconds();
  document.Save(config.OutputPath);
  const double saved = Seconds() - saveStart;
  std::printf("  %u elements x 20 attributes: build %.2f s, Save %.2f s", modules, built, saved);
  if (text) {
    const double textStart = Seconds();
    std::wstring xml;
    document.GetXml(&xml);
    const double asText = Seconds() - textStart;
    std::printf(", whole text from the DOM %.2f s (%.1fx the Save)", asText, asText / saved);
  }
  std::printf("\n");
  ::DeleteFileW(config.OutputPath.c_str());
  ::DeleteFileW(state.StatePath.c_str());
  return 0;
}

int RunChild(const wchar_t* arguments) {
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
  if (argc >= 2) {
    CComInit com;
    com.Initialize(COINIT_MULTITHREADED);
    const bool text = argc >= 3 && std::wstring(argv[2]) == L"text";
    return RunOne(static_cast<uint32_t>(std::wcstoul(argv[1], nullptr, 10)), text);
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  int failures = RunChild(L"10000 text");
  failures += RunChild(L"100000");
  return failures == 0 ? 0 : 1;
}
