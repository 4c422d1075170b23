// Which character set a page is in, decided as a browser decides it: a byte
// order mark first, then the Content-Type's first parameter named "charset"
// (read by the rules of MIME types), then a <meta> among the page's first
// 1024 bytes. A label that names no set the module knows counts as none, as
// it does in browsers. Where nothing names a set the page is walked as UTF-8,
// and a rewritten page says so in its Content-Type.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct PageCharSetChoice {
  enum class From { ByteOrderMark, Header, Meta, Nothing };
  From from = From::Nothing;
  // The set's name (common/char_set_labels.h); "UTF-8" when nothing names one.
  std::string set = "UTF-8";
  // The label as the page or the header spells it (for the log).
  std::string label;
  // The Content-Type already names the set in a form every browser reads
  // the same way, so a rewritten page keeps it as it is.
  bool bHeaderStatesIt = false;
};

PageCharSetChoice ChoosePageCharSet(std::string_view contentType, std::string_view page);

// What a MIME type parser reads in a Content-Type value: the type and
// subtype, and the value of the first parameter named "charset" (unquoted).
struct ContentTypeCharSet {
  bool bValidType = false;
  std::string essence;  // "type/subtype" as spelt
  bool bHasCharSet = false;
  bool bQuoted = false;
  std::string charSet;
};
ContentTypeCharSet ParseContentTypeCharSet(std::string_view contentType);
// The same reading of the type and subtype alone (bValidType, essence), for
// a caller that needs no parameter.
ContentTypeCharSet ParseContentTypeEssence(std::string_view contentType);

// The label a <meta charset> or <meta http-equiv="Content-Type"
// content="...charset=..."> names in the first 1024 bytes of the page, found
// as browsers' prescan finds it; empty when there is none.
std::string PrescanMetaCharSet(std::string_view page);

const char* PageCharSetFromName(PageCharSetChoice::From from);
