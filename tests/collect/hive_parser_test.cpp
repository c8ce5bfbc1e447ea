// CHiveParser over a private key: the type, size and termination rules of each read, list
// splitting, enumeration, and reads that follow a key whose values change.
#include "collect/hive_parser.h"

#include <gtest/gtest.h>

#include "test_support/registry_key.h"

namespace kal {
namespace {

using test::CTestKey;

class HiveParserTest : public ::testing::Test {
 protected:
  CTestKey key{L"hive_parser"};
  // Bound to the parent of the private key, so every read names the subkey the way the
  // analyzers do: "\" + the rest of the path.
  CHiveParser parser{HKEY_CURRENT_USER, L"Software\\vantorag_test"};
  std::wstring Sub(const std::wstring& rest = L"") const {
    const std::wstring leaf = key.Path().substr(key.Path().rfind(L'\\'));
    return rest.empty() ? leaf : leaf + L"\\" + rest;
  }
  void Raw(const wchar_t* name, DWORD type, const std::string& bytes) const {
    key.SetRaw(L"", name, type, bytes.data(), bytes.size());
  }
};

// UTF-16LE bytes of ASCII text, without any terminator unless the text has one.
std::string Utf16(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST_F(HiveParserTest, ReadStringRules) {
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::string bytes;
    LONG result;
    std::wstring text;
  };
  const Case cases[] = {
      // Normal
      {L"terminated", REG_SZ, Utf16(std::string("abc\0", 4)), 0, L"abc"},
      {L"expand", REG_EXPAND_SZ, Utf16(std::string("%windir%\\x\0", 11)), 0, L"%windir%\\x"},
      // Unterminated or cut short
      {L"unterminated", REG_SZ, Utf16("abc"), 0, L"abc"},
      {L"embedded", REG_SZ, Utf16(std::string("ab\0cd\0", 6)), 0, L"ab"},
      {L"odd", REG_SZ, Utf16("ab") + "c", 0, L"ab"},
      // Empty
      {L"one byte", REG_SZ, "a", 0, L""},
      {L"empty", REG_SZ, "", 0, L""},
      // Wrong type
      {L"dword", REG_DWORD, std::string(4, '\1'), ERROR_INVALID_PARAMETER, L"sentinel"},
      {L"multi", REG_MULTI_SZ, Utf16(std::string("a\0\0", 3)), ERROR_INVALID_PARAMETER, L"sentinel"},
  };
  for (const Case& c : cases) Raw(c.name, c.type, c.bytes);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + wcslen(c.name)));
    std::wstring text = L"sentinel";
    EXPECT_EQ(c.result, parser.ReadString(Sub(), c.name, &text));
    EXPECT_EQ(c.text, text);
  }
  std::wstring text = L"sentinel";
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.ReadString(Sub(), L"absent", &text));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.ReadString(Sub(L"nokey"), nullptr, &text));
  EXPECT_EQ(L"sentinel", text);
}

TEST_F(HiveParserTest, DefaultValueByNullOrEmptyName) {
  key.SetString(L"", nullptr, L"default text");
  std::wstring a, b;
  EXPECT_EQ(0, parser.ReadString(Sub(), nullptr, &a));
  EXPECT_EQ(0, parser.ReadString(Sub(), L"", &b));
  EXPECT_EQ(L"default text", a);
  EXPECT_EQ(L"default text", b);
}

TEST_F(HiveParserTest, ReadDwordRules) {
  const DWORD value = 0x12345678;
  Raw(L"dword", REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4));
  Raw(L"five", REG_DWORD, std::string("\1\2\3\4\5", 5));
  Raw(L"text", REG_SZ, Utf16(std::string("1\0", 2)));
  Raw(L"binary4", REG_BINARY, std::string("\1\0\0\0", 4));
  struct Case {
    const wchar_t* name;
    LONG result;
    DWORD out;
  } const cases[] = {
      {L"dword", 0, 0x12345678},
      {L"five", ERROR_MORE_DATA, 0xdeadbeef},
      {L"text", ERROR_INVALID_PARAMETER, 0xdeadbeef},
      {L"binary4", ERROR_INVALID_PARAMETER, 0xdeadbeef},
      {L"absent", ERROR_FILE_NOT_FOUND, 0xdeadbeef},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + wcslen(c.name)));
    DWORD out = 0xdeadbeef;
    EXPECT_EQ(c.result, parser.ReadDword(Sub(), c.name, &out));
    EXPECT_EQ(c.out, out);
  }
}

