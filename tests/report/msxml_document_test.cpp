// The XML document wrapper over MSXML: file layout and escaping, attribute value formats, element
// order, declaration forms, the apartment handling, and saves that fail without leaving a partial
// file or losing the previous one.
#include "report/msxml_document.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "support/hresult.h"
#include "test_support/temp_dir.h"
#include "xml_reader.h"

namespace kal {
namespace {

using test::CTempDir;
using test::CXmlFile;
using test::FolderEntries;
using test::ReadUtf16File;

constexpr wchar_t kUtf16Declaration[] = L"<?xml version=\"1.0\" encoding=\"utf-16\"?>";

class MsXmlDocumentTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, com_.Initialize(COINIT_MULTITHREADED)); }

  // A document of one root element 'A', made with the given declaration form.
  void MakeRoot(CMsXmlDocument& document, CMsXmlElement* root, uint32_t declaration = 0) {
    ASSERT_EQ(S_OK, document.Create(declaration, false));
    ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(document, L"A", root));
  }

  CComInit com_;
  CTempDir dir_;
};

TEST_F(MsXmlDocumentTest, SavesUtf16WithMarkDeclarationAndEscapedText) {
  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  root.SetString(L"x", L"1&2");
  const std::wstring path = dir_.Path() + L"\\a.xml";
  ASSERT_EQ(S_OK, document.Save(path));

  bool bom = false;
  const std::wstring text = ReadUtf16File(path, &bom);
  EXPECT_TRUE(bom);
  EXPECT_EQ(0u, text.find(kUtf16Declaration)) << text;
  EXPECT_NE(std::wstring::npos, text.find(L"<A x=\"1&amp;2\"")) << text;

  CXmlFile file(path);
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(L"1&2", file.Text(L"/A/@x"));
  // Only the file remains in the folder: the temporary file was moved, not copied
  EXPECT_EQ(std::vector<std::wstring>{L"a.xml"}, FolderEntries(dir_.Path()));
}

TEST_F(MsXmlDocumentTest, AttributeFormats) {
  struct Case {
    const wchar_t* name;
    std::function<void(CMsXmlElement&)> set;
    std::wstring text;
  };
  const uint8_t hex[] = {0x00, 0xAB};
  const Case cases[] = {
      {L"true", [](CMsXmlElement& e) { e.SetBool(L"true", true); }, L"true"},
      {L"false", [](CMsXmlElement& e) { e.SetBool(L"false", false); }, L"false"},
      {L"i0", [](CMsXmlElement& e) { e.SetInt32(L"i0", 0); }, L"0"},
      {L"iminus1", [](CMsXmlElement& e) { e.SetInt32(L"iminus1", -1); }, L"-1"},
      {L"imin", [](CMsXmlElement& e) { e.SetInt32(L"imin", std::numeric_limits<int32_t>::min()); }, L"-2147483648"},
      {L"imax", [](CMsXmlElement& e) { e.SetInt32(L"imax", std::numeric_limits<int32_t>::max()); }, L"2147483647"},
      {L"u32max", [](CMsXmlElement& e) { e.SetUInt32(L"u32max", 0xFFFFFFFFu); }, L"4294967295"},
      {L"u64zero", [](CMsXmlElement& e) { e.SetUInt64(L"u64zero", 0); }, L"0"},
      {L"u64max", [](CMsXmlElement& e) { e.SetUInt64(L"u64max", std::numeric_limits<uint64_t>::max()); },
       L"18446744073709551615"},
      {L"hex", [&hex](CMsXmlElement& e) { e.SetHex(L"hex", hex, 2); }, L"00AB"},
      {L"empty", [](CMsXmlElement& e) { e.SetString(L"empty", L""); }, L""},
      // Markup characters and TAB, LF, CR come back as they went in
      {L"markup", [](CMsXmlElement& e) { e.SetString(L"markup", L"<a b=\"c\" d='e'>&amp;"); }, L"<a b=\"c\" d='e'>&amp;"},
      {L"whitespace", [](CMsXmlElement& e) { e.SetString(L"whitespace", L"a\tb\nc\rd"); }, L"a\tb\nc\rd"},
      // Setting an attribute again replaces it
      {L"again",
       [](CMsXmlElement& e) {
         e.SetString(L"again", L"first");
         e.SetInt32(L"again", 2);
       },
       L"2"},
  };
  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  for (const Case& c : cases) c.set(root);
  const std::wstring path = dir_.Path() + L"\\formats.xml";
  ASSERT_EQ(S_OK, document.Save(path));

  CXmlFile file(path);
  ASSERT_TRUE(file.Parsed());
  std::vector<std::wstring> names;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "attribute " << c.name);
    EXPECT_EQ(c.text, file.Text(std::wstring(L"/A/@") + c.name));
    names.push_back(c.name);
  }
  // One attribute per name, in the order in which they were first set
  EXPECT_EQ(names, file.AttributeNames(L"/A"));
}

