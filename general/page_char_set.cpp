#include "general/page_char_set.h"

#include <cstring>

#include "common/char_set_labels.h"
#include "general/page_char_set_choice.h"
#include "general/resource_strings.h"
#include "platform/code_page.h"
#include "platform/last_error.h"

namespace {

struct CharSetRow {
  const char* name;
  UINT codePage;
};

// Each name converts with its own code page: a page that declares a set
// gets bytes of that set.
constexpr CharSetRow kCharSets[] = {
    {"iso-8859-1", 28591},       {"iso-8859-2", 28592},        {"iso-8859-9", 28599},
    {"windows-1250", 1250},      {"windows-1254", 1254},       {"iso-8859-7", 28597},
    {"windows-1253", 1253},      {"x-mac-greek", 10006},       {"windows-1255", 1255},
    {"iso-8859-8", 28598},       {"iso-8859-8-i", 38598},      {"x-mac-hebrew", 10005},
    {"iso-8859-6", 28596},       {"windows-1256", 1256},       {"x-mac-arabic", 10004},
    {"shift_jis", 932},          {"iso-2022-jp", 50220},       {"x-mac-japan", 10001},
    {"big5", 950},               {"x-mac-chinesetrad", 10002}, {"gb2312", 936},
    {"hz-gb-2312", 52936},       {"x-mac-chineseimp", 10008},
};

// Converts the whole text; a short first buffer is answered by asking for
// the size needed. False when the system cannot convert to the code page.
bool ConvertToCodePage(UINT codePage, const std::u16string& text, std::string& out) {
  if (text.empty()) {
    out.clear();
    return true;
  }
  std::string buffer(text.size() * 2 + 16, '\0');
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), buffer.data(),
                              static_cast<int>(buffer.size()), nullptr, nullptr);
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    int needed = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    if (needed <= 0) return false;
    buffer.assign(static_cast<size_t>(needed), '\0');
    n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), buffer.data(), needed,
                            nullptr, nullptr);
  }
  if (n <= 0) return false;
  buffer.resize(static_cast<size_t>(n));
  out = std::move(buffer);
  return true;
}

}  // namespace

void CPageCharSet::Init(const char*, const char*, const char*) {
  for (const CharSetRow& row : kCharSets) m_codePages.emplace(ci_string(row.name), row.codePage);
}

// A name of the table, else the row of the set the name is a label of: the
// row named as the set, else the set's first row in table order.
const UINT* CPageCharSet::RowOf(const ci_string& charSetName) const {
  if (auto it = m_codePages.find(charSetName); it != m_codePages.end()) return &it->second;
  const std::string_view set = CharSetOfLabel(std::string_view(charSetName.data(), charSetName.size()));
  if (set.empty()) return nullptr;
  if (auto it = m_codePages.find(ci_string(set.data(), set.size())); it != m_codePages.end()) return &it->second;
  for (const CharSetRow& row : kCharSets) {
    if (CharSetOfLabel(row.name) == set) return &m_codePages.find(ci_string(row.name))->second;
  }
  return nullptr;
}

UINT CPageCharSet::CodePageOf(const ci_string& charSetName) const {
  const UINT* codePage = RowOf(charSetName);
  return codePage == nullptr ? 0 : *codePage;
}

bool CPageCharSet::Translate(const std::u16string& text, const ci_string& charSetName, std::string& out) const {
  return Translate(text, ConversionOf(charSetName), out);
}

CPageCharSet::Conversion CPageCharSet::ConversionOf(const ci_string& charSetName) const {
  Conversion conversion;
  if (CharSetOfLabel(std::string_view(charSetName.data(), charSetName.size())) == "UTF-8") {
    conversion.kind = Conversion::Kind::Utf8;
  } else if (charSetName == "utf-16") {
    conversion = {Conversion::Kind::CodePage, CP_ACP};
  } else if (const UINT* codePage = RowOf(charSetName); codePage != nullptr) {
    conversion = {Conversion::Kind::CodePage, *codePage};
  }
  return conversion;
}

bool CPageCharSet::Translate(const std::u16string& text, const Conversion& conversion, std::string& out) {
  if (conversion.kind == Conversion::Kind::Utf8) {
    CByteBuffer buffer(256);
    HtmlEncodeToUTF8(buffer, text.c_str());
    out = buffer.str();
    return true;
  }
  return conversion.kind == Conversion::Kind::CodePage && ConvertToCodePage(conversion.codePage, text, out);
}

bool CPageCharSet::DetectCharSet(const char* contentType, int32_t length, std::string& charSet) {
  charSet.clear();
  if (contentType == nullptr || length <= 0) return false;
  charSet =
      ParseContentTypeCharSet(std::string_view(contentType, strnlen(contentType, static_cast<size_t>(length)))).charSet;
  return !charSet.empty();
}
