// The request path as a web server reads it before it picks a handler. The
// host classifies requests and fills the "URL" variable from this reading,
// not from the text as sent: otherwise "/owa/attachment%2eashx" or
// "/x/../owa/attachment.ashx" would escape the checks of the handler that a
// server goes on to serve them with.
#pragma once

#include <string>
#include <string_view>

// Why a path cannot be read safely; a server answers such a request with 400
// before any filter sees it.
enum class HxPathRefusal {
  None,
  NotAbsolute,       // the path does not start with "/"
  MalformedEscape,   // "%" not followed by two hexadecimal digits
  EscapedSeparator,  // "%2F" or "%5C": a separator the routing could not see
  Nul,               // a NUL byte, sent or escaped
  InvalidUtf8,       // overlong, truncated, surrogate or out-of-range UTF-8
  AboveRoot,         // a ".." segment above "/"
  AliasedSegment,    // a segment ending in "." or a blank, or holding ":", "?", "#", ";" or a control byte
  DotWithParameter,  // "..;", ".;x", "%2e%2e;": a dot segment to one server, a name to another
  ParentAfterEmpty,  // "//..", "/;x/..": servers drop different segments for it
  TwoHandlers,       // "/owa/ev.owa/attachment.ashx": a server may run either handler
  ShortName,         // "PELLOR~1.SRF": a volume that keeps 8.3 names serves it as the long name
};

// A short text for reports and logs: "an escaped '/' or '\\' in the path".
const char* HxPathRefusalText(HxPathRefusal refusal);

// Reads `sent` (the path of the request target, without its query) segment
// by segment, in the order servers do: "/" and "\" separate segments; a ";"
// and what follows it in a segment go (path parameters); the rest of the
// segment is percent-decoded once and must be valid UTF-8; empty and "."
// segments go and ".." drops the segment before it. A segment that is "." or
// ".." only once its ";" part is dropped ("..;", "%2e%2e;x") is refused: a
// server that keeps path parameters reads it as a name and would serve what
// follows with a handler that this reading had dropped. So is a ".." after an
// empty segment ("//", or ";x" once its ";" part goes): servers that merge
// empty segments drop the segment before it, those that keep them the empty
// one. A decoded segment that a
// server's file names could read as another name (one ending in "." or a
// blank, "ev.owa." for "ev.owa"; one holding ":", a stream of a file; one
// holding "?", "#" or ";", which a server reading the decoded path again
// takes as the end of the name; one holding a control byte) is refused, so
// that a segment names a handler or folder only by being its name. So is a
// segment of the short-name form ("NAME~N" before an optional extension,
// "PELLOR~1.SRF", "X-PELL~1"), which a volume that keeps 8.3 names serves as
// the file or folder it stands for. A path whose segments name two handlers
// (HxSegmentHandler), "/owa/ev.owa/attachment.ashx", is refused too: a
// server picks the handler by the order of its handler list, not by the
// first segment. Letter case is kept (callers compare without case). On success `routed` starts with "/" and ends with "/" when
// the sent path did (or ended in a dot segment); on a refusal `routed` is
// empty.
HxPathRefusal HxRoutePath(std::string_view sent, std::string& routed);

// The one rule by which a routed path names a handler, a folder or a page:
// whole segments, ASCII case ignored. True when `path` is `prefix` (one or
// more "/"-led segments) or lies below it; `below` is then the rest, empty
// or "/"-led. "/owa" names "/owa/x" but not "/owax".
bool HxPathStartsWithSegments(std::string_view path, std::string_view prefix, std::string_view& below);
// Whether one segment (without "/") is `name`: the whole of it, ASCII case
// ignored; "attachment.ashx" is not "attachment.ashxx".
bool HxSegmentIs(std::string_view segment, std::string_view name);

// The mail server's handlers that serve files, named by a whole segment.
enum class HxHandler { None, Event, Attachment };
// Which handler one segment (without "/") names: "ev.owa" the event handler,
// "attachment.ashx" the attachment handler (HxSegmentIs).
HxHandler HxSegmentHandler(std::string_view segment);
