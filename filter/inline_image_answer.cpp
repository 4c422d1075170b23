// The answer to an inline fetch from the attachment handler where nothing
// may leave the client ranges: a browser shows an image inline, but any
// other type (HTML, a document, SVG with its script) or an answer marked
// for saving would carry a file out.
#include <algorithm>
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"

namespace {

constexpr DWORD kStatusNotModified = 304;

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A header value before its first parameter, blanks trimmed: the media type
// of a Content-Type, the disposition type of a Content-Disposition.
std::string_view BeforeParameters(std::string_view contentType) { return Trimmed(contentType.substr(0, contentType.find(';'))); }

bool IsTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$&^_.+-").find(c) != std::string_view::npos;
}

// "image/<subtype>" with one plain subtype, SVG excepted: a list of types
// or a type with stray characters is no image type to rely on.
bool IsInlineImageType(std::string_view contentType) {
  static constexpr std::string_view kImage = "image/";
  const std::string_view type = BeforeParameters(contentType);
  if (type.size() <= kImage.size() || AsCIView(type.substr(0, kImage.size())) != AsCIView(kImage)) return false;
  const std::string_view subtype = type.substr(kImage.size());
  return std::all_of(subtype.begin(), subtype.end(), IsTokenChar) && AsCIView(subtype) != "svg+xml";
}

// No disposition, or "inline": a browser saves an answer of any other
// disposition type, known or not.
bool IsShownInline(CDLLContext* pContext) {
  std::string disposition;
  if (!CBaseNotifications::GetWorkerHeader(pContext, "Content-Disposition:", disposition)) return true;
  return AsCIView(BeforeParameters(disposition)) == "inline";
}

}  // namespace

bool CAuthCompleteHelper::IsInlineImageAnswer(CDLLContext* pContext) {
  const DWORD status = pContext->m_spOutboundContext.IsNull() ? 0 : pContext->m_spOutboundContext->m_dwStatusCode;
  std::string contentType;
  const bool typed = CBaseNotifications::GetWorkerHeader(pContext, "Content-Type:", contentType);
  const bool image = status == kStatusNotModified || (typed && IsInlineImageType(contentType) && IsShownInline(pContext));
  DebugLog("[CAuthCompleteHelper::IsInlineImageAnswer] Status <%d> Content-Type <%s> inline image <%s>.",
           static_cast<int>(status), contentType.c_str(), image ? "Y" : "N");
  return image;
}
