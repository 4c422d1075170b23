// The tokenizer's states, one character at a time, as the HTML standard
// gives them; the states that only report errors are left out where the
// state they lead to is the same.
#include "html/tokenizer_states.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

using State = CTokenizerStates::State;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A name of fewer than five letters that is none of "xmp", "svg" and
// "math": the only names that short a start tag of which the tokenizer or
// the tree builder reads on otherwise.
bool IsPlainShortName(const CTokenizerStates::Name& name) {
  const char* const t = name.text;
  switch (name.length) {
    case 1:
    case 2:
      return true;
    case 3:
      return !(t[0] == 'x' && t[1] == 'm' && t[2] == 'p') && !(t[0] == 's' && t[1] == 'v' && t[2] == 'g');
    case 4:
      return !(t[0] == 'm' && t[1] == 'a' && t[2] == 't' && t[3] == 'h');
    default:
      return false;
  }
}

}  // namespace

bool CTokenizerStates::IsInStartTag() const {
  if (m_tag.bEnd) return false;
  switch (m_state) {
    case State::TagName:
    case State::BeforeAttributeName:
    case State::AttributeName:
    case State::AfterAttributeName:
    case State::AfterAttributeValueQuoted:
    case State::SelfClosingStartTag:
      return true;
    default:
      return false;
  }
}

void CTokenizerStates::BeginAttribute(size_t at) {
  if (!m_bAttributes) return;
  Attribute attribute;
  attribute.nameBegin = attribute.nameEnd = at;
  m_attributes.push_back(attribute);
}

