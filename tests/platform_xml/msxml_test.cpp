#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "platform/msxml.h"
#include "settings/basic_settings.h"
#include "support/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(XmlDocument, LoadReportsParseErrorWithCodeLineAndPosition) {
  CTempDir dir;
  const std::string path = dir.Write("bad.xml", "<A>\n  <B>\n</A>\n");
  CXMLDocument doc;
  ASSERT_EQ(S_OK, CreateXMLDocument(&doc));
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(S_FALSE, doc.load(_variant_t(path.c_str()), &ok));
  EXPECT_EQ(VARIANT_FALSE, ok);
  CXMLParseError error;
  ASSERT_EQ(S_OK, doc.get_parseError(&error));
  LONG code = 0;
  LONG line = 0;
  LONG pos = 0;
  error.get_errorCode(&code);
  error.get_line(&line);
  error.get_linepos(&pos);
  EXPECT_LT(code, 0);
  EXPECT_EQ(3, line);
  EXPECT_GT(pos, 0);
  _bstr_t url;
  error.get_url(&url);
  EXPECT_EQ(path, url.str());

  // The helper returns the parse error's code; a missing file gives the
  // Win32 "file not found" code.
  CXMLDocument other;
  CreateXMLDocument(&other);
  EXPECT_EQ(code, LoadXMLDocument(&other, _bstr_t(path)));
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), LoadXMLDocument(&other, _bstr_t(dir.Path() + "none.xml")));
  EXPECT_EQ(E_FAIL, ReportXMLParseError(error));

  // A second root, which XML forbids, refuses the file where it starts:
  // what stands in it would go unread.
  EXPECT_EQ(XML_E_MULTIPLE_ROOTS, LoadXMLDocument(&other, _bstr_t(dir.Write("two.xml", "<A/>\n<A><B/></A>"))));
  other.get_parseError(&error);
  error.get_line(&line);
  EXPECT_EQ(2, line);
}

