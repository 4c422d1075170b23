#include "forms_e2e/browser_check.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace {

const std::string kLoadPage = std::string(HX_SOURCE_DIR) + "/tests/browser/load_page.sh";
const char* const kProbeId = "hx-browser-probe";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Shell quoting for one argument.
std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// A script that writes "name<TAB>value" lines into a PRE element once the
// page's own scripts have run. It goes into a copy of the page, never into
// the applied page itself.
std::string Probe(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "'" : ",'") + n + "'";
  return std::string("\n<script>(function(){var n=[") + list +
         "],t='';for(var i=0;i<n.length;i++){var v=window[n[i]];"
         "t+=n[i]+'\\t'+(typeof v==='undefined'?'<undefined>':String(v))+'\\n';}"
         "var p=document.createElement('pre');p.id='" +
         kProbeId + "';p.textContent=t;document.documentElement.appendChild(p);})();</script>\n";
}

// The lines the probe wrote, read back from the DOM.
std::map<std::string, std::string> ProbeValues(const std::string& dom) {
  std::map<std::string, std::string> values;
  const std::string open = std::string("<pre id=\"") + kProbeId + "\">";
  const size_t begin = dom.find(open);
  if (begin == std::string::npos) return values;
  const size_t end = dom.find("</pre>", begin);
  std::istringstream lines(dom.substr(begin + open.size(), end - begin - open.size()));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) values[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return values;
}

// The DOM dump escapes text the way HTML serialisation does.
std::string Unescape(std::string s) {
  const std::pair<const char*, const char*> refs[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
  for (const auto& [from, to] : refs) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + 1)) s.replace(p, std::strlen(from), to);
  }
  return s;
}

}  // namespace

BrowserPage LoadInBrowser(const std::string& pagePath, const std::vector<std::string>& variables) {
  BrowserPage result;
  CTempDir dir;
  std::string page = pagePath;
  if (!variables.empty()) page = dir.Write("probed.html", ReadFile(pagePath) + Probe(variables));
  const std::string domFile = dir.Path() + "dom.html";
  const std::string consoleFile = dir.Path() + "console.txt";
  const std::string command =
      Quoted(kLoadPage) + " " + Quoted(page) + " " + Quoted(domFile) + " " + Quoted(consoleFile);
  const int status = std::system(command.c_str());
  if (status != 0) {
    result.error = "the browser failed on " + pagePath + " (status " + std::to_string(status) + ")";
    return result;
  }
  result.loaded = true;
  result.dom = ReadFile(domFile);
  std::istringstream console(ReadFile(consoleFile));
  std::string line;
  while (std::getline(console, line)) {
    if (line.find("SyntaxError") != std::string::npos) result.syntaxErrors.push_back(line);
  }
  for (auto& [name, value] : ProbeValues(result.dom)) result.variables[name] = Unescape(value);
  return result;
}

bool DomMatches(const std::string& dom, const std::string& xpath) {
  htmlDocPtr doc = htmlReadMemory(dom.data(), static_cast<int>(dom.size()), "dom.html", "utf-8",
                                  HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  if (doc == nullptr) return false;
  bool matched = false;
  xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
  xmlXPathObjectPtr obj = ctx != nullptr ? xmlXPathEvalExpression(BAD_CAST xpath.c_str(), ctx) : nullptr;
  if (obj != nullptr) {
    if (obj->type == XPATH_NODESET) {
      matched = obj->nodesetval != nullptr && obj->nodesetval->nodeNr > 0;
    } else {
      matched = xmlXPathCastToBoolean(obj) != 0;
    }
  } else {
    ADD_FAILURE() << "bad XPath: " << xpath;
  }
  xmlXPathFreeObject(obj);
  xmlXPathFreeContext(ctx);
  xmlFreeDoc(doc);
  return matched;
}

void ExpectPageInBrowser(const std::string& pagePath, const BrowserExpectations& expected) {
  std::vector<std::string> names;
  for (const auto& [name, value] : expected.variables) names.push_back(name);
  const BrowserPage page = LoadInBrowser(pagePath, names);
  ASSERT_TRUE(page.loaded) << page.error;
  for (const std::string& line : page.syntaxErrors) ADD_FAILURE() << pagePath << ": " << line;
  for (const std::string& xpath : expected.xpaths) {
    EXPECT_TRUE(DomMatches(page.dom, xpath)) << pagePath << ": no match for " << xpath;
  }
  for (const std::string& xpath : expected.absentXpaths) {
    EXPECT_FALSE(DomMatches(page.dom, xpath)) << pagePath << ": unexpected match for " << xpath;
  }
  for (const auto& [name, value] : expected.variables) {
    const auto it = page.variables.find(name);
    EXPECT_EQ(it != page.variables.end() ? it->second : "<not read>", value) << pagePath << ": variable " << name;
  }
}
