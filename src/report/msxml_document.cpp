// MSXML behind the report's document and element wrappers. The document is saved through the DOM's
// own serialiser into a file stream (fast even for large documents), into a temporary file that
// replaces the target only when complete.
#include "report/msxml_document.h"

#include <atomic>
#include <cwchar>
#include <string>

#include "report/report_format.h"
#include "support/handles.h"
#include "support/hresult.h"

namespace kal {
namespace {

CBstr MakeBstr(const wchar_t* text, size_t length) {
  CBstr bstr(text, static_cast<UINT>(length));
  if (!bstr.Get()) ThrowHResult(E_OUTOFMEMORY);
  return bstr;
}

CBstr MakeBstr(const wchar_t* text) { return MakeBstr(text, wcslen(text)); }

// The write side of a file handle as a COM stream. It watches the first two bytes: a DOM that does
// not serialise as UTF-16LE with FF FE is stopped, so that the caller can write the text itself.
class CFileWriteStream final : public IStream {
 public:
  explicit CFileWriteStream(HANDLE file) : file_(file) {}

  HRESULT WriteError() const { return writeError_; }
  bool NotUtf16() const { return notUtf16_; }
  uint64_t BytesWritten() const { return written_; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) || IsEqualIID(iid, IID_IStream)) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG refs = --refs_;
    if (refs == 0) delete this;
    return refs;
  }

  // ISequentialStream
  HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG* read) override {
    if (read) *read = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (FAILED(writeError_)) return writeError_;
    if (notUtf16_) return STG_E_CANTSAVE;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (ULONG i = 0; i < size && headSize_ < 2; ++i) head_[headSize_++] = bytes[i];
    if (headSize_ == 2 && !(head_[0] == 0xFF && head_[1] == 0xFE)) {
      notUtf16_ = true;
      return STG_E_CANTSAVE;
    }
    DWORD done = 0;
    if (!::WriteFile(file_, data, size, &done, nullptr)) {
      writeError_ = HResultFromLastError();
      return writeError_;
    }
    written_ += done;
    if (written) *written = done;
    if (done != size) {
      writeError_ = HResultFromWin32(ERROR_WRITE_FAULT);
      return writeError_;
    }
    return S_OK;
  }

  // IStream: enough for a serialiser that only appends; positions are those of the file.
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    LARGE_INTEGER now;
    if (!::SetFilePointerEx(file_, move, &now, origin)) return HResultFromLastError();
    if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    *stat = STATSTG();
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = written_;
    stat->grfMode = STGM_WRITE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~CFileWriteStream() = default;

  std::atomic<ULONG> refs_{1};
  HANDLE file_;
  HRESULT writeError_ = S_OK;
  bool notUtf16_ = false;
  uint8_t head_[2] = {};
  size_t headSize_ = 0;
  uint64_t written_ = 0;
};

HRESULT WriteAll(HANDLE file, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD done = 0;
    RETURN_LAST_ERROR_IF_FALSE(::WriteFile(file, bytes, chunk, &done, nullptr));
    if (done == 0) return HResultFromWin32(ERROR_WRITE_FAULT);
    bytes += done;
    size -= done;
  }
  return S_OK;
}

}  // namespace

// Elements

IXMLDOMNode* CMsXmlElement::GetNode() const { return node_.Get(); }

void CMsXmlElement::Clear() {
  node_.Reset();
  document_ = nullptr;
}

void CMsXmlElement::SetText(const wchar_t* name, const wchar_t* text, size_t length) {
  if (!node_) return;
  CBstr nameText = MakeBstr(name);
  CBstr valueText = MakeBstr(text, length);
  VARIANT value;
  ::VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = valueText.Get();  // still owned by valueText
  const HRESULT hr = node_->setAttribute(nameText.Get(), value);
  if (FAILED(hr) && document_ && SUCCEEDED(document_->setFailure_)) document_->setFailure_ = hr;
}

void CMsXmlElement::SetBool(const wchar_t* name, bool value) {
  const wchar_t* text = value ? L"true" : L"false";
  SetText(name, text, wcslen(text));
}

void CMsXmlElement::SetString(const wchar_t* name, const std::wstring& text) {
  SetText(name, text.data(), text.size());
}

void CMsXmlElement::SetInt32(const wchar_t* name, int32_t value) { SetString(name, std::to_wstring(value)); }

void CMsXmlElement::SetUInt32(const wchar_t* name, uint32_t value) { SetString(name, std::to_wstring(value)); }

void CMsXmlElement::SetUInt64(const wchar_t* name, uint64_t value) {
  SetString(name, std::to_wstring(static_cast<unsigned long long>(value)));
}

void CMsXmlElement::SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) {
  SetString(name, FormatHex(bytes, count));
}

// Document

CMsXmlDocument::CMsXmlDocument(bool initCom) {
  if (!initCom) return;
  comInit_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(comInit_)) {
    // Fails harmlessly when the process already set its security.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_NONE, nullptr);
  }
}

CMsXmlDocument::~CMsXmlDocument() {
  Clear();  // the DOM objects go before the apartment does
  if (comInit_ >= 0) ::CoUninitialize();
}

const wchar_t* CMsXmlDocument::DeclarationData(uint32_t declaration) {
  static const wchar_t* const kForms[] = {
      L"version=\"1.0\" encoding=\"utf-16\"",
      L"version=\"1.0\" encoding=\"utf-8\"",
      L"version=\"1.0\" encoding=\"utf-16\"",
      L"version=\"1.0\"",
  };
  return declaration < sizeof(kForms) / sizeof(kForms[0]) ? kForms[declaration] : nullptr;
}

