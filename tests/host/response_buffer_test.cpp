#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/hx_response_buffer.h"

namespace {

TEST(HostPageTags, FoundWithoutCaseOutsideCommentsAndOnlyAsWholeNames) {
  const std::string page =
      "<!-- <html><head><body> -->\n<HTML lang=en><Header></Header><HEAD>\n<title>t</title></head>"
      "<bodyx><BODY\nclass=a><p>x</p></Body></html>";
  const HxPageTags t = HxScanPageTags(page);
  EXPECT_EQ(t.htmlStart, page.find("<HTML"));
  EXPECT_EQ(t.headStart, page.find("<HEAD>"));
  EXPECT_EQ(t.headEnd, page.find("</head>"));
  EXPECT_EQ(t.bodyStart, page.find("<BODY\n"));
  EXPECT_EQ(t.bodyEnd, page.find("</Body>"));
}

TEST(HostPageTags, MissingTagsAndEndTagsBeforeTheirStart) {
  const HxPageTags t = HxScanPageTags("</body></head><p>no structure</p><body/>");
  EXPECT_EQ(t.htmlStart, std::string_view::npos);
  EXPECT_EQ(t.headStart, std::string_view::npos);
  EXPECT_EQ(t.headEnd, std::string_view::npos);
  EXPECT_EQ(t.bodyStart, 33u);
  EXPECT_EQ(t.bodyEnd, std::string_view::npos);
  const HxPageTags open = HxScanPageTags("<html><head><!-- unterminated <body>");
  EXPECT_EQ(open.headStart, 6u);
  EXPECT_EQ(open.bodyStart, std::string_view::npos);
}

// Only the tags the browser's tokenizer reads count: the body's end the
// sender wrote into an attribute value, a comment or an element's text is
// none, and the real one after it is found.
TEST(HostPageTags, OnlyTheTagsTheBrowserReads) {
  std::vector<std::string> pages = {
      "<body><p title=\"x</body><img src=x onerror=pwn(5)>y\">hi</p></body>",
      "<BODY><P TITLE='</BODY>'>hi</P><p title=a</body>>x</BODY>",
      "<body><!-- </body> --!></body>",
      "<body><!--x--!</body>--></body>",
      "<body><script>var s = \"</body>\";</script></body>",
      "<body><script><!--<script></script></body>--></script></body>",
      "<body><title></body></title a=\"</body>\"></body>",
      "<body><a href=\"x\"/ title=\"</body>\"></body>",
      // Inside <svg> and <math> these are foreign elements that hold markup.
      "<body><svg><style><a title=\"</style></body>\"></a></style></svg></body>",
      "<body><math><title><a title=\"</title></body>\"></a></title></math></body>",
      // What holds HTML there: an SVG title, an annotation-xml of HTML, a
      // font with a color; what does not: a font without, an annotation-xml
      // of another encoding.
      "<body><svg><title><style></body></style></title></svg></body>",
      "<body><math><annotation-xml encoding=\"Text/HTML\"><style></body></style></annotation-xml></math></body>",
      "<body><math><annotation-xml encoding=\"application/x-tex\"><style><a title=\"</style></body>\"></a></style>"
      "</annotation-xml></math></body>",
      "<body><svg><font color=red><style></body></style></font></svg></body>",
      "<body><svg><font><style><a title=\"</style></body>\"></a></style></font></svg></body>",
      // A CDATA section, an element of a long name: the reading goes on.
      "<body><svg><![CDATA[ > </body> ]]><style><a title=\"</style></body>\"></a></style></svg></body>",
      "<body><svg><metadata><xmpMM:OriginalDocumentID>x</xmpMM:OriginalDocumentID></metadata><style>"
      "<a title=\"</style></body>\"></a></style></svg></body>",
      // An end tag in foreign content: through foreign elements only, and
      // through an element below them that it closes.
      "<body><svg><foreignObject><p><math></svg><style><a title=\"</style></body>\"></a></style></math></p>"
      "</foreignObject></svg></body>",
      "<body><x><b><svg></x><style></body></style></svg></body>",
      "<body><svg></br><math></svg><style><a title=\"</style></body><img src=x onerror=pwn(1)>\"></a></style></math>"
      "</body>",
      // Read alike with scripting on and off, and by the tree builders of
      // <select> of 2025 and before, or not a tag.
      "<body><noscript><p title=\"</noscript></body><noscript><meta http-equiv=refresh content='0;url=/x'>"
      "</noscript>\">Please enable scripts</p></noscript></body>",
      "<body><select><style></select><p title=\"</style></body><img src=x onerror=pwn(1)>\">x</p></body>",
      "<body><select><option>A<style></select><p title=\"</style></body><img src=x onerror=pwn(1)>\">x</p></body>",
      "<body><table><tr><td><select><style></select><p title=\"</style></body><img src=x onerror=pwn(1)>\">x</p>"
      "</body>",
  };
  for (const char* element : {"textarea", "style", "xmp", "iframe", "noembed", "noframes", "noscript"}) {
    pages.push_back(std::string("<body><") + element + "></body></" + element + "></body>");
  }
  for (const std::string& page : pages) {
    const HxPageTags t = HxScanPageTags(page);
    EXPECT_EQ(t.bodyStart, 0u) << page;
    EXPECT_EQ(t.bodyEnd, page.size() - 7) << page;
  }
  // A comment "<!-->" is whole; after <plaintext> nothing is a tag.
  EXPECT_EQ(HxScanPageTags("<body><!--></body>").bodyEnd, 11u);
  EXPECT_EQ(HxScanPageTags("<body><plaintext></body>").bodyEnd, std::string_view::npos);
  // A CDATA section of foreign content holds no tag.
  EXPECT_EQ(HxScanPageTags("<body><svg><![CDATA[ > </body> ]]></svg></body>").bodyEnd, 40u);
  // A reading that splits at each tag while another reads raw text over
  // them splits into more parts than are followed: it gives up.
  std::string splits = "<body><noscript>";
  for (int i = 0; i < 200; ++i) splits += "<svg></div>";
  EXPECT_EQ(HxScanPageTags(splits + "</noscript></body>").bodyEnd, std::string_view::npos);
  // An HTML element inside foreign content that the tree builder closed
  // (a <div> closes a <p>) or opens again (a <b> closed with a <p>): the
  // elements kept are not the open ones, and the reading gives up.
  for (const char* opened : {"<svg><foreignObject><p><div></div></foreignObject><style>",
                             "<svg><foreignObject><p><b>x</p>y</foreignObject></svg></b></foreignObject><style>",
                             "<svg><foreignObject><p><div></div><![CDATA[><style>]]>",
                             "<math><mi><p><div></div><mglyph><style>"}) {
    const std::string page =
        std::string("<body>") + opened + "<a title=\"</style></body>\"></a></style></svg></body>";
    EXPECT_EQ(HxScanPageTags(page).bodyEnd, std::string_view::npos) << page;
  }
}

TEST(HostOutboundContext, WordsDescribeTheBuffer) {
  HxOutboundContext out;
  ASSERT_EQ(out.m_pCommonPointers, reinterpret_cast<const COutboundContext&>(out).m_pCommonPointers);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type:  text/html; charset=iso-8859-1\r\nContent-Length: 40\r\n\r\n";
  const std::string page = "<html><head></head><body>x</body></html>";
  out.SetResponse(head + page, head.size());
  const CCommonPointers& w = *out.m_pCommonPointers;
  const char* base = out.Buffer().data();
  EXPECT_EQ(w.Address(CCommonPointers::FirstByte), base);
  EXPECT_EQ(w.Address(CCommonPointers::LastByte), base + out.Buffer().size() - 1);
  EXPECT_EQ(w.Address(CCommonPointers::HtmlBegin), base + head.size());
  EXPECT_EQ(std::string(w.Address(CCommonPointers::CharSetText), w[CCommonPointers::CharSetTextLength]),
            "text/html; charset=iso-8859-1");
  EXPECT_EQ(w.Address(CCommonPointers::HtmlStartTag), base + head.size());
  EXPECT_EQ(w.Address(CCommonPointers::HeadStartTag), base + head.size() + 6);
  EXPECT_EQ(w.Address(CCommonPointers::HeadEndTag), base + head.size() + 12);
  EXPECT_EQ(w.Address(CCommonPointers::BodyStartTag), base + head.size() + 19);
  EXPECT_EQ(w.Address(CCommonPointers::BodyEndTag), base + head.size() + 26);

  // Without a Content-Type the text is present but empty; without tags the
  // words are null.
  out.SetResponse("HTTP/1.1 200 OK\r\n\r\nplain", 19);
  EXPECT_NE(w[CCommonPointers::CharSetText], 0u);
  EXPECT_EQ(w[CCommonPointers::CharSetTextLength], 0u);
  EXPECT_EQ(w[CCommonPointers::BodyStartTag], 0u);
  EXPECT_EQ(w[CCommonPointers::HtmlStartTag], 0u);
}

TEST(HostContentLength, FollowsTheEditedBody) {
  std::string r = "HTTP/1.1 200 OK\r\ncontent-length:  5\r\nX-A: 1\r\n\r\nhello, world";
  HxFixContentLength(r);
  EXPECT_EQ(r, "HTTP/1.1 200 OK\r\ncontent-length:  12\r\nX-A: 1\r\n\r\nhello, world");
  std::string noHeader = "HTTP/1.1 200 OK\r\n\r\nbody";
  HxFixContentLength(noHeader);
  EXPECT_EQ(noHeader, "HTTP/1.1 200 OK\r\n\r\nbody");
  // A "Content-Length:" in the body is not the header.
  std::string inBody = "HTTP/1.1 200 OK\r\n\r\n\r\nContent-Length: 1\r\n";
  HxFixContentLength(inBody);
  EXPECT_EQ(inBody, "HTTP/1.1 200 OK\r\n\r\n\r\nContent-Length: 1\r\n");
}

}  // namespace
