// Writes sample reports into the current folder for the schema check on the Linux side:
// full.xml (every kind of record, boundary values, text XML can't carry, the skip set, the
// computer gathered from this machine), streamed.xml (the same through the stream writer alone),
// empty.xml (no records) and fixed.xml (a hand-made computer without adapters, with the records of
// full.xml). Exit code 0 when all four were written.
#include <cstdio>
#include <limits>

#include "report/report_writer.h"
#include "support/com.h"

namespace {

using namespace kal;

void AddFullRecords(CScanItems& items) {
  ModuleItem& exe = items.Modules()[L"c:\\program files\\app\\app.exe"];
  exe.Id = 1;
  exe.Path = L"C:\\Program Files\\App\\app.exe";
  exe.Size = std::numeric_limits<uint64_t>::max();
  exe.Attributes = 0xFFFFFFFFu;
  exe.Created = 1456823107;  // 2016-03-01T09:05:07Z
  exe.Modified = -43200;
  exe.Accessed = 253402300799ll;
  for (size_t i = 0; i < exe.Sha1.size(); ++i) exe.Sha1[i] = static_cast<uint8_t>(0xA0 + i);
  exe.Cloud = 2;
  exe.CloudFls = 2;
  exe.CloudSigner = 1;
  exe.CloudLumen = 7;
  exe.CloudDate = 1456823107;
  exe.Signer = L"Signer & Sons <test>";
  exe.Description = L"Tab\there, line\nbreak, \x0001" L"control, \xD800lone, \xFFFF";
  exe.Version = L"1.0";
  exe.Copyright = L"\"quoted\" 'text'";
  exe.Product = L"\x4e2d\x6587 \U0001F600";
  exe.Clr = true;

  ModuleItem& dll = items.Modules()[L"c:\\windows\\assembly\\gac_msil\\x\\x.dll"];
  dll.Id = 2;
  dll.Path = L"C:\\Windows\\assembly\\GAC_MSIL\\x\\x.dll";
  dll.Gac = true;
  dll.CloudFls = 9;
  dll.CloudLumen = 9;
  items.Skip(2);

  ModuleItem& plain = items.Modules()[L"c:\\a.sys"];  // as AddModule leaves a file
  plain.Id = 3;
  plain.Path = L"C:\\a.sys";

  ProcessItem process;
  process.Pid = 4000000000u;
  process.ParentPid = 4;
  process.ModuleRefId = 1;
  process.Modules = {1, 0, 2, 1};
  process.CpuTime = 90061;
  process.Created = 1456823107;
  process.User = L"VM\\root";
  process.Cmd = L"app.exe \"a b\" \x0001";
  process.Elevated = true;
  items.PutProcess(process);
  ProcessItem idle;
  idle.Pid = 0;
  items.PutProcess(idle);
  ProcessItem skipped;
  skipped.Pid = 77;
  skipped.ModuleRefId = 2;
  items.PutProcess(skipped);

  items.PutDriver(L"c:\\windows\\system32\\ntoskrnl.exe", 3);
  items.PutDriver(L"c:\\windows\\system32\\drivers\\away.sys", 0);
  items.PutDriver(L"c:\\windows\\system32\\drivers\\skipped.sys", 2);

  // every category name and the unnamed code 17; one entry of a skipped file
  for (uint32_t scope = 0; scope <= 17; ++scope)
    items.AppendAutorun({scope % 2 ? 1u : 3u, scope, scope % 3 ? L"HKLM\\Run\\v" : L""});
  items.AppendAutorun({2, 10, L"skipped"});
  items.AppendAutorun({0, 4, L"turned away"});
}

HRESULT FixedComputer(ComputerDescription* d) {
  d->Name = L"";
  d->Sid = L"S-1-5-21-1-2-3-1000";
  d->MajorVer = 0xFFFFFFFFu;
  d->ServicePackMajor = 0xFFFF;
  d->SuiteMask = 0xFFFF;
  d->ProductType = 3;
  d->BitSystem = 32;
  d->IsServerR2 = true;
  return S_OK;
}

int Write(const wchar_t* path, bool full, const ComputerSource* computer, bool streamed = false) {
  RunConfig config;
  config.OutputPath = path;
  config.SkipGac = full;
  StateRecord state;
  state.StatePath = L"state.txt";
  CStateWriteClock clock;
  CRunContext run(config, state, clock);
  CScanItems items(run);
  if (full) AddFullRecords(items);
  const ComputerSource gathered(GatherComputer);
  const ComputerSource& source = computer ? *computer : gathered;
  const HRESULT hr = streamed ? WriteReportStream(run, items, source) : WriteReport(run, items, source);
  if (FAILED(hr)) std::fwprintf(stderr, L"%ls: 0x%08x\n", path, static_cast<unsigned>(hr));
  return FAILED(hr) ? 1 : 0;
}

}  // namespace

int wmain() {
  CComInit com;
  com.Initialize(COINIT_MULTITHREADED);  // the scanning thread's apartment
  const ComputerSource fixed(FixedComputer);
  int failures = 0;
  failures += Write(L"full.xml", true, nullptr);
  failures += Write(L"streamed.xml", true, nullptr, true);
  failures += Write(L"empty.xml", false, nullptr);
  failures += Write(L"fixed.xml", true, &fixed);
  return failures == 0 ? 0 : 1;
}
