#include <gtest/gtest.h>

#include <string>

#include "forms_e2e/applied_page.h"

namespace {

// The browser's language reaches the page: a French user gets the French
// texts (Premium pages carry them in UTF-8).
TEST(UserLanguagePages, BrowserLanguageReachesThePage) {
  const std::string request =
      "@criteria 1\n@user-account aclerk\n@user-domain EXAMPLE\n"
      "@response-page ../pages/premium_read_item.html\n"
      "GET /owa/?ae=Item&t=IPM.Note&id=RgAAAAB2cE1k HTTP/1.1\nHost: mail.example.com\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)\n"
      "Accept-Language: fr-FR,fr;q=0.9,en;q=0.5\n";
  const AppliedPage applied = RunRequestText(request, "premium_read_item_fr");
  EXPECT_NE(std::string::npos, applied.page.find("T\u00e9l\u00e9chargement termin\u00e9.")) << applied.page;
  EXPECT_EQ(std::string::npos, applied.page.find("Download completed."));
}

}  // namespace
