// The character set a page is in, decided in the order and by the reading
// rules browsers use, so the module walks a page in the set its browser
// reads it in.
#include "general/page_char_set_choice.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/char_set_labels.h"
#include "forms/html_char_refs.h"
#include "html/tokenizer_states.h"

namespace {

constexpr size_t kPrescanBytes = 1024;
constexpr std::string_view kCharSetName = "charset";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsHttpWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsHtmlWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

constexpr std::string_view kSeparators = "\"(),/:;<=>?@[\\]{}";

// Token characters by byte, so a type's every character is tested by one
// look-up rather than a search of the separators.
constexpr std::array<bool, 128> TokenChars() {
  std::array<bool, 128> table{};
  for (size_t u = 0x21; u < 0x7F; ++u) table[u] = kSeparators.find(static_cast<char>(u)) == std::string_view::npos;
  return table;
}
constexpr std::array<bool, 128> kTokenChars = TokenChars();

bool IsTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < kTokenChars.size() && kTokenChars[u];
}
bool IsToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar); }
bool IsQuotedStringChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '\t' || (u >= 0x20 && u != 0x7F);
}

std::string_view TrimHttp(std::string_view s) {
  while (!s.empty() && IsHttpWhiteSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsHttpWhiteSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, size_t at, std::string_view prefix) {
  if (at > s.size() || s.size() - at < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(s[at + i]) != prefix[i]) return false;
  }
  return true;
}

// A quoted string from the opening quote at pos: its value with the
// backslash escapes resolved; pos ends after the closing quote (or at the
// end of a string left open).
std::string QuotedString(std::string_view s, size_t& pos) {
  std::string value;
  for (++pos; pos < s.size(); ++pos) {
    if (s[pos] == '"') {
      ++pos;
      break;
    }
    if (s[pos] == '\\' && pos + 1 < s.size()) ++pos;
    value += s[pos];
  }
  return value;
}

// The set a label names, for a label the module knows; empty for any other.
std::string SetOf(std::string_view label) { return std::string(CharSetOfLabel(label)); }

// Tags that keep a browser's prescan in the page's head: it reads on past
// the first 1024 bytes until a tag of the body (or a head's or html's end
// tag) has been seen.
constexpr std::string_view kHeadTags[] = {"script", "noscript", "style", "link", "meta", "object", "title", "base"};

bool IsHeadTag(const CTokenizerStates::Name& name) {
  return std::any_of(std::begin(kHeadTags), std::end(kHeadTags), [&](std::string_view n) { return name.Is(n); });
}

// A browser's prescan of the page: its tokenizer's reading (as a browser
// that runs no scripts reads it, so <noscript> holds markup, and with no
// tree builder to find foreign content), over the first
// 1024 bytes and on while the page is still in its head; the attributes of
// a <meta> with their character references decoded.
class CPrescan {
 public:
  explicit CPrescan(std::string_view page) : m_s(page), m_reader(CTokenizerStates::kScriptingOff, true, false) {}

  std::string Run() {
    bool bInHead = true;
    size_t at = 0;
    while (at < m_s.size() && (bInHead || at < kPrescanBytes)) {
      if (!NextTag(at, bInHead ? m_s.size() : std::min(kPrescanBytes, m_s.size()))) break;
      const CTokenizerStates::Tag& tag = m_reader.LastTag();
      std::string label;
      if (!tag.bEnd && tag.name.Is("meta") && Meta(label)) return label;
      const bool bKeepsHead = IsHeadTag(tag.name) || (!tag.bEnd && (tag.name.Is("html") || tag.name.Is("head")));
      if (!bKeepsHead) bInHead = false;
    }
    return std::string();
  }

 private:
  // The next tag the tokenizer ends before `to`, or the one it is inside of
  // there (begun before `to`, so still read).
  bool NextTag(size_t& at, size_t to) {
    if (m_reader.ReadUntilTag(m_s, at, to)) return true;
    if (to == m_s.size() || !InTag()) return false;
    return m_reader.ReadUntilTag(m_s, at, m_s.size()) && m_reader.LastTag().begin < to;
  }

  bool InTag() const {
    using State = CTokenizerStates::State;
    const State state = m_reader.GetState();
    return state >= State::TagOpen && state <= State::SelfClosingStartTag;
  }

