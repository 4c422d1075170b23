// The response headers that say a body is not the page as the browser shows
// it. Each header is read as a whole: the server hands a repeated header over
// as its values joined with ", ", and a browser acts on every one of them.
#include "filter/page_body.h"

#include <string>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/string_utils.h"
#include "filter/notifications.h"

namespace {

// No coding at all, or only "identity": the body is the bytes themselves.
// A list, even of identities, is not read further.
bool IsIdentityCoding(std::string_view coding) {
  const std::string_view value = TrimBlanks(coding);
  return value.empty() || AsCIView(value) == "identity";
}

// A header value before its first parameter, blanks trimmed.
std::string_view BeforeParameters(std::string_view value) { return TrimBlanks(value.substr(0, value.find(';'))); }

// Logs why the body goes out as sent when the header holds something else
// than the page's own bytes shown inline. True when it does.
bool HeaderKeepsBodyAsSent(CDLLContext* pContext, const std::string& name, bool (*isPage)(std::string_view),
                           const char* what) {
  std::string value;
  if (!CBaseNotifications::GetWorkerHeader(pContext, name, value) || isPage(value)) return false;
  DebugLog("[CNotifications::NotifySendResponse] The body is %s (%s <%s>); it goes out as the server sent it.", what,
           name.c_str(), value.c_str());
  return true;
}

// Built once, as every 200 answer asks for them, and never destroyed: a
// request may still be running while the process exits.
const std::string& kContentEncoding = *new std::string("Content-Encoding:");
const std::string& kTransferEncoding = *new std::string("Transfer-Encoding:");
const std::string& kContentDisposition = *new std::string("Content-Disposition:");

}  // namespace

bool IsEveryDispositionInline(std::string_view disposition) {
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i <= disposition.size(); ++i) {
    const char c = i < disposition.size() ? disposition[i] : ',';
    if (quoted) {
      if (c == '\\') ++i;
      if (c == '"') quoted = false;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      if (AsCIView(BeforeParameters(disposition.substr(start, i - start))) != "inline") return false;
      start = i + 1;
    }
  }
  return !quoted;
}

bool IsEditablePageBody(CDLLContext* pContext) noexcept {
  try {
    return !HeaderKeepsBodyAsSent(pContext, kContentEncoding, &IsIdentityCoding, "compressed") &&
           !HeaderKeepsBodyAsSent(pContext, kTransferEncoding, &IsIdentityCoding, "framed by a transfer coding") &&
           !HeaderKeepsBodyAsSent(pContext, kContentDisposition, &IsEveryDispositionInline, "a file to save");
  } catch (...) {
    // Headers not read may say the body is compressed: edits could break it.
    DebugLog("[CNotifications::NotifySendResponse] The response's headers could not be read; the body goes out as "
             "the server sent it.");
    return false;
  }
}
