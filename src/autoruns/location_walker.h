// One row of the autorun catalogue and the small walker that reads it: where a location is, how
// it is read (its shape) and how an entry becomes a file path (its rule). Locations that need
// more than a shape and a rule name a handler instead.
#pragma once

#include <string>

#include "autoruns/autorun_analyzer.h"

namespace kal {

enum class Shape : uint8_t {
  Value,    // one named value (the last part of the display path)
  List,     // one named value cut into tokens at spaces and commas
  Multi,    // one named value read as a string list
  Values,   // every named value of the key whose type passes
  Subkeys,  // every subkey, with one value read in each (or none)
  Default,  // the key's default value, compared with its usual text
  Special,  // a named handler reads the location
};

enum class Types : uint8_t { Sz, SzEx, Any };

enum class Rule : uint8_t {
  Path,           // ResolveFilePath(data)
  Rundll32,       // ResolveRundll32Command(data)
  PathDll,        // ResolveFilePath(data + ".dll")
  Autocheck,      // "autocheck " dropped, then Path
  Clsid,          // the class's server; the name becomes the class name
  ClsidNamed,     // as Clsid, only classes that have a name
  ShellHandler,   // a GUID subkey or a subkey naming a class in its default value
  GuidSubkey,     // GUID-named subkeys only, as Clsid
  GuidInstance,   // as GuidSubkey; a nameless class with a file keeps the subkey name
  DiffersExact,   // no file; reported when the value differs from the usual one
  DiffersNoCase,  // the same, compared without case
  None,           // no file
};

enum class ClsFrom : uint8_t { Name, Data };       // which text names the class
enum class NameFrom : uint8_t { Entry, File, FileBase };  // entryName as read, or the file's name

struct Location {
  std::wstring where;               // the report's Where
  const CHiveParser* view = nullptr;
  std::wstring key;                 // the key read, relative to the view
  std::wstring valueName;           // for the one-value shapes
  bool user = false;                // an HKCU location
};

struct LocationRow;
using LocationHandler = void (*)(CAutorunAnalyzer&, const Location&, AutorunRecord&);

struct LocationRow {
  const wchar_t* where;
  Shape shape;
  Rule rule;
  const wchar_t* arg;  // Subkeys: value read per subkey (L"" the default, null none); Default: the usual
                       // text; Special: set when the path ends in a value name
  Types types;
  ClsFrom from;
  NameFrom name;
  bool pair;           // also the HKCU form of an HKLM path
  LocationHandler handler;

  constexpr LocationRow Pair() const {
    LocationRow r = *this;
    r.pair = true;
    return r;
  }
  constexpr LocationRow Named(NameFrom n) const {
    LocationRow r = *this;
    r.name = n;
    return r;
  }
  constexpr LocationRow From(ClsFrom f) const {
    LocationRow r = *this;
    r.from = f;
    return r;
  }
};

constexpr LocationRow ValueRow(const wchar_t* where, Rule rule = Rule::Path) {
  return {where, Shape::Value, rule, nullptr, Types::Any, ClsFrom::Data, NameFrom::Entry, false, nullptr};
}
constexpr LocationRow ListRow(const wchar_t* where, Rule rule = Rule::Path) {
  return {where, Shape::List, rule, nullptr, Types::Any, ClsFrom::Data, NameFrom::Entry, false, nullptr};
}
constexpr LocationRow MultiRow(const wchar_t* where, Rule rule = Rule::Path) {
  return {where, Shape::Multi, rule, nullptr, Types::Any, ClsFrom::Data, NameFrom::Entry, false, nullptr};
}
constexpr LocationRow ValuesRow(const wchar_t* where, Types types, Rule rule = Rule::Path) {
  return {where, Shape::Values, rule, nullptr, types, ClsFrom::Name, NameFrom::Entry, false, nullptr};
}
constexpr LocationRow SubkeysRow(const wchar_t* where, const wchar_t* value, Rule rule = Rule::Path) {
  return {where, Shape::Subkeys, rule, value, Types::Any, value ? ClsFrom::Data : ClsFrom::Name, NameFrom::Entry, false,
          nullptr};
}
constexpr LocationRow DefaultRow(const wchar_t* where, const wchar_t* usual, Rule rule) {
  return {where, Shape::Default, rule, usual, Types::Any, ClsFrom::Data, NameFrom::Entry, false, nullptr};
}
constexpr LocationRow SpecialRow(const wchar_t* where, LocationHandler handler) {
  return {where, Shape::Special, Rule::None, nullptr, Types::Any, ClsFrom::Data, NameFrom::Entry, false, handler};
}
// A handler for one named value: the last part of the display path names it (arg is set).
constexpr LocationRow SpecialValueRow(const wchar_t* where, LocationHandler handler) {
  return {where, Shape::Special, Rule::None, L"", Types::Any, ClsFrom::Data, NameFrom::Entry, false, handler};
}

// The view, key and value name of a display path; false for a path under no known root.
bool ResolveLocation(const CAutorunAnalyzer& analyzer, const std::wstring& where, bool namedValue, Location* out);

// The display path of a SOFTWARE location read in the 32-bit view: "Wow6432Node" after
// "HKLM\Software".
std::wstring Wow6432Where(const std::wstring& where);

// Reads one row: the HKLM form (in both views of a 64-bit system for SOFTWARE), then for a pair
// its HKCU form.
void WalkRow(CAutorunAnalyzer& analyzer, int32_t category, const LocationRow& row);

// Applies a rule to a record whose entryName and entryData are set; false when the entry is not
// to be reported.
bool ApplyRule(CAutorunAnalyzer& analyzer, const Location& location, Rule rule, ClsFrom from, AutorunRecord& record);

// The exact item: location + "\" + name, with HKU\<sid> for a user location.
std::wstring ItemKey(const CAutorunAnalyzer& analyzer, const Location& location, const std::wstring& name);

// CLS(x): class name into entryName, its server into filePath, "HKCR\CLSID\x" into entryData.
std::wstring ApplyClsid(CAutorunAnalyzer& analyzer, const std::wstring& clsid, AutorunRecord& record,
                        bool wow64 = false);

}  // namespace kal
