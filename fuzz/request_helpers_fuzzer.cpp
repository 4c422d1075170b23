// libFuzzer target: the URL, cookie and number helpers of the request path,
// on texts a client controls. The input is split at its first two NUL bytes
// into a name, a second text and the subject.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/ci_string.h"
#include "common/url_utils.h"
#include "filter/decision_params.h"
#include "filter/notifications_helper.h"
#include "filter/request_info.h"
#include "filter/util.h"

namespace {

[[noreturn]] void Violated(const char* what, const std::string& subject) {
  std::fprintf(stderr, "invariant violated: %s\n%s\n", what, subject.c_str());
  std::abort();
}

std::string NextPart(std::string& rest) {
  const size_t nul = rest.find('\0');
  std::string part = rest.substr(0, nul);
  rest = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
  return part;
}

void CheckDecoding(const std::string& text) {
  const std::string decoded = URLDecode(text);
  if (decoded.size() > text.size()) Violated("decoding never lengthens a text", text);
  for (int radix : {10, 16}) {
    DWORD value = 0;
    StringToUInt(text, value, radix);
  }
}

void CheckUrl(const std::string& url, const std::string& name) {
  std::string value;
  if (CNotificationsHelper::GetURLParamValue(url, name, value) && value.size() > url.size()) {
    Violated("a parameter's value comes from the URL", url);
  }
  ci_string query(url.c_str(), url.size());
  const size_t before = query.size();
  if (CNotificationsHelper::RemoveParamFromQueryString(query, ci_string(name.c_str(), name.size())) &&
      query.size() >= before) {
    Violated("removing a parameter shortens the query", url);
  }
}

void CheckCookie(const std::string& cookie, const std::string& key) {
  const ci_string header(cookie.c_str(), cookie.size());
  std::string value;
  if (extractCookie(header, key + "=", value) && (value.size() > cookie.size() || value.find(';') != std::string::npos)) {
    Violated("a cookie value is one item of the header", cookie);
  }
  if (CNotificationsHelper::GetFBACadataCookieValue(header, value) && value.size() > cookie.size()) {
    Violated("the cadata value comes from the header", cookie);
  }
  std::string pair;
  if (CNotificationsHelper::GetCadataCookie(header, pair) && cookie.find(pair) == std::string::npos &&
      header.find(ci_string(pair.c_str(), pair.size())) == ci_string::npos) {
    Violated("the cadata pair stands in the header", cookie);
  }
}

CDecisionParam::Reading ReadingIn(const std::string& query, const std::string& name) {
  CRequestInfo info;
  info.m_mapHeaders["QUERY_STRING"] = query;
  DecisionParamsReadOneWay(info);
  const CDecisionParam param = ReadDecisionParam(info, name);
  if (param.IsUnique() && param.value.size() > query.size()) Violated("a parameter's value comes from the query", query);
  return param.reading;
}

void CheckDecisionParams(const std::string& query, const std::string& name) {
  ReadingIn(query, name);
  const ci_string kept = WithoutParamNamed(ci_string(query.c_str(), query.size()), name);
  if (kept.size() > query.size()) Violated("removing parameters never lengthens the query", query);
  if (ReadingIn(std::string(kept.data(), kept.size()), name) != CDecisionParam::Absent) {
    Violated("a removed parameter is gone in every spelling", query);
  }
}

void CheckHash(const std::string& text) {
  const std::string hash = CUtil::HashString(text.c_str());
  if (hash.empty() || hash.find_first_not_of("-0123456789") != std::string::npos) {
    Violated("a hash is a decimal number", text);
  }
  if (hash != CUtil::HashString(text.c_str())) Violated("a hash is the same every time", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::string rest(reinterpret_cast<const char*>(pData), nSize);
  const std::string name = NextPart(rest);
  const std::string second = NextPart(rest);
  const std::string& subject = rest;
  CheckDecoding(subject);
  CheckUrl(subject, name);
  CheckUrl(second + "?" + subject, name);
  CheckCookie(subject, name);
  CheckDecisionParams(subject, name);
  CheckHash(subject);
  CheckHash(second);
  return 0;
}
