// The tree builder's steps the tokenizer's reading follows: the elements
// that switch it to text, <select> as the builder before 2025 reads it, and
// the open elements of SVG and MathML content as the rules for foreign
// content keep them.
#include <algorithm>
#include <string_view>

#include "html/tokenizer_states.h"

namespace {

using State = CTokenizerStates::State;
using Name = CTokenizerStates::Name;

// Elements whose text the tokenizer reads up to their end tag.
constexpr std::string_view kRcDataElements[] = {"textarea", "title"};
constexpr std::string_view kRawTextElements[] = {"style", "xmp", "iframe", "noembed", "noframes"};
// Elements that hold nothing: no end tag closes them.
constexpr std::string_view kVoidElements[] = {"area",  "base",  "basefont", "bgsound", "br",    "col",
                                              "embed", "frame", "hr",       "image",   "img",   "input",
                                              "keygen", "link", "meta",     "param",   "source", "track", "wbr"};
// Start tags that close the foreign elements up to the nearest one that
// holds HTML (and "font" with a color, face or size).
constexpr std::string_view kLeaveForeign[] = {
    "b",  "big", "blockquote", "body", "br",      "center", "code", "dd",   "div",   "dl",     "dt",
    "em", "embed", "h1",       "h2",   "h3",      "h4",     "h5",   "h6",   "head",  "hr",     "i",
    "img", "li", "listing",    "menu", "meta",    "nobr",   "ol",   "p",    "pre",   "ruby",   "s",
    "small", "span", "strong", "strike", "sub",   "sup",    "table", "tt",  "u",     "ul",     "var"};
// Start tags inside a <select> that the tree builder of 2025 on reads as
// anywhere else and the earlier one ignored: the elements that switch the
// tokenizer, and foreign content.
constexpr std::string_view kOpenedInSelectSince2025[] = {"style",    "xmp",   "iframe",    "noembed", "noframes",
                                                         "noscript", "title", "plaintext", "svg",     "math"};
// End tags the body's rules close by a search in scope, through elements of
// any kind (the others stop at the first special element).
constexpr std::string_view kClosedInScope[] = {
    "address", "applet", "article", "aside",  "blockquote", "button", "center",  "dd",      "details", "dialog",
    "dir",     "div",    "dl",      "dt",     "fieldset",   "figcaption", "figure", "footer", "h1",     "h2",
    "h3",      "h4",     "h5",      "h6",     "header",     "hgroup", "li",      "listing", "main",    "marquee",
    "menu",    "nav",    "object",  "ol",     "p",          "pre",    "search",  "section", "summary", "ul"};
// Elements that bound a search in scope.
constexpr std::string_view kScopeBounds[] = {"applet", "caption", "html",   "table", "td",
                                             "th",     "marquee", "object", "template"};
// The formatting elements, whose end tags the adoption agency reads.
constexpr std::string_view kFormatting[] = {"a",     "b",     "big",    "code", "em", "font", "i",
                                            "nobr",  "s",     "small",  "strike", "strong", "tt", "u"};
// HTML's special elements (those an end tag of another name stops at).
constexpr std::string_view kSpecial[] = {
    "address", "applet", "area",    "article",  "aside",    "base",     "basefont", "bgsound", "blockquote", "body",
    "br",      "button", "caption", "center",   "col",      "colgroup", "dd",       "details", "dir",        "div",
    "dl",      "dt",     "embed",   "fieldset", "figcaption", "figure", "footer",   "form",    "frame",      "frameset",
    "h1",      "h2",     "h3",      "h4",       "h5",       "h6",       "head",     "header",  "hgroup",     "hr",
    "html",    "iframe", "img",     "input",    "keygen",   "li",       "link",     "listing", "main",       "marquee",
    "menu",    "meta",   "nav",     "noembed",  "noframes", "noscript", "object",   "ol",      "p",          "param",
    "plaintext", "pre",  "script",  "search",   "section",  "select",   "source",   "style",   "summary",    "table",
    "tbody",   "td",     "template", "textarea", "tfoot",   "th",       "thead",    "title",   "tr",         "track",
    "ul",      "wbr",    "xmp"};

// Elements every start tag of which in the body puts on the open elements
// and whose end tag finds them there: one whose start tag comes right
// before an <svg> or <math> is known open below it.
constexpr std::string_view kKnownOpen[] = {
    "address", "article", "aside",   "blockquote", "center", "dd",     "details", "dir",     "div",  "dl",
    "dt",      "fieldset", "figcaption", "figure", "footer", "h1",     "h2",      "h3",      "h4",   "h5",
    "h6",      "header",  "hgroup",  "li",         "listing", "main",  "menu",    "nav",     "ol",   "p",
    "pre",     "search",  "section", "span",       "summary", "ul"};

// Past this many open elements a reading is split no more (each part would
// copy them): it gives up instead.
constexpr size_t kMaxOpenToSplit = 4096;
// An end tag's search goes down this many open elements at most: a page
// that nests deeper and closes by end tags that skip them gives up, since
// searching on for each of its end tags would make the reading quadratic.
constexpr size_t kMaxEndTagSearch = 256;

template <size_t N>
bool IsOneOf(const Name& name, const std::string_view (&names)[N]) {
  for (const std::string_view n : names) {
    if (name.Is(n)) return true;
  }
  return false;
}

bool IsHeading(const Name& name) {
  return name.length == 2 && !name.bTooLong && name.text[0] == 'h' && name.text[1] >= '1' && name.text[1] <= '6';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x) == y;
         });
}

}  // namespace

