#include "general/resource_strings.h"

#include <algorithm>
#include <cstring>

#include "common/debug_log.h"
#include "general/page_char_set.h"
#include "general/resource.h"

const ResourceScriptVariable ResourceScriptVariableTable[17] = {
    {107, "var g_szOpenText = \""},        {108, "var g_szSaveText = \""},
    {110, "var g_szRichText = \""},        {109, "var g_szTextText = \""},
    {189, "var g_szPelrLoading = \""},     {202, "var g_szLaunchJavaApplet = \""},
    {199, "var g_szEnableActiveX = \""},   {104, "var g_szClose = \""},
    {171, "var g_szCancel = \""},          {183, "var g_szSaving = \""},
    {181, "var g_szSaveNotSupp = \""},     {193, "var g_szJavaNotSupp = \""},
    {188, "var g_szDownCancelled = \""},   {187, "var g_szDownCompleted = \""},
    {192, "var g_szExtBlocked = \""},      {214, "var g_szEmbExtBlocked = \""},
    {197, "var g_szHelpText = \""},
};

void CByteBuffer::Append(const char* bytes, size_t count) {
  const size_t needed = m_length + count;
  if (needed > m_data.size()) m_data.resize(std::max(m_data.size() * 2, needed));
  std::memcpy(m_data.data() + m_length, bytes, count);
  m_length = needed;
}

CByteBuffer& HtmlEncodeToUTF8(CByteBuffer& buffer, const char16_t* text) {
  if (text == nullptr) return buffer;
  for (size_t i = 0; text[i] != 0; ++i) {
    const uint32_t c = text[i];
    char bytes[4];
    if (c == 0x22) {
      buffer.Append("&quot;", 6);
    } else if (c == 0x3C) {
      buffer.Append("&lt;", 4);
    } else if (c == 0x3E) {
      buffer.Append("&gt;", 4);
    } else if (c < 0x80) {
      bytes[0] = static_cast<char>(c);
      buffer.Append(bytes, 1);
    } else if (c < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | (c >> 6));
      bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
      buffer.Append(bytes, 2);
    } else if (c >= 0xD800 && c < 0xE000) {
      // A surrogate pair is one character of four bytes; a lone surrogate
      // has no UTF-8 form and becomes U+FFFD.
      const uint32_t next = text[i + 1];
      if (c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
        const uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
        buffer.Append(bytes, 4);
        ++i;
      } else {
        buffer.Append("\xEF\xBF\xBD", 3);
      }
    } else {
      bytes[0] = static_cast<char>(0xE0 | (c >> 12));
      bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
      buffer.Append(bytes, 3);
    }
  }
  return buffer;
}

bool GetResourceStrings(const CResource& resource, const CPageCharSet& charSets, const std::vector<int32_t>& ids,
                        std::map<int32_t, std::string>& out, DWORD mode, LANGID langId, const std::string& charSet) {
  bool result = true;
  const ci_string charSetName = ToCI(charSet);
  const bool translated = mode == 2 || mode == 3;
  const CPageCharSet::Conversion conversion =
      translated ? charSets.ConversionOf(charSetName) : CPageCharSet::Conversion();
  for (int32_t id : ids) {
    std::u16string text;
    if (!resource.LoadString(id, text, langId)) {
      const bool english = resource.LoadString(id, text, kEnglishLangId);
      DebugLog("GetResources didn't find res ID %d LANGID %d, it looked for Englich version %d", id, langId,
               english ? 1 : 0);
      if (!english) {
        DebugLog("GetResources can not get res ID %d for LANGID %d.", id, langId);
        result = false;
        continue;
      }
    }
    std::string converted;
    if (translated) {
      if (!CPageCharSet::Translate(text, conversion, converted)) {
        DebugLog("GetResources can not translate the res ID %d LANGID %d, CharSet %s", id, langId, charSet.c_str());
        result = false;
        continue;
      }
    } else {
      CByteBuffer buffer(256);
      HtmlEncodeToUTF8(buffer, text.c_str());
      converted = buffer.str();
    }
    if (!converted.empty()) out.emplace(id, std::move(converted));
  }
  return result;
}

BOOL GetUTF8ResourceStringOf(const CResource& resource, DWORD id, std::string& out, LANGID langId) {
  std::u16string text;
  if (!resource.LoadString(static_cast<int32_t>(id), text, langId)) {
    DebugLog("[GetUTF8ResourceString] Unable to load resource RES %d LANGID %d", static_cast<int>(id), langId);
    return 0;
  }
  CByteBuffer buffer(256);
  HtmlEncodeToUTF8(buffer, text.c_str());
  if (buffer.Length() < 4) return 0;
  out = buffer.str();
  return 1;
}