TEST_F(MsXmlDocumentTest, ChildrenAppearInCreationOrderUnderEachParent) {
  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  CMsXmlElement b, c, b2, inner1, inner2;
  ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(root, L"B", &b));
  ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(root, L"C", &c));
  ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(b, L"Y", &inner1));  // under an earlier sibling
  ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(root, L"B", &b2));
  ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(b, L"X", &inner2));
  b2.SetInt32(L"n", 2);
  const std::wstring path = dir_.Path() + L"\\order.xml";
  ASSERT_EQ(S_OK, document.Save(path));

  CXmlFile file(path);
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"B"}), file.ChildNames(L"/A"));
  EXPECT_EQ((std::vector<std::wstring>{L"Y", L"X"}), file.ChildNames(L"/A/B[1]"));
  EXPECT_EQ(L"2", file.Text(L"/A/B[2]/@n"));
}

TEST_F(MsXmlDocumentTest, DeclarationFormsAndTheFileAlwaysUtf16) {
  struct Case {
    uint32_t form;
    const wchar_t* data;
  };
  const Case cases[] = {
      {0, L"version=\"1.0\" encoding=\"utf-16\""},
      {1, L"version=\"1.0\" encoding=\"utf-8\""},
      {2, L"version=\"1.0\" encoding=\"utf-16\""},
      {3, L"version=\"1.0\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "form " << c.form);
    CMsXmlDocument document(true);
    CMsXmlElement root;
    MakeRoot(document, &root, c.form);
    root.SetString(L"x", L"\x00e9");
    const std::wstring declaration = std::wstring(L"<?xml ") + c.data + L"?>";

    std::wstring xml;
    ASSERT_EQ(S_OK, document.GetXml(&xml));
    EXPECT_EQ(0u, xml.find(declaration)) << xml;

    // Whatever the declaration says, the file is FF FE and UTF-16LE text
    const std::wstring path = dir_.Path() + L"\\form" + std::to_wstring(c.form) + L".xml";
    ASSERT_EQ(S_OK, document.Save(path));
    bool bom = false;
    const std::wstring text = ReadUtf16File(path, &bom);
    EXPECT_TRUE(bom);
    EXPECT_EQ(0u, text.find(declaration)) << text;
    EXPECT_NE(std::wstring::npos, text.find(L"<A x=\"\x00e9\"")) << text;
  }
  EXPECT_EQ(4u, FolderEntries(dir_.Path()).size());
}

TEST_F(MsXmlDocumentTest, UnknownDeclarationFormCreatesNothing) {
  CMsXmlDocument document(true);
  EXPECT_EQ(E_INVALIDARG, document.Create(4, false));
  EXPECT_EQ(nullptr, document.Dom());
  EXPECT_EQ(E_FAIL, document.Save(dir_.Path() + L"\\none.xml"));
  EXPECT_TRUE(FolderEntries(dir_.Path()).empty());
}

TEST_F(MsXmlDocumentTest, BothDomVersionsSaveTheSameDocument) {
  for (bool version6 : {false, true}) {
    SCOPED_TRACE(version6 ? "6.0" : "3.0");
    CMsXmlDocument document(true);
    ASSERT_EQ(S_OK, document.Create(0, version6));
    CMsXmlElement root, child;
    ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(document, L"R", &root));
    ASSERT_EQ(S_OK, CMsXmlDocument::CreateChild(root, L"C", &child));
    child.SetUInt64(L"v", 42);
    const std::wstring path = dir_.Path() + (version6 ? L"\\v6.xml" : L"\\v3.xml");
    ASSERT_EQ(S_OK, document.Save(path));
    CXmlFile file(path);
    ASSERT_TRUE(file.Parsed());
    EXPECT_EQ(L"42", file.Text(L"/R/C/@v"));
  }
}

TEST_F(MsXmlDocumentTest, SaveWithoutDocumentFails) {
  CMsXmlDocument document(false);
  EXPECT_EQ(E_FAIL, document.Save(dir_.Path() + L"\\never.xml"));
  ASSERT_EQ(S_OK, document.Create(0, false));
  document.Clear();
  EXPECT_EQ(E_FAIL, document.Save(dir_.Path() + L"\\never.xml"));
  EXPECT_TRUE(FolderEntries(dir_.Path()).empty());
}

TEST_F(MsXmlDocumentTest, SaveToMissingFolderReturnsPathNotFoundAndWritesNothing) {
  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  EXPECT_EQ(HResultFromWin32(ERROR_PATH_NOT_FOUND), document.Save(dir_.Path() + L"\\missing\\r.xml"));
  EXPECT_TRUE(FolderEntries(dir_.Path()).empty());
}

