// Pages in the character sets people's mail comes in: ordinary and hostile
// attachment names and ids, in Japanese, Chinese and Korean, go into the
// Premium and Basic read pages and a document view in Shift_JIS, Big5, GBK,
// EUC-KR, ISO-2022-JP, HZ, UTF-8 and ISO-8859-1, through the host, and are
// exercised in the browser. Every handler and link must compile, nothing
// injected may run, each id must arrive exactly and each name as the browser
// shows it. Browsers read hz-gb-2312 as the replacement encoding (the whole
// page one U+FFFD), so an HZ page goes to the browser as an HZ reader
// decodes it.
#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "forms_e2e/page_spelling.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace {

struct CharSet {
  const char* name;       // as the Content-Type and the page's meta name it
  const char* converter;  // ICU's converter of what the browser reads
  bool bBrowserReads;     // false: the page goes to the browser decoded
  bool bBasicTexts;       // the module has the Basic pages' texts in the set
};

// The module's character-set table has no EUC-KR: a Basic page in it gets
// no texts, so the form leaves it unchanged.
const CharSet kCharSets[] = {
    {"shift_jis", "windows-932", true, true},       {"big5", "windows-950-2000", true, true},
    {"gb2312", "windows-936-2000", true, true},     {"euc-kr", "windows-949-2000", true, false},
    {"iso-2022-jp", "ISO-2022-JP", true, true},     {"hz-gb-2312", "HZ", false, true},
    {"utf-8", "UTF-8", true, true},                 {"iso-8859-1", "windows-1252", true, true},
};

