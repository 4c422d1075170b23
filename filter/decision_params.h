// The query parameters that decide a download or the viewer's levels, read
// the one way the server reads them: names decoded once and compared without
// case as the server compares (AsciiFolded), each name given once, values
// decoded once and free of control bytes. A parameter that could read two ways (repeated, cut short at a NUL,
// or carried by a body the module never sees) cannot decide anything.
#pragma once

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
// more than once (after decoding, case ignored), when it has no "=", when
// its value holds a control byte or an escape the server decodes otherwise
// ("%uXXXX"), when the request's body may hold parameters
// (BodyMayHoldParams) and the name is among the request's parameters at
// all, or when the query leaves the name out and a cookie carries it, where
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

// Whether every parameter a download decision reads ("id", "attcnt",
// "attid<n>", "midh", "aidh", "fidh", "URL") reads one way. False for a
// request whose body may hold parameters: the module never sees the body.
bool DecisionParamsReadOneWay(const CRequestInfo& info);

// `query` without the pairs whose decoded name is `name` (case ignored),
// however the client spelt it; pairs are split at "&" only.
ci_string WithoutParamNamed(const ci_string& query, std::string_view name);

// A request with a body by its headers: a `Content-Length` other than 0, or
// a `Transfer-Encoding`, whatever the method.
bool HasBody(const CRequestInfo& info);
// A request with a body (HasBody) by any method but HEAD, a GET included:
// the body may carry parameters that the server reads, in a form the module
// may never see (multipart, XML, JSON, chunked).
bool BodyMayHoldParams(const CRequestInfo& info);
// Whether a cookie of the request is named `name` as a parameter is read
// (decoded once, case ignored, blanks around it dropped): a look-up of
// parameters that falls back to cookies finds it where the query has none.
bool CookieMayHoldParam(const CRequestInfo& info, std::string_view name);