bool CTokenizerStates::Read(char c, size_t at) {
  switch (m_state) {
    case State::Data:
      if (c == '<') {
        m_state = State::TagOpen;
        m_tag.begin = at;
      }
      return false;
    case State::TagOpen:
    case State::EndTagOpen:
      if (IsLetter(c)) {
        m_tag.bEnd = m_state == State::EndTagOpen;
        m_tag.name.Clear();
        m_tag.name.Add(c);
        m_attributes.clear();
        m_state = State::TagName;
      } else if (m_state == State::EndTagOpen) {
        m_state = c == '>' ? State::Data : State::BogusComment;
      } else if (c == '/') {
        m_state = State::EndTagOpen;
      } else if (c == '!') {
        m_state = State::MarkupDeclarationOpen;
      } else if (c == '?') {
        m_state = State::BogusComment;
      } else {
        m_state = State::Data;
        return Read(c, at);
      }
      return false;
    case State::TagName:
      if (IsBlank(c)) {
        m_state = State::BeforeAttributeName;
      } else if (c == '/') {
        m_state = State::SelfClosingStartTag;
      } else if (c == '>') {
        EmitTag(at + 1);
        return true;
      } else {
        m_tag.name.Add(c);
      }
      return false;
    case State::BeforeAttributeName:
      if (IsBlank(c)) return false;
      if (c == '/' || c == '>') {
        m_state = State::AfterAttributeName;
        return Read(c, at);
      }
      BeginAttribute(at);
      m_state = State::AttributeName;
      return false;
    case State::AttributeName:
      if (IsBlank(c) || c == '/' || c == '>' || c == '=') {
        if (m_bAttributes) m_attributes.back().nameEnd = at;
        m_state = c == '=' ? State::BeforeAttributeValue : State::AfterAttributeName;
        return c == '=' ? false : Read(c, at);
      }
      return false;
    case State::AfterAttributeName:
      if (IsBlank(c)) return false;
      if (c == '/') {
        m_state = State::SelfClosingStartTag;
      } else if (c == '=') {
        m_state = State::BeforeAttributeValue;
      } else if (c == '>') {
        EmitTag(at + 1);
        return true;
      } else {
        BeginAttribute(at);
        m_state = State::AttributeName;
      }
      return false;
    case State::BeforeAttributeValue:
      if (IsBlank(c)) return false;
      if (c == '>') {
        EmitTag(at + 1);
        return true;
      }
      m_state = c == '"'    ? State::AttributeValueDoubleQuoted
                : c == '\'' ? State::AttributeValueSingleQuoted
                            : State::AttributeValueUnquoted;
      if (m_bAttributes) {
        m_attributes.back().valueBegin = m_state == State::AttributeValueUnquoted ? at : at + 1;
        m_attributes.back().valueEnd = m_attributes.back().valueBegin;
      }
      return false;
    case State::AttributeValueDoubleQuoted:
    case State::AttributeValueSingleQuoted:
      if (c == (m_state == State::AttributeValueDoubleQuoted ? '"' : '\'')) {
        if (m_bAttributes) m_attributes.back().valueEnd = at;
        m_state = State::AfterAttributeValueQuoted;
      }
      return false;
    case State::AttributeValueUnquoted:
      if (IsBlank(c) || c == '>') {
        if (m_bAttributes) m_attributes.back().valueEnd = at;
        if (c != '>') {
          m_state = State::BeforeAttributeName;
          return false;
        }
        EmitTag(at + 1);
        return true;
      }
      return false;
    case State::AfterAttributeValueQuoted:
    case State::SelfClosingStartTag:
      if (c == '>') {
        m_tag.bSelfClosing = m_state == State::SelfClosingStartTag;
        EmitTag(at + 1);
        return true;
      }
      if (m_state == State::AfterAttributeValueQuoted && IsBlank(c)) {
        m_state = State::BeforeAttributeName;
        return false;
      }
      if (m_state == State::AfterAttributeValueQuoted && c == '/') {
        m_state = State::SelfClosingStartTag;
        return false;
      }
      m_state = State::BeforeAttributeName;
      return Read(c, at);
    case State::MarkupDeclarationOpen:
    case State::MarkupDeclarationDash:
      if (c == '[' && m_state == State::MarkupDeclarationOpen && HtmlKeptAboveForeign()) {
        GiveUp();  // a section or a comment as the element open is HTML's or the one that holds it
        return false;
      }
      if (c == '[' && m_state == State::MarkupDeclarationOpen && InForeignContent()) {
        m_state = State::CDataSectionOpen;  // "<![CDATA[" opens a section that ends at "]]>"
        m_cdataMatched = 0;
        return false;
      }
      if (c == '-') {
        m_state = m_state == State::MarkupDeclarationOpen ? State::MarkupDeclarationDash : State::CommentStart;
        return false;
      }
      m_state = State::BogusComment;
      return Read(c, at);
    case State::BogusComment:
      if (c == '>') m_state = State::Data;
      return false;
    case State::CommentStart:
    case State::CommentStartDash:
      if (c == '>') {
        m_state = State::Data;
      } else if (c == '-') {
        m_state = m_state == State::CommentStart ? State::CommentStartDash : State::CommentEnd;
      } else {
        m_state = State::Comment;
      }
      return false;
    case State::Comment:
      if (c == '-') m_state = State::CommentEndDash;
      return false;
    case State::CommentEndDash:
      m_state = c == '-' ? State::CommentEnd : State::Comment;
      return false;
    case State::CommentEnd:
      if (c == '>') m_state = State::Data;
      else if (c == '!') m_state = State::CommentEndBang;
      else if (c != '-') m_state = State::Comment;
      return false;
    case State::CommentEndBang:
      m_state = c == '-' ? State::CommentEndDash : c == '>' ? State::Data : State::Comment;
      return false;
    case State::RcData:
    case State::RawText:
    case State::ScriptData:
      if (c == '<') {
        m_state = State::TextLessThan;
        m_tag.begin = at;
      }
      return false;
    case State::TextLessThan:
      if (c == '/') {
        m_state = State::TextEndTagOpen;
      } else if (c == '!' && m_textReturn == State::ScriptData) {
        m_state = State::ScriptEscapeStart;
      } else {
        m_state = m_textReturn;
        return Read(c, at);
      }
      return false;
    case State::TextEndTagOpen:
      if (!IsLetter(c)) {
        m_state = m_textReturn;
        return Read(c, at);
      }
      m_tag.bEnd = true;
      m_tag.name.Clear();
      m_tag.name.Add(c);
      m_attributes.clear();
      m_state = State::TextEndTagName;
      return false;
    case State::TextEndTagName:
      if (IsLetter(c)) {
        m_tag.name.Add(c);
        return false;
      }
      if ((IsBlank(c) || c == '/' || c == '>') && IsAppropriateEndTag()) {
        if (c == '>') {
          EmitTag(at + 1);
          return true;
        }
        m_state = c == '/' ? State::SelfClosingStartTag : State::BeforeAttributeName;
        return false;
      }
      m_state = m_textReturn;
      return Read(c, at);
    case State::ScriptEscapeStart:
    case State::ScriptEscapeStartDash:
      if (c == '-') {
        m_state = m_state == State::ScriptEscapeStart ? State::ScriptEscapeStartDash : State::ScriptEscapedDashDash;
        return false;
      }
      m_state = State::ScriptData;
      return Read(c, at);
    case State::ScriptEscaped:
    case State::ScriptEscapedDash:
    case State::ScriptEscapedDashDash:
      if (c == '-') {
        m_state = m_state == State::ScriptEscaped ? State::ScriptEscapedDash : State::ScriptEscapedDashDash;
      } else if (c == '<') {
        m_state = State::ScriptEscapedLessThan;
        m_tag.begin = at;
      } else if (c == '>' && m_state == State::ScriptEscapedDashDash) {
        m_state = m_textReturn = State::ScriptData;
      } else {
        m_state = State::ScriptEscaped;
      }
      return false;
    case State::ScriptEscapedLessThan:
      if (c == '/') {
        m_textReturn = State::ScriptEscaped;
        m_state = State::TextEndTagOpen;
        return false;
      }
      m_state = State::ScriptEscaped;
      if (IsLetter(c)) {
        m_buffer.Clear();
        m_state = State::ScriptDoubleEscapeStart;
      }
      return Read(c, at);
    case State::ScriptDoubleEscapeStart:
    case State::ScriptDoubleEscapeEnd: {
      const bool bStart = m_state == State::ScriptDoubleEscapeStart;
      if (IsBlank(c) || c == '/' || c == '>') {
        m_state = m_buffer.Is("script") == bStart ? State::ScriptDoubleEscaped : State::ScriptEscaped;
        return false;
      }
      if (IsLetter(c)) {
        m_buffer.Add(c);
        return false;
      }
      m_state = bStart ? State::ScriptEscaped : State::ScriptDoubleEscaped;
      return Read(c, at);
    }
    case State::ScriptDoubleEscaped:
    case State::ScriptDoubleEscapedDash:
    case State::ScriptDoubleEscapedDashDash:
      if (c == '-') {
        m_state = m_state == State::ScriptDoubleEscaped ? State::ScriptDoubleEscapedDash
                                                        : State::ScriptDoubleEscapedDashDash;
      } else if (c == '<') {
        m_state = State::ScriptDoubleEscapedLessThan;
      } else if (c == '>' && m_state == State::ScriptDoubleEscapedDashDash) {
        m_state = m_textReturn = State::ScriptData;
      } else {
        m_state = State::ScriptDoubleEscaped;
      }
      return false;
    case State::ScriptDoubleEscapedLessThan:
      if (c == '/') {
        m_buffer.Clear();
        m_state = State::ScriptDoubleEscapeEnd;
        return false;
      }
      m_state = State::ScriptDoubleEscaped;
      return Read(c, at);
    case State::CDataSectionOpen:
      if (c == "CDATA["[m_cdataMatched]) {
        if (++m_cdataMatched == 6) m_state = State::CDataSection;
        return false;
      }
      m_state = State::BogusComment;
      return Read(c, at);
    case State::CDataSection:
      if (c == ']') m_state = State::CDataSectionBracket;
      return false;
    case State::CDataSectionBracket:
      m_state = c == ']' ? State::CDataSectionEnd : State::CDataSection;
      return false;
    case State::CDataSectionEnd:
      if (c == '>') {
        m_state = State::Data;
      } else if (c != ']') {
        m_state = State::CDataSection;
      }
      return false;
    case State::PlainText:
    case State::Unknown:
      return false;
  }
  return false;
}

