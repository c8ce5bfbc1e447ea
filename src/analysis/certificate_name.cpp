// Certificate names through CertGetNameStringW, sized by a first call.
#include "analysis/certificate_name.h"

#include <vector>

namespace kal::cryptography {

std::wstring CertificateName(PCCERT_CONTEXT certificate, DWORD type, DWORD flags) {
  if (certificate == nullptr) return std::wstring();
  // The count includes the terminator; 1 means an empty name.
  const DWORD count = ::CertGetNameStringW(certificate, type, flags, nullptr, nullptr, 0);
  if (count <= 1) return std::wstring();
  std::vector<wchar_t> name(count);
  const DWORD written = ::CertGetNameStringW(certificate, type, flags, nullptr, name.data(), count);
  if (written <= 1) return std::wstring();
  return std::wstring(name.data(), written - 1);
}

}  // namespace kal::cryptography
