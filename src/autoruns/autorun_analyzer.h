// The analyzer context of one examined user: the four registry views the autorun catalogue reads
// through, the current control set, and the record that every finding is reported with.
#pragma once

#include <cstdint>
#include <string>

#include "collect/hive_parser.h"
#include "support/bitness.h"
#include "support/win.h"

namespace kal {

struct AutorunRecord {
  int32_t category = 0;
  std::wstring location;   // the report's Where
  std::wstring itemKey;    // location + "\" + value or subkey name (HKU\<sid>... for the user)
  std::wstring entryName;  // "n/a" when reported empty
  std::wstring filePath;   // empty: nothing to scan
  std::wstring entryData;  // the text as read
};

// Where the four views are rooted; tests bind them to a private key.
struct HiveBindings {
  HKEY systemRoot = HKEY_LOCAL_MACHINE;
  std::wstring systemPrefix = L"System";
  HKEY softwareRoot = HKEY_LOCAL_MACHINE;
  std::wstring softwarePrefix = L"Software";
  HKEY userRoot = HKEY_USERS;
  std::wstring userPrefix;     // the user's SID when empty
  std::wstring classesPrefix;  // userPrefix + "\Software\Classes" when empty
  bool twoViews = IsSystem64Bit();  // a 64-bit system keeps a native and a 32-bit view
};

class CAutorunAnalyzer {
 public:
  CAutorunAnalyzer();  // fills the path context
  CAutorunAnalyzer(const CAutorunAnalyzer&) = delete;
  CAutorunAnalyzer& operator=(const CAutorunAnalyzer&) = delete;
  virtual ~CAutorunAnalyzer();  // releases the shared shell-link object

  // E_INVALIDARG for an empty SID; otherwise binds the views and reads the current control set.
  HRESULT Init(const std::wstring& machineName, const std::wstring& userSid);
  HRESULT Init(const std::wstring& machineName, const std::wstring& userSid, const HiveBindings& bindings);

  // Runs the analyzer of one category (0-16); E_INVALIDARG for any other code.
  HRESULT RunCategory(uint32_t code);

  // "n/a" for an empty name, then OnAutorunFound.
  void Report(AutorunRecord& record);
  virtual void OnAutorunFound(const AutorunRecord& record) = 0;

  const CHiveParser& System() const { return system_; }
  // The SOFTWARE view in use: the native one unless a location is read in the 32-bit view.
  const CHiveParser& Software() const { return *software_; }
  const CHiveParser& User() const { return user_; }
  const CHiveParser& Classes() const { return classes_; }

  bool TwoViews() const { return twoViews_; }
  // Selects the SOFTWARE view for the locations that follow (32-bit when `wow32`).
  void UseSoftwareView(bool wow32) { software_ = wow32 ? &software32_ : &softwareNative_; }

  std::wstring machineName;
  std::wstring userSid;
  // "\ControlSet%03u" of HKLM\System\Select\Current, or "\CurrentControlSet" when that set is
  // missing (so the system-hive locations are never read from a key that does not exist).
  std::wstring controlSetPath;
  bool cancelled = false;

 private:
  CHiveParser system_;
  CHiveParser softwareNative_;
  CHiveParser software32_;
  CHiveParser user_;
  CHiveParser classes_;
  const CHiveParser* software_ = &softwareNative_;
  bool twoViews_ = false;
};

}  // namespace kal
