// The report writer: the AptReport element tree in document order, one section per item table,
// with Checkpoint between two records so that a stop leaves no report behind.
#include "report/report_writer.h"

#include <new>

#include "control/log_event.h"
#include "report/msxml_document.h"
#include "report/report_format.h"
#include "support/hresult.h"

namespace kal {
namespace {

// Text fields lose the characters XML can't carry, so every report parses.
void SetText(CMsXmlElement& element, const wchar_t* name, const std::wstring& text) {
  element.SetString(name, FilterReportText(text));
}

void SetTime(CMsXmlElement& element, const wchar_t* name, int64_t seconds) {
  element.SetString(name, ReportTimeText(seconds));
}

void SetRefId(CMsXmlElement& element, uint32_t id) { element.SetInt32(L"ModuleRefId", static_cast<int32_t>(id)); }

class CReportWriter {
 public:
  CReportWriter(CRunContext& run, const CScanItems& items, const ComputerSource& computer)
      : run_(run), items_(items), computer_(computer) {}

  HRESULT Write();

 private:
  HRESULT WriteComputer(CMsXmlElement& root);
  HRESULT WriteModules(CMsXmlElement& root);
  HRESULT WriteProcesses(CMsXmlElement& root);
  HRESULT WriteDrivers(CMsXmlElement& root);
  HRESULT WriteAutoruns(CMsXmlElement& root);
  void WriteModuleAttributes(CMsXmlElement& element, const ModuleItem& module);
  HRESULT WriteProcess(CMsXmlElement& section, const ProcessItem& process);

  CRunContext& run_;
  const CScanItems& items_;
  const ComputerSource& computer_;
};

HRESULT CReportWriter::Write() {
  run_.EnterPhase(kPhaseReport);

  CMsXmlDocument document(true);
  RETURN_IF_FAILED(document.Create(0, false));
  CMsXmlElement root;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(document, L"AptReport", &root));
  root.SetBool(L"skipGac", run_.Config().SkipGac);

  RETURN_IF_FAILED(WriteComputer(root));
  if (!items_.Modules().empty()) RETURN_IF_FAILED(WriteModules(root));
  if (!items_.Processes().empty()) RETURN_IF_FAILED(WriteProcesses(root));
  if (!items_.Drivers().empty()) RETURN_IF_FAILED(WriteDrivers(root));
  if (!items_.Autoruns().empty()) RETURN_IF_FAILED(WriteAutoruns(root));

  const std::wstring& path = run_.Config().OutputPath;
  const HRESULT hr = document.Save(path);
  if (FAILED(hr) && run_.RecordsErrors())
    LogEvent(L"Failed to save report %ls 0x%08x", path.c_str(), static_cast<unsigned>(hr));
  return hr;
}

HRESULT CReportWriter::WriteComputer(CMsXmlElement& root) {
  RETURN_IF_FAILED(run_.Checkpoint());
  CMsXmlElement computer;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(root, L"Computer", &computer));
  ComputerDescription description;
  RETURN_IF_FAILED(computer_(&description));
  SetText(computer, L"Name", description.Name);
  SetText(computer, L"SID", description.Sid);

  CMsXmlElement os;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(computer, L"OperatingSystem", &os));
  os.SetUInt32(L"MajorVer", description.MajorVer);
  os.SetUInt32(L"MinorVer", description.MinorVer);
  os.SetUInt32(L"BuildNumber", description.BuildNumber);
  os.SetUInt32(L"ServicePackMajor", description.ServicePackMajor);
  os.SetUInt32(L"ServicePackMinor", description.ServicePackMinor);
  os.SetUInt32(L"SuiteMask", description.SuiteMask);
  os.SetBool(L"IsServerR2", description.IsServerR2);
  os.SetInt32(L"ProductType", description.ProductType);
  os.SetInt32(L"BitSystem", static_cast<int32_t>(description.BitSystem));

  CMsXmlElement connections;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(computer, L"Connections", &connections));
  for (const Connection& adapter : description.Connections) {
    CMsXmlElement connection;
    RETURN_IF_FAILED(CMsXmlDocument::CreateChild(connections, L"Connection", &connection));
    SetText(connection, L"Name", adapter.Name);
    connection.SetUInt64(L"Type", adapter.Type);
    SetText(connection, L"IPv4", adapter.IPv4);
    SetText(connection, L"IPv6", adapter.IPv6);
  }
  return S_OK;
}

