#include "platform/ini_file.h"

#include <ini.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/ascii_text.h"

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

  // A line ends at its line feed; a zero byte ends its text early.
  bool NextLine() {
    if (pos >= text.size()) return false;
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t start = pos;
    while (start < end && IsBlank(text[start])) ++start;
    const void* zero = std::memchr(text.data() + start, '\0', end - start);
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

CIniFile::CIniFile(const std::string& path) : m_strPath(path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  CIniParse parse;
  parse.file = this;
  parse.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  // A byte-order mark is no part of the first line.
  static const char kByteOrderMark[] = "\xEF\xBB\xBF";
  if (parse.text.compare(0, 3, kByteOrderMark) == 0) parse.pos = 3;
  ReadLinesWhole();
  // Lines the library cannot read are skipped; what it could read stays.
  ini_parse_stream(&CIniParse::Read, &parse, &CIniParse::Handle, &parse);
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
