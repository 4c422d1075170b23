// A download is decided from its parameters and then fetched by the server,
// which reads the same parameters its own way: the whole value past a NUL,
// the last of two, a name spelt with escapes or in another case. The module
// therefore reads a deciding parameter only when every such reading agrees.
#include "filter/decision_params.h"

#include <algorithm>
#include <map>
#include <string>

#include "common/string_utils.h"
#include "common/unicode_white_space.h"
#include "common/url_utils.h"
#include "filter/request_info.h"

namespace {

bool IsHex(std::string_view s, size_t at, size_t count) {
  if (at + count > s.size()) return false;
  for (size_t i = at; i < at + count; ++i) {
    if (HexDigitValue(s[i]) < 0) return false;
  }
  return true;
}

// One decoding as the host and the server do it: "+" is a blank, "%XY" a
// byte. "%uXXXX" is decoded too (ASCII only), since the server reads it, but
// marks the text as readable two ways: the host's parameters keep it as sent.
std::string DecodeOnce(std::string_view raw, bool& twoWays) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '+') {
      out += ' ';
    } else if (raw[i] == '%' && IsHex(raw, i + 1, 2)) {
      out += static_cast<char>(HexDigitValue(raw[i + 1]) * 16 + HexDigitValue(raw[i + 2]));
      i += 2;
    } else if (raw[i] == '%' && i + 1 < raw.size() && (raw[i + 1] == 'u' || raw[i + 1] == 'U') && IsHex(raw, i + 2, 4)) {
      twoWays = true;
      const int code = (HexDigitValue(raw[i + 2]) << 12) | (HexDigitValue(raw[i + 3]) << 8) |
                       (HexDigitValue(raw[i + 4]) << 4) | HexDigitValue(raw[i + 5]);
      out += code < 0x80 ? static_cast<char>(code) : '?';
      i += 5;
    } else {
      out += raw[i];
    }
  }
  return out;
}

// A decoded name as a reader that stops at a control byte sees it.
std::string_view VisibleName(std::string_view decoded) {
  const auto control = std::find_if(decoded.begin(), decoded.end(), IsControlByte);
  return decoded.substr(0, static_cast<size_t>(control - decoded.begin()));
}

// One "name=value" pair of a query string, decoded.
struct DecodedPair {
  std::string name;    // as a reader that stops at a control byte sees it, folded
  bool nameClean;      // the decoded name had no control byte and no "%u"
  std::string value;
  bool valueClean;     // no control byte and no "%u"
  bool valueSpeltWithPercentU;  // clean but for its "%u" escapes
};

DecodedPair DecodePair(std::string_view pair) {
  const size_t eq = pair.find('=');
  DecodedPair d;
  bool nameTwoWays = false;
  const std::string name = DecodeOnce(pair.substr(0, eq), nameTwoWays);
  const std::string_view visible = VisibleName(name);
  d.nameClean = !nameTwoWays && visible.size() == name.size();
  // Compared without case as the server compares: "ıd" is "id" to it.
  d.name = AsciiFolded(visible);
  bool valueTwoWays = false;
  d.value = eq == std::string_view::npos ? std::string() : DecodeOnce(pair.substr(eq + 1), valueTwoWays);
  // A pair without "=" ("?ns&ev=GetDoc") is to the server's parser a value
  // without a name: it looks the name up elsewhere, in a cookie.
  const bool noControl = std::none_of(d.value.begin(), d.value.end(), IsControlByte);
  d.valueClean = eq != std::string_view::npos && !valueTwoWays && noControl;
  d.valueSpeltWithPercentU = eq != std::string_view::npos && valueTwoWays && noControl;
  return d;
}

// Calls `visit(raw pair, decoded pair)` for each non-empty pair.
template <class Visit>
void ForEachPair(std::string_view query, Visit visit) {
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t amp = query.find('&', pos);
    if (amp == std::string_view::npos) amp = query.size();
    const std::string_view raw = query.substr(pos, amp - pos);
    if (!raw.empty()) visit(raw, DecodePair(raw));
    pos = amp + 1;
  }
}

bool SameName(std::string_view a, std::string_view b) { return AsCIView(a) == AsCIView(b); }

std::string_view QueryOf(const CRequestInfo& info) {
  const std::string* query = info.FindHeaderValue("QUERY_STRING");
  return query != nullptr ? std::string_view(*query) : std::string_view();
}

bool AllDigitsZero(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c == '0'; });
}

