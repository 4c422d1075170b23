// The module's reading of ISO-2022-JP against Chromium's TextDecoder, on
// bytes that hold every escape browsers know and several they do not, line
// breaks and other bytes inside two-byte and katakana runs, escapes back to
// back, and runs cut off at the end. A reading that differs anywhere lets
// the module edit bytes the browser reads as something else.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "filter/decoded_page.h"
#include "forms_e2e/browser_check.h"

namespace {

const char* const kBytes[] = {
    "A\x1B$B0!\n0!<img src=x>\x1B(Bz",
    "\x1B$B0!\r0!\r\n\x1B(B",
    "\x1B$B0!\x1B(H<a>\x1B(B<b>",
    "\x1B(I1\n23\x1B(B",
    "\x1B$(D0!\x1B(B",
    "\x1B$A0!\x1B(B",
    "\x1B&@0!",
    "\x1B(J\\~\x1B(B\\~",
    "\x1B$@0!\x1B(B",
    "\x1B(B\x1B(Bx",
    "\x1B$B\x1B(Bx",
    "x\x1B",
    "x\x1B(",
    "\x1B$B0",
    "\x1B$B0\x1B(Bx",
    "\x1B$B\x80!\x1B(B\xA4",
    "\x0E\x0F\x7F\t",
    "\x1B$B)!t&\x1B(B",
    "\x1B(I\x20\x60_\x1B(B",
    "\x1B$B0!\x1B$B0!\x1B(I1\x1B(J\x1B(B",
    "x\x1B\x80y",
    "x\x1B(\x80y",
    "\x1B$B0!\x1B(",
    "\x1B$B0!\x1B$",
    "\x1B$B0!\x1B",
    "\x1B(I1\x1B(\x60" "1",
    "\x1B$B0!\x1B(\x1B$B0!",
    "\x1B$B0!\x1B(\n0!",
    "\x1B$B0!\x1B(t&0!",
    "\x1B$B0!\x1B&@0!",
    "\x1B$B0!\x1B" "a0!",
    "\x1B(J\x1B(Qy\x1B(B\x1B(B\x1B$B",
};

std::string ByteList(const std::vector<uint8_t>& bytes) {
  std::ostringstream out;
  for (const uint8_t b : bytes) out << static_cast<int>(b) << ",";
  return out.str();
}

// The code points of UTF-8 text, in hexadecimal, comma after each.
std::string CodePoints(const std::string& utf8) {
  std::ostringstream out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t value = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k) value = (value << 6) | (utf8[i + k] & 0x3F);
    i += length;
    out << std::hex << value << ",";
  }
  return out.str();
}

TEST(Iso2022JpReading, TheModuleReadsAsChromium) {
  std::string script = "var hxRead=[";
  for (const char* bytes : kBytes) {
    const std::string s(bytes);
    script += "[" + ByteList(std::vector<uint8_t>(s.begin(), s.end())) + "],";
  }
  script +=
      "].map(function(b){var t=new TextDecoder('iso-2022-jp').decode(new Uint8Array(b)),o='';"
      "for(var c of t)o+=c.codePointAt(0).toString(16)+',';return o;}).join(' ');";
  const std::vector<std::string> chromium = WordsFromBrowserScript(script, "hxRead");
  ASSERT_EQ(chromium.size(), std::size(kBytes));
  for (size_t i = 0; i < chromium.size(); ++i) {
    EXPECT_EQ(CodePoints(DecodedValue("ISO-2022-JP", kBytes[i])), chromium[i]) << kBytes[i];
  }
}

}  // namespace
