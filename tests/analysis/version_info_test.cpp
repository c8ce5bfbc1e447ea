// The version resource reader over programs whose resources windres built for the test, and the
// four texts the lookup phase takes from it.
#include "analysis/version_info.h"

#include <gtest/gtest.h>

#include "control/file_examiner.h"
#include "pe_image_builder.h"
#include "test_support/fixture_path.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

using test::FixturePath;

TEST(VersionInfo, TrimsTextsAndKeepsTheProductVersion) {
  const VersionRecord r = ReadVersionInfo(FixturePath(L"fixtures\\version_trimmed.exe"));
  ASSERT_TRUE(r.valid);
  EXPECT_EQ(L"6.1.7600.16385", r.ProductVersion);
  EXPECT_EQ(L"6.1.7601.17514", r.FileVersion);
  EXPECT_EQ(L"Trimmed fixture", r.FileDescription);
  EXPECT_EQ(L"Vantorag Fixtures", r.ProductName);
  EXPECT_EQ(L"Vantorag Tests", r.CompanyName);
  EXPECT_EQ(L"", r.Comments);  // white space only
  EXPECT_EQ(L"(c) Vantorag Tests", r.LegalCopyright);
  EXPECT_EQ(L"", r.LegalTrademarks);  // absent
  EXPECT_EQ(L"version_trimmed.exe", r.OriginalFilename);
  EXPECT_EQ(6, r.fileVersion.major);
  EXPECT_EQ(1, r.fileVersion.minor);
  EXPECT_EQ(7601, r.fileVersion.build);
  EXPECT_EQ(17514, r.fileVersion.revision);
  EXPECT_EQ(7600, r.productVersion.build);
  EXPECT_EQ(16385, r.productVersion.revision);
}

TEST(VersionInfo, OnlyTheFirstTranslationIsRead) {
  const VersionRecord two = ReadVersionInfo(FixturePath(L"fixtures\\version_two_languages.exe"));
  ASSERT_TRUE(two.valid);
  EXPECT_EQ(L"Deutsche Beschreibung", two.FileDescription);
  EXPECT_EQ(L"Deutsches Produkt", two.ProductName);
  EXPECT_EQ(L"1.0 de", two.ProductVersion);
  EXPECT_EQ(L"Deutsches Copyright", two.LegalCopyright);

  // The first translation has no string table: the English one is not tried.
  const VersionRecord none = ReadVersionInfo(FixturePath(L"fixtures\\version_no_table.exe"));
  EXPECT_TRUE(none.valid);
  EXPECT_EQ(L"", none.ProductVersion);
  EXPECT_EQ(2, none.productVersion.major);
}

TEST(VersionInfo, NoVersionResource) {
  test::CTempDir dir;
  const std::vector<uint8_t> image = testing_pe::BuildImage(testing_pe::ImageLayout());
  const std::wstring bare = dir.WriteFile(L"bare.exe", std::string(image.begin(), image.end()));
  for (const std::wstring& path : {bare, dir.Path() + L"\\missing.exe"}) {
    const VersionRecord r = ReadVersionInfo(path);
    EXPECT_FALSE(r.valid) << path;
    EXPECT_EQ(L"", r.ProductVersion);
    EXPECT_EQ(0, r.fileVersion.major);
  }
}

TEST(VersionInfo, WhiteSpaceOfTheWideClassification) {
  const std::wstring text = L" \t\n\v\f\r\x3000 a b \x2003\r\n";
  EXPECT_EQ(L"a b", TrimWhiteSpace(text.data(), text.size()));
  EXPECT_EQ(L"", TrimWhiteSpace(L" \t ", 3));
  EXPECT_EQ(L"", TrimWhiteSpace(L"", 0));
}

TEST(FileExaminer, CopiesTheFourTexts) {
  CFileExaminer examiner;
  VersionStrings strings;
  strings.Version = L"sentinel";
  ASSERT_TRUE(examiner.ReadVersionStrings(FixturePath(L"fixtures\\version_trimmed.exe"), &strings));
  EXPECT_EQ(L"Trimmed fixture", strings.Description);
  EXPECT_EQ(L"Vantorag Fixtures", strings.Product);
  EXPECT_EQ(L"6.1.7600.16385", strings.Version);
  EXPECT_EQ(L"(c) Vantorag Tests", strings.Copyright);

  VersionStrings untouched;
  untouched.Version = L"sentinel";
  test::CTempDir dir;
  EXPECT_FALSE(examiner.ReadVersionStrings(dir.WriteFile(L"plain.exe", "MZ plain"), &untouched));
  EXPECT_EQ(L"sentinel", untouched.Version);
}

}  // namespace
}  // namespace kal
