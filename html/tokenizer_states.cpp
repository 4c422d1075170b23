// The tokenizer's states, one character at a time, as the HTML standard
// gives them; the states that only report errors are left out where the
// state they lead to is the same.
#include "html/tokenizer_states.h"

#include <cstring>
#include <iterator>

namespace {

using State = CTokenizerStates::State;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Elements whose text the tokenizer reads up to their end tag.
constexpr std::string_view kRcDataElements[] = {"textarea", "title"};
constexpr std::string_view kRawTextElements[] = {"style", "xmp", "iframe", "noembed", "noframes"};

template <size_t N>
bool IsOneOf(const CTokenizerStates::Name& name, const std::string_view (&names)[N]) {
  for (const std::string_view n : names) {
    if (name.Is(n)) return true;
  }
  return false;
}

}  // namespace

void CTokenizerStates::Name::Add(char c) {
  if (length == kMax) {
    bTooLong = true;
    return;
  }
  text[length++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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

void CTokenizerStates::StartText() {
  m_textElement = m_tag.name;
  const Name& name = m_tag.name;
  if (name.Is("script")) {
    m_state = m_textReturn = State::ScriptData;
  } else if (IsOneOf(name, kRcDataElements)) {
    m_state = m_textReturn = State::RcData;
  } else if (IsOneOf(name, kRawTextElements) || (m_bScripting && name.Is("noscript"))) {
    m_state = m_textReturn = State::RawText;
  } else if (name.Is("plaintext")) {
    m_state = State::PlainText;
  } else {
    m_state = State::Data;
  }
}

void CTokenizerStates::EmitTag() {
  m_lastTag = m_tag;
  if (m_tag.bEnd) {
    m_state = State::Data;
  } else {
    StartText();
  }
}

bool CTokenizerStates::Read(char c, size_t at) {
  switch (m_state) {
    case State::Data:
      if (c == '<') {
        m_state = State::TagOpen;
        m_tag.begin = at;
      } else if (c == '&') {
        m_state = State::CharacterReference;
      }
      return false;
    case State::CharacterReference:
      if (IsLetter(c) || IsDigit(c) || c == '#') return false;
      m_state = State::Data;
      return c == ';' ? false : Read(c, at);
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
        EmitTag();
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
        EmitTag();
        return true;
      } else {
        BeginAttribute(at);
        m_state = State::AttributeName;
      }
      return false;
    case State::BeforeAttributeValue:
      if (IsBlank(c)) return false;
      if (c == '>') {
        EmitTag();
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
        EmitTag();
        return true;
      }
      return false;
    case State::AfterAttributeValueQuoted:
    case State::SelfClosingStartTag:
      if (c == '>') {
        EmitTag();
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
          EmitTag();
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
    case State::PlainText:
      return false;
  }
  return false;
}

bool CTokenizerStates::ReadUntilTag(std::string_view text, size_t& at, size_t to) {
  const char* const p = text.data();
  for (size_t i = at; i < to; ++i) {
    // Long runs of text and comments are passed over a search at a time.
    if (m_state == State::Data) {
      while (i < to && p[i] != '<' && p[i] != '&') ++i;
    } else if (m_state == State::RcData || m_state == State::RawText || m_state == State::ScriptData) {
      const void* lt = std::memchr(p + i, '<', to - i);
      i = lt == nullptr ? to : static_cast<size_t>(static_cast<const char*>(lt) - p);
    } else if (m_state == State::Comment || m_state == State::ScriptEscaped) {
      while (i < to && p[i] != '-' && p[i] != '<') ++i;
    } else if (m_state == State::PlainText) {
      i = to;
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

void CTokenizerStates::ReadAll(std::string_view text, size_t from, size_t to) {
  while (from < to) ReadUntilTag(text, from, to);
}

bool CTokenizerStates::ReadsLike(const CTokenizerStates& other) const {
  if (m_state != other.m_state) return false;
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

const char* CTokenizerStates::StateName(State state) {
  static constexpr const char* kNames[] = {
      "data", "character reference", "tag open", "end tag open", "tag name", "before attribute name",
      "attribute name", "after attribute name", "before attribute value", "attribute value (double-quoted)",
      "attribute value (single-quoted)", "attribute value (unquoted)", "after attribute value (quoted)",
      "self-closing start tag", "markup declaration open", "markup declaration open", "bogus comment",
      "comment start", "comment start dash", "comment", "comment end dash", "comment end", "comment end bang",
      "RCDATA", "RAWTEXT", "script data", "text less-than sign", "text end tag open", "text end tag name",
      "script data escape start", "script data escape start dash", "script data escaped",
      "script data escaped dash", "script data escaped dash dash", "script data escaped less-than sign",
      "script data double escape start", "script data double escaped", "script data double escaped dash",
      "script data double escaped dash dash", "script data double escaped less-than sign",
      "script data double escape end", "PLAINTEXT"};
  static_assert(std::size(kNames) == static_cast<size_t>(State::PlainText) + 1);
  const auto index = static_cast<size_t>(state);
  return index < std::size(kNames) ? kNames[index] : "unknown";
}
