#include "forms_e2e/browser_check.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xpath.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace {

const std::string kLoadPage = std::string(HX_SOURCE_DIR) + "/tests/browser/load_page.sh";
const char* const kProbeId = "hx-browser-probe";
const char* const kExerciseId = "hx-browser-exercise";

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

// Serves one response on a loopback port until it is destroyed: the page
// at "/page.html", 404 for anything else (the browser asks for an icon).
// Each connection gets one answer and is closed.
class CLoopbackServer {
 public:
  explicit CLoopbackServer(std::string response) : m_response(std::move(response)) {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~CLoopbackServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listener >= 0) close(m_listener);
  }
  CLoopbackServer(const CLoopbackServer&) = delete;
  CLoopbackServer& operator=(const CLoopbackServer&) = delete;

  // Empty when the server could not start.
  std::string Url() const {
    return m_port == 0 ? std::string() : "http://127.0.0.1:" + std::to_string(m_port) + "/page.html";
  }

 private:
  void Serve() {
    while (!m_stop) {
      pollfd waiting{m_listener, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const int connection = accept(m_listener, nullptr, nullptr);
      if (connection < 0) continue;
      Answer(connection);
      close(connection);
    }
  }
  void Answer(int connection) const {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      pollfd readable{connection, POLLIN, 0};
      if (poll(&readable, 1, 5000) <= 0) return;
      const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    const bool bPage = request.rfind("GET /page.html ", 0) == 0;
    const std::string answer =
        bPage ? m_response : std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    for (size_t sent = 0; sent < answer.size();) {
      const ssize_t n = send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  std::string m_response;
  int m_listener = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// The response a page goes out in: the header lines saved beside the page
// (the answer's own, as the module sent them), else a plain "text/html",
// with the length of the copy the browser gets.
std::string ResponseFor(const std::string& pagePath, const std::string& body) {
  std::string headers = "Content-Type: text/html\r\n";
  if (std::filesystem::exists(pagePath + ".headers")) {
    headers.clear();
    std::istringstream lines(ReadFile(pagePath + ".headers"));
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::string name = line.substr(0, line.find(':'));
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (line.empty() || name == "content-length" || name == "connection" || name == "transfer-encoding") continue;
      headers += line + "\r\n";
    }
  }
  return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// Functions of the checks below: every event handler and javascript: link
// of the page with the code the browser runs for it. A link's code is its
// URL as the browser parsed it, less the scheme, percent-decoded.
const char* const kPageScripts = R"JS(
function hxPercentDecoded(s){var b=new TextEncoder().encode(s),o=[];
for(var i=0;i<b.length;i++){var h=String.fromCharCode(b[i+1]||0,b[i+2]||0);
if(b[i]===37&&/^[0-9A-Fa-f]{2}$/.test(h)){o.push(parseInt(h,16));i+=2;}else{o.push(b[i]);}}
return new TextDecoder().decode(new Uint8Array(o));}
function hxScripts(){var r=[],els=document.getElementsByTagName('*');
for(var i=0;i<els.length;i++){var at=els[i].attributes;for(var j=0;j<at.length;j++){var a=at[j],code=null;
if(/^on/i.test(a.name)){code=a.value;}else if(/^(href|src|action)$/i.test(a.name)){
try{var u=new URL(a.value,document.baseURI).href;if(/^javascript:/i.test(u))code=hxPercentDecoded(u.slice(11));}catch(e){}}
if(code!==null)r.push({el:els[i],name:a.name,code:code});}}return r;}
)JS";

// A script that writes "name<TAB>value" lines into a PRE element once the
// page's own scripts have run, and a "SyntaxError<TAB>where: message" line
// for each handler or link that does not compile. It goes into a copy of the
// page, never into the applied page itself.
std::string Probe(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "'" : ",'") + n + "'";
  return std::string("\n<script>") + kPageScripts + "(function(){var n=[" + list +
         "],t='';for(var i=0;i<n.length;i++){var v=window[n[i]];"
         "t+=n[i]+'\\t'+(typeof v==='undefined'?'<undefined>':String(v))+'\\n';}"
         "t+='document.characterSet\\t'+document.characterSet+'\\n';"
         "var s=hxScripts();for(var k=0;k<s.length;k++){try{new Function('event',s[k].code);}catch(e){"
         "t+='SyntaxError\\t'+s[k].el.tagName+' '+s[k].name+': '+String(e.message).replace(/\\n/g,' ')+'\\n';}}"
         "var p=document.createElement('pre');p.id='" +
         kProbeId + "';p.textContent=t;document.documentElement.appendChild(p);})();</script>\n";
}

// Every write to document.title is recorded from the start of HEAD on,
// before the product's script block.
// So is every call of pwn(), which the hostile names call.
const char* const kSentinel =
    "<script>window.hxTitleWrites=[];Object.defineProperty(document,'title',{configurable:true,"
    "get:function(){return '';},set:function(v){window.hxTitleWrites.push(String(v));}});"
    "window.pwn=function(v){window.hxTitleWrites.push('pwn('+String(v)+')');};</script>";

// After loading: the recorders in place, every handler fired with a right
// button event, every link that stays on the page clicked one after the
// other (a javascript: link runs in a task of its own), then the calls and
// the sentinel's writes as "call", "sentinel" and "done" lines.
const char* const kExercise = R"JS(<script>
window.addEventListener('load',function(){setTimeout(function(){
var calls=[],names=['f_viewAttachment','f_QLPLOnMouseDown','f_QLPLOnClick','f_QLPLOnMouseUp','f_ShowExtBlockedMsg',
'f_QLPLAttAction','f_QLPLcheckIn','f_QLPLcheckOut','f_QLPLOnLoad','_e','atLnk','opnWin','onClkEmbItem','opnDoc',
'opnFldr','wvAtt','opnEmbItm','onClkTb','sort','Load'];
function note(a){calls.push(JSON.stringify(a));}
names.forEach(function(n){window[n]=function(){note([n].concat([].map.call(arguments,String)));};});
var els=[].slice.call(document.getElementsByTagName('*'));
els.forEach(function(el){[].forEach.call(el.attributes,function(a){
if(/^_qlpl.*name$/i.test(a.name))note(['attr',a.name,a.value]);});});
var ev={button:2,type:'mousedown',preventDefault:function(){},stopPropagation:function(){}};
hxScripts().forEach(function(s){if(!/^on/i.test(s.name))return;var f=s.el[s.name.toLowerCase()];
try{if(typeof f!=='function')f=new Function('event',s.code);f.call(s.el,ev);}catch(e){note(['error',s.name,String(e)]);}});
var links=els.filter(function(el){if(el.tagName!=='A'||el.target)return false;var h=el.getAttribute('href');
return h===null||/^\s*(javascript:|#)/i.test(h);});
var i=0;(function next(){if(i<links.length){try{links[i++].click();}catch(e){}setTimeout(next,20);return;}
var t='';calls.forEach(function(c){t+='call\t'+c+'\n';});
window.hxTitleWrites.forEach(function(w){t+='sentinel\t'+JSON.stringify(w)+'\n';});
var p=document.createElement('pre');p.id='hx-browser-exercise';p.textContent=t+'done\t1\n';
document.documentElement.appendChild(p);})();},0);});
</script>
)JS";

// The page with the sentinel right after HEAD's start tag (or first).
std::string WithSentinel(const std::string& page) {
  std::string lower = page;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t head = lower.find("<head");
  const size_t at = head == std::string::npos ? 0 : page.find('>', head);
  const size_t pos = at == std::string::npos || head == std::string::npos ? 0 : at + 1;
  return page.substr(0, pos) + kSentinel + page.substr(pos);
}

// The text of the PRE element with that id in the DOM dump.
std::string PreText(const std::string& dom, const char* pId) {
  const std::string open = std::string("<pre id=\"") + pId + "\">";
  const size_t begin = dom.find(open);
  if (begin == std::string::npos) return std::string();
  const size_t end = dom.find("</pre>", begin);
  return dom.substr(begin + open.size(), end - begin - open.size());
}

// The "name<TAB>value" lines of a PRE element, in order.
std::vector<std::pair<std::string, std::string>> PreLines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) lines.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return lines;
}

// The DOM dump escapes text the way HTML serialisation does.
std::string Unescape(std::string s) {
  const std::pair<const char*, const char*> refs[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", "\xC2\xA0"}, {"&amp;", "&"}};
  for (const auto& [from, to] : refs) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + 1)) s.replace(p, std::strlen(from), to);
  }
  return s;
}

