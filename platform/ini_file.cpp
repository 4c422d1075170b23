#include "platform/ini_file.h"

#include <ini.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/ascii_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string MapKey(const char* section, const char* key) {
  return AsciiLower(section != nullptr ? section : "") + '\n' + AsciiLower(key != nullptr ? key : "");
}

// The longest head of text, at most max characters and more than min, that
// ends between two non-blank characters and leaves a tail the library would
// not take for a comment; 0 when there is none.
size_t SplitPoint(const std::string& text, size_t max, size_t min) {
  if (text.size() <= max) return text.size();
  for (size_t k = max; k > min; --k) {
    if (!IsBlank(text[k - 1]) && !IsBlank(text[k]) && text[k] != ';' && text[k] != '#') return k;
  }
  return 0;
}

}  // namespace

// Hands the file to the library line by line. The library, as packaged, takes
// lines of a fixed length only; a longer line is handed over as its head and
// then as indented pieces, which the library reports as continuations of the
// same key and which are joined here again. Real lines are handed over
// without their indentation, so only those pieces are continuations.
struct CIniParse {
  CIniFile* file = nullptr;
  std::string text;
  size_t pos = 0;
  std::string pending;            // the rest of a long line still to hand over
  bool continuation = false;      // the line handed over last is such a rest
  std::string* target = nullptr;  // the value that the rest extends

  static char* Read(char* str, int num, void* stream) {
    auto* self = static_cast<CIniParse*>(stream);
    if (num < 4) return nullptr;
    return self->NextLine(str, static_cast<size_t>(num) - 1);
  }

  static int Handle(void* user, const char* section, const char* name, const char* value) {
    auto* self = static_cast<CIniParse*>(user);
    if (self->continuation) {
      if (self->target != nullptr) self->target->append(value);
      return 1;
    }
    const auto inserted = self->file->m_values.emplace(MapKey(section, name), value);
    self->target = inserted.second ? &inserted.first->second : nullptr;
    return 1;
  }

  char* Hand(char* str, const std::string& line) {
    std::memcpy(str, line.data(), line.size());
    str[line.size()] = '\0';
    return str;
  }

  char* NextLine(char* str, size_t room) {
    if (!pending.empty()) {
      const size_t take = SplitPoint(pending, room - 1, 0);
      continuation = take != 0;
      if (take == 0) {  // no place to cut: the rest of the value is lost
        pending.clear();
        return Hand(str, "");
      }
      const std::string piece = " " + pending.substr(0, take);
      pending.erase(0, take);
      return Hand(str, piece);
    }
    continuation = false;
    if (pos >= text.size()) return nullptr;
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t start = pos;
    while (start < end && IsBlank(text[start])) ++start;
    std::string line = text.substr(start, end - start);
    pos = end + 1;
    if (line.size() <= room) return Hand(str, line);
    return LongLine(str, room, line);
  }

  char* LongLine(char* str, size_t room, std::string& line) {
    const size_t separator = line.find_first_of("=:");
    if (separator == std::string::npos || separator + 2 > room) return Hand(str, "");
    size_t valueStart = separator + 1;
    while (valueStart < line.size() && IsBlank(line[valueStart])) ++valueStart;
    // The comment that the library would have cut off the whole line.
    for (size_t i = valueStart + 1; i < line.size(); ++i) {
      if (line[i] == ';' && IsBlank(line[i - 1])) {
        line.resize(i);
        break;
      }
    }
    while (!line.empty() && IsBlank(line.back())) line.pop_back();
    const size_t take = SplitPoint(line, room, valueStart);
    if (take == 0) return Hand(str, line.substr(0, room));
    pending = line.substr(take);
    return Hand(str, line.substr(0, take));
  }
};

CIniFile::CIniFile(const std::string& path) : m_strPath(path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  CIniParse parse;
  parse.file = this;
  parse.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
