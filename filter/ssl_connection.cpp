#include "filter/ssl_connection.h"

#include <string>

#include "common/ci_string.h"
#include "filter/request_info.h"
#include "general/pl_hx_general_settings.h"

namespace {

bool IsOn(const CRequestInfo& info, const char* name) {
  std::string value;
  return info.GetHeaderValue(name, value) && ToCI(value) == "on";
}

}  // namespace

bool IsSSLConnection(const CRequestInfo& info) {
  // The server names a request header's variable in upper case; the mixed
  // spelling is kept for hosts that pass the name as the module asks for it.
  return IsOn(info, "HTTPS") || IsOn(info, "HTTP_Front-End-HTTPS") || IsOn(info, "HTTP_FRONT_END_HTTPS") ||
         CPLHXGeneralSettings::getInstance()->IsSSLOffloaded() != 0;
}
