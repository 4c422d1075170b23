// libFuzzer target: the two settings files an administrator edits by hand.
// The first byte chooses the file (even: module settings, odd: link
// criteria); the rest is its text. A load either succeeds or leaves the
// settings read before it exactly as they were.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/ip_range.h"
#include "settings/link_criteria.h"
#include "settings/pl_settings.h"

namespace {

[[noreturn]] void Violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = "/tmp/hx_fuzz_settings." + std::to_string(::getpid()) + "." + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) Violated("the settings file can be written");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}

// Every answer the request path can ask of the module settings, as one text.
std::string Fingerprint(const CPLSettings& settings) {
  std::string out;
  static const char* const kExtensions[] = {"doc", "pdf", "exe", "", "DOCX"};
  static const char* const kAddresses[] = {"10.0.0.5", "192.168.1.1", "::1", "fe80::1", "255.255.255.255"};
  for (int32_t set = -1; set <= 5; ++set) {
    for (int32_t engine = 0; engine <= 2; ++engine) {
      for (int32_t id = 0; id <= 130; ++id) {
        int32_t n = 0;
        std::string s;
        out += settings.GetIntValue(id, n, set, engine) ? std::to_string(n) : "-";
        out += settings.GetStringValue(id, s, set, engine) ? s : "-";
        out += '|';
      }
      for (int32_t option = 0; option <= 240; ++option) {
        int32_t n = 0;
        out += settings.GetEngineIntValue(option, n, engine, set) ? std::to_string(n) : "-";
      }
      for (const char* ext : kExtensions) {
        int32_t action = 0;
        out += settings.GetHighSpeedAction(ext, action, engine, set) ? std::to_string(action) : "-";
      }
    }
    for (const char* text : kAddresses) {
      IPAddress address;
      ParseIPAddress(text, address);
      out += settings.IsInDirectAccessRange(address, set) ? 'Y' : 'N';
    }
    out += '\n';
  }
  return out;
}

std::string Fingerprint(const CLinkCriteria& links) {
  std::string out;
  for (const auto& [hx, item] : links.GetLinkMap()) {
    out += std::to_string(hx) + ":" + item->m_strDescription + "=";
    for (const auto& [criteria, set] : item->m_criteria) out += std::to_string(criteria) + ">" + std::to_string(set) + ",";
    out += '\n';
  }
  return out;
}

template <typename Settings>
void CheckLoad(Settings& settings, const std::string& path) {
  const std::string before = Fingerprint(settings);
  if (FAILED(settings.LoadSettings(path)) && Fingerprint(settings) != before) {
    Violated("a failed load leaves the settings as they were");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  if (nSize < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(pData + 1), nSize - 1);
  // The settings read before the load are the sample install's.
  static const std::string sampleDir = std::string(HX_SOURCE_DIR) + "/samples/install/Quenlith/";
  if (pData[0] % 2 == 0) {
    CPLSettings settings;
    if (FAILED(settings.LoadSettings(sampleDir + "Pellora/Settings/HXSettings.xml"))) Violated("the sample loads");
    CheckLoad(settings, WriteFile("HXSettings.xml", text));
  } else {
    CLinkCriteria links;
    if (FAILED(links.LoadSettings(sampleDir + "Common Files/Settings/LinkCriteriaSettings.xml"))) {
      Violated("the sample loads");
    }
    CheckLoad(links, WriteFile("LinkCriteriaSettings.xml", text));
  }
  return 0;
}
