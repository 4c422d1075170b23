// The page's character set as Chromium decides it: each row's answer was
// read from document.characterSet of the page served over HTTP, but for the
// rows the comments say the module reads otherwise (its rewritten page then
// states the set in its Content-Type).
#include "general/page_char_set_choice.h"

#include <gtest/gtest.h>

#include <string>

#include "common/char_set_labels.h"

namespace {

using From = PageCharSetChoice::From;

TEST(PageCharSetChoice, ByteOrderMarkThenHeaderThenMetaAsTheBrowserReadsThem) {
  const std::string ascii = "<html><head><title>t</title></head><body>x</body></html>";
  const std::string metaCharSet = "<html><head><meta charset=shift_jis></head>x";
  const struct {
    const char* contentType;
    std::string page;
    const char* set;
    From from;
    bool bHeaderStatesIt;
  } cases[] = {
      {"text/html; charset=Shift_JIS", ascii, "Shift_JIS", From::Header, true},
      {"text/html; charset=utf-8", ascii, "UTF-8", From::Header, true},
      {"text/html", ascii, "UTF-8", From::Nothing, false},
      // The first parameter named charset, by the MIME rules.
      {"text/html; charset =shift_jis", ascii, "UTF-8", From::Nothing, false},
      {"text/html; x-charset=utf-8; charset=shift_jis", ascii, "Shift_JIS", From::Header, false},
      {"text/html; charset='shift_jis'", ascii, "UTF-8", From::Nothing, false},
      {"text/html; charset=\" shift_jis\"", ascii, "Shift_JIS", From::Header, false},
      {"text/html; charset=\"shift\\_jis\"", ascii, "Shift_JIS", From::Header, false},
      {"text/html; charset=; charset=shift_jis", ascii, "Shift_JIS", From::Header, false},
      {"text/html; charset=foo; charset=shift_jis", ascii, "UTF-8", From::Nothing, false},
      {"text/html; charset=shift_jis; charset=utf-8", ascii, "Shift_JIS", From::Header, false},
      {";charset=shift_jis", ascii, "UTF-8", From::Nothing, false},
      // Chromium splits at the comma, and text/xml drops the charset; the
      // module reads the first type's.
      {"text/html; charset=shift_jis; a=1, text/xml, text/html", ascii, "Shift_JIS", From::Header, false},
      // Labels: browsers' own, and the module's, which Chromium passes by.
      {"text/html; charset=windows-31j", ascii, "Shift_JIS", From::Header, true},
      {"text/html; charset=cp932", ascii, "Shift_JIS", From::Header, false},
      {"text/html; charset=x-mac-chinesetrad", ascii, "x-mac-chinesetrad", From::Header, false},
      // Browsers show this label's pages as nothing; the module reads HZ.
      {"text/html; charset=hz-gb-2312", ascii, "HZ-GB-2312", From::Header, true},
      // The byte order mark wins over the header.
      {"text/html; charset=shift_jis", "\xEF\xBB\xBF" + ascii, "UTF-8", From::ByteOrderMark, false},
      {"text/html; charset=shift_jis", "\xFF\xFE<\0", "UTF-16LE", From::ByteOrderMark, false},
      // The meta prescan, where the header names no set.
      {"text/html", metaCharSet, "Shift_JIS", From::Meta, false},
      {"text/html; charset=foo", metaCharSet, "Shift_JIS", From::Meta, false},
      {"text/html", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">", "Shift_JIS",
       From::Meta, false},
      {"text/html", "<meta http-equiv=content-type content=\"text/html;charset='shift_jis'\">", "Shift_JIS", From::Meta,
       false},
      {"text/html", "<meta content=\"text/html;charset=shift_jis\">", "UTF-8", From::Nothing, false},
      {"text/html", "<!-- <meta charset=shift_jis> --><body>", "UTF-8", From::Nothing, false},
      {"text/html", "<meta charset=utf-16><body>", "UTF-8", From::Meta, false},
      // Chromium looks further than 1024 bytes while the page is in its
      // head, and no further once a tag of the body was seen.
      {"text/html", "<title>" + std::string(1100, 'x') + "</title><meta charset=shift_jis>", "Shift_JIS", From::Meta,
       false},
  };
  for (const auto& c : cases) {
    const PageCharSetChoice choice = ChoosePageCharSet(c.contentType, c.page);
    EXPECT_EQ(choice.set, c.set) << c.contentType << " " << c.page.substr(0, 60);
    EXPECT_EQ(choice.from, c.from) << c.contentType << " " << c.page.substr(0, 60);
    EXPECT_EQ(choice.bHeaderStatesIt, c.bHeaderStatesIt) << c.contentType << " " << c.page.substr(0, 60);
  }
}

// Each row was read from document.characterSet in Chromium, the page served
// over loopback HTTP as "text/html" with no charset.
TEST(PageCharSetChoice, ThePrescanReadsAsChromium) {
  const std::string ascii = "<html><head><title>t</title></head><body>x</body></html>";
  std::string links;
  for (int i = 0; i < 80; ++i) links += "<link rel=x href=y>";
  const struct {
    const char* contentType;
    std::string page;
    const char* set;
  } cases[] = {
      // Every charset attribute counts, the last one read; a content one
      // only while no charset attribute was; character references decoded.
      {"text/html", "<meta charset=\"bogus\" charset=\"shift_jis\">", "Shift_JIS"},
      {"text/html", "<meta charset=\"shift_jis\" charset=\"bogus\">", "UTF-8"},
      {"text/html", "<meta http-equiv=content-type content=\"text/html; charset=shift_jis\" charset=euc-kr>", "EUC-KR"},
      {"text/html", "<meta charset=euc-kr http-equiv=content-type content=\"text/html; charset=shift_jis\">", "EUC-KR"},
      {"text/html",
       "<meta content=\"text/html; charset=shift_jis\" content=\"text/html; charset=euc-kr\" http-equiv=content-type>",
       "EUC-KR"},
      {"text/html", "<meta charset=\"iso-2022&#45;jp\">", "ISO-2022-JP"},
      {"text/html", "<meta charset='shift_jis'>", "Shift_JIS"},
      // Text elements hold no tags; <noscript> is no such element here.
      {"text/html", "<head><title><meta charset=shift_jis></title>", "UTF-8"},
      {"text/html", "<head><textarea><meta charset=shift_jis></textarea>", "UTF-8"},
      {"text/html", "<head><noscript><meta charset=shift_jis></noscript>", "Shift_JIS"},
      // Past 1024 bytes only while in the head.
      {"text/html", "<html><head>" + links + "<meta charset=shift_jis>", "Shift_JIS"},
      {"text/html", "<html><body><meta charset=shift_jis>", "Shift_JIS"},
      {"text/html", "<html><body>" + links + "<meta charset=shift_jis>", "UTF-8"},
      {"text/html", "<html><head>" + links + "</head><meta charset=shift_jis>", "UTF-8"},
      // A <meta> names no UTF-16 set, and a comment no set at all.
      {"text/html", "<meta charset=utf-16be>", "UTF-8"},
      {"text/html", "<!-- <meta charset=shift_jis> -->", "UTF-8"},
      // The tokenizer ends a comment at "--!>" too, and a script's text
      // holds what "<!--<script>" opens up to its "-->".
      {"text/html", "<head><!-- --!><meta charset=shift_jis> -->", "Shift_JIS"},
      {"text/html", "<head><script><!--<script></script><meta charset=shift_jis>--></script>", "UTF-8"},
      // No <meta> in a conditional comment, after <plaintext>, in a
      // script's string or in what "<!--<script>" opens; one after "<!-->".
      {"text/html", "<head><!--[if IE]><meta charset=shift_jis><![endif]-->", "UTF-8"},
      {"text/html", "<head><plaintext><meta charset=shift_jis>", "UTF-8"},
      {"text/html", "<head><script>var s = \"<meta charset=shift_jis>\";</script>", "UTF-8"},
      {"text/html", "<head><script><!--<script>->x</script><meta charset=shift_jis></script>", "UTF-8"},
      {"text/html", "<head><!--><meta charset=shift_jis>", "Shift_JIS"},
      // A tag begun at byte 1,023 is still read after <body>; x-user-defined
      // in a <meta> is windows-1252.
      {"text/html", "<body>" + std::string(1017, 'x') + "<meta charset=shift_jis>", "Shift_JIS"},
      {"text/html", "<body>" + std::string(1018, 'x') + "<meta charset=shift_jis>", "UTF-8"},
      {"text/html", "<meta charset=x-user-defined>", "windows-1252"},
      // A byte order mark wins over every label.
      {"text/html; charset=utf-8", "\xFE\xFF", "UTF-16BE"},
      // Only a parameter named exactly charset names the set.
      {"text/html; charsets=shift_jis", ascii, "UTF-8"},
      {"text/html; charset2=shift_jis", ascii, "UTF-8"},
      // A label only the module knows yields to the page's <meta>.
      {"text/html; charset=cp932", "<meta charset=euc-kr>", "EUC-KR"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChoosePageCharSet(c.contentType, c.page).set, c.set) << c.contentType << " " << c.page.substr(0, 80);
  }
}

// Where nothing names a set, only plain printable ASCII reads alike in
// every set the browser may guess; any other page's set cannot be known.
TEST(PageCharSetChoice, APageWhoseSetNothingNamesIsKnownOnlyInAscii) {
  EXPECT_FALSE(ChoosePageCharSet("text/html", "<p>a\tb\r\n~</p>").bUnknown);
  for (const char* page : {"<p>\x1B$B0*\x1B(B</p>", "<p>~{<:~}</p>", "<p>\xE8\xA1\xA8</p>", "<p>\x0E</p>"}) {
    EXPECT_TRUE(ChoosePageCharSet("text/html", page).bUnknown) << page;
  }
  EXPECT_FALSE(ChoosePageCharSet("text/html; charset=shift_jis", "<p>\x95\x5C</p>").bUnknown);
}

TEST(CharSetLabels, OneTableForEveryReader) {
  EXPECT_EQ(CharSetOfLabel(" CSshiftJIS\t"), "Shift_JIS");
  EXPECT_EQ(CharSetOfLabel("gbk"), "GBK");
  EXPECT_EQ(CharSetOfLabel("gb2312"), "GBK");
  EXPECT_EQ(CharSetOfLabel("latin1"), "windows-1252");
  EXPECT_EQ(CharSetOfLabel("utf-8x"), "");
  EXPECT_EQ(BrowserNameOfSet("x-mac-japan"), "Shift_JIS");
  EXPECT_EQ(BrowserNameOfSet("GBK"), "GBK");
  EXPECT_TRUE(IsStatefulCharSet("iso-2022-jp"));
  EXPECT_TRUE(IsStatefulCharSet("UTF-16BE"));
  EXPECT_FALSE(IsStatefulCharSet("Shift_JIS"));
}

}  // namespace