// Converts between UTF-8 and the set (a character the target lacks becomes
// a substitute); empty on failure.
std::string Convert(const char* from, const char* to, const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::string out(text.size() * 4 + 16, '\0');
  const int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                 static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::string();
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string InSet(const CharSet& set, const std::string& utf8) {
  std::string bytes = Convert("UTF-8", set.converter, utf8);
  // A character the set lacks comes back as a substitute.
  return Convert(set.converter, "UTF-8", bytes) == utf8 ? bytes : std::string();
}

struct Name {
  const char* markup;  // as the page's text spells it (UTF-8)
  const char* shown;   // as the browser shows it
};

// Ordinary names, then names whose character ends in byte 0x5C in a
// two-byte set right before a way out of the script string.
const Name kNames[] = {
    {"売上表", "売上表"},
    {"集計表1.xls", "集計表1.xls"},
    {"表n.txt", "表n.txt"},
    {"ソフト一覧.doc", "ソフト一覧.doc"},
    {"会議資料.pdf", "会議資料.pdf"},
    {"許x.txt", "許x.txt"},
    {"功能說明.doc", "功能說明.doc"},
    {"功能说明.doc", "功能说明.doc"},
    {"회의 자료.hwp", "회의 자료.hwp"},
    {"Résumé.txt", "Résumé.txt"},
    // Every byte of these kanji in ISO-2022-JP lies in 0x21-0x7E: read as
    // ASCII they spell <svg/oNload=+pwn(9)>.
    {"報唖鮎畆齧膀鑪跫痲繍頷遖工昌.txt", "報唖鮎畆齧膀鑪跫痲繍頷遖工昌.txt"},
    {"表\");document.title=(\"N1.txt", "表\");document.title=(\"N1.txt"},
    {"許&quot;);document.title=(&quot;N2.txt", "許\");document.title=(\"N2.txt"},
    {"淺\\\");document.title=(\\\"N3.txt", "淺\\\");document.title=(\\\"N3.txt"},
    {"ソ');document.title=('N4.txt", "ソ');document.title=('N4.txt"},
    {"功%22);document.title=(%22N5.txt", "功%22);document.title=(%22N5.txt"},
};

// Ids as the forms read them; the Basic pages' ids come in a URL, where a
// zero byte can be written too.
const char* const kIds[] = {
    "I表\");document.title=(\"I1",
    "I許\\\");document.title=(\\\"I2",
    "I淺');document.title=('I3",
    "RgAAAAB2cE1k",
};
const char kZeroId[] = "J0\0x";

using Calls = std::vector<std::pair<std::string, std::vector<std::string>>>;

// One attachment or document of a page: its line (UTF-8, but for the bytes
// a URL carries in the set) and the calls it must cause.
struct Line {
  std::string text;
  Calls calls;
  Calls absentCalls;
};

struct PageKind {
  const char* request;    // the sample request whose page is used
  const char* firstLine;  // the page's attachment lines start with this text
};

const PageKind kPremium = {"premium_read_item.txt", "<span id=\"spnAtmt\""};
const PageKind kBasic = {"basic_read_item.txt", "<span id=\"spnAtmt\""};
const PageKind kDocumentView = {"premium_document_view.txt", "<tr id=\"us\">"};

Line PremiumLine(const Name& name, const std::string& id) {
  return {"<span id=\"spnAtmt\" tabindex=\"-1\" _level=\"3\" _attid=\"" + InDoubleQuotes(id) +
              "\"><img class=\"sI\" src=\"8.1.393.1/themes/base/doc.gif\"><a id=\"lnkAtmt\" "
              "href=\"attachment.ashx?attach=1&amp;id=RgAAAAB2cE1k&amp;attcnt=1\" target=\"_blank\">" +
              name.markup + "</a>&#x200E;<span class=\"wvsn\"> (1 KB)</span></span>;",
          {{"f_viewAttachment", {id, ScriptName(name.shown)}}, {"attr", {"_qlplattfilename", name.shown}}},
          {}};
}

Line BasicLine(const CharSet& set, const Name& name, const std::string& id) {
  return {"<span id=\"spnAtmt\" level=\"3\"><img src=\"/owa/8.1.240.5/themes/base/doc.gif\" alt=\"\"> "
          "<a id=\"lnkAtmt\" href=\"attachment.ashx?attach=1&id=RgAAAACk3TdwJ2EAAAAA&attcnt=1&attid0=" +
              PercentEncoded(id == std::string(kZeroId, 4) ? id : InSet(set, id)) + "\" target=\"_blank\">" +
              name.markup + "</a>&#x200E;(1 KB)</span>;",
          {{"f_viewAttachment", {id, ScriptName(name.shown)}}, {"f_QLPLOnMouseDown", {id, ScriptName(name.shown)}}},
          {}};
}

// A document named by the path's last "/" as the browser reads it.
Line DocumentLine(const std::string& fileMarkup, const std::string& pathShown, const std::string& fileShown) {
  return {"<tr id=\"us\"><a t=\"18\" id='bfile://fs01.example.com/docs/" + InSingleQuotes(fileMarkup) +
              "' href=\"#\" onclick=\"return opnDoc(this);\"></a><td class=\"ic\"></td><td>x</td><td>2010-10-15</td></tr>",
          {{"f_viewAttachment", {"file://fs01.example.com/docs/" + pathShown, ScriptName(fileShown), "unc"}},
           {"attr", {"_qlplfilename", fileShown}}},
          {}};
}

bool Encodable(const CharSet& set, const std::string& utf8) { return !InSet(set, utf8).empty(); }

std::vector<Line> Lines(const PageKind& kind, const CharSet& set) {
  std::vector<Line> lines;
  size_t next = 0;
  for (const Name& name : kNames) {
    if (!Encodable(set, name.shown)) continue;
    std::string id;
    for (size_t i = 0; i < std::size(kIds) && id.empty(); ++i) {
      if (Encodable(set, kIds[(next + i) % std::size(kIds)])) id = kIds[(next + i) % std::size(kIds)];
    }
    ++next;
    if (&kind == &kPremium) lines.push_back(PremiumLine(name, id));
    if (&kind == &kBasic) lines.push_back(BasicLine(set, name, id));
    if (&kind == &kDocumentView) lines.push_back(DocumentLine(name.markup, name.shown, name.shown));
  }
  if (&kind == &kBasic) lines.push_back(BasicLine(set, {"z.txt", "z.txt"}, std::string(kZeroId, 4)));
  // An id the page's URL holds in its own characters, not escaped: read
  // once, as the page has it.
  const std::string literalId = "I\xE8\xA1\xA8y";
  if (&kind == &kBasic && Encodable(set, literalId)) {
    Line line = BasicLine(set, {"y.txt", "y.txt"}, "RgAAAAB2cE1k");
    const std::string escaped = PercentEncoded(InSet(set, "RgAAAAB2cE1k"));
    line.text.replace(line.text.find(escaped), escaped.size(), literalId);
    for (auto& call : line.calls) call.second[0] = literalId;
    lines.push_back(line);
  }
  if (&kind == &kDocumentView) {
    lines.push_back(DocumentLine("d3&#x2F;sub&#47;n.txt", "d3/sub/n.txt", "n.txt"));
    lines.push_back(DocumentLine("n2.txt&#10;", "n2.txt\n", "n2.txt"));
  }
  return lines;
}

// A name that only looks like a file of an allowed kind is blocked too.
Line BlockedPremiumLine() {
  Line line = PremiumLine({"setup&#x200E;.exe", "setup\xE2\x80\x8E.exe"}, "RgAAAAB2cE1k");
  line.absentCalls = {line.calls[0]};
  line.calls = {{"attr", {"_qlplattfilename", "setup\xE2\x80\x8E.exe"}}, {"f_ShowExtBlockedMsg", {}}};
  return line;
}

// The sample page with the lines in place of its own, in the set.
std::string PageInSet(const CharSet& set, const PageKind& kind, const std::vector<Line>& lines) {
  std::string page = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" +
                              [&] {
                                const std::string d = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" +
                                                               kind.request);
                                const size_t at = d.find("@response-page ") + 15;
                                return d.substr(at, d.find('\n', at) - at);
                              }());
  const size_t first = page.find(kind.firstLine);
  const size_t end = page.find('\n', page.rfind(kind.firstLine));
  std::string text;
  for (const Line& line : lines) text += line.text + "\n";
  page.replace(first, end + 1 - first, text);
  const std::string meta = "charset=utf-8";
  page.replace(page.find(meta), meta.size(), std::string("charset=") + set.name);
  return Convert("UTF-8", set.converter, page);
}