namespace {

// The bytes that may change each state; every other byte leaves it as it
// is, so runs of them are passed over at once.
struct Stops {
  bool bytes[256] = {};
  constexpr explicit Stops(std::string_view stops) {
    for (const char c : stops) bytes[static_cast<unsigned char>(c)] = true;
  }
};
constexpr Stops kNameStops(" \t\n\f\r/>=");
constexpr Stops kUnquotedStops(" \t\n\f\r>");
constexpr Stops kEscapedStops("-<");

size_t Skip(const char* p, size_t i, size_t to, const Stops& stops) {
  while (i < to && !stops.bytes[static_cast<unsigned char>(p[i])]) ++i;
  return i;
}

size_t Find(const char* p, size_t i, size_t to, char c) {
  // A stop often follows at once (a line break between two tags).
  if (i < to && p[i] == c) return i;
  const void* found = std::memchr(p + i, c, to - i);
  return found == nullptr ? to : static_cast<size_t>(static_cast<const char*>(found) - p);
}

}  // namespace

// Text and the tags of an ordinary page, read with the state in a local
// and without attribute records: most bytes of a page take these steps.
// Anything else is the general reading's.
bool CTokenizerStates::ReadFast(const char* p, size_t& at, size_t to, bool bStopAtTags) {
  State state = m_state;
  size_t i = at;
  while (i < to) {
    char c = p[i];
    bool bEmit = false;
    switch (state) {
      // A tag of the usual form, <name attribute="value" ...>, is read on
      // from state to state without going round the loop for each.
      case State::Data:
        i = Find(p, i, to, '<');
        if (i == to) continue;
        m_tag.begin = i++;
        state = State::TagOpen;
        if (i < to && p[i] == '/') {
          state = State::EndTagOpen;
          ++i;
        }
        if (i == to) continue;
        c = p[i];
        [[fallthrough]];
      case State::TagOpen:
      case State::EndTagOpen:
        if (!IsLetter(c)) {
          if (state == State::TagOpen && c == '!' && to - i > 2 && p[i + 1] == '-' && p[i + 2] == '-') {
            state = State::CommentStart;  // "<!--"
            i += 3;
            continue;
          }
          break;
        }
        m_tag.bEnd = state == State::EndTagOpen;
        m_tag.name.Clear();
        state = State::TagName;
        [[fallthrough]];
      case State::TagName: {
        for (; i < to && !kNameStops.bytes[static_cast<unsigned char>(p[i])]; ++i) m_tag.name.Add(p[i]);
        if (i == to) continue;
        c = p[i];
        bEmit = c == '>';
        if (!IsBlank(c)) break;
        state = State::BeforeAttributeName;
        if (++i == to) continue;
        c = p[i];
        [[fallthrough]];
      }
      case State::BeforeAttributeName:
        if (IsBlank(c)) {
          ++i;
          continue;
        }
        bEmit = c == '>';
        if (c == '/' || c == '>' || c == '=') break;
        state = State::AttributeName;
        if (++i == to) continue;
        [[fallthrough]];
      case State::AttributeName:
        i = Skip(p, i, to, kNameStops);
        if (i == to) continue;
        c = p[i];
        bEmit = c == '>';
        if (c != '=' && !IsBlank(c)) break;
        ++i;
        if (c != '=') {
          state = State::AfterAttributeName;
          continue;
        }
        state = State::BeforeAttributeValue;
        if (i == to) continue;
        c = p[i];
        [[fallthrough]];
      case State::BeforeAttributeValue:
        if (IsBlank(c)) {
          ++i;
          continue;
        }
        if (c != '"' && c != '\'') break;
        state = c == '"' ? State::AttributeValueDoubleQuoted : State::AttributeValueSingleQuoted;
        ++i;
        [[fallthrough]];
      case State::AttributeValueDoubleQuoted:
      case State::AttributeValueSingleQuoted:
        i = Find(p, i, to, state == State::AttributeValueDoubleQuoted ? '"' : '\'');
        if (i == to) continue;
        state = State::AfterAttributeValueQuoted;
        if (++i == to) continue;
        c = p[i];
        [[fallthrough]];
      case State::AfterAttributeValueQuoted:
        bEmit = c == '>';
        if (!IsBlank(c)) break;
        state = State::BeforeAttributeName;
        ++i;
        continue;
      case State::AfterAttributeName:
        if (IsBlank(c)) {
          ++i;
          continue;
        }
        bEmit = c == '>';
        if (c == '/' || c == '>') break;
        state = c == '=' ? State::BeforeAttributeValue : State::AttributeName;
        ++i;
        continue;
      case State::Comment:
        i = Find(p, i, to, '-');
        if (to - i > 2 && p[i + 1] == '-' && p[i + 2] == '>') {
          state = State::Data;  // "-->"
          i += 3;
          continue;
        }
        if (i == to) continue;
        c = p[i];
        break;
      case State::TextEndTagName:
        for (; i < to && IsLetter(p[i]); ++i) m_tag.name.Add(p[i]);
        if (i == to) continue;
        c = p[i];
        break;
      case State::AttributeValueUnquoted:
      case State::RcData:
      case State::RawText:
      case State::ScriptData:
      case State::BogusComment:
      case State::ScriptEscaped:
      case State::ScriptDoubleEscaped: {
        const size_t stop = SkipIn(state, p, i, to);
        if (stop != i) {
          i = stop;
          continue;
        }
        break;
      }
      case State::PlainText:
        i = to;
        continue;
      default:
        break;
    }
    m_state = state;
    bool bTag = bEmit;
    if (bEmit) {
      ++i;
      // Outside foreign content an end tag, or a start tag of fewer than
      // five letters but xmp, svg and math (no element of text, no foreign
      // element), leaves text as it was.
      if (m_elements.empty() && !m_bInSelect &&
          (m_tag.bEnd || m_tag.name.length < 3 || IsPlainShortName(m_tag.name))) {
        m_lastTag = m_tag;
        m_lastTagEnd = i;
        m_tag.bSelfClosing = false;
        m_state = State::Data;
      } else {
        EmitTag(i);
      }
    } else {
      bTag = Read(c, i++);
    }
    state = m_state;
    if (state == State::Unknown) i = to;  // no tag is read after it
    if (bTag && (bStopAtTags || m_bSplit)) {
      m_bSplit = false;
      at = i;
      return true;
    }
  }
  m_state = state;
  at = to;
  return false;
}