  // True with the label when the <meta> just read names a set. Every
  // attribute counts, in order, as the browser reads them: a charset
  // attribute sets the label, a later one again; a content attribute sets it
  // while no charset attribute has.
  bool Meta(std::string& label) const {
    enum class Mode { None, CharSet, Pragma } mode = Mode::None;
    bool bGotPragma = false;
    std::string charSet;
    for (const CTokenizerStates::Attribute& attribute : m_reader.Attributes()) {
      std::string name;
      for (size_t i = attribute.nameBegin; i < attribute.nameEnd; ++i) name += Lower(m_s[i]);
      const std::string value = Value(attribute);
      if (name == "http-equiv") {
        bGotPragma = bGotPragma || value == "content-type";
      } else if (name == "charset") {
        charSet = value;
        mode = Mode::CharSet;
      } else if (name == "content" && mode != Mode::CharSet) {
        charSet.clear();
        CharSetFromContent(value, charSet);
        if (!charSet.empty()) mode = Mode::Pragma;
      }
    }
    if (mode == Mode::None || (mode == Mode::Pragma && !bGotPragma)) return false;
    if (SetOf(charSet).empty()) return false;
    label = charSet;
    return true;
  }

  // "charset", blanks, "=", blanks, then a quoted or bare value.
  static bool CharSetFromContent(std::string_view content, std::string& out) {
    size_t pos = 0;
    while (true) {
      size_t at = std::string_view::npos;
      for (size_t i = pos; i + 7 <= content.size(); ++i) {
        if (StartsWithNoCase(content, i, "charset")) {
          at = i;
          break;
        }
      }
      if (at == std::string_view::npos) return false;
      pos = at + 7;
      while (pos < content.size() && IsHtmlWhiteSpace(content[pos])) ++pos;
      if (pos < content.size() && content[pos] == '=') break;
    }
    ++pos;
    while (pos < content.size() && IsHtmlWhiteSpace(content[pos])) ++pos;
    if (pos >= content.size()) return false;
    const char quote = content[pos];
    if (quote == '"' || quote == '\'') {
      const size_t end = content.find(quote, pos + 1);
      if (end == std::string_view::npos) return false;
      out = std::string(content.substr(pos + 1, end - pos - 1));
      return true;
    }
    size_t end = pos;
    while (end < content.size() && !IsHtmlWhiteSpace(content[end]) && content[end] != ';') ++end;
    out = std::string(content.substr(pos, end - pos));
    return true;
  }

  // An attribute's value lower-cased, its character references read by the
  // one reader of them, as the browser's tokenizer reads them there.
  std::string Value(const CTokenizerStates::Attribute& attribute) const {
    const std::string_view raw = m_s.substr(0, attribute.valueEnd);
    std::string value, text;
    for (size_t i = attribute.valueBegin; i < attribute.valueEnd;) {
      const size_t len = raw[i] == '&' ? ReadCharacterReference(raw, i, text) : 0;
      if (len == 0) {
        value += Lower(raw[i++]);
        continue;
      }
      for (const char c : text) value += Lower(c);
      i += len;
    }
    return value;
  }

  std::string_view m_s;
  CTokenizerStates m_reader;
};

// A set a <meta> names is read as browsers read it there.
std::string MetaSet(std::string_view label) {
  std::string set = SetOf(label);
  if (set == "UTF-16LE" || set == "UTF-16BE") return "UTF-8";
  if (set == "x-user-defined") return "windows-1252";
  return set;
}

// The header names the set when its only "charset" is a bare label of it
// that browsers know: nothing a parser could read another way. Browsers
// split a Content-Type at its commas into several types, where a later type
// can drop an earlier one's charset, so a value with a comma never does.
bool HeaderStates(std::string_view contentType, const ContentTypeCharSet& parsed, const CharSetLabel* row,
                  const std::string& set) {
  if (!parsed.bValidType || !parsed.bHasCharSet || parsed.bQuoted) return false;
  if (contentType.find(',') != std::string_view::npos) return false;
  size_t count = 0;
  for (size_t i = 0; i < contentType.size(); ++i) count += StartsWithNoCase(contentType, i, "charset") ? 1 : 0;
  return count == 1 && row != nullptr && row->bBrowserKnows && parsed.charSet == TrimHttp(parsed.charSet) &&
         set == row->pSet;
}

