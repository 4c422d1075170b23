// Localised strings for pages: the UTF-16 to UTF-8 encoder with HTML
// escaping, the script-text table and the batch look-up with English
// fallback and conversion to the page's character set.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/win_types.h"

class CResource;
class CPageCharSet;

// A growable byte buffer: data, capacity and length.
class CByteBuffer {
 public:
  explicit CByteBuffer(size_t capacity) : m_data(capacity) {}
  void Append(const char* bytes, size_t count);
  size_t Length() const { return m_length; }
  size_t Capacity() const { return m_data.size(); }
  const char* Data() const { return m_data.data(); }
  std::string str() const { return std::string(m_data.data(), m_length); }

 private:
  std::vector<char> m_data;
  size_t m_length = 0;
};

// Appends the zero-terminated UTF-16 text as UTF-8 with the double quote,
// "<" and ">" written as "&quot;", "&lt;" and "&gt;". No terminator is
// appended.
CByteBuffer& HtmlEncodeToUTF8(CByteBuffer& buffer, const char16_t* text);

struct ResourceScriptVariable {
  int32_t id;
  const char* prefix;
};
// The 17 resource strings that pages get as JavaScript variables.
extern const ResourceScriptVariable ResourceScriptVariableTable[17];

// The strings of ids for a language, with English in place of those the
// language lacks, converted for the page: modes 2 and 3 through the page's
// character set, every other mode as escaped UTF-8. False when any id could
// not be loaded or converted; the map still holds all that could.
bool GetResourceStrings(const CResource& resource, const CPageCharSet& charSets, const std::vector<int32_t>& ids,
                        std::map<int32_t, std::string>& out, DWORD mode, LANGID langId, const std::string& charSet);

// One string in the language only, as escaped UTF-8; 1 when the encoded text
// has at least 4 bytes.
BOOL GetUTF8ResourceStringOf(const CResource& resource, DWORD id, std::string& out, LANGID langId);