// Where the first byte that may change the state is, from i on (i itself
// when it may); for the states whose runs of other bytes are long.
size_t CTokenizerStates::SkipIn(State state, const char* p, size_t i, size_t to) {
  switch (state) {
    case State::Data:
    case State::RcData:
    case State::RawText:
    case State::ScriptData:
      return Find(p, i, to, '<');
    case State::AttributeValueDoubleQuoted:
      return Find(p, i, to, '"');
    case State::AttributeValueSingleQuoted:
      return Find(p, i, to, '\'');
    case State::BogusComment:
      return Find(p, i, to, '>');
    case State::CDataSection:
      return Find(p, i, to, ']');
    case State::Comment:
      return Find(p, i, to, '-');
    case State::AttributeName:
      return Skip(p, i, to, kNameStops);
    case State::AttributeValueUnquoted:
      return Skip(p, i, to, kUnquotedStops);
    case State::ScriptEscaped:
    case State::ScriptDoubleEscaped:
      return Skip(p, i, to, kEscapedStops);
    case State::PlainText:
    case State::Unknown:
      return to;
    default:
      return i;
  }
}

bool CTokenizerStates::ReadUntilTag(std::string_view text, size_t& at, size_t to) {
  // A caller's bound past the page (a prescan's 1,024 bytes of a shorter
  // page) reads to the page's end.
  to = std::min(to, text.size());
  m_text = text;
  const char* const p = text.data();
  if (!m_bAttributes) return ReadFast(p, at, to, true);
  for (size_t i = at; i < to; ++i) {
    if (m_state == State::TagName) {
      for (; i < to && !kNameStops.bytes[static_cast<unsigned char>(p[i])]; ++i) m_tag.name.Add(p[i]);
    } else {
      i = SkipIn(m_state, p, i, to);
    }
    if (i >= to) break;
    if (Read(p[i], i)) {
      at = i + 1;
      return true;
    }
  }
  at = to;
  return false;
}

