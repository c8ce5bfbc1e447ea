// The stream writer of the report. Its output is byte for byte what the MSXML document saves on
// this platform: double-quoted attributes, & < > " escaped as entities and TAB, LF, CR as character
// references (so that a reader gets them back unchanged), empty elements as "<Name/>".
#include "report/report_stream.h"

#include <cwchar>

#include "report/msxml_document.h"
#include "report/report_format.h"
#include "support/hresult.h"

namespace kal {
namespace {

// 256 KB of text between two writes.
constexpr size_t kBufferUnits = 128 * 1024;

struct Escape {
  wchar_t character;
  const wchar_t* replacement;
};

const Escape kEscapes[] = {
    {L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"},
    {L'\t', L"&#9;"}, {L'\n', L"&#10;"}, {L'\r', L"&#13;"},
};

const wchar_t* Replacement(wchar_t c) {
  // Everything the table holds is below '?': one comparison keeps the common path short.
  if (c > L'>') return nullptr;
  for (const Escape& escape : kEscapes)
    if (escape.character == c) return escape.replacement;
  return nullptr;
}

}  // namespace

CReportStream::CReportStream(HANDLE file) : file_(file), buffer_(kBufferUnits) {}

void CReportStream::Flush() {
  if (used_ == 0 || FAILED(writeError_)) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer_.data());
  size_t size = used_ * sizeof(wchar_t);
  used_ = 0;
  while (size > 0) {
    DWORD done = 0;
    if (!::WriteFile(file_, bytes, static_cast<DWORD>(size), &done, nullptr)) {
      writeError_ = HResultFromLastError();
      return;
    }
    if (done == 0) {
      writeError_ = HResultFromWin32(ERROR_WRITE_FAULT);
      return;
    }
    bytes += done;
    size -= done;
  }
}

void CReportStream::Put(const wchar_t* text, size_t length) {
  while (length > 0) {
    if (used_ == buffer_.size()) Flush();
    if (FAILED(writeError_)) return;
    const size_t room = buffer_.size() - used_;
    const size_t chunk = length < room ? length : room;
    wmemcpy(buffer_.data() + used_, text, chunk);
    used_ += chunk;
    text += chunk;
    length -= chunk;
  }
}

void CReportStream::Put(const wchar_t* text) { Put(text, wcslen(text)); }

void CReportStream::PutName(const wchar_t* name) {
  Put(L" ");
  Put(name);
  Put(L"=\"");
}

void CReportStream::PutEscaped(const wchar_t* text, size_t length) {
  size_t run = 0;  // start of the characters not yet put that need no escaping
  for (size_t i = 0; i < length; ++i) {
    if (const wchar_t* replacement = Replacement(text[i])) {
      Put(text + run, i - run);
      Put(replacement);
      run = i + 1;
    }
  }
  Put(text + run, length - run);
}

HRESULT CReportStream::Start() {
  // FF FE is U+FEFF in UTF-16LE.
  static const wchar_t kByteOrderMark = 0xFEFF;
  Put(&kByteOrderMark, 1);
  Put(L"<?xml ");
  Put(CMsXmlDocument::DeclarationData(0));
  Put(L"?>\n");
  return writeError_;
}

HRESULT CReportStream::Finish() {
  if (!open_.empty()) return E_UNEXPECTED;
  Put(L"\n");
  Flush();
  return writeError_;
}

void CReportStream::CloseStartTag() {
  if (startTagOpen_) Put(L">");
  startTagOpen_ = false;
}

HRESULT CReportStream::Begin(const wchar_t* name) {
  CloseStartTag();
  Put(L"<");
  Put(name);
  open_.push_back(name);
  startTagOpen_ = true;
  return writeError_;
}

HRESULT CReportStream::End() {
  if (open_.empty()) return E_UNEXPECTED;
  if (startTagOpen_) {
    Put(L"/>");
    startTagOpen_ = false;
  } else {
    Put(L"</");
    Put(open_.back());
    Put(L">");
  }
  open_.pop_back();
  return writeError_;
}

void CReportStream::SetRaw(const wchar_t* name, const std::wstring& text) {
  PutName(name);
  Put(text.data(), text.size());
  Put(L"\"");
}

void CReportStream::SetString(const wchar_t* name, const std::wstring& text) {
  PutName(name);
  PutEscaped(text.data(), text.size());
  Put(L"\"");
}

void CReportStream::SetBool(const wchar_t* name, bool value) {
  PutName(name);
  Put(value ? L"true\"" : L"false\"");
}

void CReportStream::SetInt32(const wchar_t* name, int32_t value) { SetRaw(name, std::to_wstring(value)); }

void CReportStream::SetUInt32(const wchar_t* name, uint32_t value) { SetRaw(name, std::to_wstring(value)); }

void CReportStream::SetUInt64(const wchar_t* name, uint64_t value) {
  SetRaw(name, std::to_wstring(static_cast<unsigned long long>(value)));
}

void CReportStream::SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) {
  SetRaw(name, FormatHex(bytes, count));
}

HRESULT StreamReportFile(const std::wstring& path, const std::function<HRESULT(CReportStream& stream)>& write) {
  return WriteFileReplacing(path, [&write](HANDLE file) -> HRESULT {
    CReportStream stream(file);
    RETURN_IF_FAILED(stream.Start());
    RETURN_IF_FAILED(write(stream));
    return stream.Finish();
  });
}

}  // namespace kal