// Printable ASCII and the blanks of text: bytes every set a browser may
// guess reads alike. An ESC (ISO-2022-JP is seven-bit), HZ's "~{", any
// other control or any byte above 0x7E may lead a browser's guess to a set
// whose reading of the page the module cannot know.
bool IsPlainText(std::string_view page) {
  for (size_t i = 0; i < page.size(); ++i) {
    const auto u = static_cast<unsigned char>(page[i]);
    if (u >= 0x7F || (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f')) return false;
    if (u == '~' && i + 1 < page.size() && page[i + 1] == '{') return false;
  }
  return true;
}

}  // namespace

namespace {

// The type and subtype of the trimmed value s; pos is left at the ';' that
// opens the parameters, or the end. False for an invalid type.
bool ParseType(std::string_view s, ContentTypeCharSet& out, size_t& pos) {
  const size_t slash = s.find('/');
  if (slash == std::string_view::npos || !IsToken(s.substr(0, slash))) return false;
  pos = std::min(s.find(';', slash), s.size());
  const std::string_view subtype = TrimHttp(s.substr(slash + 1, pos - slash - 1));
  if (!IsToken(subtype) || s[slash + 1] != subtype.front()) return false;
  out.bValidType = true;
  out.essence = std::string(s.substr(0, slash + 1 + subtype.size()));
  return true;
}

}  // namespace

ContentTypeCharSet ParseContentTypeEssence(std::string_view contentType) {
  ContentTypeCharSet out;
  size_t pos = 0;
  ParseType(TrimHttp(contentType), out, pos);
  return out;
}

ContentTypeCharSet ParseContentTypeCharSet(std::string_view contentType) {
  ContentTypeCharSet out;
  const std::string_view s = TrimHttp(contentType);
  size_t pos = 0;
  if (!ParseType(s, out, pos)) return out;
  while (pos < s.size()) {
    ++pos;  // the ";"
    while (pos < s.size() && IsHttpWhiteSpace(s[pos])) ++pos;
    size_t nameEnd = pos;
    while (nameEnd < s.size() && s[nameEnd] != ';' && s[nameEnd] != '=') ++nameEnd;
    // Compared without case where it stands: lowering a name changes
    // neither whether it is a token nor whether it is "charset".
    const std::string_view name = s.substr(pos, nameEnd - pos);
    pos = nameEnd;
    if (pos >= s.size()) break;
    if (s[pos] == ';') continue;
    ++pos;  // the "="
    std::string value;
    bool bQuoted = false;
    if (pos < s.size() && s[pos] == '"') {
      value = QuotedString(s, pos);
      bQuoted = true;
      pos = std::min(s.find(';', pos), s.size());
    } else {
      const size_t end = std::min(s.find(';', pos), s.size());
      value = std::string(s.substr(pos, end - pos));
      while (!value.empty() && IsHttpWhiteSpace(value.back())) value.pop_back();
      pos = end;
      if (value.empty()) continue;
    }
    const bool bValid = IsToken(name) && std::all_of(value.begin(), value.end(), IsQuotedStringChar);
    if (bValid && name.size() == kCharSetName.size() && StartsWithNoCase(name, 0, kCharSetName)) {
      out.bHasCharSet = true;
      out.bQuoted = bQuoted;
      out.charSet = std::move(value);
      break;
    }
  }
  return out;
}

std::string PrescanMetaCharSet(std::string_view page) { return CPrescan(page).Run(); }

PageCharSetChoice ChoosePageCharSet(std::string_view contentType, std::string_view page) {
  PageCharSetChoice choice;
  const ContentTypeCharSet parsed = ParseContentTypeCharSet(contentType);
  // The header's label looked up once, for the choice and for whether the
  // header states it.
  const CharSetLabel* headerRow = parsed.bHasCharSet ? FindCharSetLabel(parsed.charSet) : nullptr;
  auto chosen = [&](PageCharSetChoice::From from, std::string set, std::string_view label) {
    choice.from = from;
    choice.set = std::move(set);
    choice.label = std::string(label);
    choice.bHeaderStatesIt = HeaderStates(contentType, parsed, headerRow, choice.set);
    return choice;
  };
  if (page.substr(0, 3) == "\xEF\xBB\xBF") return chosen(PageCharSetChoice::From::ByteOrderMark, "UTF-8", "BOM");
  if (page.substr(0, 2) == "\xFE\xFF") return chosen(PageCharSetChoice::From::ByteOrderMark, "UTF-16BE", "BOM");
  if (page.substr(0, 2) == "\xFF\xFE") return chosen(PageCharSetChoice::From::ByteOrderMark, "UTF-16LE", "BOM");
  if (headerRow != nullptr && headerRow->bBrowserKnows) {
    return chosen(PageCharSetChoice::From::Header, headerRow->pSet, parsed.charSet);
  }
  // A label of the module's own the browser passes over for the page's
  // <meta>; with none, it names the set the server wrote the page in.
  const std::string meta = PrescanMetaCharSet(page);
  if (!meta.empty()) return chosen(PageCharSetChoice::From::Meta, MetaSet(meta), meta);
  if (headerRow != nullptr) return chosen(PageCharSetChoice::From::Header, headerRow->pSet, parsed.charSet);
  chosen(PageCharSetChoice::From::Nothing, "UTF-8", std::string_view());
  choice.bUnknown = !IsPlainText(page);
  return choice;
}

const char* PageCharSetFromName(PageCharSetChoice::From from) {
  switch (from) {
    case PageCharSetChoice::From::ByteOrderMark:
      return "byte order mark";
    case PageCharSetChoice::From::Header:
      return "Content-Type";
    case PageCharSetChoice::From::Meta:
      return "meta";
    default:
      return "nothing";
  }
}
