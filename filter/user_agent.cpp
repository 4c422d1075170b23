#include <string>

#include "common/ci_string.h"
#include "filter/util.h"

namespace {

bool ContainsNoCase(const std::string& text, const char* what) {
  return FindNoCase(ci_string_view(text.data(), text.size()), what) != ci_string_view::npos;
}

}  // namespace

bool CUtil::IsMacClient(const std::string& userAgent) {
  return ContainsNoCase(userAgent, "Macintosh") || ContainsNoCase(userAgent, "Mac OS") ||
         ContainsNoCase(userAgent, "Mac_PowerPC");
}

bool CUtil::IsPremiumIEClient(const std::string& userAgent) {
  const ci_string_view ua(userAgent.data(), userAgent.size());
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