CTokenizerStates* CTokenizerStates::Split(uint8_t readings, bool bClosesForeign) {
  if (m_pSplits == nullptr || m_pSplits->size() >= kMaxParts ||
      (!bClosesForeign && m_elements.size() > kMaxOpenToSplit)) {
    GiveUp();
    return nullptr;
  }
  // The part that closes the foreign elements takes none of them with it.
  std::vector<Element> kept;
  if (bClosesForeign) kept.swap(m_elements);
  m_pSplits->push_back(*this);
  if (bClosesForeign) kept.swap(m_elements);
  CTokenizerStates& part = m_pSplits->back();
  part.m_readings = readings;
  part.m_tag.bSelfClosing = false;
  if ((readings & kSelectBefore) == 0) part.m_bInSelect = false;
  m_bSplit = true;
  return &part;
}

// Whether the tag just read has the attribute (its first such), with its
// value; the tag's text is read again with its attributes kept.
bool CTokenizerStates::TagHasAttribute(std::string_view name, std::string_view* pValue) const {
  CTokenizerStates reader(kScriptingOff, true, false);
  size_t at = m_tag.begin;
  if (!reader.ReadUntilTag(m_text, at, m_lastTagEnd) || at != m_lastTagEnd) return false;
  for (const Attribute& attribute : reader.Attributes()) {
    if (!EqualsNoCase(m_text.substr(attribute.nameBegin, attribute.nameEnd - attribute.nameBegin), name)) continue;
    if (pValue != nullptr) *pValue = m_text.substr(attribute.valueBegin, attribute.valueEnd - attribute.valueBegin);
    return true;
  }
  return false;
}

void CTokenizerStates::StartText() {
  const Name& name = m_tag.name;
  // Every element of text but xmp has a name of five letters or more: most
  // tags of a page end here.
  if (name.length < 5 && !name.Is("xmp")) {
    m_state = State::Data;
    return;
  }
  if (name.Is("select")) {
    if (m_bForeignContent && (m_readings & kSelectBefore) != 0) m_bInSelect = true;
    m_state = State::Data;
    return;
  }
  m_textElement = name;
  if (name.Is("script")) {
    m_state = m_textReturn = State::ScriptData;
  } else if (IsOneOf(name, kRcDataElements)) {
    m_state = m_textReturn = State::RcData;
  } else if (IsOneOf(name, kRawTextElements)) {
    m_state = m_textReturn = State::RawText;
  } else if (name.Is("noscript")) {
    // Text where scripts run, markup where they do not.
    const uint8_t scripting = m_readings & kScriptingOn;
    m_state = State::Data;
    if (scripting == 0) return;
    if (scripting != m_readings) {
      CTokenizerStates* pOff = Split(m_readings & ~scripting);
      if (pOff == nullptr) return;
      m_readings = scripting;
    }
    m_state = m_textReturn = State::RawText;
  } else if (name.Is("plaintext")) {
    m_state = State::PlainText;
  } else {
    m_state = State::Data;
  }
}

