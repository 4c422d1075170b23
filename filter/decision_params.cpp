// A download is decided from its parameters and then fetched by the server,
// which reads the same parameters its own way: the whole value past a NUL,
// the last of two, a name spelt with escapes or in another case. The module
// therefore reads a deciding parameter only when every such reading agrees.
#include "filter/decision_params.h"

#include <algorithm>
#include <map>
#include <set>
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
  if (raw.find_first_of("+%") == std::string_view::npos) return std::string(raw);
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
  std::string sent;    // decoded once, as the host keys its parameters
  std::string name;    // as a server may read it (ParamNameAsRead), folded
  bool nameClean;      // the decoded name is that reading as it stands: no
                       // control byte, "%u", ";" or white space cut off
  std::string_view rawValue;  // as sent; decoded by DecodeValue when asked
  bool hasValue = false;       // the pair has an "="
  bool piece = false;  // a ";"-separated piece after the pair's first
};

// The value of a pair decoded once, and whether it reads one way: no control
// byte and no "%u"; and whether it is clean but for its "%u" escapes. A pair
// without "=" ("?ns&ev=GetDoc") is to the server's parser a value without a
// name: it looks the name up elsewhere, in a cookie.
std::string DecodeValue(const DecodedPair& pair, bool& clean, bool* speltWithPercentU = nullptr) {
  bool twoWays = false;
  std::string value = pair.hasValue ? DecodeOnce(pair.rawValue, twoWays) : std::string();
  const bool noControl = std::none_of(value.begin(), value.end(), IsControlByte);
  clean = pair.hasValue && !twoWays && noControl;
  if (speltWithPercentU != nullptr) *speltWithPercentU = pair.hasValue && twoWays && noControl;
  return value;
}

DecodedPair DecodePair(std::string_view pair) {
  const size_t eq = pair.find('=');
  DecodedPair d;
  bool nameTwoWays = false;
  d.sent = DecodeOnce(pair.substr(0, eq), nameTwoWays);
  bool asSent = false;
  d.name = ParamNameAsRead(d.sent, asSent);
  d.nameClean = !nameTwoWays && asSent;
  d.hasValue = eq != std::string_view::npos;
  if (d.hasValue) d.rawValue = pair.substr(eq + 1);
  return d;
}

// Calls `visit(raw pair, decoded pair)` for each non-empty pair split at
// "&", and again for each ";"-separated piece of it after the first, which a
// server that splits pairs at ";" too reads as a pair of its own
// ("x=1;owaal=3"); such pieces are marked. One pass over the text.
template <class Visit>
void ForEachPair(std::string_view query, Visit visit) {
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t amp = query.find('&', pos);
    if (amp == std::string_view::npos) amp = query.size();
    const std::string_view raw = query.substr(pos, amp - pos);
    if (!raw.empty()) {
      visit(raw, DecodePair(raw));
      for (size_t semi = raw.find(';'); semi != std::string_view::npos;) {
        const size_t next = raw.find(';', semi + 1);
        const std::string_view piece = raw.substr(semi + 1, next == std::string_view::npos ? next : next - semi - 1);
        if (!piece.empty()) {
          DecodedPair d = DecodePair(piece);
          d.piece = true;
          d.nameClean = false;
          visit(raw, d);
        }
        semi = next;
      }
    }
    pos = amp + 1;
  }
}

bool SameName(std::string_view a, std::string_view b) { return AsCIView(a) == AsCIView(b); }

bool NamedAny(std::string_view read, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [read](std::string_view name) { return SameName(read, name); });
}

std::string_view MediaType(std::string_view contentType) {
  return TrimUnicodeWhiteSpace(contentType.substr(0, contentType.find(';')));
}

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

// A name of printable ASCII but ";": every reading of it is itself, as most
// names are.
bool ReadsAsItself(std::string_view name) {
  return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F && c != ';'; });
}

}  // namespace

std::string ParamNameAsRead(std::string_view decoded, bool& asSent) {
  if (ReadsAsItself(decoded)) {
    asSent = true;
    return std::string(decoded);
  }
  const std::string_view visible = VisibleName(decoded);
  const std::string_view piece = visible.substr(0, visible.find(';'));
  const std::string_view trimmed = TrimUnicodeWhiteSpace(piece);
  asSent = trimmed.size() == decoded.size();
  return AsciiFolded(trimmed);
}

