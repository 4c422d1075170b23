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
// A browser reads some markup one of two ways: <noscript> holds text where
// scripts run and markup where they do not, and inside a <select> the tree
// builder of 2025 on opens the elements of text (style, xmp, iframe,
// noembed, noframes, noscript, title, plaintext) and svg and math, where
// the earlier one ignored their start tags. A reader stands for a set of
// these readings; where they part it splits (CPageReadings keeps the
// parts), so every reading is followed and none is guessed.
//
// The tree builder's part is taken as it is in the body of a page: the
// named elements switch the tokenizer. Inside <svg> and <math> they are SVG
// and MathML elements that switch nothing, a "<![CDATA[" is a section, and
// the elements that hold HTML again (foreignObject, desc, title; mi, mo, mn,
// ms, mtext; an annotation-xml whose encoding is HTML's) are followed, as
// are a font that leaves them by its attributes and an HTML end tag that
// closes them. The open elements are kept from the first <svg> or <math> on;
// where the elements open below them decide (whether an HTML end tag finds
// its element there), the reader splits into both outcomes, and where the
// tree builder's steps are not followed at all the reading gives up: the
// state is Unknown to the page's end, no tag is read after it and no edit
// goes there.
// Kept free of the module's other code: the filter host builds it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
    CDataSectionOpen,  // "<![" in foreign content, on to "CDATA["
    CDataSection,
    CDataSectionBracket,
    CDataSectionEnd,
    Unknown,  // in foreign content the reading does not follow
  };

  // A name as read, ASCII lower-cased: its first letters in place, any
  // beyond them (an SVG metadata element's long name) kept aside.
  struct Name {
    static constexpr size_t kMax = 22;
    char text[kMax] = {};
    uint8_t length = 0;
    bool bTooLong = false;  // letters beyond kMax are in `rest`
    std::string rest;
    void Clear() {
      length = 0;
      if (bTooLong) bTooLong = false, rest.clear();
    }
    void Add(char c) {
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
      if (length == kMax) {
        bTooLong = true;
        rest += c;
        return;
      }
      text[length++] = c;
    }
    bool Is(std::string_view name) const {
      return !bTooLong && name.size() == length && name == std::string_view(text, length);
    }
    bool operator==(const Name& other) const {
      return length == other.length && bTooLong == other.bTooLong &&
             std::string_view(text, length) == std::string_view(other.text, other.length) &&
             (!bTooLong || rest == other.rest);
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

  // The parts of a page's reading followed at once; a reader that would
  // split off more gives up.
  static constexpr size_t kMaxParts = 8;

  // The readings a reader stands for, one bit each.
  static constexpr uint8_t kScriptingOnSelect2025 = 1, kScriptingOffSelect2025 = 2, kScriptingOnSelectBefore = 4,
                           kScriptingOffSelectBefore = 8;
  static constexpr uint8_t kScriptingOn = kScriptingOnSelect2025 | kScriptingOnSelectBefore;
  static constexpr uint8_t kScriptingOff = kScriptingOffSelect2025 | kScriptingOffSelectBefore;
  static constexpr uint8_t kSelectBefore = kScriptingOnSelectBefore | kScriptingOffSelectBefore;
  static constexpr uint8_t kEveryReading = kScriptingOn | kScriptingOff;

  // readings: those the reader stands for (a reading it cannot split off
  // without a CPageReadings makes it give up). bAttributes: each tag's
  // attributes are kept for Attributes(). bForeignContent: the tree
  // builder's steps are followed, <svg>, <math> and <select> (a browser's
  // prescan of the page's set takes none of them).
  explicit CTokenizerStates(uint8_t readings = kEveryReading, bool bAttributes = false, bool bForeignContent = true)
      : m_readings(readings), m_bAttributes(bAttributes), m_bForeignContent(bForeignContent) {}

  // Reads the character at `at` of the text: c itself for ASCII, any byte
  // above 0x7F for a character that is none. True when it ends a tag, which
  // LastTag() then gives.
  bool Read(char c, size_t at);

  // Reads text[at, to), stopping right after a character that ends a tag:
  // true there, `at` after that character; false with `at` at `to`.
  bool ReadUntilTag(std::string_view text, size_t& at, size_t to);
  // Reads text[at, to), stopping right after a tag that split the reading:
  // true there.
  bool ReadUntilSplit(std::string_view text, size_t& at, size_t to);
  // Reads text[from, to) whole.
  void ReadAll(std::string_view text, size_t from, size_t to);

  State GetState() const { return m_state; }
  // In HTML text, between two of its characters: anything may go here.
  bool IsBetweenTokens() const { return m_state == State::Data && !InForeignContent(); }
  // In an SVG or MathML element, where an HTML tag would close it.
  bool InForeignContent() const { return !m_elements.empty() && m_elements.back().space != Space::Html; }
  // In an HTML element kept open inside SVG or MathML: the tree builder may
  // have closed it (a <div> closes a <p>), the element that holds HTML
  // below it then being the one open.
  bool HtmlKeptAboveForeign() const { return !m_elements.empty() && m_elements.back().space == Space::Html; }
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
  // Just past the last tag's end.
  size_t LastTagEnd() const { return m_lastTagEnd; }
  uint8_t Readings() const { return m_readings; }
  const std::vector<Attribute>& Attributes() const { return m_attributes; }

  // The two readings go on alike from here: same state, same tag being read,
  // same element whose text is being read.
  bool ReadsLike(const CTokenizerStates& other) const;
  // Reads on exactly as the other one: the same tree builder's state too.
  bool SameAs(const CTokenizerStates& other) const;
  // The readings split off from here on go where `splits` holds them; null:
  // a split gives up instead.
  void SplitInto(std::vector<CTokenizerStates>* splits) { m_pSplits = splits; }
  void AddReadings(uint8_t readings) { m_readings |= readings; }
  void GiveUp() { m_state = State::Unknown; }

  static const char* StateName(State state);

 private:
  bool ReadFast(const char* p, size_t& at, size_t to, bool bStopAtTags);
  static size_t SkipIn(State state, const char* p, size_t i, size_t to);
  void EmitTag(size_t end);
  void StartText();
  bool ReadInSelect();
  CTokenizerStates* Split(uint8_t readings, bool bClosesForeign = false);
  bool TagHasAttribute(std::string_view name, std::string_view* pValue = nullptr) const;
  void CloseForeign();
  void LeftForeign();
  bool IsAppropriateEndTag() const { return m_tag.name == m_textElement; }
  void BeginAttribute(size_t at);

  // The open elements from the first <svg> or <math> on, as the tree builder
  // keeps them; empty outside foreign content.
  enum class Space : uint8_t { Html, Svg, MathMl };
  struct Element {
    Name name;
    Space space = Space::Html;
    bool bHoldsHtml = false;  // an annotation-xml whose encoding is HTML's
    bool operator==(const Element& other) const {
      return space == other.space && bHoldsHtml == other.bHoldsHtml && name == other.name;
    }
  };
  bool TagIsHtml() const;
  void FollowTree();
  void EndTagInForeignContent();
  void Open(Space space);

  State m_state = State::Data;
  uint8_t m_readings;
  // In a <select>, as the tree builder before 2025 reads it (kept while the
  // reader stands for such a reading).
  bool m_bInSelect = false;
  bool m_bSplit = false;  // a tag just read split the reading
  uint8_t m_cdataMatched = 0;  // letters of "CDATA[" read
  bool m_bAttributes;
  bool m_bForeignContent;
  std::vector<Element> m_elements;  // from the first <svg> or <math> on
  Tag m_tag;
  Tag m_lastTag;
  Name m_textElement;  // the element whose text is read (its end tag ends it)
  Name m_buffer;       // the name after "<" or "</" in a script's escaped parts
  State m_textReturn = State::Data;  // the text state a "<" that opens nothing goes back to
  std::vector<Attribute> m_attributes;
  size_t m_lastTagEnd = 0;
  std::string_view m_text;  // the text being read (a tag's attributes are looked up in it)
  std::vector<CTokenizerStates>* m_pSplits = nullptr;
};

// Every reading of a text a browser may take, read on together: one reader
// while they agree, one for each part where they differ. The parts are kept
// to a few (the readings, and the outcomes the open elements below foreign
// content decide); beyond that every reading gives up.
class CPageReadings {
 public:
  explicit CPageReadings(std::string_view text);
  // Its readers keep where their parts go.
  CPageReadings(const CPageReadings&) = delete;
  CPageReadings& operator=(const CPageReadings&) = delete;
  // Reads on to `to`.
  void ReadTo(size_t to);
  // Reads on to the next tag every reading ends at the same byte; false at
  // the text's end. Tag() gives it.
  bool NextTag();
  // Every reading reads alike here: Reader() is theirs.
  bool Agree() const { return m_readers.size() == 1; }
  const CTokenizerStates& Reader() const { return m_readers.front(); }
  const CTokenizerStates::Tag& Tag() const { return m_readers.front().LastTag(); }

 private:
  bool Step(size_t to);
  void Merge();
  void GiveUp();

  static constexpr size_t kMaxParts = CTokenizerStates::kMaxParts;
  std::string_view m_text;
  size_t m_at = 0;
  std::vector<CTokenizerStates> m_readers;
  std::vector<CTokenizerStates> m_splits;
};
