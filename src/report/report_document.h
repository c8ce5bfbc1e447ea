// The report's normal route: the tree built in memory as an MSXML document and saved in one piece
// once every element is complete.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "report/msxml_document.h"
#include "report/report_sink.h"

namespace kal {

// A report sink that holds the whole report until Save.
class IReportDocument : public IReportSink {
 public:
  // Writes the document to `path` all or nothing (the path keeps what it held on failure).
  virtual HRESULT Save(const std::wstring& path) = 0;
};

// The tree as "Msxml2.DOMDocument.3.0" with the declaration 'version="1.0" encoding="utf-16"'.
// A setter that ran out of memory in the DOM makes the next End, and Save, fail with that result,
// so that an incomplete document is never saved.
class CMsXmlReportDocument final : public IReportDocument {
 public:
  CMsXmlReportDocument() : document_(true) {}

  // Creates the empty document; its failure is the DOM's.
  HRESULT Create() { return document_.Create(0, false); }

  HRESULT Begin(const wchar_t* name) override;
  HRESULT End() override;
  void SetBool(const wchar_t* name, bool value) override { Top().SetBool(name, value); }
  void SetString(const wchar_t* name, const std::wstring& text) override { Top().SetString(name, text); }
  void SetInt32(const wchar_t* name, int32_t value) override { Top().SetInt32(name, value); }
  void SetUInt32(const wchar_t* name, uint32_t value) override { Top().SetUInt32(name, value); }
  void SetUInt64(const wchar_t* name, uint64_t value) override { Top().SetUInt64(name, value); }
  void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) override { Top().SetHex(name, bytes, count); }
  HRESULT Save(const std::wstring& path) override;

 private:
  CMsXmlElement& Top() { return open_.empty() ? document_ : open_.back(); }
  HRESULT MemoryFailure() const;

  CMsXmlDocument document_;
  std::vector<CMsXmlElement> open_;  // the open elements, innermost last
};

// Makes and creates the document the report is built in.
HRESULT MakeMsXmlReportDocument(std::unique_ptr<IReportDocument>* document);

}  // namespace kal