void CTokenizerStates::EmitTag(size_t end) {
  // The element the tag before an <svg> or <math> opened holds it: kept as
  // the one below the foreign elements.
  if (m_bForeignContent && m_elements.empty() && !m_tag.bEnd && !m_bInSelect && !m_lastTag.bEnd &&
      (m_tag.name.Is("svg") || m_tag.name.Is("math")) && IsOneOf(m_lastTag.name, kKnownOpen)) {
    m_elements.push_back(Element{m_lastTag.name, Space::Html, false});
  }
  m_lastTag = m_tag;
  m_lastTagEnd = end;
  if (!m_bForeignContent) {
    if (m_tag.bEnd) {
      m_state = State::Data;
    } else {
      StartText();
    }
  } else if (m_bInSelect && ReadInSelect()) {
  } else if (!m_elements.empty() || (!m_tag.bEnd && (m_tag.name.Is("svg") || m_tag.name.Is("math")))) {
    FollowTree();
  } else if (m_tag.bEnd) {
    m_state = State::Data;
  } else {
    StartText();
  }
  m_tag.bSelfClosing = false;
}

// A tag in a <select> as the tree builder before 2025 reads it: true when
// it is read here, false when it goes on as anywhere else (for the readings
// of 2025 on, split off where they differ).
bool CTokenizerStates::ReadInSelect() {
  if ((m_readings & kSelectBefore) == 0) {
    m_bInSelect = false;
    return false;
  }
  if (!m_elements.empty()) {  // a <select> in SVG's or MathML's HTML
    GiveUp();
    return true;
  }
  const Name& name = m_tag.name;
  m_state = State::Data;
  if (m_tag.bEnd || name.Is("select")) {
    if (name.Is("select")) m_bInSelect = false;
    return true;
  }
  if (name.Is("input") || name.Is("keygen") || name.Is("textarea")) {
    m_bInSelect = false;  // they close the select and are read after it
    return false;
  }
  if (name.Is("script")) return false;
  if (!IsOneOf(name, kOpenedInSelectSince2025)) return true;
  const uint8_t since2025 = m_readings & ~kSelectBefore;
  if (since2025 == 0) return true;
  if (Split(m_readings & kSelectBefore) == nullptr) return true;
  m_readings = since2025;
  m_bInSelect = false;
  return false;
}

// Whether the start tag read is an HTML one: outside foreign content, in an
// HTML element, or in an SVG or MathML element that holds HTML.
bool CTokenizerStates::TagIsHtml() const {
  if (m_elements.empty()) return true;
  const Element& top = m_elements.back();
  const Name& n = top.name;
  switch (top.space) {
    case Space::Html:
      return true;
    case Space::Svg:
      return n.Is("foreignobject") || n.Is("desc") || n.Is("title");
    case Space::MathMl:
      return top.bHoldsHtml || ((n.Is("mi") || n.Is("mo") || n.Is("mn") || n.Is("ms") || n.Is("mtext")) &&
                                !m_tag.name.Is("mglyph") && !m_tag.name.Is("malignmark"));
  }
  return true;
}

void CTokenizerStates::Open(Space space) { m_elements.push_back(Element{m_tag.name, space, false}); }

void CTokenizerStates::CloseForeign() {
  while (!m_elements.empty() && !TagIsHtml()) m_elements.pop_back();
  LeftForeign();
}

// Out of every foreign element, the one kept below them is no longer kept.
void CTokenizerStates::LeftForeign() {
  if (m_elements.size() == 1 && m_elements.front().space == Space::Html) m_elements.clear();
}

// The tree builder's steps for a tag in or into foreign content.
void CTokenizerStates::FollowTree() {
  const Name& name = m_tag.name;
  m_state = State::Data;
  if (m_tag.bEnd) return EndTagInForeignContent();
  // In a MathML text element these two are MathML's, in HTML HTML's.
  if ((name.Is("mglyph") || name.Is("malignmark")) && HtmlKeptAboveForeign()) return GiveUp();
  if (!TagIsHtml()) {
    const bool bLeaves = IsOneOf(name, kLeaveForeign) ||
                         (name.Is("font") && (TagHasAttribute("color") || TagHasAttribute("face") ||
                                              TagHasAttribute("size")));
    if (!bLeaves) {
      if (m_tag.bSelfClosing) return;
      const Element& top = m_elements.back();
      // An svg in an annotation-xml is SVG: the body's rules read it.
      const Space space =
          top.space == Space::MathMl && top.name.Is("annotation-xml") && name.Is("svg") ? Space::Svg : top.space;
      Open(space);
      if (space == Space::MathMl && name.Is("annotation-xml")) {
        std::string_view encoding;
        if (TagHasAttribute("encoding", &encoding)) {
          if (encoding.find('&') != std::string_view::npos) return GiveUp();  // a reference the reading does not decode
          m_elements.back().bHoldsHtml =
              EqualsNoCase(encoding, "text/html") || EqualsNoCase(encoding, "application/xhtml+xml");
        }
      }
      return;
    }
    CloseForeign();
  }
  if (name.Is("svg") || name.Is("math")) {
    if (!m_tag.bSelfClosing) Open(name.Is("svg") ? Space::Svg : Space::MathMl);
    return LeftForeign();
  }
  // Opened before its text is read, so that a reading split off there (by
  // a <noscript>) holds it too.
  if (!m_elements.empty() && !IsOneOf(name, kVoidElements)) Open(Space::Html);
  StartText();
}

