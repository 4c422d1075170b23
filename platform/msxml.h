// MSXML-style DOM documents on pugixml, as far as the settings files need
// them: create, synchronous load with a parse error, save, XPath selection of
// one node and of node lists, attribute maps, element and attribute creation,
// insertion. Every call reports an HRESULT; nothing here throws.
//
// Nodes are handles that keep their document alive (as a COM reference
// would). A node made by createNode is detached until it is inserted or, for
// an attribute, added to an attribute map; inserting or adding rebinds the
// handle that was passed to the place it now has in the tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "platform/automation.h"
#include "platform/win_types.h"

enum DOMNodeType : LONG {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_DOCUMENT = 9,
};

// Parse-error codes of the loader: a missing or unreadable file gives the
// Win32 code as an HRESULT; a malformed document gives XML_E_PARSE_BASE plus
// pugixml's status, so each kind of fault keeps its own code.
constexpr HRESULT XML_E_PARSE_BASE = static_cast<HRESULT>(0xC00CE500u);
// A second root element, which pugixml accepts and XML forbids: what stood
// in it would be passed by unread.
constexpr HRESULT XML_E_MULTIPLE_ROOTS = static_cast<HRESULT>(0xC00CE556u);
// An encoding declaration the loader cannot honour (a set it does not know,
// bytes outside the declared set): the file is refused, not misread.
constexpr HRESULT XML_E_INVALIDENCODING = static_cast<HRESULT>(0xC00CE55Eu);

struct CXMLDocState;
class CXMLNodeList;
class CXMLNamedNodeMap;

class CXMLNode {
 public:
  CXMLNode() = default;
  bool IsNull() const noexcept;
  DOMNodeType GetNodeType() const noexcept;

  HRESULT get_nodeName(_bstr_t* name) const;
  // Element: its text content; attribute: its value.
  HRESULT get_text(_bstr_t* text) const;
  HRESULT put_text(const _bstr_t& text);
  // Attributes and elements without a data type give their text as VT_BSTR;
  // an empty text is the null BSTR.
  HRESULT get_nodeTypedValue(VARIANT* value) const;

  // S_FALSE and a null node when nothing matches; E_FAIL for a bad path.
  HRESULT selectSingleNode(const _bstr_t& xpath, CXMLNode* out) const;
  HRESULT selectNodes(const _bstr_t& xpath, CXMLNodeList* out) const;
  // S_FALSE and an empty map for nodes other than elements.
  HRESULT get_attributes(CXMLNamedNodeMap* out) const;

  // Moves child (a detached element or one of this document's elements) in
  // front of ref, or to the end when ref is null or empty.
  HRESULT insertBefore(CXMLNode* child, const CXMLNode* ref, CXMLNode* out);
  HRESULT appendChild(CXMLNode* child, CXMLNode* out) { return insertBefore(child, nullptr, out); }

 protected:
  friend class CXMLNodeList;
  friend class CXMLNamedNodeMap;
  friend class CXMLDocument;
  CXMLNode(std::shared_ptr<CXMLDocState> doc, pugi::xml_node node, std::string attr, bool isAttr)
      : m_doc(std::move(doc)), m_node(node), m_attrName(std::move(attr)), m_bAttribute(isAttr) {}
  pugi::xml_attribute Attribute() const;

  std::shared_ptr<CXMLDocState> m_doc;
  pugi::xml_node m_node;      // the element, or the attribute's owner element
  std::string m_attrName;     // set for attribute nodes
  bool m_bAttribute = false;
};

class CXMLNodeList {
 public:
  HRESULT get_length(LONG* length) const;
  // S_FALSE and a null node for an index outside the list.
  HRESULT get_item(LONG index, CXMLNode* out) const;

 private:
  friend class CXMLNode;
  std::shared_ptr<CXMLDocState> m_doc;
  pugi::xpath_node_set m_nodes;
};

class CXMLNamedNodeMap {
 public:
  bool IsNull() const noexcept { return !m_owner; }
  HRESULT get_length(LONG* length) const;
  // S_FALSE and a null node when the element has no such attribute.
  HRESULT getNamedItem(const _bstr_t& name, CXMLNode* out) const;
  // Adds (or replaces) the attribute node on the owner element; the handle is
  // rebound to the owner's attribute.
  HRESULT setNamedItem(CXMLNode* attribute, CXMLNode* out);

 private:
  friend class CXMLNode;
  std::shared_ptr<CXMLDocState> m_doc;
  pugi::xml_node m_owner;
};

class CXMLParseError {
 public:
  HRESULT get_errorCode(LONG* code) const;
  HRESULT get_line(LONG* line) const;
  HRESULT get_linepos(LONG* pos) const;
  HRESULT get_url(_bstr_t* url) const;
  HRESULT get_reason(_bstr_t* reason) const;

 private:
  friend class CXMLDocument;
  LONG m_code = 0;
  LONG m_line = 0;
  LONG m_linepos = 0;
  std::string m_url;
  std::string m_reason;
};

class CXMLDocument : public CXMLNode {
 public:
  HRESULT put_async(bool async);
  // Loads from a VT_BSTR path. ok is VARIANT_FALSE and the parse error is set
  // when the file is missing or malformed; the previous content is dropped.
  HRESULT load(const VARIANT& source, VARIANT_BOOL* ok);
  HRESULT get_parseError(CXMLParseError* error) const;
  // "SelectionLanguage" accepts "XPath" and "XSLPattern"; both select with
  // XPath, the child paths the settings files use read the same in either.
  HRESULT setProperty(const _bstr_t& name, const VARIANT& value);
  HRESULT save(const VARIANT& destination) const;
  // Makes a detached element or attribute; the type is a VT_I4 node type.
  HRESULT createNode(const VARIANT& type, const _bstr_t& name, const _bstr_t& namespaceURI, CXMLNode* out);

  // XML forbids an attribute given twice in one element, but the parser
  // keeps both and every look-up finds the first: each such attribute, in
  // document order, with the element's name and ID and every value given.
  struct RepeatedAttribute {
    std::string element;
    std::string id;  // the element's first ID attribute, empty without one
    std::string name;
    std::vector<std::string> values;
  };
  std::vector<RepeatedAttribute> FindRepeatedAttributes() const;
  // The name of the document's root element; empty without one.
  std::string RootElementName() const;
  // The line of the first bytes that are not UTF-8 in a file read as UTF-8
  // (one that declares no other set), 0 when there are none. The parser
  // keeps such bytes as they stand, so the texts holding them read wrongly.
  long FirstLineNotUTF8() const;

 private:
  friend HRESULT CreateXMLDocument(CXMLDocument* out);
};

// Creates an empty document (the in-process DOMDocument class).
HRESULT CreateXMLDocument(CXMLDocument* out);
