// The spelling each escaping helper gives a value: ordinary values as they
// were, hostile ones escaped for every layer of their place.
#include "forms/page_values.h"

#include "forms/html_char_refs.h"

#include <gtest/gtest.h>

namespace {

constexpr ScriptCarrier kHandler = ScriptCarrier::EventHandler;
constexpr ScriptCarrier kLink = ScriptCarrier::JavaScriptLink;
const CPageChars kUtf8 = CPageChars::Utf8();

// A file name keeps the spelling the product always gave it (so ordinary
// pages do not change); every other way the browser could read a double
// quote, a backslash, a line end or "%" out of the markup is escaped, and a
// reference the browser reads differently in an attribute is left alone.
TEST(PageValues, NameKeepsItsSpellingUnlessALayerMustEscapeIt) {
  const struct {
    const char* markup;
    ScriptCarrier carrier;
    const char* written;
  } cases[] = {
      {"Ada's &quot;final&quot; sheet.xls", kHandler, "Ada&#39;s &#39;final&#39; sheet.xls"},
      {"100% &amp; &eacute;&#233;&apos;&#39;.txt", kHandler, "100% &amp; &eacute;&#233;&apos;&#39;.txt"},
      {"a\"b&#34;c&#x22;d&#0000034;e&QUOT;f&quot,g&#34h&QUOT)", kHandler,
       "a&#39;b&#39;c&#39;d&#39;e&#39;f&#39;,g&#39;h&#39;)"},
      {"&quotx&lt=&ltimes;&bsolb;&#4294967330;&#", kHandler, "&quotx&lt=&ltimes;&bsolb;&#4294967330;&#"},
      {"b\\c\t\r\n\xE2\x80\xA8&bsol;&NewLine;&Tab;&#92;", kHandler, "b\\\\c\\x09\\r\\n\\u2028\\\\\\n\\x09\\\\"},
      {"&lt;/script&gt;<&LT;&nvlt;", kHandler, "\\x3C/script&gt;\\x3C\\x3C\\x3C\xE2\x83\x92"},
      {"pct%22&percnt;22&#37;", kHandler, "pct%22&percnt;22&#37;"},
      {"pct%22&percnt;22&#37;", kLink, "pct%2522%2522%25"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.written, MarkupNameInScriptAttribute(c.markup, c.carrier, kUtf8)) << c.markup;
  }
  // A path keeps every character: a double quote stays one.
  EXPECT_EQ("file://x/Ada&#39;s \\\"q\\\" \\\" &amp;",
            MarkupInScriptAttribute("file://x/Ada's \"q\" &quot; &amp;", kHandler, kUtf8));
}

// An id reaches the script exactly: nothing in it can end the string, the
// link or the attribute, or be read as a character reference.
TEST(PageValues, IdAndRequestValuesCannotEndTheirPlace) {
  EXPECT_EQ("RgAAAAB2cE1kAAAJ", ValueInScriptAttribute("RgAAAAB2cE1kAAAJ", kHandler, kUtf8));
  EXPECT_EQ("I&#39;>\\x3Cimg src=x>&amp;quot;\\\"\\\\\\n%",
            ValueInScriptAttribute("I'><img src=x>&quot;\"\\\n%", kHandler, kUtf8));
  EXPECT_EQ("Q1&2&amp;#3%2522", ValueInScriptAttribute("Q1&2&#3%22", kLink, kUtf8));
  EXPECT_EQ("a&quot;b&quot;'<", MarkupInDoubleQuotedAttribute("a\"b&quot;'<", kUtf8));
  EXPECT_EQ("qlcsm-", ValueInAnyAttribute("qlcsm-", kUtf8));
  EXPECT_EQ("&quot;&#32;on&#9;&#10;&#13;&#12;&#39;&lt;&gt;&#96;&amp;x&1=",
            ValueInAnyAttribute("\" on\t\n\r\f'<>`&x&1=", kUtf8));
}

// The one reader of references reads an attribute as the browser does.
TEST(CharacterReferences, ReadAsTheBrowserReadsAnAttribute) {
  const struct {
    const char* value;
    const char* read;
  } cases[] = {
      {"&#xA;&#X1f600;&#34&#0065;", "\n\xF0\x9F\x98\x80\"A"},
      {"&#0;&#xD800;&#1114112;&#128;&#x9F;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x82\xAC\xC5\xB8"},
      // The five windows-1252 holes read as their own code points.
      {"&#x81;&#x8D;&#x8F;&#x90;&#x9D;", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
      {"&bsol&bsol;&percnt;&NewLine;&notin;", "&bsol\\%\n\xE2\x88\x89"},
      {"&amp&amp;&ampx&amp=&notit;&lt", "&&&ampx&amp=&notit;<"},
      {"&#&#x;&#xg;&bogus;&", "&#&#x;&#xg;&bogus;&"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read, DecodeHtmlCharacterReferences(c.value)) << c.value;
}

// In a two-byte set a character may end in byte 0x5C; in ISO-2022-JP the
// bytes between shift sequences may look like quotes, "&" or "%". Neither
// is escaped, and a value left outside ASCII is shifted back.
TEST(PageValues, EscapingWalksThePagesCharacters) {
  const CPageChars kShiftJis = CPageChars::ForCharSet("Shift_JIS");
  const CPageChars kJis = CPageChars::ForCharSet("iso-2022-jp");
  EXPECT_EQ("\x95\x5C\\\"x", ValueInScriptAttribute("\x95\x5C\"x", kLink, kShiftJis));
  EXPECT_EQ("\x95\x5C&#39;x\\x3C", MarkupNameInScriptAttribute("\x95\x5C&quot;x&lt;", kHandler, kShiftJis));
  EXPECT_EQ("\x1B$B$\"%&'\x1B(B&#39;%25\x1B$B2q\x1B(B",
            ValueInScriptAttribute("\x1B$B$\"%&'\x1B(B'%\x1B$B2q", kLink, kJis));
  EXPECT_EQ("\x1B$B\"\x1B(B&quot;", ValueInAnyAttribute("\x1B$B\"\x1B(B\"", kJis));
  // A lead byte with no character after it is written as U+FFFD, in the
  // spelling of each place; the quote after it stays escaped.
  EXPECT_EQ("I\\uFFFD\\\");pwn(1);//\\uFFFD", ValueInScriptAttribute("I\x95\");pwn(1);//\x95", kLink, kShiftJis));
  EXPECT_EQ("I\\uFFFD&#39;);pwn(1)", MarkupNameInScriptAttribute("I\x95&quot;);pwn(1)", kHandler, kShiftJis));
  EXPECT_EQ("I&#xFFFD;&quot;", ValueInAnyAttribute("I\x95\"", kShiftJis));
  EXPECT_EQ("I&#xFFFD;&quot;", MarkupInDoubleQuotedAttribute("I\xA4\"", CPageChars::ForCharSet("big5")));
  // A reference's character is read in the page's set: ぁ as Shift_JIS, a
  // character the set has not as U+FFFD; never as UTF-8 bytes.
  const std::string id = DecodeHtmlCharacterReferences("I&#x3041;&#xAC00;&quot;);pwn(1);//", kShiftJis);
  EXPECT_EQ("I\x82\x9F\\uFFFD\\\");pwn(1);//", ValueInScriptAttribute(id, kHandler, kShiftJis));
  // A byte of no character in front of a reference stays U+FFFD: the
  // reference's backslash does not complete it.
  const std::string lone = DecodeHtmlCharacterReferences("I\x95&#x5C;", kShiftJis);
  EXPECT_EQ("I\\uFFFD\\\\", ValueInScriptAttribute(lone, kHandler, kShiftJis));
  EXPECT_EQ("I\xA4\xA1\\\"", ValueInScriptAttribute(DecodeHtmlCharacterReferences("I&#x3041;&quot;", CPageChars::ForCharSet("gbk")), kHandler, CPageChars::ForCharSet("gbk")));
}

}  // namespace