void CReportWriter::WriteModuleAttributes(CMsXmlElement& element, const ModuleItem& module) {
  element.SetInt32(L"Id", static_cast<int32_t>(module.Id));
  SetText(element, L"Path", module.Path);
  element.SetUInt64(L"Size", module.Size);
  element.SetUInt32(L"Attributes", module.Attributes);
  SetTime(element, L"Created", module.Created);
  SetTime(element, L"Modified", module.Modified);
  SetTime(element, L"Accessed", module.Accessed);
  element.SetHex(L"Sha1", module.Sha1.data(), module.Sha1.size());
  element.SetString(L"Cloud", VerdictName(module.Cloud));
  element.SetString(L"CloudFls", VerdictName(module.CloudFls));
  element.SetString(L"CloudSigner", SignerTrustName(module.CloudSigner));
  if (const wchar_t* lumen = AnalysisStateName(module.CloudLumen)) element.SetString(L"CloudLumen", lumen);
  // A date that no four-digit year can show is no date, like 0.
  std::wstring date;
  if (module.CloudDate != 0 && FormatReportTime(module.CloudDate, &date)) element.SetString(L"CloudDate", date);
  if (!module.Signer.empty()) SetText(element, L"Signer", module.Signer);
  if (!module.Description.empty()) SetText(element, L"Description", module.Description);
  if (!module.Version.empty()) SetText(element, L"Version", module.Version);
  if (!module.Copyright.empty()) SetText(element, L"Copyright", module.Copyright);
  if (!module.Product.empty()) SetText(element, L"Product", module.Product);
  element.SetBool(L"Clr", module.Clr);
  element.SetBool(L"Gac", module.Gac);
}

HRESULT CReportWriter::WriteModules(CMsXmlElement& root) {
  CMsXmlElement section;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(root, L"Modules", &section));
  for (const auto& entry : items_.Modules()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    const ModuleItem& module = entry.second;
    if (items_.IsSkipped(module.Id)) continue;
    CMsXmlElement element;
    RETURN_IF_FAILED(CMsXmlDocument::CreateChild(section, L"Module", &element));
    WriteModuleAttributes(element, module);
  }
  return S_OK;
}

HRESULT CReportWriter::WriteProcess(CMsXmlElement& section, const ProcessItem& process) {
  CMsXmlElement element;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(section, L"Process", &element));
  element.SetUInt32(L"Pid", process.Pid);
  element.SetUInt32(L"ParentPid", process.ParentPid);
  SetRefId(element, process.ModuleRefId);
  SetText(element, L"User", process.User);
  SetText(element, L"Cmd", process.Cmd);
  SetTime(element, L"Created", process.Created);
  element.SetString(L"CpuTime", FormatReportDuration(process.CpuTime));
  element.SetBool(L"Elevated", process.Elevated);
  element.SetBool(L"UacVirtualization", process.UacVirtualization);

  // The process's own list keeps every entry, skipped modules and zeros included.
  CMsXmlElement modules;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(element, L"Modules", &modules));
  for (uint32_t id : process.Modules) {
    CMsXmlElement module;
    RETURN_IF_FAILED(CMsXmlDocument::CreateChild(modules, L"Module", &module));
    SetRefId(module, id);
  }
  return S_OK;
}

HRESULT CReportWriter::WriteProcesses(CMsXmlElement& root) {
  CMsXmlElement section;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(root, L"Processes", &section));
  for (const auto& entry : items_.Processes()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(entry.second.ModuleRefId)) continue;
    RETURN_IF_FAILED(WriteProcess(section, entry.second));
  }
  return S_OK;
}

HRESULT CReportWriter::WriteDrivers(CMsXmlElement& root) {
  CMsXmlElement section;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(root, L"Drivers", &section));
  for (const auto& entry : items_.Drivers()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(entry.second)) continue;
    CMsXmlElement element;
    RETURN_IF_FAILED(CMsXmlDocument::CreateChild(section, L"Driver", &element));
    SetRefId(element, entry.second);
  }
  return S_OK;
}

HRESULT CReportWriter::WriteAutoruns(CMsXmlElement& root) {
  CMsXmlElement section;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(root, L"Autoruns", &section));
  for (const AutorunItem& autorun : items_.Autoruns()) {
    RETURN_IF_FAILED(run_.Checkpoint());
    if (items_.IsSkipped(autorun.ModuleRefId)) continue;
    CMsXmlElement element;
    RETURN_IF_FAILED(CMsXmlDocument::CreateChild(section, L"Autorun", &element));
    SetRefId(element, autorun.ModuleRefId);
    element.SetString(L"Scope", AutorunCategoryName(autorun.Scope));
    if (!autorun.Where.empty()) SetText(element, L"Where", autorun.Where);
  }
  return S_OK;
}

}  // namespace

HRESULT WriteReport(CRunContext& run, const CScanItems& items) {
  return WriteReport(run, items, ComputerSource(GatherComputer));
}

HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer) {
  // The string layer's errors end this report, not the process: the run then ends as failed.
  try {
    return CReportWriter(run, items, computer).Write();
  } catch (const CHResultError& error) {
    return error.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace kal
