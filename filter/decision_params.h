// The query parameters that decide a download or the viewer's levels, read
// the one way the server reads them: names decoded once and read as a server
// reads every name (ParamNameAsRead), each name given once, values decoded
// once and free of control bytes. A parameter that could read two ways
// (repeated, spelt with white space, cut short at a NUL or a ";", or carried
// by a body the module never sees) cannot decide anything.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "common/ci_string.h"

class CRequestInfo;

struct CDecisionParam {
  enum Reading { Absent, Unique, Undecidable };
  Reading reading = Absent;
  ci_string value;  // decoded; set only when Unique
  // The other spelling of a value read both ways (ReadDocumentNameParam),
  // else empty.
  ci_string otherSpelling;

  bool IsUnique() const { return reading == Unique; }
  bool Is(const char* text) const { return reading == Unique && value == text; }
};

// `name` in the request's query string. Undecidable when the name occurs
// more than once (after decoding, as ParamNameAsRead reads names), when it
// is spelt with anything that reading cuts or trims, when it has no "=",
// when its value holds a control byte or an escape the server decodes
// otherwise ("%uXXXX"), when the request's body may hold parameters
// (BodyMayHoldParams) and the name is among the request's parameters at
// all, when the host read a parameter under another spelling of it, or when the query leaves the name out and a cookie carries it, where
// the server's look-up falls back to.
CDecisionParam ReadDecisionParam(const CRequestInfo& info, std::string_view name);
// The document's name, the "URL" of a document download, read as
// ReadDecisionParam reads it, but a value spelt with "%uXXXX" (what a
// script's escape() writes for a character outside ASCII) is read both
// ways: `value` as the server decodes it, `otherSpelling` as the host's
// parameters keep it. The caller decides on the name both ways.
CDecisionParam ReadDocumentNameParam(const CRequestInfo& info);
// The same reading of the query string alone: what the query says, by the
// same rules (a cookie standing in for a name it leaves out too), whatever
// a body may add. For telling what a request asks for
// where a body the module never sees is handled apart.
CDecisionParam ReadQueryParam(const CRequestInfo& info, std::string_view name);

// The name a server may read for a parameter name decoded once, in a query,
// a form body or a cookie alike: up to a control byte (where a reader of
// bytes stops), up to a ";" (where a reader that splits pairs there ends
// it), trimmed of every Unicode white space and format character and of the
// Latin-1 blanks 0x85 and 0xA0 (TrimUnicodeWhiteSpace), and folded as .NET
// compares names (AsciiFolded: "\uFF4Fwaal" is "owaal"). `asSent` tells
// whether nothing was cut or trimmed.
std::string ParamNameAsRead(std::string_view decoded, bool& asSent);
// Whether the decoded parameter name `decoded` reads as the ASCII `name`,
// case ignored.
bool ReadsAsParamName(std::string_view decoded, std::string_view name);

// Whether any pair of the query string ("&"-pairs and their ";" pieces) or
// any parameter the host read (query and form body) is named one of `names`
// as a server reads names (ParamNameAsRead).
bool RequestParamNamed(const CRequestInfo& info, std::initializer_list<std::string_view> names);
// The same, for a pair named `name` whose value a server reads as `value`
// (ReadsAsName: trimmed, case ignored), or such a pair of the cookie, where
// a look-up of parameters falls back to.
bool RequestParamMayRead(const CRequestInfo& info, std::string_view name, std::string_view value);

// Whether a parameter the host read is named one of `names` as a server
// reads names though no pair of the query gives that name as the host keys
// it: a field of a form body (or a second spelling of the query's).
bool FormBodyParamNamed(const CRequestInfo& info, std::initializer_list<std::string_view> names);

// Whether every parameter a download decision reads ("id", "attcnt",
// "attid<n>", "midh", "aidh", "fidh", "URL") reads one way. False for a
// request whose body may hold parameters: the module never sees the body.
bool DecisionParamsReadOneWay(const CRequestInfo& info);

// `query` without the pairs any reading of whose name (ParamNameAsRead, also
// of the ";" pieces of a pair) is `name`, however the client spelt it; the
// pairs kept stay as sent, split at "&".
ci_string WithoutParamNamed(const ci_string& query, std::string_view name);
// The same for several names in one pass.
ci_string WithoutParamsNamed(const ci_string& query, std::initializer_list<std::string_view> names);

// A request with a body by its headers: a `Content-Length` other than 0, or
// a `Transfer-Encoding`, whatever the method.
bool HasBody(const CRequestInfo& info);
// A request with a body (HasBody) by any method but HEAD, a GET included:
// the body may carry parameters that the server reads, in a form the module
// may never see (multipart, XML, JSON, chunked).
bool BodyMayHoldParams(const CRequestInfo& info);
// A body the host read into the request's parameters: a POST in the form
// encoding (or of no stated type), not chunked or compressed, in no
// character set but one that spells ASCII as ASCII. Its fields are the
// parameters the query does not give.
bool ReadableFormBody(const CRequestInfo& info);
// A body that may hold form fields (BodyMayHoldParams) which the module
// never sees: multipart, plain text, a form the host did not read (chunked,
// of another method, in another character set), or of no or several stated
// types. XML and JSON bodies hold no form fields.
bool BodyUnread(const CRequestInfo& info);
// Whether a cookie of the request is named `name` as a parameter is read
// (as sent or decoded once, read as ParamNameAsRead reads it): a look-up of
// parameters that falls back to cookies finds it where the query has none.
bool CookieMayHoldParam(const CRequestInfo& info, std::string_view name);
