#include <gtest/gtest.h>

#include <string>

#include "common/page_chars.h"
#include "filter/buffer_instruction.h"
#include "filter/edit_places.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "general/log_capture.h"

namespace {

// An edit the module's parser may place: insert text at the page's first
// "|", or delete `length` bytes there (the "|" itself is taken out first).
struct PlacedEdit {
  const char* set;
  std::string page;
  const char* insert;  // null: no insert
  size_t length;       // 0: no delete
  bool bPlaced;        // the browser reads it where it was meant
};

DWORD Check(const PlacedEdit& c) {
  std::string page = c.page;
  const size_t at = page.find('|');
  page.erase(at, 1);
  CCommonPointers words;
  const auto base = reinterpret_cast<uintptr_t>(page.data());
  words[CCommonPointers::FirstByte] = base;
  words[CCommonPointers::HtmlBegin] = base;
  words[CCommonPointers::LastByte] = base + page.size() - 1;
  CBufferInstructionList edits;
  if (c.insert != nullptr) {
    EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(base + at, c.insert, &edits));
  }
  if (c.length != 0) {
    EXPECT_EQ(0u, CUtil::DeleteHtmlStringAtPosition(base + at, static_cast<DWORD>(c.length), &edits));
  }
  // An edit of the headers is not the page's to check.
  EXPECT_EQ(0u, CUtil::InsertHtmlStringAtPosition(base - 10, "<", &edits));
  return CheckEditPlaces(words, CPageChars::ForCharSet(c.set), edits);
}

