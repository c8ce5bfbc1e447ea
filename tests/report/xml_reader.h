// Reading a saved report back for the tests: the raw bytes, and the parsed document queried with
// XPath through a fresh DOM, so that a test sees what a consumer of the file sees.
#pragma once

#include <string>
#include <vector>

#include "support/com.h"
#include "test_support/temp_dir.h"

#include <msxml2.h>

namespace kal {
namespace test {

// The file as UTF-16 text after its byte-order mark; `bom` tells whether FF FE was there.
inline std::wstring ReadUtf16File(const std::wstring& path, bool* bom) {
  const std::string bytes = CTempDir::ReadFile(path);
  *bom = bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE;
  const size_t start = *bom ? 2 : 0;
  std::wstring text((bytes.size() - start) / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<wchar_t>(static_cast<uint8_t>(bytes[start + 2 * i]) |
                                   (static_cast<uint8_t>(bytes[start + 2 * i + 1]) << 8));
  return text;
}

// Names of the files in a folder (no "." and "..").
inline std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  return names;
}

// IID_IXMLDOMDocument2, which the import library lacks.
constexpr GUID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A parsed XML file; Parsed() is false when the file is not well-formed.
class CXmlFile {
 public:
  explicit CXmlFile(const std::wstring& path) {
    CLSID clsid;
    if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid))) return;
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument2, dom_.PutVoid()))) return;
    dom_->put_async(VARIANT_FALSE);
    dom_->put_validateOnParse(VARIANT_FALSE);
    dom_->put_resolveExternals(VARIANT_FALSE);
    CVariant language;
    language.Get()->vt = VT_BSTR;
    language.Get()->bstrVal = ::SysAllocString(L"XPath");
    CBstr property(L"SelectionLanguage");
    dom_->setProperty(property.Get(), *language.Get());
    CVariant source;
    source.Get()->vt = VT_BSTR;
    source.Get()->bstrVal = ::SysAllocString(path.c_str());
    VARIANT_BOOL ok = VARIANT_FALSE;
    parsed_ = SUCCEEDED(dom_->load(*source.Get(), &ok)) && ok == VARIANT_TRUE;
  }

  bool Parsed() const { return parsed_; }

  CComPtr<IXMLDOMNode> Node(const std::wstring& xpath) const {
    CComPtr<IXMLDOMNode> node;
    CBstr query(xpath.c_str());
    if (parsed_) dom_->selectSingleNode(query.Get(), node.Put());
    return node;
  }

  size_t Count(const std::wstring& xpath) const {
    CComPtr<IXMLDOMNodeList> list;
    CBstr query(xpath.c_str());
    long length = 0;
    if (parsed_ && SUCCEEDED(dom_->selectNodes(query.Get(), list.Put())) && list) list->get_length(&length);
    return static_cast<size_t>(length);
  }

  // The text of the attribute or element that `xpath` names; "<absent>" when there is none.
  std::wstring Text(const std::wstring& xpath) const {
    CComPtr<IXMLDOMNode> node = Node(xpath);
    if (!node) return L"<absent>";
    CBstr text;
    node->get_text(text.Put());
    return std::wstring(text.Get() ? text.Get() : L"", text.Length());
  }

  // The attribute names of the element that `xpath` names, in document order.
  std::vector<std::wstring> AttributeNames(const std::wstring& xpath) const {
    std::vector<std::wstring> names;
    CComPtr<IXMLDOMNode> node = Node(xpath);
    CComPtr<IXMLDOMNamedNodeMap> attributes;
    if (!node || FAILED(node->get_attributes(attributes.Put())) || !attributes) return names;
    long length = 0;
    attributes->get_length(&length);
    for (long i = 0; i < length; ++i) {
      CComPtr<IXMLDOMNode> attribute;
      CBstr name;
      if (SUCCEEDED(attributes->get_item(i, attribute.Put())) && attribute && SUCCEEDED(attribute->get_nodeName(name.Put())))
        names.emplace_back(name.Get(), name.Length());
    }
    return names;
  }

  // The names of the child elements of the element that `xpath` names, in document order.
  std::vector<std::wstring> ChildNames(const std::wstring& xpath) const {
    std::vector<std::wstring> names;
    CComPtr<IXMLDOMNode> node = Node(xpath);
    CComPtr<IXMLDOMNodeList> children;
    if (!node || FAILED(node->get_childNodes(children.Put())) || !children) return names;
    long length = 0;
    children->get_length(&length);
    for (long i = 0; i < length; ++i) {
      CComPtr<IXMLDOMNode> child;
      DOMNodeType type = NODE_INVALID;
      CBstr name;
      if (SUCCEEDED(children->get_item(i, child.Put())) && child && SUCCEEDED(child->get_nodeType(&type)) &&
          type == NODE_ELEMENT && SUCCEEDED(child->get_nodeName(name.Put())))
        names.emplace_back(name.Get(), name.Length());
    }
    return names;
  }

 private:
  CComPtr<IXMLDOMDocument2> dom_;
  bool parsed_ = false;
};

}  // namespace test
}  // namespace kal
