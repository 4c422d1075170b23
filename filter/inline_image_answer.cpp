// The answer to an inline fetch from the attachment handler where nothing
// may leave the client ranges: a browser shows the common image types
// inline, but any other type (HTML, a document, SVG with its script, TIFF,
// which it saves) or an answer marked for saving would carry a file out.
// Each header is read as a whole: the server hands a repeated header over
// as its values joined with ", ", and a browser acts on every one of them.
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/string_utils.h"
#include "filter/auth_complete_helper.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/page_body.h"

namespace {

// Statuses whose answers carry no body; every other one is judged by its
// headers, 100 included.
constexpr DWORD kStatusNoContent = 204;
constexpr DWORD kStatusNotModified = 304;

// The spellings of PNG, JPEG, GIF, WebP, BMP, ICO and AVIF that Chromium
// displays as images.
constexpr std::string_view kInlineImageTypes[] = {
    "image/png", "image/x-png", "image/apng", "image/jpeg",   "image/pjpeg",              "image/jpg",
    "image/gif", "image/webp",  "image/bmp",  "image/x-icon", "image/vnd.microsoft.icon", "image/avif",
};

// A header value before its first parameter, blanks trimmed: the media type
// of a Content-Type, the disposition type of a Content-Disposition.
std::string_view BeforeParameters(std::string_view value) { return TrimBlanks(value.substr(0, value.find(';'))); }

// Exactly one media type, and one of the inline image types. A comma makes
// a list (two headers, or "image/png;x, text/html"), which a browser renders
// by the type it picks from it; no image type needs one.
bool IsInlineImageType(std::string_view contentType) {
  if (contentType.find(',') != std::string_view::npos) return false;
  const std::string_view mediaType = BeforeParameters(contentType);
  for (std::string_view known : kInlineImageTypes) {
    if (AsCIView(mediaType) == AsCIView(known)) return true;
  }
  return false;
}

bool IsShownInline(CDLLContext* pContext) {
  std::string disposition;
  if (!CBaseNotifications::GetWorkerHeader(pContext, "Content-Disposition:", disposition)) return true;
  return IsEveryDispositionInline(disposition);
}

}  // namespace

bool CAuthCompleteHelper::IsInlineImageAnswer(CDLLContext* pContext) {
  const DWORD status = pContext->m_spOutboundContext.IsNull() ? 0 : pContext->m_spOutboundContext->m_dwStatusCode;
  std::string contentType;
  const bool typed = CBaseNotifications::GetWorkerHeader(pContext, "Content-Type:", contentType);
  const bool bodiless = status == kStatusNoContent || status == kStatusNotModified;
  const bool image = bodiless || (typed && IsInlineImageType(contentType) && IsShownInline(pContext));
  DebugLog("[CAuthCompleteHelper::IsInlineImageAnswer] Status <%d> Content-Type <%s> inline image <%s>.",
           static_cast<int>(status), contentType.c_str(), image ? "Y" : "N");
  return image;
}