IXMLDOMNode* CMsXmlDocument::GetNode() const { return dom_.Get(); }

void CMsXmlDocument::Clear() {
  CMsXmlElement::Clear();
  dom_.Reset();
}

HRESULT CMsXmlDocument::Create(uint32_t declaration, bool useVersion6) {
  Clear();
  setFailure_ = S_OK;
  const wchar_t* data = DeclarationData(declaration);
  if (!data) return E_INVALIDARG;
  declaration_ = declaration;

  CLSID clsid;
  RETURN_IF_FAILED(::CLSIDFromProgID(useVersion6 ? L"Msxml2.DOMDocument.6.0" : L"Msxml2.DOMDocument.3.0", &clsid));
  CComPtr<IXMLDOMDocument> dom;
  RETURN_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IXMLDOMDocument, dom.PutVoid()));

  CComPtr<IXMLDOMProcessingInstruction> instruction;
  CBstr target = MakeBstr(L"xml");
  CBstr text = MakeBstr(data);
  RETURN_IF_FAILED(dom->createProcessingInstruction(target.Get(), text.Get(), instruction.Put()));
  CComPtr<IXMLDOMNode> appended;
  RETURN_IF_FAILED(dom->appendChild(instruction.Get(), appended.Put()));

  dom_ = std::move(dom);
  document_ = this;
  return S_OK;
}

HRESULT CMsXmlDocument::CreateChild(CMsXmlElement& parent, const wchar_t* name, CMsXmlElement* element) {
  element->Clear();
  IXMLDOMNode* parentNode = parent.GetNode();
  CMsXmlDocument* document = parent.document_;
  if (!parentNode || !document || !document->dom_) return E_POINTER;

  CComPtr<IXMLDOMElement> node;
  CBstr nameText = MakeBstr(name);
  RETURN_IF_FAILED(document->dom_->createElement(nameText.Get(), node.Put()));
  CComPtr<IXMLDOMNode> appended;
  RETURN_IF_FAILED(parentNode->appendChild(node.Get(), appended.Put()));

  element->node_ = std::move(node);
  element->document_ = document;
  return S_OK;
}

HRESULT CMsXmlDocument::GetXml(std::wstring* xml) const {
  if (!dom_) return E_FAIL;
  CBstr text;
  RETURN_IF_FAILED(dom_->get_xml(text.Put()));
  xml->assign(text.Get() ? text.Get() : L"", text.Length());
  return S_OK;
}

HRESULT CMsXmlDocument::WriteXmlText(HANDLE file) const {
  CBstr text;
  RETURN_IF_FAILED(dom_->get_xml(text.Put()));
  static const uint8_t kByteOrderMark[] = {0xFF, 0xFE};
  RETURN_IF_FAILED(WriteAll(file, kByteOrderMark, sizeof(kByteOrderMark)));
  return WriteAll(file, text.Get(), static_cast<size_t>(text.Length()) * sizeof(wchar_t));
}

HRESULT CMsXmlDocument::Save(const std::wstring& path) {
  if (!dom_) return E_FAIL;
  return WriteFileReplacing(path, [this](HANDLE file) -> HRESULT {
    CComPtr<CFileWriteStream> stream(new CFileWriteStream(file));
    VARIANT destination;
    ::VariantInit(&destination);
    destination.vt = VT_UNKNOWN;
    destination.punkVal = static_cast<IStream*>(stream.Get());  // still owned by `stream`
    const HRESULT hr = dom_->save(destination);
    if (FAILED(stream->WriteError())) return stream->WriteError();
    if (!stream->NotUtf16()) {
      if (FAILED(hr)) return hr;
      if (stream->BytesWritten() >= 2) return S_OK;
    }

    // The DOM serialised in another encoding: start again with its text as UTF-16.
    LARGE_INTEGER start = {};
    RETURN_LAST_ERROR_IF_FALSE(::SetFilePointerEx(file, start, nullptr, FILE_BEGIN));
    RETURN_LAST_ERROR_IF_FALSE(::SetEndOfFile(file));
    return WriteXmlText(file);
  });
}

HRESULT WriteFileReplacing(const std::wstring& path, const std::function<HRESULT(HANDLE file)>& write) {
  // A name of its own beside the target, so the final move stays within one volume and folder.
  static std::atomic<unsigned> counter{0};
  std::wstring temporary;
  CFileHandle file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    wchar_t suffix[48];
    std::swprintf(suffix, 48, L".%lx-%x.tmp", static_cast<unsigned long>(::GetCurrentProcessId()), counter++);
    temporary = path + suffix;
    file.Reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS) return HResultFromLastError();
  }
  if (!file) return HResultFromWin32(ERROR_FILE_EXISTS);

  HRESULT hr = S_OK;
  try {
    hr = write(file.Get());
  } catch (...) {
    // Out of memory in the string layer, say: no temporary file stays behind either way.
    file.Reset();
    ::DeleteFileW(temporary.c_str());
    throw;
  }
  if (SUCCEEDED(hr) && !::FlushFileBuffers(file.Get())) hr = HResultFromLastError();
  file.Reset();
  if (SUCCEEDED(hr) &&
      !::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    hr = HResultFromLastError();
  if (FAILED(hr)) {
    ::DeleteFileW(temporary.c_str());
    return hr;
  }
  return S_OK;
}

}  // namespace kal
