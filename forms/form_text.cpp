// Texts every form repeats.
#include "forms/form_text.h"

#include <cstdio>

#include "common/debug_log.h"
#include "common/js_string.h"
#include "forms/hx_form_context.h"

namespace {
const char* const kScriptBlockOpen = "<script language='javascript'>\r\n//QUENLITH PELLORA\r\n";
const char* const kScriptBlockClose = "\r\n//QUENLITH PELLORA\r\n</script>";
}  // namespace

std::string ProductScriptBlock(const std::string& lines) { return kScriptBlockOpen + lines + kScriptBlockClose; }

void AppendStringLine(std::string& sLines, const char* pPrefix, const std::string& sValue, const CPageChars& page) {
  sLines += pPrefix;
  sLines += EscapeJavaScriptString(sValue, '"', page);
  sLines += "\";\r\n";
}

void AppendFlagLine(std::string& sLines, const char* pPrefix, bool bValue) {
  sLines += pPrefix;
  sLines += bValue ? "1" : "0";
  sLines += ";\r\n";
}

void LogProcessBanner(const char* pPrefix, const std::string& middle) {
  DebugLog("%s%s", pPrefix, std::string(76, '*').c_str());
  DebugLog("%s%s", pPrefix, middle.c_str());
  DebugLog("%s%s", pPrefix, std::string(75, '*').c_str());
}

std::string ModifyingBannerText(const CHXFormContext* pFormContext, DWORD dwRet) {
  const char* pTemplate = pFormContext != nullptr ? pFormContext->TemplateNameForLog() : "NULL";
  return std::string("*** Modifying <") + pTemplate + "> form " + (dwRet == 0 ? "SUCCEEDED" : "FAILED") + "! ***";
}

void LogProcessFinished(const char* pPrefix, const CHXFormContext* pFormContext, DWORD dwRet) {
  LogProcessBanner(pPrefix, ModifyingBannerText(pFormContext, dwRet));
  DebugLog("%smethod returned: %lu", pPrefix, static_cast<unsigned long>(dwRet));
}