// The names every download decision reads; "attid" takes a decimal index.
bool IsDownloadDecisionName(std::string_view name) {
  static constexpr std::string_view kNames[] = {"id", "attcnt", "midh", "aidh", "fidh", "URL"};
  for (std::string_view n : kNames) {
    if (SameName(name, n)) return true;
  }
  static constexpr std::string_view kAttId = "attid";
  return name.size() > kAttId.size() && SameName(name.substr(0, kAttId.size()), kAttId) &&
         std::all_of(name.begin() + kAttId.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

namespace {

// `name` in the query string, undecidable where the query leaves it out and
// a cookie carries it; with `wholeRequest` also among the request's
// parameters, and undecidable wherever a body may hold it.
// With `bothSpellings` a value spelt with "%uXXXX" is read too, as the
// server reads it and as the host's parameters keep it.
CDecisionParam ReadParam(const CRequestInfo& info, std::string_view name, bool wholeRequest,
                         bool bothSpellings = false) {
  CDecisionParam param;
  int occurrences = 0;
  bool clean = true;
  ForEachPair(QueryOf(info), [&](std::string_view raw, const DecodedPair& pair) {
    if (!SameName(pair.name, name)) return;
    if (++occurrences == 1) param.value = ToCI(pair.value);
    const bool twoSpellings = bothSpellings && pair.valueSpeltWithPercentU;
    if (twoSpellings && occurrences == 1) {
      const std::string_view value = raw.substr(raw.find('=') + 1);
      param.value = ToCI(QueryValueAsServerReadsIt(value));
      param.otherSpelling = ToCI(URLDecode(std::string(value), DecodedZero::EndsText, PlusSign::Blank));
    }
    clean = clean && pair.nameClean && (pair.valueClean || twoSpellings);
  });
  const bool inParams = occurrences > 0 || (wholeRequest && info.FindParamValue(AsCIView(name)) != nullptr) ||
                        CookieMayHoldParam(info, name);
  if (!inParams) return param;
  // Asked only of a parameter the request has: most names a decision reads
  // are absent.
  const bool bodyMayHoldIt = wholeRequest && BodyMayHoldParams(info);
  if (occurrences == 1 && clean && !bodyMayHoldIt) {
    param.reading = CDecisionParam::Unique;
  } else {
    param.reading = CDecisionParam::Undecidable;
    param.value.clear();
    param.otherSpelling.clear();
  }
  return param;
}

}  // namespace

CDecisionParam ReadDecisionParam(const CRequestInfo& info, std::string_view name) {
  return ReadParam(info, name, true);
}

CDecisionParam ReadQueryParam(const CRequestInfo& info, std::string_view name) {
  return ReadParam(info, name, false);
}

CDecisionParam ReadDocumentNameParam(const CRequestInfo& info) { return ReadParam(info, "URL", true, true); }

bool DecisionParamsReadOneWay(const CRequestInfo& info) {
  if (BodyMayHoldParams(info)) return false;
  std::map<ci_string, int, std::less<>> seen;
  bool oneWay = true;
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    if (!oneWay || !IsDownloadDecisionName(pair.name)) return;
    // The document's name is read both ways where "%u" spells it.
    const bool valueOneWay = pair.valueClean || (SameName(pair.name, "URL") && pair.valueSpeltWithPercentU);
    oneWay = pair.nameClean && valueOneWay && ++seen[ToCI(pair.name)] == 1;
  });
  // A deciding name among the request's parameters but not in its query
  // string came from a body.
  for (const auto& [name, value] : info.m_mapParams) {
    const std::string_view text(name.data(), name.size());
    if (oneWay && IsDownloadDecisionName(text) && seen.find(name) == seen.end()) oneWay = false;
  }
  return oneWay;
}

ci_string WithoutParamNamed(const ci_string& query, std::string_view name) {
  ci_string kept;
  kept.reserve(query.size());
  bool removed = false;
  ForEachPair(std::string_view(query.data(), query.size()), [&](std::string_view raw, const DecodedPair& pair) {
    if (SameName(pair.name, name)) {
      removed = true;
      return;
    }
    if (!kept.empty()) kept += '&';
    kept.append(raw.data(), raw.size());
  });
  // A query without the name keeps its exact text.
  return removed ? kept : query;
}

bool BodyMayHoldParams(const CRequestInfo& info) {
  const std::string* method = info.FindHeaderValue("HTTP_METHOD");
  // A HEAD carries no file back. A GET's body is read by a handler that
  // takes its parameters from the form whatever the method; method names
  // are case-sensitive, so "head" is an unknown method whose body may be read.
  return method != nullptr && *method != "HEAD" && HasBody(info);
}

bool HasBody(const CRequestInfo& info) {
  // Header names have no case ("content-length", as every HTTP/2 client
  // sends it): the server's variables hold each header under one name,
  // every spelling of it joined.
  // The length first: a post carries one, and the look-up of an absent
  // name (the transfer coding, mostly) is the dearer one.
  const std::string* length = info.FindHeaderValue("HTTP_CONTENT_LENGTH");
  if (length != nullptr && !AllDigitsZero(*length)) return true;
  return info.FindHeaderValue("HTTP_TRANSFER_ENCODING") != nullptr;
}

bool CookieMayHoldParam(const CRequestInfo& info, std::string_view name) {
  const std::string* cookie = info.FindHeaderValue("HTTP_COOKIE");
  if (cookie == nullptr) return false;
  // Pairs end at ";", and at "," too: the host joins repeated headers so,
  // and older readers split there.
  const std::string_view text(*cookie);
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of(";,", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(pos, end - pos);
    // Named as sent or decoded once, compared as the server compares names.
    const DecodedPair decoded = DecodePair(TrimBlanks(pair.substr(0, pair.find('='))));
    if (SameName(TrimBlanks(decoded.name), name)) return true;
    pos = end + 1;
  }
  return false;
}
