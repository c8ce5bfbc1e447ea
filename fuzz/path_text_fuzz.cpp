// Fuzzes the autorun path text steps over arbitrary UTF-16 text: tokenising must consume the
// text and give tokens free of separators, and resolution must never read outside its strings.
// The made-up machine answers "file" for paths whose length is odd, so both search paths run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "autoruns/path_text.h"

namespace {

class CFuzzMachine : public kal::IPathEnvironment {
 public:
  CFuzzMachine() { devices_[2] = L"\\Device\\HarddiskVolume1"; }
  const std::wstring& WindowsDir() const override { return windows_; }
  const std::wstring& DriveDevice(int index) const override { return devices_[index]; }
  bool IsFile(const std::wstring& path) const override { return path.size() % 7 == 3; }
  bool Expand(const std::wstring& text, std::wstring* out) const override {
    if (text.find(L'%') == std::wstring::npos) return false;
    *out = text + text;
    return true;
  }
  bool LongForm(const std::wstring&, std::wstring*) const override { return false; }

 private:
  std::wstring windows_ = L"C:\\Windows";
  std::wstring devices_[26];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));

  for (bool quoteAware : {false, true}) {
    std::wstring rest = text;
    size_t rounds = 0;
    for (std::wstring token = kal::NextToken(&rest, L" ,", quoteAware); !token.empty();
         token = kal::NextToken(&rest, L" ,", quoteAware)) {
      // Without quotes a token never holds a separator; a quoted one may.
      if (!quoteAware && token.find_first_of(L" ,") != std::wstring::npos) std::abort();
      if (++rounds > text.size()) std::abort();  // every token consumes text
    }
    if (!rest.empty()) std::abort();
  }
  kal::FileNameOf(text, true);
  kal::IsGuidString(text);
  const CFuzzMachine machine;
  const std::wstring resolved = kal::ResolvePathText(text, machine);
  if (!resolved.empty() && resolved[0] >= L'a' && resolved[0] <= L'z') std::abort();
  kal::ToSysWow64In(resolved, machine.WindowsDir());
  return 0;
}