// Every edit lands between the browser's tokens in text, or in a start tag
// that reads on alike, or the page is left as it is.
TEST(EditPlaces, OnlyWhereTheBrowserReadsWhatTheEditMeans) {
  const char* kMenu = "<div id=m></div><script>f()</script>";
  std::string deep;  // more open elements than any bound the reading keeps
  for (int i = 0; i < 70; ++i) deep += "<g>";
  for (int i = 0; i < 70; ++i) deep += "</g>";
  const PlacedEdit cases[] = {
      {"utf-8", "<body><p>hi</p>|</body>", kMenu, 0, true},
      {"utf-8", "<body><p>x</p>|<b>y</b></body>", nullptr, 8, true},
      // The sender's end tag in a value, a comment, a textarea, an open
      // script: the menu would be read as the sender's text or end it.
      {"utf-8", "<body><p title=\"x|</body><img src=x onerror=pwn(5)>y\">hi</p></body>", kMenu, 0, false},
      {"utf-8", "<body><!-- |</body> --></body>", kMenu, 0, false},
      {"utf-8", "<body><textarea>|</body></textarea></body>", kMenu, 0, false},
      {"utf-8", "<body><script>var a = 1;|</body></html>", kMenu, 0, false},
      {"utf-8", "<body><p>AT&amp|;T</p></body>", kMenu, 0, false},
      {"utf-8", "<body><p>x|</p></body>", nullptr, 6, false},
      {"utf-8", "<body><svg><![CDATA[>]]>|</svg></body>", kMenu, 0, false},
      {"utf-8", "<body><svg><a>|</a><style><a title=\"</style><img>\"></a></style></svg></body>", kMenu, 0, false},
      {"utf-8", "<body><svg><path d=\"M0\"/><title>T</title></svg>|</body>", kMenu, 0, true},
      // Scripting on and off, the tree builders of <select> of 2025 and
      // before: a place holds in every reading or the page is left.
      {"utf-8",
       "<body><noscript><p title=\"</noscript>|</body><noscript><meta http-equiv=refresh content='0;url=/x'>"
       "</noscript>\">Please enable scripts</p></noscript></body>",
       kMenu, 0, false},
      {"utf-8", "<body><noscript><p>Please enable scripts</p></noscript>|</body>", kMenu, 0, true},
      {"utf-8", "<body><select><style></select><p title=\"</style>|</body><img src=x onerror=f()>\">x</p></body>",
       kMenu, 0, false},
      {"utf-8", "<body><select><option>A<style></select><p title=\"</style>|</body>\">x</p></body>", kMenu, 0, false},
      {"utf-8", "<body><table><tr><td><select><style></select><p title=\"</style>|</body>\">x</p></body>", kMenu, 0,
       false},
      {"utf-8", "<body><select><option>A</option><style>x</style></select>|</body>", kMenu, 0, true},
      // Foreign content as the tree builder closes it: a CDATA section, an
      // HTML end tag for the element that holds it, a long name, deep.
      {"utf-8", "<body><svg><style><![CDATA[ a > b ]]></style></svg>|</body>", kMenu, 0, true},
      {"utf-8", "<body><div><svg><path/></div>|</body>", kMenu, 0, true},
      {"utf-8", "<body><p>icon: <svg><circle/></p>|</body>", kMenu, 0, true},
      {"utf-8", "<body><x><b><svg></x><style></svg>|</style></body>", kMenu, 0, false},
      {"utf-8", "<body><svg><metadata><xmpMM:OriginalDocumentID/></metadata></svg>|</body>", kMenu, 0, true},
      {"utf-8", "<body><svg>" + deep + "</svg>|</body>", kMenu, 0, true},
      {"utf-8", "<body><p>See our Q&A|</body>", kMenu, 0, true},
      // Comments that end at ">" ("<?") and do not end at "--x>".
      {"utf-8", "<body><?php |echo 1; ?></body>", kMenu, 0, false},
      {"utf-8", "<body><!-- a --x> |</body> --></body>", kMenu, 0, false},
      // Attributes: added at a tag's end, replaced, and a value prefixed.
      {"utf-8", "<input type=submit|>", " disabled=\"disabled\"", 0, true},
      {"utf-8", "<input type=submit /|>", " disabled=\"disabled\"", 0, true},
      {"utf-8", "<a |x=\"1\" y>", "x=\"2\"", 5, true},
      {"utf-8", "<script src=\"|a.js\"></script>", "/p/", 0, true},
      {"utf-8", "<input value=|>", " disabled=\"disabled\"", 0, false},
      {"utf-8", "<script src=\"|a.js\"></script>", "x\" onload=\"y", 0, false},
      {"utf-8", "<a |x=\"1\"><b>", nullptr, 9, false},
      {"utf-8", "<a x=\"1\"|>", " ><img src=x onerror=f()", 0, false},
      {"utf-8", "<a href=x|alert(1)>", " onclick=", 0, false},
      {"utf-8", "<a title='a|b'>", "it's", 0, false},
      {"utf-8", "<a |x=1>", "y=\"2 ", 0, false},
      {"utf-8", "<b|>x</b>", "r", 0, false},
      // Between the bytes of a character, or after a lead byte the browser
      // read alone, in the page's set.
      {"utf-8", "<p>\xE8|\xA1\xA8</p>", kMenu, 0, false},
      {"utf-8", "<p>|a\xE8\xA1\xA8</p>", nullptr, 2, false},
      {"windows-1252", "<p>a\r|\nb</p>", kMenu, 0, false},
      {"shift_jis", "<p>\x82|\xA0</p>", kMenu, 0, false},
      {"shift_jis", "<p>\x82|<b></b></p>", "a", 0, false},
      {"shift_jis", "<p>\x82\xA0|</p>", kMenu, 0, true},
      {"gbk", "<p>\xD8\x39|</p>", "\x95\x32\x82\x36", 0, false},
      {"euc-kr", "<p>\xB0\xA1|\xB0\xA1</p>", kMenu, 0, true},
      {"euc-kr", "<p>\xB0|\xA1</p>", kMenu, 0, false},
  };
  for (const PlacedEdit& c : cases) {
    EXPECT_EQ(Check(c), c.bPlaced ? 0u : HX_RC_INVALID_DATA) << c.set << " " << c.page;
  }
  // The debug log says where and why.
  CLogCapture log;
  Check({"utf-8", "<body><textarea>|</body></textarea></body>", kMenu, 0, false});
  EXPECT_TRUE(log.Has("[CheckEditPlaces] The edit at <16> is refused: not between tokens of text, nor in a start tag "
                      "(the browser's RCDATA state there). The page goes out unchanged."));
}

}  // namespace