// Runs the page kind's sample request with the page and Content-Type given.
AppliedPage RunPage(const PageKind& kind, const std::string& contentType, const std::string& pagePath,
                    const std::string& pageName) {
  std::string description = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" + kind.request);
  const size_t pageLine = description.find("@response-page ");
  description.replace(pageLine, description.find('\n', pageLine) - pageLine, "@response-page " + pagePath);
  description = "@response-content-type " + contentType + "\n" + description;
  return RunRequestText(description, pageName);
}

// Exercises the page in the browser: it must stay, every handler and link
// compile and nothing injected run; with bExact each line's calls arrive.
BrowserPage ExpectExercised(const std::string& path, const std::vector<Line>& lines, bool bExact) {
  const BrowserPage shown = ExerciseInBrowser(path);
  EXPECT_TRUE(shown.loaded) << shown.error;
  EXPECT_TRUE(shown.exercised) << "the page was replaced or its script stopped: " << path;
  for (const std::string& error : shown.syntaxErrors) ADD_FAILURE() << path << ": " << error;
  for (const std::string& write : shown.sentinelWrites) ADD_FAILURE() << "a payload ran: " << write;
  for (const Line& line : lines) {
    for (const auto& [fn, args] : line.calls) {
      if (bExact) {
        EXPECT_TRUE(HasCall(shown, fn, args)) << fn << " of " << line.text << " in " << path;
      }
    }
    for (const auto& [fn, args] : line.absentCalls) {
      EXPECT_FALSE(HasCall(shown, fn, args)) << fn << " of " << line.text << " in " << path;
    }
  }
  return shown;
}

TEST(CharSetPages, EveryNameAndIdReachesThePageAsTheBrowserShowsIt) {
  CTempDir dir;
  for (const CharSet& set : kCharSets) {
    for (const PageKind* kind : {&kPremium, &kBasic, &kDocumentView}) {
      if (kind == &kBasic && !set.bBasicTexts) continue;
      SCOPED_TRACE(std::string(set.name) + " " + kind->request);
      std::vector<Line> lines = Lines(*kind, set);
      if (kind == &kPremium) lines.push_back(BlockedPremiumLine());
      const std::string pageName = std::string("charset_") + set.name + "_" + kind->request + ".html";
      std::string bytes = PageInSet(set, *kind, lines);
      // Runs the browser reads as kanji and katakana up to their shift back,
      // across a line break or an escape it does not know: they stay so.
      if (set.name == std::string("iso-2022-jp")) {
        bytes.insert(bytes.find(kind->firstLine),
                     "\x1B$B0*\n<img src=x onerror=document.title=71>\x1B(B"
                     "\x1B$B0*\r<img src=x onerror=document.title=72>\x1B(B"
                     "\x1B$B0*\x1B(H<img src=x onerror=document.title=73>\x1B(B"
                     "\x1B(I1\n<img src=x onerror=document.title=74>\x1B(B");
      }
      const std::string page = dir.Write(pageName, bytes);
      ASSERT_FALSE(ReadFile(page).empty());
      const AppliedPage applied =
          RunPage(*kind, std::string("text/html; charset=") + set.name, page, pageName);
      ASSERT_FALSE(applied.path.empty());
      std::string path = applied.path;
      if (!set.bBrowserReads) {
        std::string decoded = Convert(set.converter, "UTF-8", applied.page);
        ASSERT_FALSE(decoded.empty()) << "the module's bytes are no " << set.name;
        const std::string meta = std::string("charset=") + set.name;
        decoded.replace(decoded.find(meta), meta.size(), "charset=utf-8");
        path = dir.Write("decoded_" + pageName, decoded);
      }
      ExpectExercised(path, lines, true);
    }
  }
}