// Loads the answer the server gives at its URL: the DOM and the console
// lines with syntax errors. A load still going after loadSeconds fails.
BrowserPage LoadServed(const std::string& response, const std::string& name, bool bExercise, int loadSeconds = 120) {
  BrowserPage result;
  CTempDir dir;
  const CLoopbackServer server(response);
  if (server.Url().empty()) {
    result.error = "no loopback port to serve " + name;
    return result;
  }
  const std::string domFile = dir.Path() + "dom.html";
  const std::string consoleFile = dir.Path() + "console.txt";
  const std::string command = "HX_LOAD_SECONDS=" + std::to_string(loadSeconds) + " " + Quoted(kLoadPage) + " " + Quoted(server.Url()) + " " + Quoted(domFile) + " " +
                              Quoted(consoleFile) + (bExercise ? " 5000" : "");
  const int status = std::system(command.c_str());
  if (status != 0) {
    result.error = "the browser failed on " + name + " (status " + std::to_string(status) + ")";
    return result;
  }
  result.loaded = true;
  result.dom = ReadFile(domFile);
  std::istringstream console(ReadFile(consoleFile));
  std::string line;
  while (std::getline(console, line)) {
    if (line.find("SyntaxError") != std::string::npos) result.syntaxErrors.push_back(line);
  }
  return result;
}

