// Autorun fixtures the end-to-end tests can't write from outside Wine:
//   e2e_autorun_fixture.exe shortcut <lnk path> <target>   a shell shortcut
#include <shobjidl.h>

#include <cwchar>

#include "support/com.h"

namespace {

HRESULT Shortcut(const wchar_t* lnk, const wchar_t* target) {
  kal::CComPtr<IShellLinkW> link;
  kal::CComPtr<IPersistFile> file;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid());
  if (SUCCEEDED(hr)) hr = link->SetPath(target);
  if (SUCCEEDED(hr)) hr = link.As(&file);
  if (SUCCEEDED(hr)) hr = file->Save(lnk, TRUE);
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  kal::CComInit com;
  if (FAILED(com.Initialize(COINIT_APARTMENTTHREADED))) return 3;
  const HRESULT hr = argc == 4 && std::wcscmp(argv[1], L"shortcut") == 0 ? Shortcut(argv[2], argv[3]) : E_INVALIDARG;
  return SUCCEEDED(hr) ? 0 : 1;
}
