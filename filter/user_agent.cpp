#include <string>

#include "common/ci_string.h"
#include "filter/util.h"

namespace {

// Every request's user agent is searched several times: a scan for the
// first character (either case) with a full comparison only there.
bool ContainsNoCase(const std::string& text, const char* what) {
  const ci_string_view needle(what);
  if (needle.empty()) return true;
  if (needle.size() > text.size()) return false;
  const unsigned char first = ci_char_traits::upper(needle[0]);
  const char* p = text.data();
  const char* const last = p + (text.size() - needle.size());
  for (; p <= last; ++p) {
    if (ci_char_traits::upper(*p) == first &&
        ci_char_traits::compare(p + 1, needle.data() + 1, needle.size() - 1) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool CUtil::IsMacClient(const std::string& userAgent) {
  return ContainsNoCase(userAgent, "Macintosh") || ContainsNoCase(userAgent, "Mac OS") ||
         ContainsNoCase(userAgent, "Mac_PowerPC");
}

bool CUtil::IsPremiumIEClient(const std::string& userAgent) {
  const ci_string_view ua(userAgent.data(), userAgent.size());
  const size_t msie = ua.find("MSIE ");
  if (msie == ci_string_view::npos || ua.find("Windows") == ci_string_view::npos) return false;
  const size_t version = msie + 5;
  if (version >= ua.size()) return false;
  // Only the first character of the version is looked at: "MSIE 10" is not
  // premium, exactly as the client side decides.
  return static_cast<unsigned char>(ua[version]) > static_cast<unsigned char>('5');
}

bool CUtil::IsOWAAuthWindowsClient(const std::string& userAgent) {
  return ContainsNoCase(userAgent, "owaauth") && ContainsNoCase(userAgent, "Windows");
}
