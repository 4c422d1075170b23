#include <string>

#include "common/ci_string.h"
#include "filter/util.h"

namespace {

bool ContainsNoCase(const std::string& text, const char* what) {
  return FindNoCase(AsCIView(text), what) != ci_string_view::npos;
}

}  // namespace

// "Macintosh", "Mac OS" or "Mac_PowerPC" anywhere: one scan for the "Mac"
// they share.
bool CUtil::IsMacClient(const std::string& userAgent) {
  const ci_string_view ua = AsCIView(userAgent);
  for (size_t at = FindNoCase(ua, "Mac"); at != ci_string_view::npos; at = FindNoCase(ua, "Mac", at + 1)) {
    const ci_string_view rest = ua.substr(at + 3);
    if (rest.starts_with("intosh") || rest.starts_with(" OS") || rest.starts_with("_PowerPC")) return true;
  }
  return false;
}

bool CUtil::IsPremiumIEClient(const std::string& userAgent) {
  const ci_string_view ua = AsCIView(userAgent);
  const size_t msie = FindNoCase(ua, "MSIE ");
  if (msie == ci_string_view::npos || FindNoCase(ua, "Windows") == ci_string_view::npos) return false;
  const size_t version = msie + 5;
  if (version >= ua.size()) return false;
  // Only the first character of the version is looked at: "MSIE 10" is not
  // premium, exactly as the client side decides.
  return static_cast<unsigned char>(ua[version]) > static_cast<unsigned char>('5');
}

bool CUtil::IsOWAAuthWindowsClient(const std::string& userAgent) {
  return ContainsNoCase(userAgent, "owaauth") && ContainsNoCase(userAgent, "Windows");
}
