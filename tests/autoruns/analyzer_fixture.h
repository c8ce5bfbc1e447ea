// An analyzer whose four registry views live below a private test key, recording what it reports.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "autoruns/autorun_analyzer.h"
#include "autoruns/path_resolution.h"
#include "autoruns/path_text.h"
#include "test_support/registry_key.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace test {

constexpr wchar_t kTestSid[] = L"S-1-5-21-1-2-3-1001";

class CRecordingAnalyzer : public CAutorunAnalyzer {
 public:
  void OnAutorunFound(const AutorunRecord& record) override { records.push_back(record); }
  std::vector<AutorunRecord> records;
};

inline std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// The machine's SYSTEM and SOFTWARE views, the user's view and the classes all below `key`.
inline HiveBindings BindingsBelow(const CTestKey& key, bool twoViews = false) {
  HiveBindings b;
  b.systemRoot = b.softwareRoot = b.userRoot = HKEY_CURRENT_USER;
  b.systemPrefix = key.Path() + L"\\System";
  b.softwarePrefix = key.Path() + L"\\Software";
  b.userPrefix = key.Path() + L"\\User";
  b.classesPrefix = key.Path() + L"\\Classes";
  b.twoViews = twoViews;
  return b;
}

class AnalyzerTest : public ::testing::Test {
 protected:
  AnalyzerTest() { InitPathContext(); }

  HiveBindings Bindings(bool twoViews = false) const { return BindingsBelow(key, twoViews); }

  std::vector<AutorunRecord> Run(uint32_t category, bool twoViews = false) {
    CRecordingAnalyzer analyzer;
    EXPECT_EQ(S_OK, analyzer.Init(L"", kTestSid, Bindings(twoViews)));
    EXPECT_EQ(S_OK, analyzer.RunCategory(category));
    return analyzer.records;
  }

  static std::vector<AutorunRecord> At(const std::vector<AutorunRecord>& all, const std::wstring& where) {
    std::vector<AutorunRecord> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                 [&](const AutorunRecord& r) { return r.location == where; });
    return out;
  }

  // A small file under the temp folder; its resolved path.
  std::wstring File(const std::wstring& relative) {
    const size_t slash = relative.rfind(L'\\');
    if (slash != std::wstring::npos) temp.MakeFolder(relative.substr(0, slash));
    return ResolveFilePath(temp.WriteFile(relative, "MZ"));
  }

  CTestKey key{L"autoruns"};
  CTempDir temp;
};

}  // namespace test
}  // namespace kal

#define EXPECT_PATH_EQ(expected, actual) \
  EXPECT_TRUE(::kal::EqualsNoCase(expected, actual)) << ::kal::test::Narrow(expected) << " vs " << ::kal::test::Narrow(actual)
