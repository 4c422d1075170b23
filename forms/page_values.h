// Values a form writes into the markup it adds to a page: attachment names
// and ids, document paths, request values. A mail page carries text the
// sender chose, so each value is escaped for every layer it passes through,
// innermost first: the script string, then a javascript: link (the browser
// percent-decodes it before running it), then the attribute, for its own
// quote character. Values that need no escaping come out as written.
//
// A value comes either as plain text (an id the form decoded, a request
// value) or as the page's markup spells it (a file name or path copied from
// the page, character references as written). Markup keeps its own spelling
// wherever the browser reads it safely, so ordinary names do not change.
//
// Every function walks the value in the page's characters (`page`): only
// what the browser reads as an ASCII quote, backslash, "&" or "%" is one.
#pragma once

#include <string>

#include "common/page_chars.h"

// What carries a script string that sits in a single-quoted attribute.
enum class ScriptCarrier {
  // onClick='...': the attribute's character references are decoded, then
  // the text is compiled.
  EventHandler,
  // href='javascript:...': decoded, then percent-decoded, then compiled.
  JavaScriptLink,
};

// A plain value as the body of a double-quoted script string inside a
// single-quoted attribute: the script receives exactly the value.
std::string ValueInScriptAttribute(const std::string& sValue, ScriptCarrier carrier, const CPageChars& page);

// A value spelt as markup, in the same place: the script receives exactly
// what the browser reads from the markup, every character kept.
std::string MarkupInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier, const CPageChars& page);

// A file name spelt as markup, in the same place, in the product's own
// spelling: the script receives the name as the browser shows it, with every
// double quote read as an apostrophe. An apostrophe and every spelling of a
// double quote are written "&#39;".
std::string MarkupNameInScriptAttribute(const std::string& sMarkup, ScriptCarrier carrier,
                                        const CPageChars& page);

// A value spelt as markup as the value of a double-quoted attribute: a raw
// double quote becomes "&quot;", everything else stays as written.
std::string MarkupInDoubleQuotedAttribute(const std::string& sMarkup, const CPageChars& page);

// A plain value as (part of) an attribute value whose quoting is not known,
// an unquoted one included: both quotes, blanks, "<", ">", "`" and an "&"
// that could begin a character reference become references.
std::string ValueInAnyAttribute(const std::string& sValue, const CPageChars& page);
