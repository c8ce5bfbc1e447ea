// The report written as it is walked: the same bytes the MSXML document saves (FF FE, UTF-16LE,
// the declaration and a line break, the tree without indentation, a final line break), produced
// straight into the file through a buffer, so that no report is too large to write.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report/report_sink.h"

namespace kal {

class CReportStream final : public IReportSink {
 public:
  // Writes to `file` (not owned), which must stay open until Finish.
  explicit CReportStream(HANDLE file);
  CReportStream(const CReportStream&) = delete;
  CReportStream& operator=(const CReportStream&) = delete;

  // The byte-order mark and the declaration 'version="1.0" encoding="utf-16"'.
  HRESULT Start();
  // The line break after the root element, then whatever the buffer holds.
  HRESULT Finish();
  // The first failure to write the file, S_OK while there is none. Every later call of the sink
  // then does nothing, and Begin, End and Finish return it.
  HRESULT WriteError() const { return writeError_; }

  HRESULT Begin(const wchar_t* name) override;
  HRESULT End() override;
  void SetBool(const wchar_t* name, bool value) override;
  void SetString(const wchar_t* name, const std::wstring& text) override;
  void SetInt32(const wchar_t* name, int32_t value) override;
  void SetUInt32(const wchar_t* name, uint32_t value) override;
  void SetUInt64(const wchar_t* name, uint64_t value) override;
  void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) override;

 private:
  void Put(const wchar_t* text, size_t length);
  void Put(const wchar_t* text);
  void PutName(const wchar_t* name);  // ' name="'
  void PutEscaped(const wchar_t* text, size_t length);
  void SetRaw(const wchar_t* name, const std::wstring& text);  // text that needs no escaping
  void CloseStartTag();
  void Flush();

  HANDLE file_;
  std::vector<wchar_t> buffer_;
  size_t used_ = 0;
  std::vector<const wchar_t*> open_;  // names of the open elements, innermost last
  bool startTagOpen_ = false;         // "<Name attributes" written, ">" or "/>" not yet
  HRESULT writeError_ = S_OK;
};

// Streams the report that `write` puts into the stream to `path`, all or nothing: into a new
// temporary file beside it that replaces `path` only when `write`, Finish and the flush succeeded.
// Returns the first failure (of `write` or of the file).
HRESULT StreamReportFile(const std::wstring& path, const std::function<HRESULT(CReportStream& stream)>& write);

}  // namespace kal
