// Helpers of the HTML parser tests: pages as response buffers (with a header
// part in front of the HTML data, as the host hands them over) and the sample
// pages of the install tree.
#pragma once

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "html/source.h"

namespace hxtest {

// A response buffer: a fake header block, then the HTML. Keeps the bytes
// alive for the source made over them.
struct Page {
  explicit Page(const std::string& sHtml, const std::string& sHeaders = "HTTP/1.1 200 OK\r\n\r\n")
      : sBuffer(sHeaders + sHtml),
        nHtmlBegin(sHeaders.size()),
        pSource(std::make_unique<CSource>(sBuffer.data(), nHtmlBegin, sBuffer.size())) {}
  CSource* src() { return pSource.get(); }
  // Page position of the n-th occurrence (0-based) of a text in the HTML.
  HXPos pos(const std::string& sText, int n = 0) const {
    size_t p = sBuffer.find(sText, nHtmlBegin);
    while (p != std::string::npos && n-- > 0) p = sBuffer.find(sText, p + 1);
    return p == std::string::npos ? HX_NPOS : p;
  }
  std::string text(const CSegment* pSegment) const {
    return sBuffer.substr(pSegment->getBegin(), pSegment->getEnd() - pSegment->getBegin());
  }

  std::string sBuffer;
  HXPos nHtmlBegin;
  std::unique_ptr<CSource> pSource;
};

inline std::string ReadFile(const std::string& sPath) {
  std::ifstream in(sPath, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::vector<std::string> SamplePageNames() {
  return {"premium_readmessage.html", "premium_readmessage_long.html", "basic_readmessage.html",
          "premium_editmessage_malformed.html"};
}

inline std::string SamplePage(const std::string& sName) {
  return ReadFile(std::string(HX_SOURCE_DIR) + "/samples/pages/" + sName);
}

}  // namespace hxtest