// The copy of the page with the probe (and the exercise) goes to the browser.
BrowserPage RunInBrowser(const std::string& pagePath, const std::vector<std::string>& variables, bool bExercise) {
  const std::string original = ReadFile(pagePath);
  const std::string copy =
      bExercise ? WithSentinel(original) + Probe(variables) + kExercise : original + Probe(variables);
  BrowserPage result = LoadServed(ResponseFor(pagePath, copy), pagePath, bExercise);
  if (!result.loaded) return result;
  for (auto& [name, value] : PreLines(PreText(result.dom, kProbeId))) {
    if (name == "SyntaxError") {
      result.syntaxErrors.push_back(Unescape(value));
    } else {
      result.variables[name] = Unescape(value);
    }
  }
  for (auto& [kind, value] : PreLines(PreText(result.dom, kExerciseId))) {
    if (kind == "call") result.calls.push_back(Unescape(value));
    if (kind == "sentinel") result.sentinelWrites.push_back(Unescape(value));
    if (kind == "done") result.exercised = true;
  }
  return result;
}

// JSON.stringify's spelling of a string.
std::string JsonString(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\b') {
      out += "\\b";
    } else if (c == '\f') {
      out += "\\f";
    } else if (u < 0x20) {
      out += std::string("\\u00") + kHex[u >> 4] + kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

BrowserPage LoadInBrowser(const std::string& pagePath, const std::vector<std::string>& variables) {
  return RunInBrowser(pagePath, variables, false);
}

// Chromium shows an answer it can read within a second or two; one it never
// commits (a body it cannot decode) would otherwise hold the test to its bound.
BrowserPage LoadAnswerInBrowser(const std::string& answer) { return LoadServed(answer, "the answer", false, 20); }

std::vector<std::string> WordsFromBrowserScript(const std::string& script, const std::string& variable) {
  CTempDir dir;
  const std::string page = "<!DOCTYPE html><meta charset=utf-8><script>" + script + "</script>";
  const BrowserPage loaded = LoadInBrowser(dir.Write("script.html", page), {variable});
  std::vector<std::string> words;
  const auto value = loaded.variables.find(variable);
  if (!loaded.loaded || value == loaded.variables.end()) {
    ADD_FAILURE() << variable << " was not read: " << loaded.error;
    return words;
  }
  std::istringstream in(value->second);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

BrowserPage ExerciseInBrowser(const std::string& pagePath, const std::vector<std::string>& variables) {
  return RunInBrowser(pagePath, variables, true);
}

bool HasCall(const BrowserPage& page, const std::string& fn, const std::vector<std::string>& args) {
  // One whole element of the JSON array: a "," or "[" before it, a "," or
  // "]" after it (a quote inside a string is always escaped).
  const auto hasElement = [](const std::string& call, const std::string& json) {
    for (size_t p = call.find(json); p != std::string::npos; p = call.find(json, p + 1)) {
      const char before = p > 0 ? call[p - 1] : '\0';
      const char after = p + json.size() < call.size() ? call[p + json.size()] : '\0';
      if ((before == '[' || before == ',') && (after == ',' || after == ']')) return true;
    }
    return false;
  };
  for (const std::string& call : page.calls) {
    if (call.rfind("[" + JsonString(fn), 0) != 0 || !hasElement(call, JsonString(fn))) continue;
    bool all = true;
    for (const std::string& arg : args) all = all && hasElement(call, JsonString(arg));
    if (all) return true;
  }
  return false;
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