// Where the page's own words and the header disagree, or name a set in a
// way one reader may take otherwise, the browser reads the rewritten page in
// the set the module walked: the answer's Content-Type names it. Nothing
// injected runs; where the set is the one the page was written in, every
// name and id arrives exactly. A page whose set the module cannot know as
// the browser will (nothing names one and its bytes are not plain ASCII: the
// browser guesses) goes out as the server sent it.
TEST(CharSetPages, TheBrowserReadsThePageInTheSetTheModuleWalked) {
  enum class Meta { HttpEquiv, CharSet, None };
  const struct {
    const char* written;      // the set the page's bytes are in
    const char* contentType;  // as the server sends it
    Meta meta;
    bool bByteOrderMark;
    const char* shown;  // document.characterSet; null: the browser's own guess
    bool bUnchanged;    // the page goes out as the server sent it
  } cases[] = {
      {"shift_jis", "text/html", Meta::HttpEquiv, false, "Shift_JIS", false},
      {"shift_jis", "text/html", Meta::CharSet, false, "Shift_JIS", false},
      {"iso-2022-jp", "text/html", Meta::HttpEquiv, false, "ISO-2022-JP", false},
      {"shift_jis", "text/html", Meta::None, false, nullptr, true},
      {"big5", "text/html; charset=x-mac-chinesetrad", Meta::None, false, "Big5", false},
      {"shift_jis", "text/html; charset=cp932", Meta::None, false, "Shift_JIS", false},
      {"shift_jis", "text/html; charset=windows-31j", Meta::None, false, "Shift_JIS", false},
      {"shift_jis", "text/html; charset =shift_jis", Meta::None, false, nullptr, true},
      {"shift_jis", "text/html; x-charset=utf-8; charset=shift_jis", Meta::None, false, "Shift_JIS", false},
      {"shift_jis", "text/html; charset='shift_jis'", Meta::None, false, nullptr, true},
      {"shift_jis", "text/html; charset=\" shift_jis\"", Meta::None, false, "Shift_JIS", false},
      {"utf-8", "text/html; charset=shift_jis", Meta::None, true, "UTF-8", false},
      // A second Content-Type line after the first (the request's own
      // directive): the browser reads the last, so the page goes out unchanged.
      {"shift_jis", "text/html; charset=shift_jis\n@response-header Content-Type text/html; charset=utf-8", Meta::None,
       false, "UTF-8", true},
      // A type the browser does not render is never made one.
      {"shift_jis", "text/html/x; charset=shift_jis", Meta::None, false, nullptr, true},
  };
  CTempDir dir;
  int n = 0;
  for (const auto& c : cases) {
    const CharSet& set = *std::find_if(std::begin(kCharSets), std::end(kCharSets),
                                       [&](const CharSet& s) { return std::string(s.name) == c.written; });
    SCOPED_TRACE(std::string(c.written) + " as " + c.contentType);
    const std::vector<Line> lines = Lines(kBasic, set);
    std::string page = PageInSet(set, kBasic, lines);
    const std::string httpEquiv =
        std::string("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=") + c.written + "\">";
    const size_t meta = page.find(httpEquiv);
    ASSERT_NE(meta, std::string::npos);
    page.replace(meta, httpEquiv.size(),
                 c.meta == Meta::HttpEquiv ? httpEquiv
                 : c.meta == Meta::CharSet ? std::string("<meta charset=") + c.written + ">"
                                           : std::string());
    if (c.bByteOrderMark) page = "\xEF\xBB\xBF" + page;
    const std::string pageName = "charset_disagreement_" + std::to_string(++n) + ".html";
    const AppliedPage applied = RunPage(kBasic, c.contentType, dir.Write(pageName, page), pageName);
    ASSERT_FALSE(applied.path.empty());
    if (c.bUnchanged) {
      EXPECT_EQ(applied.page, page);
    }
    if (c.shown == nullptr) continue;
    const bool bReadAsWritten =
        !c.bUnchanged && (std::string(c.shown) != "UTF-8" || set.name == std::string("utf-8"));
    const BrowserPage shown = ExpectExercised(applied.path, lines, bReadAsWritten);
    const auto characterSet = shown.variables.find("document.characterSet");
    EXPECT_EQ(characterSet != shown.variables.end() ? characterSet->second : "<not read>", c.shown);
  }
}

