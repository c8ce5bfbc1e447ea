// The report tree in document order, one section per item table. Text fields pass the filter
// that keeps every report well-formed XML; times and codes take their report forms here, so that
// every sink writes the same values.
#include "report/report_tree.h"

#include "report/report_format.h"
#include "support/hresult.h"

namespace kal {
namespace {

class CReportTree {
 public:
  CReportTree(CRunContext& run, const CScanItems& items, const ComputerSource& computer, IReportSink& sink)
      : run_(run), items_(items), computer_(computer), sink_(sink) {}

  HRESULT Write();

 private:
  HRESULT WriteComputer();
  HRESULT WriteModules();
  HRESULT WriteProcesses();
  HRESULT WriteDrivers();
  HRESULT WriteAutoruns();
  void WriteModuleAttributes(const ModuleItem& module);
  HRESULT WriteProcess(const ProcessItem& process);
  HRESULT WriteReference(const wchar_t* name, uint32_t id);

  void SetText(const wchar_t* name, const std::wstring& text) { sink_.SetString(name, FilterReportText(text)); }
  void SetTime(const wchar_t* name, int64_t seconds) { sink_.SetString(name, ReportTimeText(seconds)); }
  void SetRefId(uint32_t id) { sink_.SetInt32(L"ModuleRefId", static_cast<int32_t>(id)); }