TEST_F(MsXmlDocumentTest, SaveReplacesAPreviousFileOnlyWhenItCan) {
  const std::wstring path = dir_.WriteFile(L"r.xml", "previous report");
  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  root.SetInt32(L"n", 1);

  {
    // A reader holding the old report without delete sharing: it can't be replaced now
    CFileHandle reader(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    const HRESULT hr = document.Save(path);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ("previous report", CTempDir::ReadFile(path));
    EXPECT_EQ(std::vector<std::wstring>{L"r.xml"}, FolderEntries(dir_.Path()));
  }

  ASSERT_EQ(S_OK, document.Save(path));
  CXmlFile file(path);
  ASSERT_TRUE(file.Parsed());
  EXPECT_EQ(L"1", file.Text(L"/A/@n"));
  EXPECT_EQ(std::vector<std::wstring>{L"r.xml"}, FolderEntries(dir_.Path()));
}

TEST_F(MsXmlDocumentTest, WriteThatFailsPartWayLeavesNoPartialFile) {
  const auto failAfterSomeBytes = [](HANDLE file) -> HRESULT {
    DWORD written = 0;
    ::WriteFile(file, "partial", 7, &written, nullptr);
    return HResultFromWin32(ERROR_DISK_FULL);
  };
  // A new report: nothing is left
  const std::wstring fresh = dir_.Path() + L"\\fresh.xml";
  EXPECT_EQ(HResultFromWin32(ERROR_DISK_FULL), WriteFileReplacing(fresh, failAfterSomeBytes));
  EXPECT_TRUE(FolderEntries(dir_.Path()).empty());

  // Over an earlier report: the earlier one stays whole
  const std::wstring earlier = dir_.WriteFile(L"earlier.xml", "earlier report");
  EXPECT_EQ(HResultFromWin32(ERROR_DISK_FULL), WriteFileReplacing(earlier, failAfterSomeBytes));
  EXPECT_EQ("earlier report", CTempDir::ReadFile(earlier));
  EXPECT_EQ(std::vector<std::wstring>{L"earlier.xml"}, FolderEntries(dir_.Path()));

  // A complete write replaces it
  EXPECT_EQ(S_OK, WriteFileReplacing(earlier, [](HANDLE file) -> HRESULT {
              DWORD written = 0;
              return ::WriteFile(file, "new", 3, &written, nullptr) ? S_OK : HResultFromLastError();
            }));
  EXPECT_EQ("new", CTempDir::ReadFile(earlier));
  EXPECT_EQ(std::vector<std::wstring>{L"earlier.xml"}, FolderEntries(dir_.Path()));
}

TEST_F(MsXmlDocumentTest, WrapperWithoutNodeSetsNothingAndHasNoChildren) {
  CMsXmlElement detached;
  detached.SetString(L"x", L"y");  // no node: nothing happens
  CMsXmlElement child;
  EXPECT_EQ(E_POINTER, CMsXmlDocument::CreateChild(detached, L"C", &child));
  EXPECT_EQ(nullptr, child.GetNode());

  CMsXmlDocument document(true);
  CMsXmlElement root;
  MakeRoot(document, &root);
  root.Clear();
  EXPECT_EQ(nullptr, root.GetNode());
  EXPECT_EQ(E_POINTER, CMsXmlDocument::CreateChild(root, L"C", &child));
}

TEST_F(MsXmlDocumentTest, ApartmentInitialisation) {
  // On a thread of the multi-threaded apartment the request fails and the document still works
  {
    CMsXmlDocument document(true);
    EXPECT_EQ(RPC_E_CHANGED_MODE, document.ComInitResult());
    CMsXmlElement root;
    MakeRoot(document, &root);
    EXPECT_EQ(S_OK, document.Save(dir_.Path() + L"\\mta.xml"));
  }
  {
    CMsXmlDocument document(false);
    EXPECT_EQ(E_NOTIMPL, document.ComInitResult());
  }

  // On a thread without COM the document makes its own apartment and leaves it when destroyed
  HRESULT initialised = E_FAIL, saved = E_FAIL, afterwards = E_FAIL;
  const std::wstring path = dir_.Path() + L"\\sta.xml";
  std::thread thread([&] {
    {
      CMsXmlDocument document(true);
      initialised = document.ComInitResult();
      CMsXmlElement root;
      if (SUCCEEDED(document.Create(0, false)) && SUCCEEDED(CMsXmlDocument::CreateChild(document, L"A", &root)))
        saved = document.Save(path);
    }
    afterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_OK only if the apartment is gone
    if (SUCCEEDED(afterwards)) ::CoUninitialize();
  });
  thread.join();
  EXPECT_EQ(S_OK, initialised);
  EXPECT_EQ(S_OK, saved);
  EXPECT_EQ(S_OK, afterwards);
}

}  // namespace
}  // namespace kal
