// The filter host with the real module of the staged install tree, started
// once per benchmark program and never stopped: benchmarks may still run
// requests while the program ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

inline HxHost& StagedHost() {
  static HxHost* host = [] {
    auto* h = new HxHost();
    std::string error;
    if (!h->Start(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage"), error)) {
      std::fprintf(stderr, "module did not start: %s\n", error.c_str());
      std::exit(1);
    }
    return h;
  }();
  return *host;
}

// The page the description names, read into the request once, so that the
// timed runs read no file.
inline void ReadResponsePage(HxRequest& request) {
  if (!request.responsePagePath) return;
  std::string page;
  if (!ReadWholeFile(*request.responsePagePath, page)) {
    std::fprintf(stderr, "cannot read %s\n", request.responsePagePath->c_str());
    std::exit(1);
  }
  request.responsePage = std::move(page);
}

// A request described as `hxhost` reads it, its files found in bench/; a
// description that does not read ends the program.
inline HxRequest ParsedRequest(const std::string& description) {
  HxRequest request;
  std::string error;
  if (!ParseRequestDescription(description, std::string(HX_SOURCE_DIR) + "/bench", request, error)) {
    std::fprintf(stderr, "bad description: %s\n", error.c_str());
    std::exit(1);
  }
  return request;
}

// A Premium client opening a message, from `clientAddress`, described as
// `hxhost` reads it; `directives` go before the request line.
inline HxRequest ReadItemRequestFrom(const std::string& clientAddress, const std::string& directives) {
  const std::string description =
      "@client-address " + clientAddress + "\n" + directives +
      "@criteria 1\n"
      "@user-account aclerk\n"
      "@user-domain EXAMPLE\n"
      "@user-sid S-1-5-21-1004336348-1177238915-682003330-1107\n"
      "GET /owa/?ae=Item&t=IPM.Note&id=RgAAAAB2cE1kq2tKT5bYpZ0wVQrXBwC5 HTTP/1.1\n"
      "Host: mail.example.com\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1; Trident/4.0)\n"
      "Accept-Language: en-GB,en;q=0.8\n"
      "Cookie: sessionid=3f2a9c1e; UserContext=a81c5d0e; cadata=\"4QkJ7w8h2kVxE2C1rMZ0oYw==\"\n";
  return ParsedRequest(description);
}
