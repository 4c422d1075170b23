#include "platform/msxml.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/file_system.h"
#include "platform/xml_declared_encoding.h"

struct CXMLDocState {
  pugi::xml_document doc;
  // Detached nodes live under this element until they are inserted. Its name
  // is no XML name, so no name test of a selection can match it, and saving
  // leaves it out.
  pugi::xml_node scratch;
  CXMLParseError parseError;
  bool async = true;
  long firstLineNotUTF8 = 0;

  void ResetScratch() { scratch = doc.append_child("#detached"); }
};

namespace {

constexpr const char* kAttrHolder = "#attr";

bool SameDoc(const std::shared_ptr<CXMLDocState>& a, const std::shared_ptr<CXMLDocState>& b) {
  return a && a == b;
}

void AppendText(pugi::xml_node node, std::string* out) {
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      out->append(child.value());
    } else if (child.type() == pugi::node_element) {
      AppendText(child, out);
    }
  }
}

HRESULT AssignBstr(const std::string& text, _bstr_t* out) {
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (b == nullptr) return E_OUTOFMEMORY;
  *out = _bstr_t::Attach(b);
  return S_OK;
}

HRESULT Win32FromErrno(int err) {
  switch (err) {
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
  }
}

}  // namespace

// ---- nodes -----------------------------------------------------------------

bool CXMLNode::IsNull() const noexcept { return !m_doc || !m_node; }

pugi::xml_attribute CXMLNode::Attribute() const {
  return m_bAttribute ? m_node.attribute(m_attrName.c_str()) : pugi::xml_attribute();
}

DOMNodeType CXMLNode::GetNodeType() const noexcept {
  if (IsNull()) return NODE_INVALID;
  if (m_bAttribute) return NODE_ATTRIBUTE;
  switch (m_node.type()) {
    case pugi::node_element: return NODE_ELEMENT;
    case pugi::node_document: return NODE_DOCUMENT;
    case pugi::node_pcdata:
    case pugi::node_cdata: return NODE_TEXT;
    default: return NODE_INVALID;
  }
}

HRESULT CXMLNode::get_nodeName(_bstr_t* name) const {
  if (name == nullptr) return E_POINTER;
  if (IsNull()) return E_FAIL;
  if (m_bAttribute) return AssignBstr(m_attrName, name);
  switch (m_node.type()) {
    case pugi::node_document: return AssignBstr("#document", name);
    case pugi::node_pcdata: return AssignBstr("#text", name);
    default: return AssignBstr(m_node.name(), name);
  }
}

