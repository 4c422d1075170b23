// The path as the host routes it: every spelling a server would serve with a
// handler is classified as that handler's plain path, and every path a server
// cannot read safely is refused.
#include <gtest/gtest.h>

#include "host/hx_request_info.h"
#include "host/hx_routed_path.h"

namespace {

TEST(HostRoutedPath, SpellingsOfHandlersAndUnsafePaths) {
  const struct {
    const char* sent;
    HxPathRefusal refusal;
    const char* routed = "";  // when read
    uint32_t type = 0;
  } cases[] = {
      // Spellings of the attachment handler and the event handler.
      {"/owa/attachment%2eashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/owa/%61ttachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/%6fwa/attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/owa\\attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/./owa/attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/x/../owa/attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      {"/x/..;y/owa//attachment.ashx", HxPathRefusal::DotWithParameter},
      {"/owa/%2E%2e/OWA/attachment.ashx;v=1", HxPathRefusal::None, "/OWA/attachment.ashx", 5},
      {"/owa;a=b/attachment.ashx/more", HxPathRefusal::None, "/owa/attachment.ashx/more", 5},
      {"/owa/ev.owa;x", HxPathRefusal::None, "/owa/ev.owa", 4},
      {"/owa/ev%2eowa", HxPathRefusal::None, "/owa/ev.owa", 4},
      {"/OWA/EV.OWA/", HxPathRefusal::None, "/OWA/EV.OWA/", 4},
      {"/X-Pellora/cmd/%73how/file/a/b.doc", HxPathRefusal::None, "/X-Pellora/cmd/show/file/a/b.doc", 22},
      // Decoded once; other text as it is.
      {"/owa/attachment%252eashx", HxPathRefusal::None, "/owa/attachment%2eashx", 2},
      {"/owa/caf%C3%A9+x/", HxPathRefusal::None, "/owa/caf\xC3\xA9+x/", 2},
      {"/owa/x/..", HxPathRefusal::None, "/owa/", 2},
      {"/owaextra/attachment.ashx", HxPathRefusal::None, "/owaextra/attachment.ashx", 0},
      {"/", HxPathRefusal::None, "/", 0},
      // Refused with 400.
      {"/owa%2Fattachment.ashx", HxPathRefusal::EscapedSeparator},
      {"/owa%5cattachment.ashx", HxPathRefusal::EscapedSeparator},
      {"/owa/attachment.ashx%00.txt", HxPathRefusal::Nul},
      {"/owa/%C0%AE%C0%AE/x", HxPathRefusal::InvalidUtf8},  // overlong "."
      {"/owa/%E0%80%AE", HxPathRefusal::InvalidUtf8},
      {"/owa/%ED%A0%80", HxPathRefusal::InvalidUtf8},  // a surrogate
      {"/owa/%F4%90%80%80", HxPathRefusal::InvalidUtf8},
      {"/owa/%C3", HxPathRefusal::InvalidUtf8},
      {"/owa/\x80", HxPathRefusal::InvalidUtf8},
      {"/../owa/attachment.ashx", HxPathRefusal::AboveRoot},
      {"/owa/%2e%2e/..;/x", HxPathRefusal::AboveRoot},
      {"/owa/%zz", HxPathRefusal::MalformedEscape},
      {"/owa/a%4", HxPathRefusal::MalformedEscape},
      {"/owa/%u0061ttachment.ashx", HxPathRefusal::MalformedEscape},
      {"owa/attachment.ashx", HxPathRefusal::NotAbsolute},
      // A segment that file names read as another name.
      {"/owa/ev.owa.", HxPathRefusal::AliasedSegment},
      {"/owa/ev.owa%20", HxPathRefusal::AliasedSegment},
      {"/owa/ev.owa%09/x", HxPathRefusal::AliasedSegment},
      {"/owa/ev.owa::$DATA", HxPathRefusal::AliasedSegment},
      {"/owa./attachment.ashx", HxPathRefusal::AliasedSegment},
      {"/owa%20/attachment.ashx", HxPathRefusal::AliasedSegment},
      {"/owa/...", HxPathRefusal::AliasedSegment},
      {"/X-Pellora/bin./pellora.srf", HxPathRefusal::AliasedSegment},
      {"/X-Pellora/bin/pellora.srf%7F", HxPathRefusal::AliasedSegment},
      {"/owa/attachment.ashx%3Fid=x%23", HxPathRefusal::AliasedSegment},
      {"/owa/attachment.ashx%3Bx", HxPathRefusal::AliasedSegment},
      // A dot segment to a server that drops path parameters, a name to one
      // that keeps them: the handler after it would go unseen.
      {"/owa/..;/attachment.ashx", HxPathRefusal::DotWithParameter},
      {"/owa/%2e%2e;/attachment.ashx", HxPathRefusal::DotWithParameter},
      {"/owa/..;x/attachment.ashx", HxPathRefusal::DotWithParameter},
      {"/owa/attachment.ashx/..;/x", HxPathRefusal::DotWithParameter},
      {"/X-Pellora/bin/pellora.srf/..;/x", HxPathRefusal::DotWithParameter},
      {"/owa/.;/x", HxPathRefusal::DotWithParameter},
      {"/owa/%2E;a=b/x", HxPathRefusal::DotWithParameter},
      {"/owa/;x/attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      // An empty segment is a name to servers that keep it: a ".." after it
      // would drop it there and "owa" here.
      {"/owa/;x/../attachment.ashx", HxPathRefusal::ParentAfterEmpty},
      {"/owa//x/../../attachment.ashx", HxPathRefusal::ParentAfterEmpty},
      // A server picks one of two handlers by its own order, not the first.
      {"/owa/ev.owa/attachment.ashx", HxPathRefusal::TwoHandlers},
      {"/owa/ev.owa/x/Attachment.ashx", HxPathRefusal::TwoHandlers},
      {"/owa/attachment.ashx/ev%2eowa", HxPathRefusal::TwoHandlers},
      {"/owa/ev.owa/ev.owa", HxPathRefusal::TwoHandlers},
      {"/owa/ev.owa/../attachment.ashx", HxPathRefusal::None, "/owa/attachment.ashx", 5},
      // A short name reaches the file or folder it stands for on a volume
      // that keeps 8.3 names; other names with a "~" are names.
      {"/X-Pellora/bin/PELLOR~1.SRF", HxPathRefusal::ShortName},
      {"/X-PELL~1/bin/pellora.srf", HxPathRefusal::ShortName},
      {"/x-pell%7e1/bin/pellora.srf", HxPathRefusal::ShortName},
      {"/X-Pellora/BIN~2/pellora.srf;x", HxPathRefusal::ShortName},
      {"/owa/ATTACH~1.ASH", HxPathRefusal::ShortName},
      {"/owa/~1", HxPathRefusal::None, "/owa/~1", 2},
      {"/owa/a~1b/x~.y", HxPathRefusal::None, "/owa/a~1b/x~.y", 2},
      {"/owa/a~1.html", HxPathRefusal::None, "/owa/a~1.html", 2},
      // Every handler and folder is named by its whole segment.
      {"/owa/attachment.ashxx", HxPathRefusal::None, "/owa/attachment.ashxx", 2},
      {"/owa/x.ev.owa", HxPathRefusal::None, "/owa/x.ev.owa", 2},
      {"/X-Pelloras/cmd/menu", HxPathRefusal::None, "/X-Pelloras/cmd/menu", 0},
      {"/x-pellora/cmd/menu", HxPathRefusal::None, "/x-pellora/cmd/menu", 24},
  };
  for (const auto& c : cases) {
    std::string routed = "stale";
    EXPECT_EQ(c.refusal, HxRoutePath(c.sent, routed)) << c.sent;
    if (c.refusal != HxPathRefusal::None) {
      EXPECT_EQ("", routed) << c.sent;
      continue;
    }
    EXPECT_EQ(c.routed, routed) << c.sent;
    EXPECT_EQ(c.type, HxSubscriptionTypeForPath(routed)) << c.sent;
  }
  // The mail folder is the base path's.
  EXPECT_EQ(5u, HxSubscriptionTypeForPath("/Mail/attachment.ashx", kHxDefaultVirtualFolder, "/mail/"));
  EXPECT_EQ(0u, HxSubscriptionTypeForPath("/owa/attachment.ashx", kHxDefaultVirtualFolder, "/mail/"));
  EXPECT_EQ(4u, HxSubscriptionTypeForPath("/ev.owa", kHxDefaultVirtualFolder, "/"));
}

}  // namespace
