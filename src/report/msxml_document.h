// The thin layer between the report writer and the platform's XML DOM (MSXML through COM): a
// document with its XML declaration, child elements, typed attribute setters with fixed value
// formats, and an all-or-nothing save as UTF-16LE with the byte-order mark FF FE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "support/com.h"

#include <msxml2.h>

namespace kal {

class CMsXmlDocument;

// One element of a document. The setters set (or replace) one attribute and return nothing; the
// document keeps the first DOM failure (SetFailure). On a wrapper without a node they do nothing.
// Out of memory for a value's text raises CHResultError(E_OUTOFMEMORY).
class CMsXmlElement {
 public:
  CMsXmlElement() = default;
  CMsXmlElement(CMsXmlElement&&) noexcept = default;
  CMsXmlElement& operator=(CMsXmlElement&&) noexcept = default;
  virtual ~CMsXmlElement() = default;

  // The DOM node that children are appended to: for an element, its element node.
  virtual IXMLDOMNode* GetNode() const;
  // Releases the node and forgets the document.
  virtual void Clear();

  void SetBool(const wchar_t* name, bool value);                   // "true" / "false"
  void SetString(const wchar_t* name, const std::wstring& text);   // unchanged; "" gives ""
  void SetInt32(const wchar_t* name, int32_t value);
  void SetUInt32(const wchar_t* name, uint32_t value);
  void SetUInt64(const wchar_t* name, uint64_t value);
  void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count);  // upper-case, 2 per byte

 protected:
  friend class CMsXmlDocument;
  void SetText(const wchar_t* name, const wchar_t* text, size_t length);

  CComPtr<IXMLDOMElement> node_;
  CMsXmlDocument* document_ = nullptr;  // not owned
};

class CMsXmlDocument : public CMsXmlElement {
 public:
  // With `initCom`, initialises COM on the calling thread (single-threaded apartment) and, when
  // that succeeded, the process's default COM security; on a thread already in the multi-threaded
  // apartment that fails with RPC_E_CHANGED_MODE and the document works all the same.
  explicit CMsXmlDocument(bool initCom);
  ~CMsXmlDocument() override;
  CMsXmlDocument(const CMsXmlDocument&) = delete;
  CMsXmlDocument& operator=(const CMsXmlDocument&) = delete;

  // The apartment initialisation's result, or E_NOTIMPL when none was asked for.
  HRESULT ComInitResult() const { return comInit_; }

  // Forms of the XML declaration, by index: 0 and 2 'version="1.0" encoding="utf-16"',
  // 1 'version="1.0" encoding="utf-8"', 3 'version="1.0"'. E_INVALIDARG for any other index.
  static const wchar_t* DeclarationData(uint32_t declaration);

  // A new empty document ("Msxml2.DOMDocument.6.0" or ".3.0") holding only the declaration.
  HRESULT Create(uint32_t declaration, bool useVersion6);

  // Appends a new element `name` as the last child of `parent` and attaches `element` to it.
  static HRESULT CreateChild(CMsXmlElement& parent, const wchar_t* name, CMsXmlElement* element);

  // Writes the document to `path` as FF FE and UTF-16LE text, replacing the file only once every
  // byte is written (see WriteFileReplacing). E_FAIL without a document; otherwise the failure
  // of the file or DOM operation, with `path` as it was before.
  HRESULT Save(const std::wstring& path);

  // The first failure of an attribute setter since Create, S_OK when there was none: a DOM that
  // ran out of memory part-way holds an incomplete document.
  HRESULT SetFailure() const { return setFailure_; }

  // The document as one serialised string (the declaration, then the elements). Slow on large
  // documents under some DOMs; Save does not depend on it.
  HRESULT GetXml(std::wstring* xml) const;

  IXMLDOMNode* GetNode() const override;
  void Clear() override;
  IXMLDOMDocument* Dom() const { return dom_.Get(); }

 private:
  friend class CMsXmlElement;  // records its setters' failures
  HRESULT WriteXmlText(HANDLE file) const;

  HRESULT comInit_ = E_NOTIMPL;
  CComPtr<IXMLDOMDocument> dom_;
  uint32_t declaration_ = 0;
  HRESULT setFailure_ = S_OK;
};

// Creates `path` all or nothing: `write` fills a new temporary file in the same folder, which is
// flushed and then moved over `path` (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). When
// `write` or any file step fails (or `write` throws), the temporary file is removed, `path` keeps what it held before,
// and the failure is returned (for a missing folder 0x80070003).
HRESULT WriteFileReplacing(const std::wstring& path, const std::function<HRESULT(HANDLE file)>& write);

}  // namespace kal