HRESULT CXMLNode::get_text(_bstr_t* text) const {
  if (text == nullptr) return E_POINTER;
  if (IsNull()) return E_FAIL;
  try {
    std::string value;
    if (m_bAttribute) {
      value = Attribute().value();
    } else if (m_node.type() == pugi::node_pcdata || m_node.type() == pugi::node_cdata) {
      value = m_node.value();
    } else {
      AppendText(m_node, &value);
    }
    return AssignBstr(value, text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLNode::put_text(const _bstr_t& text) {
  if (IsNull()) return E_FAIL;
  if (m_bAttribute) {
    pugi::xml_attribute attr = Attribute();
    if (!attr) return E_FAIL;
    return attr.set_value(text.c_str()) ? S_OK : E_OUTOFMEMORY;
  }
  if (m_node.type() == pugi::node_pcdata || m_node.type() == pugi::node_cdata) {
    return m_node.set_value(text.c_str()) ? S_OK : E_OUTOFMEMORY;
  }
  if (m_node.type() != pugi::node_element) return E_FAIL;
  while (m_node.first_child()) m_node.remove_child(m_node.first_child());
  if (text.length() == 0) return S_OK;
  pugi::xml_node pcdata = m_node.append_child(pugi::node_pcdata);
  return (pcdata && pcdata.set_value(text.c_str())) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CXMLNode::get_nodeTypedValue(VARIANT* value) const {
  if (value == nullptr) return E_POINTER;
  _bstr_t text;
  const HRESULT hr = get_text(&text);
  if (FAILED(hr)) return hr;
  VariantClear(value);
  value->vt = VT_BSTR;
  // An empty text comes back as the null text.
  value->bstrVal = text.length() == 0 ? nullptr : text.Detach();
  return S_OK;
}

HRESULT CXMLNode::selectSingleNode(const _bstr_t& xpath, CXMLNode* out) const {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNode();
  if (IsNull() || m_bAttribute) return E_FAIL;
  try {
    pugi::xpath_node found = m_node.select_node(xpath.c_str());
    if (!found) return S_FALSE;
    *out = CXMLNode(m_doc, found.attribute() ? found.parent() : found.node(),
                    found.attribute() ? found.attribute().name() : "", static_cast<bool>(found.attribute()));
    return S_OK;
  } catch (const pugi::xpath_exception&) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLNode::selectNodes(const _bstr_t& xpath, CXMLNodeList* out) const {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNodeList();
  if (IsNull() || m_bAttribute) return E_FAIL;
  try {
    out->m_nodes = m_node.select_nodes(xpath.c_str());
    out->m_doc = m_doc;
    return S_OK;
  } catch (const pugi::xpath_exception&) {
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLNode::get_attributes(CXMLNamedNodeMap* out) const {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNamedNodeMap();
  if (IsNull() || m_bAttribute || m_node.type() != pugi::node_element) return S_FALSE;
  out->m_doc = m_doc;
  out->m_owner = m_node;
  return S_OK;
}

HRESULT CXMLNode::insertBefore(CXMLNode* child, const CXMLNode* ref, CXMLNode* out) {
  if (child == nullptr) return E_POINTER;
  if (IsNull() || child->IsNull() || !SameDoc(m_doc, child->m_doc)) return E_INVALIDARG;
  if (m_bAttribute || child->m_bAttribute || child->m_node.type() != pugi::node_element) return E_INVALIDARG;
  if (m_node.type() != pugi::node_element && m_node.type() != pugi::node_document) return E_FAIL;
  pugi::xml_node moved;
  if (ref != nullptr && !ref->IsNull()) {
    if (ref->m_bAttribute || ref->m_node.parent() != m_node) return E_INVALIDARG;
    moved = m_node.insert_move_before(child->m_node, ref->m_node);
  } else {
    moved = m_node.append_move(child->m_node);
  }
  // pugixml refuses moves into the node's own subtree.
  if (!moved) return E_FAIL;
  child->m_node = moved;
  if (out != nullptr) *out = *child;
  return S_OK;
}

// ---- lists and maps ----------------------------------------------------------

HRESULT CXMLNodeList::get_length(LONG* length) const {
  if (length == nullptr) return E_POINTER;
  *length = static_cast<LONG>(m_nodes.size());
  return S_OK;
}

HRESULT CXMLNodeList::get_item(LONG index, CXMLNode* out) const {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNode();
  if (index < 0 || static_cast<size_t>(index) >= m_nodes.size()) return S_FALSE;
  const pugi::xpath_node& xn = m_nodes[static_cast<size_t>(index)];
  if (xn.attribute()) {
    *out = CXMLNode(m_doc, xn.parent(), xn.attribute().name(), true);
  } else {
    *out = CXMLNode(m_doc, xn.node(), "", false);
  }
  return S_OK;
}

HRESULT CXMLNamedNodeMap::get_length(LONG* length) const {
  if (length == nullptr) return E_POINTER;
  LONG n = 0;
  for (pugi::xml_attribute a = m_owner.first_attribute(); a; a = a.next_attribute()) ++n;
  *length = n;
  return S_OK;
}

HRESULT CXMLNamedNodeMap::getNamedItem(const _bstr_t& name, CXMLNode* out) const {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNode();
  if (!m_owner) return E_FAIL;
  pugi::xml_attribute attr = m_owner.attribute(name.c_str());
  if (!attr) return S_FALSE;
  *out = CXMLNode(m_doc, m_owner, attr.name(), true);
  return S_OK;
}

HRESULT CXMLNamedNodeMap::setNamedItem(CXMLNode* attribute, CXMLNode* out) {
  if (attribute == nullptr) return E_POINTER;
  if (!m_owner || attribute->IsNull() || !attribute->m_bAttribute || !SameDoc(m_doc, attribute->m_doc)) {
    return E_INVALIDARG;
  }
  pugi::xml_attribute source = attribute->Attribute();
  const std::string value = source ? source.value() : "";
  pugi::xml_attribute target = m_owner.attribute(attribute->m_attrName.c_str());
  if (!target) target = m_owner.append_attribute(attribute->m_attrName.c_str());
  if (!target || !target.set_value(value.c_str())) return E_OUTOFMEMORY;
  pugi::xml_node holder = attribute->m_node;
  if (holder != m_owner && std::strcmp(holder.name(), kAttrHolder) == 0 && holder.parent() == m_doc->scratch) {
    m_doc->scratch.remove_child(holder);
  }
  attribute->m_node = m_owner;
  if (out != nullptr) *out = *attribute;
  return S_OK;
}

// ---- parse error ---------------------------------------------------------------

HRESULT CXMLParseError::get_errorCode(LONG* code) const {
  if (code == nullptr) return E_POINTER;
  *code = m_code;
  return S_OK;
}
HRESULT CXMLParseError::get_line(LONG* line) const {
  if (line == nullptr) return E_POINTER;
  *line = m_line;
  return S_OK;
}
HRESULT CXMLParseError::get_linepos(LONG* pos) const {
  if (pos == nullptr) return E_POINTER;
  *pos = m_linepos;
  return S_OK;
}
HRESULT CXMLParseError::get_url(_bstr_t* url) const {
  if (url == nullptr) return E_POINTER;
  return AssignBstr(m_url, url);
}
HRESULT CXMLParseError::get_reason(_bstr_t* reason) const {
  if (reason == nullptr) return E_POINTER;
  return AssignBstr(m_reason, reason);
}

// ---- document ------------------------------------------------------------------

HRESULT CreateXMLDocument(CXMLDocument* out) {
  if (out == nullptr) return E_POINTER;
  try {
    auto state = std::make_shared<CXMLDocState>();
    state->ResetScratch();
    out->m_doc = state;
    out->m_node = state->doc;
    out->m_attrName.clear();
    out->m_bAttribute = false;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLDocument::put_async(bool async) {
  if (!m_doc) return E_FAIL;
  m_doc->async = async;
  return S_OK;
}

namespace {

// Where a second root element starts, -1 when the document has one root.
std::ptrdiff_t OffsetBesideRoot(const pugi::xml_document& doc) {
  bool rootSeen = false;
  for (pugi::xml_node child = doc.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    if (rootSeen) return child.offset_debug();
    rootSeen = true;
  }
  return -1;
}

}  // namespace

HRESULT CXMLDocument::load(const VARIANT& source, VARIANT_BOOL* ok) {
  if (ok != nullptr) *ok = VARIANT_FALSE;
  if (!m_doc) return E_FAIL;
  if (source.vt != VT_BSTR) return E_INVALIDARG;
  const std::string path = source.bstrVal != nullptr ? std::string(source.bstrVal) : std::string();
  CXMLParseError& err = m_doc->parseError;
  err = CXMLParseError();
  err.m_url = path;
  m_doc->firstLineNotUTF8 = 0;
  try {
    m_doc->doc.reset();
    m_doc->ResetScratch();
    std::string bytes;
    std::string reason;
    int e = 0;
    if (!ReadWholeFile(path, &bytes, &reason, &e)) {
      err.m_code = Win32FromErrno(e);
      err.m_reason = reason + "\r\n";
      return S_FALSE;
    }
    // A file that declares its set is UTF-8 once converted: the parser must
    // not read its declaration again (it would decode "ISO-8859-1" twice).
    const pugi::xml_encoding encoding =
        DeclaredEightBitEncoding(bytes).empty() ? pugi::encoding_auto : pugi::encoding_utf8;
    if (!ConvertDeclaredEncodingToUTF8(bytes, &reason)) {
      err.m_code = XML_E_INVALIDENCODING;
      err.m_reason = reason + "\r\n";
      return S_FALSE;
    }
    m_doc->doc.reset();
    const pugi::xml_parse_result res =
        m_doc->doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, encoding);
    std::ptrdiff_t offset = res.offset;
    if (res) {
      offset = OffsetBesideRoot(m_doc->doc);
      if (offset >= 0) {
        err.m_code = XML_E_MULTIPLE_ROOTS;
        err.m_reason = "Only one top level element is allowed in an XML document\r\n";
      }
    } else {
      err.m_code = XML_E_PARSE_BASE + static_cast<HRESULT>(res.status);
      err.m_reason = std::string(res.description()) + "\r\n";
    }
    if (!res || offset >= 0) {
      LONG line = 1;
      LONG pos = 1;
      const size_t end = offset > 0 && static_cast<size_t>(offset) <= bytes.size() ? static_cast<size_t>(offset) : 0;
      for (size_t i = 0; i < end; ++i) {
        if (bytes[i] == '\n') {
          ++line;
          pos = 1;
        } else {
          ++pos;
        }
      }
      err.m_line = line;
      err.m_linepos = pos;
      m_doc->doc.reset();
      m_doc->ResetScratch();
      return S_FALSE;
    }
    m_doc->ResetScratch();
    if (res.encoding == pugi::encoding_utf8) {
      const size_t bad = FirstByteNotUTF8(bytes);
      if (bad != std::string::npos) {
        const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(bad);
        m_doc->firstLineNotUTF8 = 1 + static_cast<long>(std::count(bytes.begin(), end, '\n'));
      }
    }
    if (ok != nullptr) *ok = VARIANT_TRUE;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLDocument::get_parseError(CXMLParseError* error) const {
  if (error == nullptr) return E_POINTER;
  if (!m_doc) return E_FAIL;
  *error = m_doc->parseError;
  return S_OK;
}

HRESULT CXMLDocument::setProperty(const _bstr_t& name, const VARIANT& value) {
  if (!m_doc) return E_FAIL;
  if (std::strcmp(name.c_str(), "SelectionLanguage") != 0) return E_INVALIDARG;
  if (value.vt != VT_BSTR) return E_INVALIDARG;
  const char* lang = value.bstrVal != nullptr ? value.bstrVal : "";
  if (std::strcmp(lang, "XPath") != 0 && std::strcmp(lang, "XSLPattern") != 0) return E_FAIL;
  return S_OK;
}

HRESULT CXMLDocument::save(const VARIANT& destination) const {
  if (!m_doc) return E_FAIL;
  if (destination.vt != VT_BSTR || destination.bstrVal == nullptr) return E_INVALIDARG;
  try {
    std::ostringstream text;
    text << "<?xml version=\"1.0\"?>\n";
    for (pugi::xml_node child = m_doc->doc.first_child(); child; child = child.next_sibling()) {
      if (child == m_doc->scratch) continue;
      child.print(text, "\t", pugi::format_default);
    }
    std::ofstream out(destination.bstrVal, std::ios::binary | std::ios::trunc);
    if (!out) return Win32FromErrno(errno);
    const std::string bytes = text.str();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return out ? S_OK : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CXMLDocument::createNode(const VARIANT& type, const _bstr_t& name, const _bstr_t& namespaceURI,
                                 CXMLNode* out) {
  if (out == nullptr) return E_POINTER;
  *out = CXMLNode();
  if (!m_doc) return E_FAIL;
  if (type.vt != VT_I4 || name.length() == 0) return E_INVALIDARG;
  if (type.lVal == NODE_ELEMENT) {
    pugi::xml_node node = m_doc->scratch.append_child(name.c_str());
    if (!node) return E_OUTOFMEMORY;
    *out = CXMLNode(m_doc, node, "", false);
    return S_OK;
  }
  if (type.lVal == NODE_ATTRIBUTE) {
    pugi::xml_node holder = m_doc->scratch.append_child(kAttrHolder);
    if (!holder || !holder.append_attribute(name.c_str())) return E_OUTOFMEMORY;
    *out = CXMLNode(m_doc, holder, name.str(), true);
    return S_OK;
  }
  return E_NOTIMPL;
}

namespace {

void CollectRepeated(pugi::xml_node element, std::vector<CXMLDocument::RepeatedAttribute>& found) {
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
    bool seenBefore = false;
    for (pugi::xml_attribute b = element.first_attribute(); b != a; b = b.next_attribute()) {
      seenBefore = seenBefore || std::strcmp(a.name(), b.name()) == 0;
    }
    if (seenBefore) continue;
    CXMLDocument::RepeatedAttribute repeated;
    for (pugi::xml_attribute b = a; b; b = b.next_attribute()) {
      if (std::strcmp(a.name(), b.name()) == 0) repeated.values.emplace_back(b.value());
    }
    if (repeated.values.size() < 2) continue;
    repeated.element = element.name();
    repeated.id = element.attribute("ID").value();
    repeated.name = a.name();
    found.push_back(std::move(repeated));
  }
  for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) CollectRepeated(child, found);
  }
}

}  // namespace

std::vector<CXMLDocument::RepeatedAttribute> CXMLDocument::FindRepeatedAttributes() const {
  std::vector<RepeatedAttribute> found;
  if (!m_doc) return found;
  for (pugi::xml_node child = m_doc->doc.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && child != m_doc->scratch) CollectRepeated(child, found);
  }
  return found;
}

long CXMLDocument::FirstLineNotUTF8() const { return m_doc ? m_doc->firstLineNotUTF8 : 0; }

std::string CXMLDocument::RootElementName() const {
  if (!m_doc) return std::string();
  for (pugi::xml_node child = m_doc->doc.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && child != m_doc->scratch) return child.name();
  }
  return std::string();
}