bool CTokenizerStates::ReadUntilSplit(std::string_view text, size_t& at, size_t to) {
  to = std::min(to, text.size());
  m_text = text;
  if (m_bAttributes) {
    while (at < to) ReadUntilTag(text, at, to);
    return false;
  }
  return ReadFast(text.data(), at, to, false);
}

void CTokenizerStates::ReadAll(std::string_view text, size_t from, size_t to) {
  m_text = text;
  if (!m_bAttributes) {
    while (from < to) ReadFast(text.data(), from, to, false);
    return;
  }
  while (from < to) ReadUntilTag(text, from, to);
}

bool CTokenizerStates::ReadsLike(const CTokenizerStates& other) const {
  if (m_state != other.m_state || m_elements.size() != other.m_elements.size()) return false;
  switch (m_state) {
    case State::TagName:
    case State::BeforeAttributeName:
    case State::AttributeName:
    case State::AfterAttributeName:
    case State::BeforeAttributeValue:
    case State::AttributeValueDoubleQuoted:
    case State::AttributeValueSingleQuoted:
    case State::AttributeValueUnquoted:
    case State::AfterAttributeValueQuoted:
    case State::SelfClosingStartTag:
      return m_tag.bEnd == other.m_tag.bEnd && m_tag.name == other.m_tag.name &&
             (!m_tag.bEnd || m_textElement == other.m_textElement);
    case State::RcData:
    case State::RawText:
    case State::ScriptData:
    case State::TextLessThan:
    case State::TextEndTagOpen:
    case State::TextEndTagName:
    case State::ScriptEscapeStart:
    case State::ScriptEscapeStartDash:
    case State::ScriptEscaped:
    case State::ScriptEscapedDash:
    case State::ScriptEscapedDashDash:
    case State::ScriptEscapedLessThan:
    case State::ScriptDoubleEscapeStart:
    case State::ScriptDoubleEscaped:
    case State::ScriptDoubleEscapedDash:
    case State::ScriptDoubleEscapedDashDash:
    case State::ScriptDoubleEscapedLessThan:
    case State::ScriptDoubleEscapeEnd:
      return m_textElement == other.m_textElement && m_textReturn == other.m_textReturn &&
             m_tag.name == other.m_tag.name && m_buffer == other.m_buffer;
    default:
      return true;
  }
}