bool ReadsAsParamName(std::string_view decoded, std::string_view name) {
  if (ReadsAsItself(decoded)) return SameName(decoded, name);
  bool asSent = false;
  return SameName(ParamNameAsRead(decoded, asSent), name);
}

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
  std::string sent;  // the name of the first pair, as the host keys it
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    if (!SameName(pair.name, name)) return;
    bool valueClean = false;
    bool speltWithPercentU = false;
    const std::string value = DecodeValue(pair, valueClean, &speltWithPercentU);
    const bool twoSpellings = bothSpellings && speltWithPercentU;
    if (++occurrences == 1 && !pair.piece) {
      param.value = ToCI(value);
      sent = pair.sent;
      if (twoSpellings) {
        param.value = ToCI(QueryValueAsServerReadsIt(pair.rawValue));
        param.otherSpelling = ToCI(URLDecode(std::string(pair.rawValue), DecodedZero::EndsText, PlusSign::Blank));
      }
    }
    clean = clean && pair.nameClean && (valueClean || twoSpellings);
  });
  // A parameter the host read under another name that reads as `name` came
  // from a body, or is a second spelling.
  bool otherReading = false;
  if (wholeRequest) {
    for (const auto& [key, value] : info.m_mapParams) {
      if (ReadsAsParamName(AsStdView(key), name) && !(occurrences > 0 && key == AsCIView(sent))) {
        otherReading = true;
        break;
      }
    }
  }
  const bool inParams = occurrences > 0 || otherReading || CookieMayHoldParam(info, name);
  if (!inParams) return param;
  // Asked only of a parameter the request has: most names a decision reads
  // are absent.
  const bool bodyMayHoldIt = wholeRequest && BodyMayHoldParams(info);
  if (occurrences == 1 && clean && !otherReading && !bodyMayHoldIt) {
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
  std::map<ci_string, int, std::less<>> sentNames;
  bool oneWay = true;
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    if (!oneWay || !IsDownloadDecisionName(pair.name)) return;
    bool valueClean = false;
    bool speltWithPercentU = false;
    DecodeValue(pair, valueClean, &speltWithPercentU);
    // The document's name is read both ways where "%u" spells it.
    const bool valueOneWay = valueClean || (SameName(pair.name, "URL") && speltWithPercentU);
    oneWay = pair.nameClean && valueOneWay && ++seen[ToCI(pair.name)] == 1;
    sentNames[ToCI(pair.sent)] = 1;
  });
  // A deciding name among the request's parameters, in any spelling, but
  // not in its query string came from a body.
  for (auto it = info.m_mapParams.begin(); oneWay && it != info.m_mapParams.end(); ++it) {
    bool asSent = false;
    const std::string text = ParamNameAsRead(AsStdView(it->first), asSent);
    if (IsDownloadDecisionName(text) && sentNames.find(it->first) == sentNames.end()) oneWay = false;
  }
  return oneWay;
}

ci_string WithoutParamNamed(const ci_string& query, std::string_view name) { return WithoutParamsNamed(query, {name}); }

ci_string WithoutParamsNamed(const ci_string& query, std::initializer_list<std::string_view> names) {
  ci_string kept;
  bool removed = false;
  // A pair is visited once and then once per ";" piece: it goes when any
  // of its readings names `name`, and is kept once its last reading is seen.
  std::string_view current;
  bool currentGoes = false;
  auto flush = [&] {
    if (current.empty()) return;
    if (currentGoes) {
      removed = true;
    } else {
      if (!kept.empty()) kept += '&';
      kept.append(current.data(), current.size());
    }
  };
  ForEachPair(std::string_view(query.data(), query.size()), [&](std::string_view raw, const DecodedPair& pair) {
    if (!pair.piece) {
      flush();
      current = raw;
      currentGoes = false;
    }
    if (NamedAny(pair.name, names)) currentGoes = true;
  });
  flush();
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

namespace {

// Calls `visit(pair)` for each pair of the request's cookie whose name reads
// as `name` (as sent or decoded once, each read as every parameter name is)
// until it returns true; whether one did.
template <class Visit>
bool ForEachCookieNamed(const CRequestInfo& info, std::string_view name, Visit visit) {
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
    const std::string_view sent = pair.substr(0, pair.find('='));
    if ((ReadsAsParamName(sent, name) || SameName(DecodePair(sent).name, name)) && visit(pair)) return true;
    pos = end + 1;
  }
  return false;
}

}  // namespace

bool CookieMayHoldParam(const CRequestInfo& info, std::string_view name) {
  return ForEachCookieNamed(info, name, [](std::string_view) { return true; });
}