TEST_F(HiveParserTest, ReadStringListRules) {
  struct Case {
    const wchar_t* name;
    DWORD type;
    std::string bytes;
    std::vector<std::wstring> list;
  };
  const Case cases[] = {
      {L"two", REG_MULTI_SZ, Utf16(std::string("a.dll\0b c\0\0", 11)), {L"a.dll", L"b c"}},
      {L"stops at empty", REG_MULTI_SZ, Utf16(std::string("a\0\0b\0\0", 6)), {L"a"}},
      {L"unterminated", REG_MULTI_SZ, Utf16(std::string("a\0bc", 4)), {L"a", L"bc"}},
      {L"leading empty", REG_MULTI_SZ, Utf16(std::string("\0a\0\0", 4)), {}},
      {L"sz", REG_SZ, Utf16(std::string("one, two\0", 9)), {L"one, two"}},
      {L"expand", REG_EXPAND_SZ, Utf16(std::string("%x%\0", 4)), {L"%x%"}},
      {L"empty sz", REG_SZ, Utf16(std::string("\0", 1)), {}},
      {L"one byte", REG_MULTI_SZ, "a", {}},
      {L"dword", REG_DWORD, std::string(4, '\1'), {}},
  };
  for (const Case& c : cases) Raw(c.name, c.type, c.bytes);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + wcslen(c.name)));
    std::vector<std::wstring> list = {L"stale"};
    EXPECT_EQ(0, parser.ReadStringList(Sub(), c.name, &list));
    EXPECT_EQ(c.list, list);
  }
  std::vector<std::wstring> list = {L"stale"};
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.ReadStringList(Sub(), L"absent", &list));
  EXPECT_TRUE(list.empty());
}

TEST_F(HiveParserTest, ReadBinaryGivesDataAndType) {
  Raw(L"bin", REG_BINARY, std::string("\0\1\2\3\4", 5));
  Raw(L"zero", REG_BINARY, "");
  std::vector<uint8_t> data = {9};
  DWORD type = 0;
  EXPECT_EQ(0, parser.ReadBinary(Sub(), L"bin", &data, &type));
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 3, 4}), data);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(0, parser.ReadBinary(Sub(), L"zero", &data, &type));
  EXPECT_TRUE(data.empty());
}

TEST_F(HiveParserTest, EnumeratesSubkeysAndValues) {
  key.MakeKey(L"one");
  key.MakeKey(L"two\\deeper");
  key.SetString(L"", L"name", L"text");
  key.SetDword(L"", L"number", 7);
  std::vector<std::wstring> names;
  EXPECT_EQ(0, parser.EnumSubkeys(Sub(), &names));
  EXPECT_EQ((std::vector<std::wstring>{L"one", L"two"}), names);

  std::vector<HiveValue> values;
  EXPECT_EQ(0, parser.EnumValues(Sub(), &values));
  ASSERT_EQ(2u, values.size());
  EXPECT_EQ(L"name", values[0].Name);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), values[0].Type);
  EXPECT_EQ(L"text", RegistryText(values[0].Data.data(), values[0].Data.size()));
  EXPECT_EQ(L"number", values[1].Name);
  EXPECT_EQ(4u, values[1].Data.size());

  EXPECT_EQ(0, parser.EnumValues(Sub(L"one"), &values));
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.EnumValues(Sub(L"absent"), &values));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.EnumSubkeys(Sub(L"absent"), &names));
}

TEST_F(HiveParserTest, LongValueNamesAndDataAreReadWhole) {
  const std::wstring name(16383, L'n');
  const std::wstring data(40000, L'd');
  key.SetString(L"", name.c_str(), data);
  std::vector<HiveValue> values;
  EXPECT_EQ(0, parser.EnumValues(Sub(), &values));
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ(name, values[0].Name);
  EXPECT_EQ(data, RegistryText(values[0].Data.data(), values[0].Data.size()));
}

TEST_F(HiveParserTest, EachReadSeesTheKeyAsItIsNow) {
  key.SetString(L"", L"v", L"short");
  std::wstring text;
  EXPECT_EQ(0, parser.ReadString(Sub(), L"v", &text));
  EXPECT_EQ(L"short", text);
  key.DeleteValue(L"", L"v");
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, parser.ReadString(Sub(), L"v", &text));
  key.SetString(L"", L"v", std::wstring(5000, L'x'));
  EXPECT_EQ(0, parser.ReadString(Sub(), L"v", &text));
  EXPECT_EQ(std::wstring(5000, L'x'), text);
  std::vector<HiveValue> values;
  EXPECT_EQ(0, parser.EnumValues(Sub(), &values));
  EXPECT_EQ(1u, values.size());
}

}  // namespace
}  // namespace kal