// An end tag while foreign elements are open. The rules for foreign content
// close the nearest foreign element of its name; reaching an HTML element
// they hand the tag to the body's rules, which close the element it names
// where nothing bounds the search before it. Where the search goes below
// the elements kept, the page's elements there decide: the reading splits
// into both outcomes, foreign content closed and left open.
void CTokenizerStates::EndTagInForeignContent() {
  const Name& name = m_tag.name;
  // </br> and </p> leave foreign content as the start tags that break out
  // of it do, up to an element that holds HTML; </p> then closes a <p>.
  if ((name.Is("br") || name.Is("p")) && !TagIsHtml()) {
    CloseForeign();
    if (name.Is("br") || m_elements.empty()) return;
  }
  const size_t searchEnd = m_elements.size() > kMaxEndTagSearch ? m_elements.size() - kMaxEndTagSearch : 0;
  size_t k = m_elements.size();
  // The HTML elements kept above the foreign ones are those whose tags were
  // read: the tree builder may have closed some (a <div> closes a <p>), and
  // then the foreign rules see this tag. Whether it closes a foreign element
  // of its name below them turns on which are open.
  size_t top = k;
  for (; top > 0 && m_elements[top - 1].space == Space::Html; --top) {
    if (top == searchEnd) return GiveUp();
  }
  for (size_t j = top; top != k && j > 0 && m_elements[j - 1].space != Space::Html; --j) {
    if (j == searchEnd || m_elements[j - 1].name == name) return GiveUp();
  }
  for (; k > 0 && m_elements[k - 1].space != Space::Html; --k) {
    if (k == searchEnd) return GiveUp();
    if (m_elements[k - 1].name == name) {
      m_elements.resize(k - 1);
      return LeftForeign();
    }
  }
  // The body's rules. These close nothing: </br> is read as <br>, </body>
  // and </html> only change the builder's mode, </form> takes the form
  // out from where it is.
  if (name.Is("br") || name.Is("body") || name.Is("html")) return;
  if (name.Is("form") || name.Is("template")) {
    for (const Element& element : m_elements) {
      if (element.space == Space::Html && element.name == name) return GiveUp();
    }
    if (name.Is("template")) return GiveUp();
    return;
  }
  const bool bInScope = IsOneOf(name, kClosedInScope);
  const bool bFormatting = IsOneOf(name, kFormatting);
  bool bPassedHtml = false;
  bool bPassedFormatting = false;
  for (k = m_elements.size(); k > 0; --k) {
    if (k == searchEnd) return GiveUp();
    const Element& element = m_elements[k - 1];
    const Name& n = element.name;
    if (element.space != Space::Html) {
      const bool bBound = element.space == Space::Svg
                              ? n.Is("foreignobject") || n.Is("desc") || n.Is("title")
                              : n.Is("mi") || n.Is("mo") || n.Is("mn") || n.Is("ms") || n.Is("mtext") ||
                                    n.Is("annotation-xml");
      if (bBound) return;  // special, and a bound of every scope: the tag is ignored
      continue;
    }
    if (n == name || (IsHeading(name) && IsHeading(n))) {
      // The adoption agency closes a formatting element as the others are
      // closed only with no special element above it.
      if (bFormatting && bPassedHtml) return GiveUp();
      // A formatting element closed on the way is opened again by the
      // text that follows: the HTML elements open are no longer the ones kept.
      if (bPassedFormatting) return GiveUp();
      m_elements.resize(k - 1);
      return LeftForeign();
    }
    if (bFormatting) return GiveUp();
    if (bInScope ? IsOneOf(n, kScopeBounds) || (name.Is("p") && n.Is("button")) ||
                       (name.Is("li") && (n.Is("ol") || n.Is("ul")))
                 : IsOneOf(n, kSpecial)) {
      return;
    }
    bPassedHtml = true;
    bPassedFormatting = bPassedFormatting || IsOneOf(n, kFormatting);
  }
  Split(m_readings, true);
}