namespace {

bool StartsWithCI(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsCIView(text.substr(0, prefix.size())) == AsCIView(prefix);
}

// Whether the parameters of a form's type (past its ";") leave its bytes
// read as the host reads them: no character set, or one that spells ASCII
// as ASCII. A server decodes a form in the character set it names, where
// "a\0e\0" is "ae" in UTF-16 and "+AGEAZQ-" is "ae" in UTF-7.
bool AsciiFormCharset(std::string_view parameters) {
  if (parameters.find(',') != std::string_view::npos) return false;  // two types joined
  while (!parameters.empty()) {
    const size_t semi = parameters.find(';');
    const std::string_view parameter = TrimUnicodeWhiteSpace(parameters.substr(0, semi));
    parameters = semi == std::string_view::npos ? std::string_view() : parameters.substr(semi + 1);
    const size_t eq = parameter.find('=');
    if (eq == std::string_view::npos || AsCIView(TrimUnicodeWhiteSpace(parameter.substr(0, eq))) != "charset") continue;
    std::string_view charset = TrimUnicodeWhiteSpace(parameter.substr(eq + 1));
    if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"') charset = charset.substr(1, charset.size() - 2);
    static constexpr std::string_view kAscii[] = {"utf-8", "utf8", "us-ascii", "ascii"};
    const bool ascii = std::any_of(std::begin(kAscii), std::end(kAscii),
                                   [charset](std::string_view name) { return AsCIView(charset) == AsCIView(name); }) ||
                       StartsWithCI(charset, "iso-8859-") || StartsWithCI(charset, "windows-125");
    if (!ascii) return false;
  }
  return true;
}

}  // namespace

bool ReadableFormBody(const CRequestInfo& info) {
  const std::string* method = info.FindHeaderValue("HTTP_METHOD");
  if (method == nullptr || AsCIView(*method) != "POST") return false;
  // A chunked or compressed body is not the text the host read.
  if (info.FindHeaderValue("HTTP_TRANSFER_ENCODING") != nullptr) return false;
  const std::string* coding = info.FindHeaderValue("HTTP_CONTENT_ENCODING");
  if (coding != nullptr && AsCIView(TrimUnicodeWhiteSpace(*coding)) != "identity") return false;
  const std::string* type = info.FindHeaderValue("HTTP_CONTENT_TYPE");
  if (type == nullptr) return true;
  const size_t semi = type->find(';');
  return AsCIView(MediaType(*type)) == "application/x-www-form-urlencoded" &&
         (semi == std::string::npos || AsciiFormCharset(std::string_view(*type).substr(semi + 1)));
}

bool BodyUnread(const CRequestInfo& info) {
  if (!BodyMayHoldParams(info) || ReadableFormBody(info)) return false;
  // A server takes fields from a form's body only: XML and JSON, which the
  // client's scripts post, carry none.
  const std::string* type = info.FindHeaderValue("HTTP_CONTENT_TYPE");
  if (type == nullptr) return true;
  const std::string_view media = MediaType(*type);
  if (media.find(',') != std::string_view::npos) return true;  // two types joined
  return media.empty() || StartsWithCI(media, "multipart/") || StartsWithCI(media, "text/plain") ||
         StartsWithCI(media, "application/x-www-form-urlencoded");
}

bool RequestParamNamed(const CRequestInfo& info, std::initializer_list<std::string_view> names) {
  bool found = false;
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    found = found || NamedAny(pair.name, names);
  });
  for (auto it = info.m_mapParams.begin(); !found && it != info.m_mapParams.end(); ++it) {
    bool asSent = false;
    found = NamedAny(ParamNameAsRead(AsStdView(it->first), asSent), names);
  }
  return found;
}

bool RequestParamMayRead(const CRequestInfo& info, std::string_view name, std::string_view value) {
  bool found = false;
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    bool valueClean = false;
    found = found || (SameName(pair.name, name) && ReadsAsName(DecodeValue(pair, valueClean), value));
  });
  for (auto it = info.m_mapParams.begin(); !found && it != info.m_mapParams.end(); ++it) {
    found = ReadsAsParamName(AsStdView(it->first), name) && ReadsAsName(AsStdView(it->second), value);
  }
  // A look-up of parameters falls back to cookies; their values are read as
  // sent and decoded once, and without the quotes a cookie's value may be
  // wrapped in.
  return found || ForEachCookieNamed(info, name, [value](std::string_view pair) {
           const size_t eq = pair.find('=');
           if (eq == std::string_view::npos) return false;
           std::string_view sent = TrimUnicodeWhiteSpace(pair.substr(eq + 1));
           if (sent.size() >= 2 && sent.front() == '"' && sent.back() == '"') sent = sent.substr(1, sent.size() - 2);
           bool twoWays = false;
           return ReadsAsName(sent, value) || ReadsAsName(DecodeOnce(sent, twoWays), value);
         });
}

bool FormBodyParamNamed(const CRequestInfo& info, std::initializer_list<std::string_view> names) {
  std::set<ci_string, std::less<>> sentNames;
  ForEachPair(QueryOf(info), [&](std::string_view, const DecodedPair& pair) {
    if (!pair.piece && NamedAny(pair.name, names)) sentNames.insert(ToCI(pair.sent));
  });
  for (const auto& [key, value] : info.m_mapParams) {
    bool asSent = false;
    if (NamedAny(ParamNameAsRead(AsStdView(key), asSent), names) && sentNames.find(key) == sentNames.end()) {
      return true;
    }
  }
  return false;
}
