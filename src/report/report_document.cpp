// The report tree onto the MSXML wrapper: a stack of the open elements, children appended in the
// order they are opened.
#include "report/report_document.h"

#include <new>

#include "support/hresult.h"

namespace kal {

HRESULT CMsXmlReportDocument::Begin(const wchar_t* name) {
  CMsXmlElement element;
  RETURN_IF_FAILED(CMsXmlDocument::CreateChild(Top(), name, &element));
  open_.push_back(std::move(element));
  return S_OK;
}

HRESULT CMsXmlReportDocument::End() {
  if (open_.empty()) return E_UNEXPECTED;
  open_.pop_back();
  return MemoryFailure();
}

HRESULT CMsXmlReportDocument::MemoryFailure() const {
  const HRESULT hr = document_.SetFailure();
  return IsLackOfMemory(hr) ? hr : S_OK;
}

HRESULT CMsXmlReportDocument::Save(const std::wstring& path) {
  RETURN_IF_FAILED(MemoryFailure());
  return document_.Save(path);
}

HRESULT MakeMsXmlReportDocument(std::unique_ptr<IReportDocument>* document) {
  document->reset();
  std::unique_ptr<CMsXmlReportDocument> made(new (std::nothrow) CMsXmlReportDocument());
  if (!made) return E_OUTOFMEMORY;
  RETURN_IF_FAILED(made->Create());
  *document = std::move(made);
  return S_OK;
}

}  // namespace kal
