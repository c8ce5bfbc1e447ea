// The report writer: the report tree built as an MSXML document and saved in one piece; when the
// document runs out of memory, the tree is walked once more into the stream writer, so that a
// large scan still ends with its report.
#include "report/report_writer.h"

#include <new>

#include "control/log_event.h"
#include "report/report_stream.h"
#include "support/hresult.h"

namespace kal {
namespace {

// The string layer's errors, and the runtime's, as the HRESULTs they stand for.
template <typename Write>
HRESULT Guarded(const Write& write) {
  try {
    return write();
  } catch (const CHResultError& error) {
    return error.Code();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

class CReportWriter {
 public:
  CReportWriter(CRunContext& run, const CScanItems& items, const ComputerSource& computer)
      : run_(run), items_(items), computer_(computer) {}

  HRESULT Write(const ReportDocumentSource* document);

 private:
  HRESULT WriteDocument(const ReportDocumentSource& source, bool* saving);
  HRESULT WriteStream(bool* saving);
  HRESULT Gather(ComputerDescription* description);

  CRunContext& run_;
  const CScanItems& items_;
  const ComputerSource& computer_;
  const ComputerSource gatherOnce_{[this](ComputerDescription* d) { return Gather(d); }};
  bool gathered_ = false;
  ComputerDescription description_;
};

HRESULT CReportWriter::Gather(ComputerDescription* description) {
  if (!gathered_) {
    RETURN_IF_FAILED(computer_(&description_));
    gathered_ = true;
  }
  *description = description_;
  return S_OK;
}

HRESULT CReportWriter::Write(const ReportDocumentSource* document) {
  run_.EnterPhase(kPhaseReport);
  bool saving = false;  // whether a failure is the file's rather than the tree's
  HRESULT hr = S_OK;
  if (document) hr = WriteDocument(*document, &saving);
  if (!document || IsLackOfMemory(hr)) hr = WriteStream(&saving);
  if (FAILED(hr) && saving && run_.RecordsErrors()) {
    const std::wstring& path = run_.Config().OutputPath;
    LogEvent(L"Failed to save report %ls 0x%08x", path.c_str(), static_cast<unsigned>(hr));
  }
  return hr;
}

// Everything the document holds is released on return, before the stream writer needs memory.
HRESULT CReportWriter::WriteDocument(const ReportDocumentSource& source, bool* saving) {
  return Guarded([&]() -> HRESULT {
    std::unique_ptr<IReportDocument> document;
    RETURN_IF_FAILED(source(&document));
    RETURN_IF_FAILED(WriteReportTree(run_, items_, gatherOnce_, *document));
    *saving = true;
    return document->Save(run_.Config().OutputPath);
  });
}

HRESULT CReportWriter::WriteStream(bool* saving) {
  HRESULT tree = S_OK;
  HRESULT written = S_OK;
  const HRESULT hr = Guarded([&]() -> HRESULT {
    return StreamReportFile(run_.Config().OutputPath, [&](CReportStream& stream) {
      tree = WriteReportTree(run_, items_, gatherOnce_, stream);
      written = stream.WriteError();
      return tree;
    });
  });
  *saving = FAILED(hr) && (SUCCEEDED(tree) || FAILED(written));
  return hr;
}

}  // namespace

HRESULT WriteReport(CRunContext& run, const CScanItems& items) {
  return WriteReport(run, items, ComputerSource(GatherComputer));
}

HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer) {
  return WriteReport(run, items, computer, ReportDocumentSource(MakeMsXmlReportDocument));
}

HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer,
                    const ReportDocumentSource& document) {
  return CReportWriter(run, items, computer).Write(&document);
}

HRESULT WriteReportStream(CRunContext& run, const CScanItems& items, const ComputerSource& computer) {
  return CReportWriter(run, items, computer).Write(nullptr);
}

}  // namespace kal
