#include "filter/notifications_helper.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/response_headers.h"

namespace {

constexpr size_t TextLength(const char* text) { return std::char_traits<char>::length(text); }

constexpr bool IsSafeText(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == '\r' || *text == '\n') return false;
  }
  return true;
}

constexpr size_t NoCacheTextSize() {
  size_t size = 0;
  for (const CResponseHeader& h : g_ResponseHeaders) size += TextLength(h.m_pszName) + 1 + TextLength(h.m_pszValue) + 1;
  return size;
}

// The header table as one block of terminated texts, laid out at compile
// time: a response copies the block once into memory the host may write
// into, instead of copying and checking eighteen texts one by one.
struct CNoCacheTexts {
  std::array<char, NoCacheTextSize()> text{};
  std::array<uint16_t, g_ResponseHeaderCount> nameAt{};
  std::array<uint16_t, g_ResponseHeaderCount> valueAt{};
};

constexpr CNoCacheTexts MakeNoCacheTexts() {
  CNoCacheTexts made;
  size_t at = 0;
  auto put = [&](const char* text) {
    const size_t start = at;
    for (; *text != '\0'; ++text) made.text[at++] = *text;
    made.text[at++] = '\0';
    return static_cast<uint16_t>(start);
  };
  for (size_t i = 0; i < g_ResponseHeaderCount; ++i) {
    made.nameAt[i] = put(g_ResponseHeaders[i].m_pszName);
    made.valueAt[i] = put(g_ResponseHeaders[i].m_pszValue);
  }
  return made;
}

constexpr CNoCacheTexts kNoCacheTexts = MakeNoCacheTexts();

constexpr bool NoCacheTextsAreSafe() {
  for (const CResponseHeader& h : g_ResponseHeaders) {
    if (TextLength(h.m_pszName) == 0 || !IsSafeText(h.m_pszName) || !IsSafeText(h.m_pszValue)) return false;
  }
  return true;
}
static_assert(NoCacheTextsAreSafe(), "a response header of the table would split or cut short its header line");

}  // namespace

BOOL CNotificationsHelper::AddNoCacheHeaders(CDLLContext* pContext) {
  char texts[kNoCacheTexts.text.size()];
  std::memcpy(texts, kNoCacheTexts.text.data(), sizeof texts);
  BOOL allAdded = TRUE;
  for (size_t i = 0; i < g_ResponseHeaderCount; ++i) {
    if (!AddSafeWorkerHeader(pContext, texts + kNoCacheTexts.nameAt[i], texts + kNoCacheTexts.valueAt[i])) {
      allAdded = FALSE;
      break;
    }
  }
  DebugLog("[CNotificationsHelper::AddNoCacheHeaders] returns <%s>", allAdded ? "TRUE" : "FALSE");
  return allAdded;
}

std::string CNotificationsHelper::PathAsSent(const CRequestInfo& info, std::string_view routed) {
  const std::string* sent = info.FindHeaderValue("HTTP_URL");
  return sent != nullptr ? sent->substr(0, sent->find('?')) : std::string(routed);
}
