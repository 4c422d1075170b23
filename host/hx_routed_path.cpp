#include "host/hx_routed_path.h"

#include <algorithm>

#include "common/string_utils.h"
#include "host/hx_text.h"

const char* HxPathRefusalText(HxPathRefusal refusal) {
  switch (refusal) {
    case HxPathRefusal::None: return "none";
    case HxPathRefusal::NotAbsolute: return "a path that does not start with '/'";
    case HxPathRefusal::MalformedEscape: return "a '%' without two hexadecimal digits in the path";
    case HxPathRefusal::EscapedSeparator: return "an escaped '/' or '\\' in the path";
    case HxPathRefusal::Nul: return "a NUL byte in the path";
    case HxPathRefusal::InvalidUtf8: return "overlong or invalid UTF-8 in the path";
    case HxPathRefusal::AboveRoot: return "a '..' above the root in the path";
    case HxPathRefusal::AliasedSegment:
      return "a path segment ending in '.' or a blank, or holding ':', '?', '#', ';' or a control byte";
    case HxPathRefusal::DotWithParameter: return "a '.' or '..' path segment with a ';' part";
    case HxPathRefusal::ParentAfterEmpty: return "a '..' after an empty path segment ('//' or '/;x/')";
    case HxPathRefusal::TwoHandlers: return "a path whose segments name two handlers";
    case HxPathRefusal::ShortName: return "a path segment in the short-name form 'NAME~N'";
  }
  return "unknown";
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A server whose file names drop trailing dots and blanks, and read what
// follows ":" as a stream, serves such a segment as another name; one that
// reads the decoded path again takes a "?", "#" or ";" in it as the end of
// the name.
bool ReadsAsAnotherName(std::string_view segment) {
  if (segment.empty() || segment == "." || segment == "..") return false;
  const char last = segment.back();
  return last == '.' || last == ' ' || segment.find_first_of(":?#;") != std::string_view::npos ||
         std::any_of(segment.begin(), segment.end(), IsControlByte);
}

// "NAME~N" before an optional extension of one to three characters: the
// name by which a volume that keeps 8.3 names also serves a long one
// ("PELLOR~1.SRF" for "pellora.srf"). A short name has one "." at most.
bool IsShortNameForm(std::string_view segment) {
  const size_t dot = segment.find('.');
  const std::string_view name = segment.substr(0, dot);
  if (dot != std::string_view::npos) {
    const std::string_view extension = segment.substr(dot + 1);
    if (extension.empty() || extension.size() > 3 || extension.find('.') != std::string_view::npos) return false;
  }
  const size_t tilde = name.rfind('~');
  if (tilde == std::string_view::npos || tilde == 0 || tilde + 1 == name.size()) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(tilde) + 1, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The bounds of the second byte of a multi-byte sequence, which exclude
// overlong forms, surrogates and code points above U+10FFFF; 0 when the lead
// byte starts no valid sequence.
size_t Utf8Length(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead == 0xE0) return low = 0xA0, 3;
  if (lead == 0xED) return high = 0x9F, 3;
  if (lead >= 0xE1 && lead <= 0xEF) return 3;
  if (lead == 0xF0) return low = 0x90, 4;
  if (lead >= 0xF1 && lead <= 0xF3) return 4;
  if (lead == 0xF4) return high = 0x8F, 4;
  return 0;
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    unsigned char low = 0;
    unsigned char high = 0;
    const size_t length = Utf8Length(lead, low, high);
    if (length == 0 || s.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

// Percent-decodes one segment, once: what a server compares with its
// handlers' names.
HxPathRefusal DecodeSegment(std::string_view raw, std::string& out) {
  out.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (raw.size() - i < 3 || HxHexValue(raw[i + 1]) < 0 || HxHexValue(raw[i + 2]) < 0) {
        return HxPathRefusal::MalformedEscape;
      }
      c = static_cast<char>(HxHexValue(raw[i + 1]) * 16 + HxHexValue(raw[i + 2]));
      i += 2;
      if (IsSeparator(c)) return HxPathRefusal::EscapedSeparator;
    }
    if (c == '\0') return HxPathRefusal::Nul;
    out += c;
  }
  return IsValidUtf8(out) ? HxPathRefusal::None : HxPathRefusal::InvalidUtf8;
}

// Whether more than one segment of the routed path names a handler: a server
// may hand the request to either.
bool NamesTwoHandlers(std::string_view routed) {
  int handlers = 0;
  for (size_t pos = 1; pos <= routed.size();) {
    size_t end = routed.find('/', pos);
    if (end == std::string_view::npos) end = routed.size();
    if (HxSegmentHandler(routed.substr(pos, end - pos)) != HxHandler::None) ++handlers;
    pos = end + 1;
  }
  return handlers > 1;
}

HxPathRefusal RouteSegments(std::string_view sent, std::string& routed) {
  std::string segment;
  bool endsInFolder = false;
  bool afterEmpty = false;
  for (size_t pos = 1; pos <= sent.size();) {
    size_t end = sent.find_first_of("/\\", pos);
    if (end == std::string_view::npos) end = sent.size();
    std::string_view raw = sent.substr(pos, end - pos);
    const size_t parameter = raw.find(';');
    raw = raw.substr(0, parameter);
    const HxPathRefusal refusal = DecodeSegment(raw, segment);
    if (refusal != HxPathRefusal::None) return refusal;
    if (ReadsAsAnotherName(segment)) return HxPathRefusal::AliasedSegment;
    if (IsShortNameForm(segment)) return HxPathRefusal::ShortName;
    const bool current = segment.empty() || segment == ".";
    const bool parent = segment == "..";
    if (parent && routed.empty()) return HxPathRefusal::AboveRoot;
    if (parameter != std::string_view::npos && !segment.empty() && (current || parent)) {
      return HxPathRefusal::DotWithParameter;
    }
    // An empty segment ("//", or ";x" once its ";" part goes) is merged away
    // by some servers and kept as a name by others, so a ".." after it drops
    // the segment before it to one and the empty one to the other:
    // "/owa/;x/../attachment.ashx" reaches the attachment handler there.
    if (parent && afterEmpty) return HxPathRefusal::ParentAfterEmpty;
    afterEmpty = afterEmpty || segment.empty();
    if (parent) {
      // No decoded segment holds a separator: the last "/" starts the last one.
      routed.resize(routed.rfind('/'));
    } else if (!current) {
      routed += '/';
      routed += segment;
    }
    endsInFolder = current || parent;
    pos = end + 1;
  }
  if (routed.empty() || endsInFolder) routed += '/';
  return NamesTwoHandlers(routed) ? HxPathRefusal::TwoHandlers : HxPathRefusal::None;
}

}  // namespace

HxPathRefusal HxRoutePath(std::string_view sent, std::string& routed) {
  routed.clear();
  const HxPathRefusal refusal =
      sent.empty() || !IsSeparator(sent[0]) ? HxPathRefusal::NotAbsolute : RouteSegments(sent, routed);
  if (refusal != HxPathRefusal::None) routed.clear();
  return refusal;
}

bool HxSegmentIs(std::string_view segment, std::string_view name) { return HxEqualsNoCase(segment, name); }

HxHandler HxSegmentHandler(std::string_view segment) {
  if (HxSegmentIs(segment, "ev.owa")) return HxHandler::Event;
  if (HxSegmentIs(segment, "attachment.ashx")) return HxHandler::Attachment;
  return HxHandler::None;
}

bool HxPathStartsWithSegments(std::string_view path, std::string_view prefix, std::string_view& below) {
  if (!HxStartsWithNoCase(path, prefix)) return false;
  const std::string_view rest = path.substr(prefix.size());
  if (!rest.empty() && rest.front() != '/') return false;
  below = rest;
  return true;
}
