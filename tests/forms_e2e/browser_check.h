// The browser check of applied pages: the page served over loopback HTTP
// with the answer's own headers (saved beside it as PAGE.headers, else a
// plain "text/html") and loaded in headless Chromium
// (tests/browser/load_page.sh), the script syntax errors it raised, every
// event handler and javascript: link of the page compiled the way the
// browser would run it, and the DOM the browser built, queried with XPath,
// plus the values the page's global JavaScript variables hold after loading.
// Missing scripts of the mail client and the errors they cause at run time
// are expected and ignored.
//
// A page can also be exercised: the product's and the mail client's
// functions are replaced by recorders, every handler is fired and every link
// that stays on the page is clicked, and every write to document.title (a
// sentinel no page script touches) is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

struct BrowserPage {
  bool loaded = false;
  std::string error;                             // why the page could not be loaded
  std::vector<std::string> syntaxErrors;         // console lines and uncompilable handlers or links
  std::string dom;                               // the DOM as the browser dumped it
  // name -> String(value), "<undefined>"; "document.characterSet" too
  std::map<std::string, std::string> variables;
  // Exercised pages only.
  bool exercised = false;                  // every handler fired and link clicked, the page still there
  std::vector<std::string> calls;          // JSON arrays: recorder name, then each argument as a string
  std::vector<std::string> sentinelWrites;  // values written to document.title, as JSON strings
};

// Loads a page file; variables names the globals to read after loading.
BrowserPage LoadInBrowser(const std::string& pagePath, const std::vector<std::string>& variables = {});

// Serves a complete answer (status line, headers, body) byte for byte, as
// the client gets it, and loads it; only the DOM is read (no probe goes in:
// the body may be compressed or framed). A load that does not end within 20 s
// fails.
BrowserPage LoadAnswerInBrowser(const std::string& answer);

// Runs a script in an empty UTF-8 page and returns the words (split at
// blanks) of the global variable it sets; a page that does not load, or a
// variable not read, fails the test and gives no words.
std::vector<std::string> WordsFromBrowserScript(const std::string& script, const std::string& variable);

// Loads a page file and exercises it. Besides the recorders' calls, "attr"
// entries give the value the browser reads from each "_QLPL...name"
// attribute: ["attr", attribute name, value].
BrowserPage ExerciseInBrowser(const std::string& pagePath, const std::vector<std::string>& variables = {});

// A call of fn was recorded that has each of args as one whole argument.
bool HasCall(const BrowserPage& page, const std::string& fn, const std::vector<std::string>& args);

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
