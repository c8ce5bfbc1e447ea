// The autorun catalogue's cost on a machine-sized registry: a synthetic hive under
// HKCU\Software\vantorag_bench with thousands of services (half of them drivers), browser helper
// objects whose class ids resolve to in-process servers, and Run values, all naming files that do
// not exist (so every entry pays the full file search). Prints the time of the seventeen
// categories, the registry keys opened, and per entry the time, the keys and the heap that the
// findings and their autorun items add.
// Usage: autoruns_bench [--services=<n>] [--clsids=<n>] [--run=<n>]
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "collect/autorun_frame.h"
#include "support/handles.h"

namespace {

using namespace kal;
using namespace kal::bench;

const wchar_t kRoot[] = L"Software\\vantorag_bench";

void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  CRegKey k;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr);
  ::RegSetValueExW(k.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetDword(const std::wstring& key, const wchar_t* name, DWORD value) {
  CRegKey k;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr);
  ::RegSetValueExW(k.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

std::wstring Clsid(int i) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08X-0000-4000-8000-000000000000}", static_cast<unsigned>(i));
  return text;
}

void Plant(int services, int clsids, int runValues) {
  const std::wstring root = kRoot;
  SetDword(root + L"\\System\\Select", L"Current", 1);
  for (int i = 0; i < services; ++i) {
    const std::wstring key = root + L"\\System\\ControlSet001\\Services\\svc" + std::to_wstring(i);
    SetDword(key, L"Start", 3);
    SetText(key, L"ImagePath", i % 2 ? L"\\SystemRoot\\system32\\drivers\\d" + std::to_wstring(i) + L".sys"
                                     : L"C:\\Program Files\\Vendor " + std::to_wstring(i) + L"\\svc.exe -k run");
  }
  const std::wstring bho = root + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
  for (int i = 0; i < clsids; ++i) {
    const std::wstring id = Clsid(i);
    SetText(root + L"\\Software\\Classes\\CLSID\\" + id, nullptr, L"Helper " + std::to_wstring(i));
    SetText(root + L"\\Software\\Classes\\CLSID\\" + id + L"\\InprocServer32", nullptr,
            L"%ProgramFiles%\\Helpers\\h" + std::to_wstring(i) + L".dll");
    CRegKey k;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, (bho + id).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.Put(), nullptr);
  }
  for (int i = 0; i < runValues; ++i)
    SetText(root + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", (L"app" + std::to_wstring(i)).c_str(),
            L"\"C:\\Program Files\\App " + std::to_wstring(i) + L"\\app.exe\" /background");
}

int Option(int argc, wchar_t** argv, const wchar_t* name, int fallback) {
  const size_t length = std::wcslen(name);
  for (int i = 1; i < argc; ++i)
    if (std::wcsncmp(argv[i], name, length) == 0) return static_cast<int>(std::wcstol(argv[i] + length, nullptr, 10));
  return fallback;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int services = Option(argc, argv, L"--services=", 3000);
  const int clsids = Option(argc, argv, L"--clsids=", 10000);
  const int runValues = Option(argc, argv, L"--run=", 2000);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  double start = Seconds();
  Plant(services, clsids, runValues);
  std::printf("fixture: %d services, %d class ids, %d Run values planted in %.1f s\n", services, clsids, runValues,
              Seconds() - start);

  HiveBindings bindings;
  bindings.systemRoot = bindings.softwareRoot = bindings.userRoot = HKEY_CURRENT_USER;
  bindings.systemPrefix = std::wstring(kRoot) + L"\\System";
  bindings.softwarePrefix = std::wstring(kRoot) + L"\\Software";
  bindings.userPrefix = std::wstring(kRoot) + L"\\User";
  bindings.classesPrefix = std::wstring(kRoot) + L"\\Classes";
  bindings.twoViews = false;  // one view: the private key has no 32-bit twin

  const double heapBefore = HeapBytes();
  std::vector<AutorunFinding> findings;
  {
    CAptAutorunEnumerator analyzer;
    analyzer.Init(L"", L"S-1-5-21-0-0-0-1000", bindings);
    const uint64_t opensBefore = CHiveParser::OpenCount();
    start = Seconds();
    for (uint32_t code = 0; code <= 16; ++code) analyzer.RunCategory(code);
    const double elapsed = Seconds() - start;
    const uint64_t opens = CHiveParser::OpenCount() - opensBefore;
    findings.swap(analyzer.Findings());
    const double entries = findings.empty() ? 1.0 : static_cast<double>(findings.size());
    std::printf("categories 0-16: %zu entries in %.2f s (%.0f entries/s, %.1f us per entry)\n", findings.size(),
                elapsed, entries / elapsed, elapsed * 1e6 / entries);
    std::printf("registry keys opened: %llu (%.1f per entry)\n", static_cast<unsigned long long>(opens),
                static_cast<double>(opens) / entries);
  }
  RunConfig config;
  config.ScanPeOnly = false;
  StateRecord state;
  CStateWriteClock clock;
  CRunContext run(config, state, clock);
  CScanItems items(run);
  config.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  start = Seconds();
  RecordAutoruns(run, items, findings);
  const double recordTime = Seconds() - start;
  const double heapAfter = HeapBytes();
  const double entries = findings.empty() ? 1.0 : static_cast<double>(findings.size());
  std::printf("registration: %zu autorun items, %zu modules in %.2f s\n", items.Autoruns().size(),
              items.Modules().size(), recordTime);
  std::printf("heap per entry (finding + autorun item + module): %.0f bytes\n", (heapAfter - heapBefore) / entries);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
  return 0;
}
