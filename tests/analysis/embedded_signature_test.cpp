// The embedded signer name, the trust verification and the installer signature over fixtures the
// build signed with a throw-away CA.
#include "analysis/embedded_signature.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "analysis/cert_context_wrapper.h"
#include "analysis/installer_signature.h"
#include "report/computer_description.h"
#include "signed_fixtures.h"
#include "support/catalog_api.h"

namespace kal::cryptography {
namespace {

using test::kFixtureSigner;
using test::SignedFixture;

class EmbeddedSignature : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(test::TrustFixtureRoot()); }
};

TEST_F(EmbeddedSignature, SignerNameAndTrust) {
  struct Case {
    const wchar_t* file;
    const wchar_t* name;  // from the signed message alone
    LONG trust;
  };
  const Case cases[] = {
      {L"signed.exe", kFixtureSigner, 0},
      // The message still verifies; the file's hash does not.
      {L"tampered.exe", kFixtureSigner, static_cast<LONG>(TRUST_E_BAD_DIGEST)},
      {L"unsigned.exe", L"", static_cast<LONG>(TRUST_E_NOSIGNATURE)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(std::wstring(c.name), ReadEmbeddedSignerName(SignedFixture(c.file)));
    EXPECT_EQ(c.trust, VerifyEmbeddedTrust(SignedFixture(c.file)));
  }
}

TEST_F(EmbeddedSignature, FilesThatAreNotSignedImages) {
  test::CTempDir dir;
  const std::wstring text = dir.WriteFile(L"notes.txt", std::string(4096, 'x'));
  EXPECT_EQ(L"", ReadEmbeddedSignerName(text));
  EXPECT_EQ(L"", ReadEmbeddedSignerName(dir.Path() + L"\\missing.exe"));
  // The installer package is no PE image.
  EXPECT_EQ(L"", ReadEmbeddedSignerName(SignedFixture(L"signed.msi")));
}

TEST_F(EmbeddedSignature, EmbeddedWrapperGivesTheSignerOfTheMessage) {
  CEmbeddedCertContextWrapper signed_;
  EXPECT_TRUE(signed_.Verify(SignedFixture(L"signed.exe"), kCertDisplayName | kCertIssuer));
  EXPECT_TRUE(signed_.Verified());
  EXPECT_EQ(kFixtureSigner, signed_.DisplayName());
  EXPECT_EQ(L"Vantorag Test Root CA", signed_.Issuer());

  CEmbeddedCertContextWrapper unsigned_;
  EXPECT_FALSE(unsigned_.Verify(SignedFixture(L"unsigned.exe"), kCertDisplayName));
  EXPECT_FALSE(unsigned_.Verified());
  EXPECT_EQ(L"", unsigned_.DisplayName());
}

TEST_F(EmbeddedSignature, InstallerPackage) {
  std::wstring signer = L"sentinel";
  EXPECT_EQ(S_OK, QueryInstallerSignature(SignedFixture(L"signed.msi"), &signer));
  EXPECT_EQ(kFixtureSigner, signer);
  EXPECT_EQ(TRUST_E_NOSIGNATURE, QueryInstallerSignature(SignedFixture(L"unsigned.msi"), &signer));
  EXPECT_EQ(L"", signer);
}

BOOL WINAPI NoHash(HANDLE, DWORD*, BYTE*, DWORD) { return FALSE; }
HCATINFO WINAPI NoCatalog(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*) { return nullptr; }
BOOL WINAPI NoContext(HCATADMIN*, const GUID*, DWORD) { return FALSE; }
BOOL WINAPI NoRelease(HCATADMIN, DWORD) { return FALSE; }
BOOL WINAPI NoInfo(HCATINFO, CATALOG_INFO*, DWORD) { return FALSE; }
BOOL WINAPI NoContext2(HCATADMIN*, const GUID*, const WCHAR*, const void*, DWORD) { return FALSE; }
BOOL WINAPI NoHash2(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD) { return FALSE; }

TEST(CatalogApi, UsabilityRule) {
  CatalogApi base;
  base.CalcHashFromFileHandle = NoHash;
  base.EnumCatalogFromHash = NoCatalog;
  base.AcquireContext = NoContext;
  base.ReleaseContext = NoRelease;
  base.CatalogInfoFromContext = NoInfo;
  CatalogApi full = base;
  full.AcquireContext2 = NoContext2;
  full.CalcHashFromFileHandle2 = NoHash2;
  CatalogApi onlyOne2 = base;
  onlyOne2.AcquireContext2 = NoContext2;
  CatalogApi noEnum = full;
  noEnum.EnumCatalogFromHash = nullptr;
  struct Case {
    const char* name;
    const CatalogApi* api;
    uint32_t family;
    bool usable;
  };
  const Case cases[] = {
      {"five functions, before family 8", &base, 7, true},
      {"five functions, family 8", &base, 8, false},
      {"one of the two, family 9", &onlyOne2, 9, false},
      {"all seven, family 8", &full, 8, true},
      {"one of the five missing", &noEnum, 5, false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.usable, IsCatalogApiUsable(*c.api, c.family)) << c.name;
}

// What Wine 8 offers: the five older functions, but not both "2" functions, while it reports a
// system of family 8 or later; the catalog source is then not usable at all.
TEST(CatalogApi, WhatThisSystemOffers) {
  const CatalogApi& api = GetCatalogApi();
  std::printf("family %u: hash %d enum %d acquire %d release %d info %d acquire2 %d hash2 %d releaseCatalog %d\n",
              GetOsRecord().Family, api.CalcHashFromFileHandle != nullptr, api.EnumCatalogFromHash != nullptr,
              api.AcquireContext != nullptr, api.ReleaseContext != nullptr, api.CatalogInfoFromContext != nullptr,
              api.AcquireContext2 != nullptr, api.CalcHashFromFileHandle2 != nullptr,
              api.ReleaseCatalogContext != nullptr);
  const bool both2 = api.AcquireContext2 != nullptr && api.CalcHashFromFileHandle2 != nullptr;
  EXPECT_EQ(GetOsRecord().Family < 8 || both2, IsCatalogApiUsable(api, GetOsRecord().Family));
}

// Wine keeps no catalogs: the catalog wrapper finds none for any file and reports no signer.
TEST_F(EmbeddedSignature, CatalogWrapperWithoutCatalogs) {
  for (const wchar_t* file : {L"signed.exe", L"unsigned.exe"}) {
    CCatalogCertContextWrapper wrapper(0);
    EXPECT_FALSE(wrapper.Verify(SignedFixture(file), kCertDisplayName)) << file;
    EXPECT_EQ(L"", wrapper.DisplayName());
    EXPECT_FALSE(wrapper.Verified());
  }
  CCatalogCertContextWrapper missing(0);
  EXPECT_FALSE(missing.Verify(SignedFixture(L"missing.exe"), kCertDisplayName));
}

}  // namespace
}  // namespace kal::cryptography