  CRunContext& run_;
  const CScanItems& items_;
  const ComputerSource& computer_;
  IReportSink& sink_;
};

HRESULT CReportTree::Write() {
  RETURN_IF_FAILED(sink_.Begin(L"AptReport"));
  sink_.SetBool(L"skipGac", run_.Config().SkipGac);

  RETURN_IF_FAILED(WriteComputer());
  if (!items_.Modules().empty()) RETURN_IF_FAILED(WriteModules());
  if (!items_.Processes().empty()) RETURN_IF_FAILED(WriteProcesses());
  if (!items_.Drivers().empty()) RETURN_IF_FAILED(WriteDrivers());
  if (!items_.Autoruns().empty()) RETURN_IF_FAILED(WriteAutoruns());
  return sink_.End();
}

HRESULT CReportTree::WriteComputer() {
  RETURN_IF_FAILED(run_.Checkpoint());
  RETURN_IF_FAILED(sink_.Begin(L"Computer"));
  ComputerDescription description;
  RETURN_IF_FAILED(computer_(&description));
  SetText(L"Name", description.Name);
  SetText(L"SID", description.Sid);

  RETURN_IF_FAILED(sink_.Begin(L"OperatingSystem"));
  sink_.SetUInt32(L"MajorVer", description.MajorVer);
  sink_.SetUInt32(L"MinorVer", description.MinorVer);
  sink_.SetUInt32(L"BuildNumber", description.BuildNumber);
  sink_.SetUInt32(L"ServicePackMajor", description.ServicePackMajor);
  sink_.SetUInt32(L"ServicePackMinor", description.ServicePackMinor);
  sink_.SetUInt32(L"SuiteMask", description.SuiteMask);
  sink_.SetBool(L"IsServerR2", description.IsServerR2);
  sink_.SetInt32(L"ProductType", description.ProductType);
  sink_.SetInt32(L"BitSystem", static_cast<int32_t>(description.BitSystem));
  RETURN_IF_FAILED(sink_.End());

  RETURN_IF_FAILED(sink_.Begin(L"Connections"));
  for (const Connection& adapter : description.Connections) {
    RETURN_IF_FAILED(sink_.Begin(L"Connection"));
    SetText(L"Name", adapter.Name);
    sink_.SetUInt64(L"Type", adapter.Type);
    SetText(L"IPv4", adapter.IPv4);
    SetText(L"IPv6", adapter.IPv6);
    RETURN_IF_FAILED(sink_.End());
  }
  RETURN_IF_FAILED(sink_.End());
  return sink_.End();
}

void CReportTree::WriteModuleAttributes(const ModuleItem& module) {
  sink_.SetInt32(L"Id", static_cast<int32_t>(module.Id));
  SetText(L"Path", module.Path);
  sink_.SetUInt64(L"Size", module.Size);
  sink_.SetUInt32(L"Attributes", module.Attributes);
  SetTime(L"Created", module.Created);
  SetTime(L"Modified", module.Modified);
  SetTime(L"Accessed", module.Accessed);
  sink_.SetHex(L"Sha1", module.Sha1.data(), module.Sha1.size());
  sink_.SetString(L"Cloud", VerdictName(module.Cloud));
  sink_.SetString(L"CloudFls", VerdictName(module.CloudFls));
  sink_.SetString(L"CloudSigner", SignerTrustName(module.CloudSigner));
  if (const wchar_t* lumen = AnalysisStateName(module.CloudLumen)) sink_.SetString(L"CloudLumen", lumen);
  // A date that no four-digit year can show is no date, like 0.
  std::wstring date;
  if (module.CloudDate != 0 && FormatReportTime(module.CloudDate, &date)) sink_.SetString(L"CloudDate", date);
  if (!module.Signer.empty()) SetText(L"Signer", module.Signer);
  if (!module.Description.empty()) SetText(L"Description", module.Description);
  if (!module.Version.empty()) SetText(L"Version", module.Version);
  if (!module.Copyright.empty()) SetText(L"Copyright", module.Copyright);
  if (!module.Product.empty()) SetText(L"Product", module.Product);
  sink_.SetBool(L"Clr", module.Clr);
  sink_.SetBool(L"Gac", module.Gac);
}

HRESULT CReportTree::WriteModules() {
  RETURN_IF_FAILED(sink_.Begin(L"Modules"));
  for (const auto& entry : items_.Modules()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    const ModuleItem& module = entry.second;
    if (items_.IsSkipped(module.Id)) continue;
    RETURN_IF_FAILED(sink_.Begin(L"Module"));
    WriteModuleAttributes(module);
    RETURN_IF_FAILED(sink_.End());
  }
  return sink_.End();
}

HRESULT CReportTree::WriteReference(const wchar_t* name, uint32_t id) {
  RETURN_IF_FAILED(sink_.Begin(name));
  SetRefId(id);
  return sink_.End();
}

HRESULT CReportTree::WriteProcess(const ProcessItem& process) {
  RETURN_IF_FAILED(sink_.Begin(L"Process"));
  sink_.SetUInt32(L"Pid", process.Pid);
  sink_.SetUInt32(L"ParentPid", process.ParentPid);
  SetRefId(process.ModuleRefId);
  SetText(L"User", process.User);
  SetText(L"Cmd", process.Cmd);
  SetTime(L"Created", process.Created);
  sink_.SetString(L"CpuTime", FormatReportDuration(process.CpuTime));
  sink_.SetBool(L"Elevated", process.Elevated);
  sink_.SetBool(L"UacVirtualization", process.UacVirtualization);

  // The process's own list keeps every entry, skipped modules and zeros included.
  RETURN_IF_FAILED(sink_.Begin(L"Modules"));
  for (uint32_t id : process.Modules) RETURN_IF_FAILED(WriteReference(L"Module", id));
  RETURN_IF_FAILED(sink_.End());
  return sink_.End();
}

HRESULT CReportTree::WriteProcesses() {
  RETURN_IF_FAILED(sink_.Begin(L"Processes"));
  for (const auto& entry : items_.Processes()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(entry.second.ModuleRefId)) continue;
    RETURN_IF_FAILED(WriteProcess(entry.second));
  }
  return sink_.End();
}

HRESULT CReportTree::WriteDrivers() {
  RETURN_IF_FAILED(sink_.Begin(L"Drivers"));
  for (const auto& entry : items_.Drivers()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(entry.second)) continue;
    RETURN_IF_FAILED(WriteReference(L"Driver", entry.second));
  }
  return sink_.End();
}

HRESULT CReportTree::WriteAutoruns() {
  RETURN_IF_FAILED(sink_.Begin(L"Autoruns"));
  for (const AutorunItem& autorun : items_.Autoruns()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(autorun.ModuleRefId)) continue;
    RETURN_IF_FAILED(sink_.Begin(L"Autorun"));
    SetRefId(autorun.ModuleRefId);
    sink_.SetString(L"Scope", AutorunCategoryName(autorun.Scope));
    if (!autorun.Where.empty()) SetText(L"Where", autorun.Where);
    RETURN_IF_FAILED(sink_.End());
  }
  return sink_.End();
}

}  // namespace

HRESULT WriteReportTree(CRunContext& run, const CScanItems& items, const ComputerSource& computer,
                        IReportSink& sink) {
  return CReportTree(run, items, computer, sink).Write();
}

}  // namespace kal
