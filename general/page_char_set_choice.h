// Which character set a page is in, decided as a browser decides it: a byte
// order mark first, then the Content-Type's first parameter named "charset"
// (read by the rules of MIME types), then a <meta> found by the browser's
// prescan (the first 1024 bytes, and on while in the page's head). A label
// that names no set the module knows counts as none, as it does in browsers;
// one only the module knows yields to a <meta>. Where nothing names a set
// the page is walked as UTF-8 when it is plain printable ASCII, which every
// set a browser may guess reads alike; any other such page is one whose set
// the module cannot know, and it goes out unchanged.
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
  // Nothing names a set and the page holds bytes a browser's guess may read
  // in a set of its own: the module cannot know the browser's reading.
  bool bUnknown = false;
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
// content="...charset=..."> names, found as browsers' prescan finds it (in
// the first 1024 bytes, or while the page is in its head); empty when there
// is none.
std::string PrescanMetaCharSet(std::string_view page);

const char* PageCharSetFromName(PageCharSetChoice::From from);
