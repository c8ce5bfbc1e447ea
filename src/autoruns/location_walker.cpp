// The catalogue walker: display paths to views and keys, the five reading shapes and the rules.
#include "autoruns/location_walker.h"

#include <vector>

#include "autoruns/path_resolution.h"

namespace kal {
namespace {

enum class Root { System, Software, Classes, User };

struct RootRule {
  const wchar_t* start;
  Root root;
};

// Longest first: the user's classes before the rest of HKCU.
const RootRule kRoots[] = {
    {L"HKLM\\System\\CurrentControlSet", Root::System},
    {L"HKLM\\Software", Root::Software},
    {L"HKCU\\Software\\Classes", Root::Classes},
    {L"HKCU", Root::User},
};

const CHiveParser& ViewOf(const CAutorunAnalyzer& analyzer, Root root) {
  switch (root) {
    case Root::System: return analyzer.System();
    case Root::Software: return analyzer.Software();
    case Root::Classes: return analyzer.Classes();
    case Root::User: break;
  }
  return analyzer.User();
}

bool PassesTypes(Types types, DWORD type) {
  switch (types) {
    case Types::Sz: return type == REG_SZ;
    case Types::SzEx: return type == REG_SZ || type == REG_EXPAND_SZ;
    case Types::Any: break;
  }
  return true;
}

void NameFromFile(NameFrom name, AutorunRecord& record) {
  if (name == NameFrom::File) record.entryName = FileNameOf(record.filePath, false);
  if (name == NameFrom::FileBase) record.entryName = FileNameOf(record.filePath, true);
}

// One entry: the rule, the name rule, the report.
void Emit(CAutorunAnalyzer& analyzer, const Location& location, const LocationRow& row, AutorunRecord& record,
          const std::wstring& itemName) {
  record.itemKey = ItemKey(analyzer, location, itemName);
  record.filePath.clear();
  if (!ApplyRule(analyzer, location, row.rule, row.from, record)) return;
  NameFromFile(row.name, record);
  analyzer.Report(record);
}

void WalkLocation(CAutorunAnalyzer& analyzer, const Location& location, const LocationRow& row,
                  AutorunRecord& record) {
  const CHiveParser& view = *location.view;
  const wchar_t* valueName = location.valueName.c_str();
  switch (row.shape) {
    case Shape::Value: {
      std::wstring text;
      if (view.ReadString(location.key, valueName, &text) != ERROR_SUCCESS || text.empty()) return;
      record.entryName = location.valueName;
      record.entryData = text;
      Emit(analyzer, location, row, record, location.valueName);
      return;
    }
    case Shape::List: {
      std::wstring rest;
      if (view.ReadString(location.key, valueName, &rest) != ERROR_SUCCESS) return;
      for (;;) {
        if (analyzer.cancelled) return;
        std::wstring token = NextToken(&rest, L" ,", false);
        if (token.empty()) return;
        record.entryName = location.valueName;
        record.entryData = std::move(token);
        Emit(analyzer, location, row, record, location.valueName);
      }
    }
    case Shape::Multi: {
      std::vector<std::wstring> list;
      if (view.ReadStringList(location.key, valueName, &list) != ERROR_SUCCESS) return;
      for (std::wstring& element : list) {
        if (analyzer.cancelled) return;
        record.entryName = location.valueName;
        record.entryData = std::move(element);
        Emit(analyzer, location, row, record, location.valueName);
      }
      return;
    }
    case Shape::Values: {
      std::vector<HiveValue> values;
      if (view.EnumValues(location.key, &values) != ERROR_SUCCESS) return;
      for (const HiveValue& value : values) {
        if (analyzer.cancelled) return;
        if (value.Name.empty() || !PassesTypes(row.types, value.Type)) continue;
        record.entryName = value.Name;
        record.entryData = RegistryText(value.Data.data(), value.Data.size());
        Emit(analyzer, location, row, record, value.Name);
      }
      return;
    }
    case Shape::Subkeys: {
      std::vector<std::wstring> names;
      if (view.EnumSubkeys(location.key, &names) != ERROR_SUCCESS) return;
      for (const std::wstring& name : names) {
        if (analyzer.cancelled) return;
        std::wstring data;
        if (row.arg && view.ReadString(location.key + L"\\" + name, *row.arg ? row.arg : nullptr, &data) != ERROR_SUCCESS)
          continue;
        record.entryName = name;
        record.entryData = std::move(data);
        Emit(analyzer, location, row, record, name);
      }
      return;
    }
    case Shape::Default: {
      std::wstring text;
      if (view.ReadString(location.key, nullptr, &text) != ERROR_SUCCESS) return;
      const std::wstring usual = row.arg ? row.arg : L"";
      if (row.rule == Rule::DiffersExact ? text == usual : EqualsNoCase(text, usual)) return;
      record.entryName = text;
      record.entryData = text;
      record.itemKey = location.where;
      record.filePath.clear();
      analyzer.Report(record);
      return;
    }
    case Shape::Special:
      row.handler(analyzer, location, record);
      return;
  }
}

void ReadOneForm(CAutorunAnalyzer& analyzer, int32_t category, const LocationRow& row, const std::wstring& where) {
  const bool namedValue = row.shape == Shape::Value || row.shape == Shape::List || row.shape == Shape::Multi ||
                          (row.shape == Shape::Special && row.arg);
  const bool software = StartsWithNoCase(where, L"HKLM\\Software");
  const int passes = software && analyzer.TwoViews() ? 2 : 1;
  for (int pass = 0; pass < passes && !analyzer.cancelled; ++pass) {
    analyzer.UseSoftwareView(pass == 1);
    const std::wstring shown = pass == 1 ? Wow6432Where(where) : where;
    Location location;
    AutorunRecord record;
    record.category = category;
    if (!ResolveLocation(analyzer, where, namedValue, &location)) {
      if (row.shape != Shape::Special) continue;
      location.view = &analyzer.Software();
    }
    location.where = shown;
    record.location = shown;
    WalkLocation(analyzer, location, row, record);
  }
  analyzer.UseSoftwareView(false);
}

}  // namespace

std::wstring Wow6432Where(const std::wstring& where) {
  const size_t split = sizeof("HKLM\\Software") - 1;
  return where.substr(0, split) + L"\\Wow6432Node" + where.substr(split);
}

bool ResolveLocation(const CAutorunAnalyzer& analyzer, const std::wstring& where, bool namedValue, Location* out) {
  for (const RootRule& rule : kRoots) {
    const std::wstring start = rule.start;
    if (!StartsWithNoCase(where, start)) continue;
    if (where.size() > start.size() && where[start.size()] != L'\\') continue;
    std::wstring key = where.substr(start.size());
    if (rule.root == Root::System) key = analyzer.controlSetPath + key;
    if (namedValue) {
      const size_t slash = key.rfind(L'\\');
      if (slash == std::wstring::npos) return false;
      out->valueName = key.substr(slash + 1);
      key.erase(slash);
    }
    out->view = &ViewOf(analyzer, rule.root);
    out->key = std::move(key);
    out->where = where;
    out->user = rule.root == Root::User || rule.root == Root::Classes;
    return true;
  }
  return false;
}

void WalkRow(CAutorunAnalyzer& analyzer, int32_t category, const LocationRow& row) {
  const std::wstring where = row.where;
  ReadOneForm(analyzer, category, row, where);
  if (row.pair && !analyzer.cancelled) ReadOneForm(analyzer, category, row, L"HKCU" + where.substr(4));
}

std::wstring ItemKey(const CAutorunAnalyzer& analyzer, const Location& location, const std::wstring& name) {
  const std::wstring base = location.user ? L"HKU\\" + analyzer.userSid + location.where.substr(4) : location.where;
  return name.empty() ? base : base + L"\\" + name;
}

std::wstring ApplyClsid(CAutorunAnalyzer& analyzer, const std::wstring& clsid, AutorunRecord& record, bool wow64) {
  const std::wstring name = ResolveClsid(analyzer, clsid, &record.filePath, wow64);
  record.entryName = name;
  record.entryData = (wow64 ? L"HKCR\\Wow6432Node\\CLSID\\" : L"HKCR\\CLSID\\") + clsid;
  return name;
}

bool ApplyRule(CAutorunAnalyzer& analyzer, const Location& location, Rule rule, ClsFrom from, AutorunRecord& record) {
  switch (rule) {
    case Rule::Path: record.filePath = ResolveFilePath(record.entryData); return true;
    case Rule::Rundll32: record.filePath = ResolveRundll32Command(record.entryData); return true;
    case Rule::PathDll: record.filePath = ResolveFilePath(record.entryData + L".dll"); return true;
    case Rule::Autocheck: {
      const std::wstring& data = record.entryData;
      record.filePath = ResolveFilePath(StartsWithNoCase(data, L"autocheck ") ? data.substr(10) : data);
      return true;
    }
    case Rule::Clsid:
    case Rule::ClsidNamed: {
      const std::wstring clsid = from == ClsFrom::Name ? record.entryName : record.entryData;
      return !ApplyClsid(analyzer, clsid, record).empty() || rule == Rule::Clsid;
    }
    case Rule::ShellHandler: {
      const std::wstring subkey = record.entryName;
      if (IsGuidString(subkey)) {
        ApplyClsid(analyzer, subkey, record);
        return true;
      }
      std::wstring clsid;
      if (location.view->ReadString(location.key + L"\\" + subkey, nullptr, &clsid) != ERROR_SUCCESS) return false;
      ApplyClsid(analyzer, clsid, record);
      record.entryName = subkey;
      return true;
    }
    case Rule::GuidSubkey:
    case Rule::GuidInstance: {
      const std::wstring subkey = record.entryName;
      if (!IsGuidString(subkey)) return false;
      const std::wstring name = ApplyClsid(analyzer, subkey, record);
      if (rule == Rule::GuidInstance && name.empty() && !record.filePath.empty()) record.entryName = subkey;
      return true;
    }
    case Rule::DiffersExact:
    case Rule::DiffersNoCase:
    case Rule::None: return true;
  }
  return true;
}

}  // namespace kal
