// The browser's reading of a page's markup, character by character, in the
// states of its HTML tokenizer: text, tags and their attributes, comments,
// and the elements whose text is read up to their own end tag (script with
// its escaped parts, style, textarea, title, xmp, iframe, noembed,
// noframes, noscript, and plaintext, which ends nothing). Every reader of
// markup the module and its host place edits by goes through this one, so
// they find the tags the browser finds.
//
// The bytes of a page in an ASCII-compatible set read alike: no byte that
// markup is made of (blanks, < > & " ' = / ! - ?) is ever the second byte of
// a character in Shift_JIS, EUC-KR, GBK or Big5, and a letter is one only
// after a byte above 0x7F, which no name of these elements holds. Every
// byte above 0x7F is read as a character that is no markup.
//
// The tree builder's part is taken as it is in the body of a page: the
// named elements switch the tokenizer. Inside <svg> and <math> they are SVG
// and MathML elements that switch nothing, a "<![CDATA[" is a section, and
// the elements that hold HTML again (foreignObject, desc, title; mi, mo, mn,
// ms, mtext) are followed; the open elements are kept from there on, and
// where they do not nest plainly (an end tag that closes no element left
// open, a font or an annotation-xml, whose attributes decide, a CDATA
// section) the reading gives up: the state is Unknown to the page's end, no
// tag is read after it and no edit goes there.
// Kept free of the module's other code: the filter host builds it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class CTokenizerStates {
 public:
  enum class State : uint8_t {
    Data,  // a character reference in it is the reader's to find
    TagOpen,
    EndTagOpen,
    TagName,
    BeforeAttributeName,
    AttributeName,
    AfterAttributeName,
    BeforeAttributeValue,
    AttributeValueDoubleQuoted,
    AttributeValueSingleQuoted,
    AttributeValueUnquoted,
    AfterAttributeValueQuoted,
    SelfClosingStartTag,
    MarkupDeclarationOpen,
    MarkupDeclarationDash,
    BogusComment,  // also a doctype: both end at the next ">"
    CommentStart,
    CommentStartDash,
    Comment,
    CommentEndDash,
    CommentEnd,
    CommentEndBang,
    RcData,
    RawText,
    ScriptData,
    TextLessThan,    // "<" in RcData, RawText or ScriptData
    TextEndTagOpen,  // "</" there
    TextEndTagName,
    ScriptEscapeStart,
    ScriptEscapeStartDash,
    ScriptEscaped,
    ScriptEscapedDash,
    ScriptEscapedDashDash,
    ScriptEscapedLessThan,
    ScriptDoubleEscapeStart,
    ScriptDoubleEscaped,
    ScriptDoubleEscapedDash,
    ScriptDoubleEscapedDashDash,
    ScriptDoubleEscapedLessThan,
    ScriptDoubleEscapeEnd,
    PlainText,
    Unknown,  // in foreign content the reading does not follow
  };

  // A name as read: ASCII lower-cased; a longer name than any the readers
  // look for (the longest SVG element's has 19 letters) is kept as too long,
  // equal to no name.
  struct Name {
    static constexpr size_t kMax = 22;
    char text[kMax] = {};
    uint8_t length = 0;
    bool bTooLong = false;
    void Clear() { length = 0, bTooLong = false; }
    void Add(char c) {
      if (length == kMax) {
        bTooLong = true;
        return;
      }
      text[length++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    bool Is(std::string_view name) const {
      return !bTooLong && name.size() == length && name == std::string_view(text, length);
    }
    bool operator==(const Name& other) const {
      return !bTooLong && !other.bTooLong && std::string_view(text, length) == std::string_view(other.text, other.length);
    }
  };

  // An attribute of the tag being read, as byte ranges of the text read.
  struct Attribute {
    size_t nameBegin = 0, nameEnd = 0;
    size_t valueBegin = 0, valueEnd = 0;  // equal when there is no value
  };

  // A tag the tokenizer emitted.
  struct Tag {
    bool bEnd = false;
    bool bSelfClosing = false;
    size_t begin = 0;  // its "<"
    Name name;
  };

  // bScripting: <noscript> holds text (as in a browser that runs scripts),
  // not markup. bAttributes: each tag's attributes are kept for Attributes().
  // bForeignContent: <svg> and <math> are read as the tree builder reads
  // them (a browser's prescan of the page's set does not).
  explicit CTokenizerStates(bool bScripting = true, bool bAttributes = false, bool bForeignContent = true)
      : m_bScripting(bScripting), m_bAttributes(bAttributes), m_bForeignContent(bForeignContent) {}

  // Reads the character at `at` of the text: c itself for ASCII, any byte
  // above 0x7F for a character that is none. True when it ends a tag, which
  // LastTag() then gives.
  bool Read(char c, size_t at);

  // Reads text[at, to), stopping right after a character that ends a tag:
  // true there, `at` after that character; false with `at` at `to`.
  bool ReadUntilTag(std::string_view text, size_t& at, size_t to);
  // Reads text[from, to) whole.
  void ReadAll(std::string_view text, size_t from, size_t to);

  State GetState() const { return m_state; }
  // In HTML text, between two of its characters: anything may go here.
  bool IsBetweenTokens() const { return m_state == State::Data && !InForeignContent(); }
  // In an SVG or MathML element, where an HTML tag would close it.
  bool InForeignContent() const { return !m_elements.empty() && m_elements.back().space != Space::Html; }
  // Inside a start tag, in its name, its attributes or between them (not
  // waiting for a value after "=").
  bool IsInStartTag() const;
  bool IsInAttributeValue() const {
    return m_state == State::AttributeValueDoubleQuoted || m_state == State::AttributeValueSingleQuoted ||
           m_state == State::AttributeValueUnquoted;
  }
  // The tag being read (in a tag's states): where it began, its name so far.
  const Tag& CurrentTag() const { return m_tag; }
  const Tag& LastTag() const { return m_lastTag; }
  const std::vector<Attribute>& Attributes() const { return m_attributes; }

  // The two readings go on alike from here: same state, same tag being read,
  // same element whose text is being read.
  bool ReadsLike(const CTokenizerStates& other) const;

  static const char* StateName(State state);

 private:
  bool ReadFast(const char* p, size_t& at, size_t to, bool bStopAtTags);
  static size_t SkipIn(State state, const char* p, size_t i, size_t to);
  void EmitTag();
  void StartText();
  bool IsAppropriateEndTag() const { return m_tag.name == m_textElement; }
  void BeginAttribute(size_t at);

  // The open elements from the first <svg> or <math> on, as the tree builder
  // keeps them; empty outside foreign content.
  enum class Space : uint8_t { Html, Svg, MathMl };
  struct Element {
    Name name;
    Space space = Space::Html;
  };
  static constexpr size_t kMaxOpen = 64;
  bool TagIsHtml() const;
  void FollowTree();
  void Open(Space space);
  void GiveUp() { m_state = State::Unknown; }

  State m_state = State::Data;
  bool m_bScripting;
  bool m_bAttributes;
  bool m_bForeignContent;
  std::vector<Element> m_elements;  // from the first <svg> or <math> on
  Tag m_tag;
  Tag m_lastTag;
  Name m_textElement;  // the element whose text is read (its end tag ends it)
  Name m_buffer;       // the name after "<" or "</" in a script's escaped parts
  State m_textReturn = State::Data;  // the text state a "<" that opens nothing goes back to
  std::vector<Attribute> m_attributes;
};
