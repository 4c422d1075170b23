// The level a conversion hands the viewer where OWA allows unknown file
// types: there only the rules on the name itself keep a file that a file
// system reads as "evil.exe" from being converted as an unknown type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/string_operation.h"
#include "filter/auth_complete_helper.h"
#include "filter/fake_server.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "general/owa_ad_config.h"
#include "general/pl_hx_general_settings.h"

namespace {

// The settings object's OWA configuration, as the directory read would
// leave it; restored when the test ends.
struct OWAConfigOf : CPLHXGeneralSettings {
  static COWAADConfig& Of(CPLHXGeneralSettings* settings) { return settings->*(&OWAConfigOf::m_OWAADConfig); }
};

// The rules this test sets, put back when it ends.
class ScopedOWARules {
 public:
  ScopedOWARules() {
    COWAADConfig& c = Config();
    m_private = c.m_nFileAccessControlOnPrivateComputers;
    m_unknown = c.m_nActionForUnknownFileAndMIMETypes;
    m_allowed.swap(c.m_vAllowedFileTypes);
    m_blocked.swap(c.m_vBlockedFileTypes);
    m_forceSave.swap(c.m_vForceSaveFileTypes);
  }
  ~ScopedOWARules() {
    COWAADConfig& c = Config();
    c.m_nFileAccessControlOnPrivateComputers = m_private;
    c.m_nActionForUnknownFileAndMIMETypes = m_unknown;
    m_allowed.swap(c.m_vAllowedFileTypes);
    m_blocked.swap(c.m_vBlockedFileTypes);
    m_forceSave.swap(c.m_vForceSaveFileTypes);
  }
  static COWAADConfig& Config() { return OWAConfigOf::Of(CPLHXGeneralSettings::getInstance()); }

 private:
  int m_private = 0;
  int m_unknown = 0;
  std::vector<ci_string> m_allowed;
  std::vector<ci_string> m_blocked;
  std::vector<ci_string> m_forceSave;
};

std::string Name(std::string text) {
  CStringOperation::Encode64(text);
  return text;
}

// The viewer's URL for a conversion whose query string is `query` (pairs
// of plain names and values, as the host's parameters hold them too).
std::string ConvertedUrl(const std::vector<std::pair<std::string, std::string>>& query) {
  FakeServer s(SF_NOTIFY_AUTH_COMPLETE);
  auto* info = new CRequestInfo;
  std::string text;
  for (const auto& [name, value] : query) {
    text += (text.empty() ? "" : "&") + name + "=" + value;
    info->m_mapParams.emplace(ToCI(name), ToCI(value));  // a name given twice keeps its first value
  }
  info->m_mapHeaders["QUERY_STRING"] = text;
  s.record.m_spRequestInfo = CCountedPtr<CRequestInfo>(info);
  s.record.m_dwSubscriptionType = SubscriptionType::PelloraView;
  ci_string url = "/X-Pellora/bin/view.htm";
  ci_string queryText = ToCI(text);
  EXPECT_EQ(0u, CAuthCompleteHelper::RedirectPelloraFakeRequest(&s.record, url, queryText, false));
  return s.calls.empty() ? std::string() : s.calls.back().value;
}

TEST(ConversionNameRules, NamesReadAsAnotherFileAreBlockedWhereUnknownTypesAreAllowed) {
  ScopedOWARules scoped;
  COWAADConfig& c = ScopedOWARules::Config();
  c.m_nFileAccessControlOnPrivateComputers = 1;
  c.m_vAllowedFileTypes = {".pdf"};
  c.m_vBlockedFileTypes = {".exe", ".hta", ".docm"};
  c.m_vForceSaveFileTypes = {".html"};
  c.m_nActionForUnknownFileAndMIMETypes = 0;  // allowed
  const struct {
    std::vector<std::pair<std::string, std::string>> query;
    const char* owaal;
  } cases[] = {
      {{{"fn", Name("report.pdf")}}, "3"},
      {{{"fn", Name("notes.xyz")}}, "3"},
      {{{"fn", Name("evil.exe ")}}, "1"},
      {{{"fn", Name("evil.exe.")}}, "1"},
      // A name with a scheme or a leading "//" is read as a URL, cut at its
      // "#"; a file's own name and a relative path hold "#", ";" and ":" as
      // ordinary characters, and a reading cut there counts only where it
      // ends in an extension the configuration names.
      {{{"fn", Name("//fs/dir/evil.exe#.pdf")}}, "1"},
      {{{"fn", Name("evil.exe#.pdf")}}, "3"},
      {{{"fn", Name("dir/evil.exe#.pdf")}}, "3"},
      {{{"WR340U1", Name("Shared Documents/Rev 1.2 #final.pdf")}}, "3"},
      {{{"WR340U1", Name("dir/Minutes 03.12; final.pdf")}}, "3"},
      {{{"fn", Name("Minutes 03.12 10:30.pdf")}}, "3"},
      {{{"fn", Name("RE: Q3 v1.2 numbers.msg")}}, "3"},
      {{{"fn", Name("Are we at v1.5?.pdf")}}, "3"},
      {{{"fn", Name("evil.exe:x.pdf")}}, "1"},
      {{{"fn", Name("a.pdf?x.exe")}}, "1"},
      {{{"fn", Name("Invoice #123.xyz")}}, "3"},
      // A browser drops trailing white space of any kind from the name.
      {{{"fn", Name("evil.exe\u3000")}}, "1"},
      {{{"fn", Name("evil.exe\u00A0")}}, "1"},
      {{{"fn", Name("evil.exe\u200B")}}, "1"},
      // A short name stands for a long one whose extension only begins with
      // its own ("macros.docm"); a long name with a "~" is read as it is.
      // (The names' Base64 holds no "+", which a query reads as a blank.)
      // Its level is the strictest of every named extension that begins
      // with its own.
      {{{"fn", Name("MACROS~1.DOC")}}, "1"},
      {{{"fn", Name("x/PLAN~2.PDF")}}, "3"},
      {{{"fn", Name("//fs/x/MACROS~1.DOC#x.pdf")}}, "1"},
      {{{"fn", Name("REPORT~2.pdf")}}, "3"},
      {{{"fn", Name("EVIL~1.EXE")}}, "1"},
      {{{"fn", Name("EVIL~1.HTA")}}, "1"},
      {{{"fn", Name("REPORT~1.HTM")}}, "2"},
      {{{"fn", Name("plan~1.xyz.pdf")}}, "3"},
      {{{"fn", Name("a~1.html.pdf")}}, "3"},
      {{{"fn", Name("~1.pdf")}}, "3"},
  };
  for (const auto& row : cases) {
    const std::string url = ConvertedUrl(row.query);
    EXPECT_NE(std::string::npos, url.find(std::string("&owaal=") + row.owaal)) << url;
  }
}

}  // namespace