// Bytes the page's set makes no character of. A lead byte with a quote
// after it is spelt "@lead@" in the lines ("%40lead%40" in a URL) and gets
// the set's own byte once the page is in the set; "@ref@" is a character
// reference to a hiragana letter.
struct LoneLead {
  const char* charSet;
  const char* byte;
  const char* percent;
};
const LoneLead kLoneLeads[] = {
    {"shift_jis", "\x95", "%95"}, {"big5", "\xA4", "%A4"}, {"gb2312", "\x81", "%81"}, {"euc-kr", "\xB0", "%B0"}};

const char kShownNoCharacter[] = "\xEF\xBF\xBD";

// Each page, with each id or path as the lines spell it and as its script
// must receive it: a lone lead byte as U+FFFD, the reference's letter as it
// reads.
struct LoneLeadRow {
  const PageKind* kind;
  const char* spelt;  // "@lead@" and "@ref@" as above
  const char* requestAttId;  // Basic: an id of the request URL, percent-encoded, or null
};
const LoneLeadRow kLoneLeadRows[] = {
    {&kPremium, "I@lead@\");document.title=(\"L1", nullptr},
    {&kPremium, "I@ref@\");document.title=(\"L2", nullptr},
    {&kBasic, "I@lead@\");document.title=(\"L3", "I%40lead%40%22);document.title=(%22U1"},
    {&kDocumentView, "d@lead@&quot;);document.title=(&quot;L4.txt", nullptr},
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(CharSetPages, BytesOfNoCharacterArriveAsUFFFDAndEndNothing) {
  CTempDir dir;
  for (const LoneLead& lead : kLoneLeads) {
    const CharSet& set = *std::find_if(std::begin(kCharSets), std::end(kCharSets),
                                       [&](const CharSet& c) { return std::string(c.name) == lead.charSet; });
    const std::string hiragana = InSet(set, "\xE3\x81\x81").empty() ? kShownNoCharacter : "\xE3\x81\x81";
    for (const LoneLeadRow& row : kLoneLeadRows) {
      if (row.kind == &kBasic && !set.bBasicTexts) continue;
      SCOPED_TRACE(std::string(set.name) + " " + row.spelt);
      const std::string shown = Replaced(Replaced(Replaced(row.spelt, "@lead@", kShownNoCharacter), "@ref@", hiragana),
                                         "&quot;", "\"");
      std::vector<Line> lines;
      if (row.kind == &kPremium) lines.push_back(PremiumLine({"a.txt", "a.txt"}, row.spelt));
      if (row.kind == &kBasic) lines.push_back(BasicLine(set, {"a.txt", "a.txt"}, row.spelt));
      if (row.kind == &kDocumentView) lines.push_back(DocumentLine(row.spelt, shown, shown));
      // The ids' calls: the id as the script receives it.
      if (row.kind != &kDocumentView) lines[0].calls[0].second[0] = shown;
      if (row.kind == &kBasic) lines[0].calls[1].second[0] = shown;
      std::string page = PageInSet(set, *row.kind, lines);
      page = Replaced(Replaced(Replaced(page, "%40lead%40", lead.percent), "@lead@", lead.byte), "@ref@", "&#x3041;");
      const std::string pageName = std::string("lone_lead_") + set.name + "_" + row.kind->request + ".html";
      const std::string pagePath = dir.Write(pageName, page);
      std::string description = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/requests/" + row.kind->request);
      const size_t pageLine = description.find("@response-page ");
      description.replace(pageLine, description.find('\n', pageLine) - pageLine, "@response-page " + pagePath);
      description = std::string("@response-content-type text/html; charset=") + set.name + "\n" + description;
      if (row.requestAttId != nullptr) {
        const size_t query = description.find(" HTTP/1.1");
        description.insert(query, Replaced(std::string("&attcnt=1&attid0=") + row.requestAttId, "%40lead%40", lead.percent));
      }

      const AppliedPage applied = RunRequestText(description, pageName);
      ASSERT_FALSE(applied.path.empty());
      const BrowserPage browser = ExerciseInBrowser(applied.path);
      ASSERT_TRUE(browser.loaded) << browser.error;
      EXPECT_TRUE(browser.exercised) << "the page was replaced or its script stopped: " << applied.path;
      for (const std::string& error : browser.syntaxErrors) ADD_FAILURE() << applied.path << ": " << error;
      for (const std::string& write : browser.sentinelWrites) ADD_FAILURE() << "a payload ran: " << write;
      for (const auto& [fn, args] : lines[0].calls) {
        EXPECT_TRUE(HasCall(browser, fn, args)) << fn << " in " << applied.path;
      }
    }
  }
}

}  // namespace
