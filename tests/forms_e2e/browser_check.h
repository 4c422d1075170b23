// The browser check of applied pages: the page loaded in headless Chromium
// (tests/browser/load_page.sh), the script syntax errors it raised, and the
// DOM the browser built, queried with XPath, plus the values the page's
// global JavaScript variables hold after loading. Missing scripts of the mail
// client and the errors they cause at run time are expected and ignored.
#pragma once

#include <map>
#include <string>
#include <vector>

struct BrowserPage {
  bool loaded = false;
  std::string error;                             // why the page could not be loaded
  std::vector<std::string> syntaxErrors;         // console lines of script syntax errors
  std::string dom;                               // the DOM as the browser dumped it
  std::map<std::string, std::string> variables;  // name -> String(value), "<undefined>"
};

// Loads a page file; variables names the globals to read after loading.
BrowserPage LoadInBrowser(const std::string& pagePath, const std::vector<std::string>& variables = {});

// True when the XPath expression selects at least one node of the DOM, or,
// for a boolean or number expression, when it is true or non-zero.
bool DomMatches(const std::string& dom, const std::string& xpath);

// What a test expects of an applied page in the browser.
struct BrowserExpectations {
  std::vector<std::string> xpaths;                             // each must match
  std::vector<std::string> absentXpaths;                       // none may match
  std::vector<std::pair<std::string, std::string>> variables;  // name, String(value)
};

// Records a test failure for a page that does not load, raises a script
// syntax error, or differs from the expectations.
void ExpectPageInBrowser(const std::string& pagePath, const BrowserExpectations& expected = {});
