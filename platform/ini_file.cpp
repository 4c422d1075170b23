#include "platform/ini_file.h"

#include <ini.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ascii_text.h"
#include "platform/file_system.h"

namespace {

// A line longer than this is cut here; every value a caller can read (2,047
// characters at most) ends long before.
constexpr size_t kLongestLine = size_t{1} << 20;
// The library's line buffer must hold such a line with its end of line and
// terminator.
constexpr int kLibraryLineLimit = static_cast<int>(kLongestLine) + 3;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool IsSpace(char c) { return IsBlank(c) || c == '\n'; }

std::string MapKey(const char* section, const char* key) {
  return AsciiLower(section != nullptr ? section : "") + '\n' + AsciiLower(key != nullptr ? key : "");
}

// The library, as packaged, reads a line into a fixed buffer of 200 bytes
// and parses what does not fit as lines of their own: a long comment then
// turns into a key, a long section header is lost. Told to grow its buffer,
// it reads every line whole. Told once, before the first parse, so no parse
// ever runs while the settings change.
void ReadLinesWhole() {
  static const bool configured = [] {
    ini_use_stack = false;
    ini_allow_realloc = true;
    ini_max_line = kLibraryLineLimit;
    return true;
  }();
  (void)configured;
}

// The section a line opens, with the library's own rule: a line starting
// with "[" and closed by "]" before any comment; false for any other line.
bool SectionOfLine(const std::string& line, std::string* section) {
  if (line.empty() || line[0] != '[') return false;
  bool afterSpace = false;
  for (size_t i = 1; i < line.size(); ++i) {
    if (line[i] == ']') {
      *section = line.substr(1, i - 1);
      return true;
    }
    if (afterSpace && line[i] == ';') return false;
    afterSpace = IsSpace(line[i]);
  }
  return false;
}

}  // namespace

// Hands the file to the library line by line, as fgets would, each line
// without its indentation (an indented line is an ordinary line, never the
// continuation of the key before it). The library keeps only the first 49
// characters of a section name, so the whole name is kept here from the
// line that opened the section.
struct CIniParse {
  CIniFile* file = nullptr;
  std::string text;
  size_t pos = 0;
  std::string line;     // the line being handed over, with its end of line
  size_t handed = 0;    // how much of it the library has taken
  std::string section;  // the section of the lines that follow
  int lineNumber = 0;

  static char* Read(char* str, int num, void* stream) {
    return static_cast<CIniParse*>(stream)->NextPiece(str, num);
  }

  static int Handle(void* user, const char* /*section*/, const char* name, const char* value) {
    auto* self = static_cast<CIniParse*>(user);
    self->file->m_values.emplace(MapKey(self->section.c_str(), name), value);
    return 1;
  }

  char* NextPiece(char* str, int num) {
    if (num < 2) return nullptr;
    if (handed == line.size() && !NextLine()) return nullptr;
    const size_t take = std::min(line.size() - handed, static_cast<size_t>(num) - 1);
    std::memcpy(str, line.data() + handed, take);
    str[take] = '\0';
    handed += take;
    return str;
  }

  // A line ends at its line feed; a zero byte ends its text early (and is
  // noted, as what follows it on the line is lost).
  bool NextLine() {
    if (pos >= text.size()) return false;
    ++lineNumber;
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t start = pos;
    while (start < end && IsBlank(text[start])) ++start;
    const void* zero = std::memchr(text.data() + start, '\0', end - start);
    if (zero != nullptr && file->m_nFirstLineWithZero == 0) file->m_nFirstLineWithZero = lineNumber;
    const size_t textEnd = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text.data()) : end;
    const size_t stop = std::min(textEnd, start + kLongestLine);
    line.assign(text, start, stop - start);
    pos = end + 1;
    SectionOfLine(line, &section);
    line += '\n';
    handed = 0;
    return true;
  }
};

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 text after its byte-order mark, as UTF-8; a lone surrogate and an
// odd last byte become U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  const auto unit = [&](size_t i) -> uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  size_t i = 2;
  for (; i + 1 < bytes.size(); i += 2) {
    uint32_t code = unit(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendUtf8(out, code);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

// The file's text as UTF-8 with line feeds alone ending its lines.
std::string NormalisedText(std::string bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') bytes = Utf16ToUtf8(bytes, false);
  else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') bytes = Utf16ToUtf8(bytes, true);
  // A byte-order mark is no part of the first line.
  else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r') {
      text += bytes[i];
    } else if (i + 1 >= bytes.size() || bytes[i + 1] != '\n') {
      text += '\n';
    }
  }
  return text;
}

// UTF-16 saved without its mark: the zero high bytes of ASCII text. Text in
// UTF-8 or a single-byte set holds no zero byte in its first line.
bool LooksLikeUtf16WithoutMark(const std::string& bytes) {
  if (bytes.size() < 2) return false;
  if ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')) return false;
  return bytes[0] == '\0' || bytes[1] == '\0';
}

}  // namespace

CIniFile::CIniFile(const std::string& path) : m_strPath(path) {
  std::string bytes;
  std::string reason;
  int err = 0;
  if (!ReadWholeFile(path, &bytes, &reason, &err)) {
    m_strFailure = err == ENOENT ? "is missing" : "cannot be read: " + reason;
    return;
  }
  if (LooksLikeUtf16WithoutMark(bytes)) {
    m_strFailure = "cannot be read: it is in UTF-16 without a byte-order mark (save it as UTF-8, or as Unicode "
                   "with the mark)";
    return;
  }
  m_bOpened = true;
  CIniParse parse;
  parse.file = this;
  parse.text = NormalisedText(std::move(bytes));
  ReadLinesWhole();
  // Lines the library cannot read are skipped; what it could read stays.
  const int bad = ini_parse_stream(&CIniParse::Read, &parse, &CIniParse::Handle, &parse);
  m_nFirstBadLine = bad > 0 ? bad : 0;
}

DWORD CIniFile::GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText, char* buffer,
                                         DWORD size) const {
  if (buffer == nullptr || size == 0) return 0;
  const auto it = m_values.find(MapKey(section, key));
  const char* value = it != m_values.end() ? it->second.c_str() : (defaultText != nullptr ? defaultText : "");
  size_t length = std::strlen(value);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, value, length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}