// A file that declares a set of one byte per character is read in it (the
// "é" and "€" of a windows-1252 editor); one in UTF-16 with its byte-order
// mark stays the parser's own; a set the reader does not know, or a UTF-16
// declaration over single bytes, refuses the file rather than misread it.
TEST(XmlDocument, DeclaredEncodingIsReadOrTheFileRefused) {
  CTempDir dir;
  auto valueOf = [&](const std::string& name, const std::string& bytes, HRESULT* hr) {
    CXMLDocument doc;
    CreateXMLDocument(&doc);
    XMLLoadFailure failure;
    *hr = LoadXMLDocument(&doc, _bstr_t(dir.Write(name, bytes)), &failure);
    if (*hr != S_OK) return failure.reason;
    CXMLNode attr;
    doc.selectSingleNode(_bstr_t("A/@v"), &attr);
    _bstr_t text;
    attr.get_text(&text);
    return text.str();
  };
  HRESULT hr = E_FAIL;
  EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC",
            valueOf("1252.xml", "<?xml version=\"1.0\" encoding='Windows-1252'?>\n<A v=\"caf\xE9 \x80\"/>", &hr));
  EXPECT_EQ(S_OK, hr);
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><A v=\"caf\xE9\"/>")) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_EQ("caf\xC3\xA9", valueOf("utf16.xml", utf16, &hr));
  EXPECT_EQ(S_OK, hr);
  const std::string unknown =
      valueOf("unknown.xml", "<?xml version=\"1.0\" encoding=\"x-no-such-set\"?><A v=\"\xE9\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr);
  EXPECT_NE(std::string::npos, unknown.find("declares the encoding \"x-no-such-set\", which this reader does not know"))
      << unknown;
  valueOf("single.xml", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><A v=\"x\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr);
  // ISO-8859-1, which the parser would also decode by its declaration, is
  // converted once; a pair merely ending in "encoding" declares nothing.
  EXPECT_EQ("caf\xC3\xA9",
            valueOf("latin1.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><A v=\"caf\xE9\"/>", &hr));
  EXPECT_EQ("caf\xE9", valueOf("x.xml", "<?xml version=\"1.0\" xencoding=\"windows-1252\"?><A v=\"caf\xE9\"/>", &hr));
  // A set in which text bytes become markup (UTF-7's "+ACI-" is a quote) is
  // refused, and a name that is none is not quoted into the event log.
  const std::string utf7 =
      valueOf("utf7.xml", "<?xml version=\"1.0\" encoding=\"UTF-7\"?><A v=\"x+ACI- w=+ACI-y\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr) << utf7;
  const std::string odd = valueOf("odd.xml", "<?xml version=\"1.0\" encoding=\"x\r\nFAKE\"?><A v=\"a\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr);
  EXPECT_EQ(std::string::npos, odd.find("FAKE")) << odd;
  // ISO-2022-JP writes ASCII as ASCII until an escape shifts it: refused.
  const std::string shifted =
      valueOf("jis.xml", "<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?><A v=\"\x1B$B$\\\x1B(B\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr) << shifted;
  EXPECT_NE(std::string::npos, shifted.find("change meaning after a shift sequence")) << shifted;
  // One byte that is no text of the declared set refuses the whole file,
  // naming where, rather than reading what comes before it.
  const std::string badByte =
      valueOf("sjis.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><A v=\"\x82\xA0\x82\"/>", &hr);
  EXPECT_EQ(XML_E_INVALIDENCODING, hr);
  EXPECT_NE(std::string::npos, badByte.find("declares the encoding \"Shift_JIS\", but the bytes at offset 50 are "
                                            "not text of that set"))
      << badByte;

  // Without a declaration the file is UTF-8: a byte that is not is found,
  // by its line, for the reader to report.
  for (const auto& [text, line] : {std::pair<std::string, long>{"<A>\n<B v=\"caf\xE9\"/></A>", 2},
                                   {"<A v=\"caf\xC3\xA9 \xF0\x9F\x98\x80\"/>", 0},
                                   {"<A>\n\n<B v=\"\xED\xA0\x80\"/></A>", 3},
                                   {"<A>\n\n\n<B v=\"\xC0\x80\"/></A>", 4}}) {
    CXMLDocument doc;
    CreateXMLDocument(&doc);
    ASSERT_EQ(S_OK, LoadXMLDocument(&doc, _bstr_t(dir.Write("plain.xml", text))));
    EXPECT_EQ(line, doc.FirstLineNotUTF8()) << text;
  }
}

TEST(XmlDocument, SelectionOfOneNodeListsAndAttributes) {
  CTempDir dir;
  const std::string path =
      dir.Write("s.xml", "<R><G><I ID=\"1\" V=\"a\"/><I ID=\"2\"/></G><G><I ID=\"3\" V=\"&amp;\"/></G></R>");
  CXMLDocument doc;
  CreateXMLDocument(&doc);
  ASSERT_EQ(S_OK, LoadXMLDocument(&doc, _bstr_t(path)));
  EXPECT_EQ(S_OK, doc.setProperty(_bstr_t("SelectionLanguage"), _variant_t("XPath")));

  CXMLNode group;
  ASSERT_EQ(S_OK, doc.selectSingleNode(_bstr_t("R/G"), &group));
  CXMLNodeList items;
  ASSERT_EQ(S_OK, group.selectNodes(_bstr_t("I"), &items));
  LONG length = 0;
  items.get_length(&length);
  EXPECT_EQ(2, length);  // relative to the first G only

  CXMLNode second;
  ASSERT_EQ(S_OK, items.get_item(1, &second));
  CXMLNamedNodeMap attributes;
  ASSERT_EQ(S_OK, second.get_attributes(&attributes));
  CXMLNode attr;
  EXPECT_EQ(S_OK, attributes.getNamedItem(_bstr_t("ID"), &attr));
  VARIANT value;
  VariantInit(&value);
  ASSERT_EQ(S_OK, GetXMLNodeValue(attr, &value));
  EXPECT_EQ(VT_BSTR, value.vt);
  EXPECT_STREQ("2", value.bstrVal);
  VariantClear(&value);
  EXPECT_EQ(S_FALSE, attributes.getNamedItem(_bstr_t("V"), &attr));
  EXPECT_TRUE(attr.IsNull());

  CXMLNode none;
  EXPECT_EQ(S_FALSE, doc.selectSingleNode(_bstr_t("R/MISSING"), &none));
  EXPECT_TRUE(none.IsNull());
  EXPECT_EQ(S_FALSE, items.get_item(2, &none));
  EXPECT_EQ(E_FAIL, doc.selectSingleNode(_bstr_t("R/[["), &none));

  CXMLNode escaped;
  ASSERT_EQ(S_OK, doc.selectSingleNode(_bstr_t("R/G/I[@ID='3']/@V"), &escaped));
  _bstr_t text;
  escaped.get_text(&text);
  EXPECT_EQ("&", text.str());
}

TEST(XmlDocument, CreatedNodesAreSavedOnlyOnceInserted) {
  CTempDir dir;
  CXMLDocument doc;
  ASSERT_EQ(S_OK, CreateXMLDocument(&doc));
  CXMLNode root = CreateXMLNode(&doc, NODE_ELEMENT, _bstr_t("ROOT"));
  ASSERT_FALSE(root.IsNull());
  ASSERT_EQ(S_OK, doc.appendChild(&root, nullptr));
  CXMLNode orphan = CreateXMLNode(&doc, NODE_ELEMENT, _bstr_t("ORPHAN"));
  ASSERT_FALSE(orphan.IsNull());

  CBasicSettings::SettingItem item;
  item.ID = 42;
  item.description = _bstr_t("Blocked <list>");
  item.value = _variant_t("exe;bat");
  ASSERT_EQ(S_OK, CBasicSettings::AddItemElement(&doc, &root, {"ID", "DESCR", "VALUE"}, item, "ITEM"));
  item.value = _variant_t(static_cast<LONG>(7));
  ASSERT_EQ(S_OK, CBasicSettings::AddItemElement(&doc, &root, {"ID", "DESCR", "VALUE"}, item, "ITEM"));
  item.value = _variant_t();
  EXPECT_EQ(E_FAIL, CBasicSettings::AddItemElement(&doc, &root, {"ID", "DESCR", "VALUE"}, item, "ITEM"));

  const std::string path = dir.Path() + "out.xml";
  ASSERT_EQ(S_OK, SaveXMLDocument(&doc, _bstr_t(path)));
  const std::string saved = ReadAll(path);
  EXPECT_EQ(std::string::npos, saved.find("ORPHAN"));
  EXPECT_EQ(std::string::npos, saved.find("#"));

  CXMLDocument reread;
  CreateXMLDocument(&reread);
  ASSERT_EQ(S_OK, LoadXMLDocument(&reread, _bstr_t(path)));
  CXMLNodeList items;
  reread.selectNodes(_bstr_t("ROOT/ITEM"), &items);
  LONG length = 0;
  items.get_length(&length);
  ASSERT_EQ(3, length);  // the third was inserted before its value was refused
  CXMLNode first;
  items.get_item(0, &first);
  CXMLNamedNodeMap attributes;
  first.get_attributes(&attributes);
  CXMLNode descr;
  attributes.getNamedItem(_bstr_t("DESCR"), &descr);
  _bstr_t text;
  descr.get_text(&text);
  EXPECT_EQ("Blocked <list>", text.str());
  CXMLNode second;
  items.get_item(1, &second);
  CXMLNode value;
  second.selectSingleNode(_bstr_t("@VALUE"), &value);
  value.get_text(&text);
  EXPECT_EQ("7", text.str());
}

TEST(XmlDocument, AttributeHelpersNeedADocumentAndAMap) {
  CXMLDocument doc;
  CreateXMLDocument(&doc);
  CXMLNamedNodeMap none;
  EXPECT_EQ(S_FALSE, SetXMLIntAttribute(&doc, &none, _bstr_t("ID"), 1));
  EXPECT_EQ(S_FALSE, SetXMLStringAttribute(nullptr, &none, _bstr_t("ID"), _bstr_t("x")));

  CXMLNode element = CreateXMLNode(&doc, NODE_ELEMENT, _bstr_t("E"));
  doc.appendChild(&element, nullptr);
  // An element cannot be moved into its own subtree.
  CXMLNode child = CreateXMLNode(&doc, NODE_ELEMENT, _bstr_t("C"));
  element.appendChild(&child, nullptr);
  EXPECT_EQ(E_FAIL, child.appendChild(&element, nullptr));
  EXPECT_TRUE(CreateXMLNode(&doc, NODE_ELEMENT, _bstr_t("")).IsNull());
}

}  // namespace
