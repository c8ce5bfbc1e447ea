// The drivers phase: the system's module table (information class 11) read into one 1 MiB buffer.
#include "collect/driver_collector.h"

#include <cstring>

#include "collect/module_path.h"
#include "collect/privilege.h"
#include "support/handles.h"
#include "support/hresult.h"

namespace kal {
namespace {

constexpr ULONG kSystemModuleInformation = 11;
constexpr size_t kTableBufferSize = 0x100000;
constexpr size_t kNameSize = 256;

using ZwQuerySystemInformationFn = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

std::wstring AnsiToWide(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

}  // namespace

std::vector<std::string> ParseDriverTable(const uint8_t* table, size_t size, const DriverTableLayout& layout) {
  std::vector<std::string> names;
  if (size < layout.firstRecord) return names;
  uint32_t count = 0;
  std::memcpy(&count, table, 4);
  const size_t fits = (size - layout.firstRecord) / layout.recordSize;
  const size_t records = count < fits ? count : fits;
  for (size_t i = 0; i < records; ++i) {
    const char* name =
        reinterpret_cast<const char*>(table + layout.firstRecord + i * layout.recordSize + layout.nameOffset);
    const size_t length = ::strnlen(name, kNameSize);
    if (length != 0) names.emplace_back(name, length);
  }
  return names;
}

HRESULT RecordDrivers(CRunContext& run, CScanItems& items, const std::vector<std::string>& ansiNames) {
  for (const std::string& ansi : ansiNames) {
    RETURN_IF_FAILED(run.Checkpoint());
    const std::wstring path = NormalizeModulePath(AnsiToWide(ansi));
    uint32_t id = 0;
    RETURN_IF_FAILED(items.AddModule(path, &id));
    items.PutDriver(path, id);
  }
  return S_OK;
}

HRESULT CollectDrivers(CRunContext& run, CScanItems& items) {
  run.EnterPhase(kPhaseDrivers);
  {
    CToken self;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, self.Put()))
      EnablePrivilege(self.Get(), SE_DEBUG_NAME, true);
  }
  CLibrary ntdll(::LoadLibraryW(L"ntdll.dll"));
  if (!ntdll) return E_FAIL;
  const auto query = reinterpret_cast<ZwQuerySystemInformationFn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll.Get(), "ZwQuerySystemInformation")));
  if (!query) return E_FAIL;

  std::vector<uint8_t> table(kTableBufferSize, 0);
  ULONG returned = 0;
  // A failed query, a table larger than the buffer included, yields no drivers and no error.
  if (query(kSystemModuleInformation, table.data(), static_cast<ULONG>(table.size()), &returned) < 0) return S_OK;
  return RecordDrivers(run, items, ParseDriverTable(table.data(), table.size()));
}

}  // namespace kal