bool CTokenizerStates::SameAs(const CTokenizerStates& other) const {
  return ReadsLike(other) && m_bInSelect == other.m_bInSelect && m_elements == other.m_elements &&
         (m_state == State::Data || m_tag.begin == other.m_tag.begin) &&
         (m_state != State::CDataSectionOpen || m_cdataMatched == other.m_cdataMatched);
}

const char* CTokenizerStates::StateName(State state) {
  static constexpr const char* kNames[] = {
      "data", "tag open", "end tag open", "tag name", "before attribute name",
      "attribute name", "after attribute name", "before attribute value", "attribute value (double-quoted)",
      "attribute value (single-quoted)", "attribute value (unquoted)", "after attribute value (quoted)",
      "self-closing start tag", "markup declaration open", "markup declaration open", "bogus comment",
      "comment start", "comment start dash", "comment", "comment end dash", "comment end", "comment end bang",
      "RCDATA", "RAWTEXT", "script data", "text less-than sign", "text end tag open", "text end tag name",
      "script data escape start", "script data escape start dash", "script data escaped",
      "script data escaped dash", "script data escaped dash dash", "script data escaped less-than sign",
      "script data double escape start", "script data double escaped", "script data double escaped dash",
      "script data double escaped dash dash", "script data double escaped less-than sign",
      "script data double escape end", "PLAINTEXT", "CDATA section open", "CDATA section", "CDATA section bracket",
      "CDATA section end", "foreign content not followed"};
  static_assert(std::size(kNames) == static_cast<size_t>(State::Unknown) + 1);
  const auto index = static_cast<size_t>(state);
  return index < std::size(kNames) ? kNames[index] : "unknown";
}
