// What the report tree is written into: elements opened and closed in document order, each with
// its typed attributes set right after it is opened. The MSXML document and the file stream both
// take the report through this one interface, so the tree is described once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/win.h"

namespace kal {

class IReportSink {
 public:
  virtual ~IReportSink() = default;

  // Opens `name` as the last child of the open element (the document at first); its attributes
  // follow, before any child; `name` stays valid until its End. End closes the element opened
  // last. After a failure the sink holds no report and is only destroyed.
  virtual HRESULT Begin(const wchar_t* name) = 0;
  virtual HRESULT End() = 0;

  // Attributes of the element opened last, in the order the file shows them; value forms as in
  // the MSXML wrapper (decimal, upper-case hexadecimal, "true"/"false", text unchanged).
  virtual void SetBool(const wchar_t* name, bool value) = 0;
  virtual void SetString(const wchar_t* name, const std::wstring& text) = 0;
  virtual void SetInt32(const wchar_t* name, int32_t value) = 0;
  virtual void SetUInt32(const wchar_t* name, uint32_t value) = 0;
  virtual void SetUInt64(const wchar_t* name, uint64_t value) = 0;
  virtual void SetHex(const wchar_t* name, const uint8_t* bytes, size_t count) = 0;
};

}  // namespace kal
